#!/usr/bin/env bash
# Checks a built Debian package the way a user meets it: lintian, then installs it with
# apt-get, runs the installed programs, validates the menu entry, the metainfo, the icons and
# the manual pages, purges the package and checks that none of its files remain. Needs root
# (or sudo) and a machine where pelmora is not installed yet; the package is purged at the end
# whatever happens.
#   scripts/package-check.sh [dist/pelmora_VERSION_ARCH.deb]
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh package

deb=${1:-$(ls dist/pelmora_*.deb 2>/dev/null | head -n1)}
[ -f "$deb" ] || { echo "package-check.sh: no package (run scripts/package.sh first)" >&2; exit 2; }
deb=$(realpath "$deb")
version=$(dpkg-deb -f "$deb" Version)
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
if dpkg-query -W -f='${Status}' pelmora 2>/dev/null | grep -q "ok installed"; then
  echo "package-check.sh: pelmora is installed already; this check would purge it" >&2
  exit 2
fi

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
work=$(mktemp -d)
cleanup() {
  if dpkg-query -W pelmora >/dev/null 2>&1; then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y pelmora >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== lintian $(basename "$deb")"
set +e
lintian --fail-on error "$deb" >"$work/lintian" 2>&1
status=$?
set -e
grep -v "running with root privileges" "$work/lintian" || true
[ "$status" -eq 0 ] || fail "lintian reports errors"

# What the program writes at a start as root, so that the purge can be checked against it.
key=/etc/xdg/Quillon/Pelmora.conf
key_before=absent
[ -e "$key" ] && key_before=present

echo "== apt-get install"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "$deb" \
  >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "apt-get install"; exit 1; }
dpkg -L pelmora | sort >"$work/list"
while read -r path; do
  [ -d "$path" ] && [ ! -L "$path" ] || echo "$path"
done <"$work/list" >"$work/files"
echo "$(wc -l <"$work/files") files installed"

echo "== the programs on PATH"
[ "$(command -v pelmora)" = /usr/bin/pelmora ] || fail "pelmora is not /usr/bin/pelmora"
[ "$(readlink -f /usr/bin/pelmora)" = /usr/lib/pelmora/pelmora ] ||
  fail "/usr/bin/pelmora does not lead to /usr/lib/pelmora/pelmora"
pelmora-cli --help || fail "pelmora-cli --help"
[ "$(pelmora-cli --version)" = "pelmora-cli $version" ] || fail "pelmora-cli --version"
[ -f /usr/share/bash-completion/completions/pelmora-cli ] || fail "no bash completion"
[ -f /usr/share/zsh/vendor-completions/_pelmora-cli ] || fail "no zsh completion"
(cd / && pelmora-cli count /usr/share) >"$work/count" || fail "pelmora-cli count /usr/share"
cat "$work/count"
grep -q '^Total Files [0-9]' "$work/count" || fail "pelmora-cli count printed no figures"

echo "== pelmora on the offscreen platform"
# It starts, shows its window and waits for the user: still running when timeout stops it.
set +e
(cd / && QT_QPA_PLATFORM=offscreen timeout -s TERM 5 pelmora) >"$work/window.log" 2>&1
status=$?
set -e
[ "$status" -eq 124 ] || { cat "$work/window.log"; fail "pelmora ended on its own with status $status"; }
if grep -qx 'Exec=/usr/lib/pelmora/pelmora' /usr/local/share/applications/pelmora.desktop 2>/dev/null; then
  fail "the packaged program wrote a menu entry of its own"
fi

echo "== menu entry, metainfo, icons, manual pages"
desktop-file-validate /usr/share/applications/pelmora.desktop || fail "desktop-file-validate"
metainfo=$(grep '^/usr/share/metainfo/.*\.metainfo\.xml$' "$work/files")
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate $metainfo"
for size in 16 24 32 48 64 128 256; do
  png=/usr/share/icons/hicolor/${size}x${size}/apps/pelmora.png
  file "$png" | grep -q "PNG image data, $size x $size," || fail "$png is not $size x $size"
done
grep -q '<svg' /usr/share/icons/hicolor/scalable/apps/pelmora.svg || fail "no scalable icon"
for page in pelmora pelmora-cli; do
  path=/usr/share/man/man1/$page.1.gz
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$path" >"$work/$page.txt" 2>"$work/$page.err" ||
    fail "man -l $path"
  [ -s "$work/$page.err" ] && { cat "$work/$page.err"; fail "man -l $path warns"; }
  head -n 4 "$work/$page.txt"
done
man -w pelmora-cli >/dev/null || fail "man pelmora-cli finds no page"

echo "== apt-get purge"
DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y pelmora >"$work/purge.log" 2>&1 ||
  { cat "$work/purge.log"; fail "apt-get purge"; }
left=0
while read -r path; do
  if [ -e "$path" ] || [ -L "$path" ]; then
    echo "left behind: $path"
    left=$((left + 1))
  fi
done <"$work/files"
for dir in /usr/lib/pelmora /usr/share/doc/pelmora; do
  [ -e "$dir" ] && { echo "left behind: $dir"; left=$((left + 1)); }
done
if [ "$key_before" = absent ] && [ -e "$key" ]; then
  echo "left behind: $key"
  left=$((left + 1))
fi
[ "$left" -eq 0 ] || fail "$left paths of the package remain after the purge"

if [ "$failures" -ne 0 ]; then
  echo "package-check: $failures failed"
  exit 1
fi
echo "package-check: all passed"
