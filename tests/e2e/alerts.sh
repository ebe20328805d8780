#!/bin/bash
# The shipped alerting rules: promtool check rules accepts them, and promtool test rules with
# the hourly series of alerts.test.yml shows each alert firing and staying quiet where it
# should.
#
# usage: bash alerts.sh [BUILD/bin]   (the programs are not needed)
set -u

here=$(cd "$(dirname "$0")" && pwd)
if ! command -v promtool >/dev/null; then
    echo "SKIP: promtool is not installed (Debian package prometheus)"
    exit 77
fi

failures=0
rules="$here/../../packaging/prometheus/pelmora.rules.yml"
promtool check rules "$rules" || { echo "FAIL: promtool check rules $rules"; failures=1; }
# rule_files in the test are found from the test file's folder.
(cd "$here" && promtool test rules alerts.test.yml) ||
    { echo "FAIL: promtool test rules alerts.test.yml"; failures=1; }
[ "$failures" -eq 0 ] && echo "PASS"
exit "$failures"
