#!/usr/bin/env bash
# Times what two pelmora-cli options cost on a warm tree, side by side in one hyperfine run
# each: --disk-usage against a plain count, and the progress line (stderr on a terminal, by
# script(1)) against --quiet under the same terminal. Usage: bench/cli-options.sh [DIR]
# (default /usr) with a Release build in build-package/ (scripts/package.sh makes it).
set -euo pipefail
cd "$(dirname "$0")/.."
cli=${PELMORA_CLI:-$PWD/build-package/bin/pelmora-cli}
dir=${1:-/usr}
hyperfine -N -w 2 -r 15 "$cli count --csv $dir" "$cli count --csv --disk-usage $dir"
hyperfine -w 2 -r 15 "script -qfc '$cli count --quiet $dir' /dev/null" \
  "script -qfc '$cli count $dir' /dev/null"
