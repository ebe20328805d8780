#!/usr/bin/env bash
# Checks a built Debian package the way a user meets it: lintian, then installs it with
# apt-get, runs the installed programs (a count, a growth history recorded twice and read back,
# where it grew explained, its chart drawn by pelmora-chart and by history --plot, a count to
# depth 1 and the ncdu export, loaded by ncdu where it is installed), completes a name with a space in an
# interactive bash through bash-completion, verifies the systemd units (user and system) for a
# list whose path holds a space, validates the menu entry, the metainfo, the icons and the
# manual pages, purges
# the package and checks that none of its files remain. Needs root (or sudo) and a machine where
# pelmora is not installed yet, no running systemd; the package is purged at the end whatever
# happens.
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
for program in pelmora pelmora-cli pelmora-chart; do
  [ "$(command -v $program)" = /usr/bin/$program ] || fail "$program is not /usr/bin/$program"
  [ "$(readlink -f /usr/bin/$program)" = /usr/lib/pelmora/$program ] ||
    fail "/usr/bin/$program does not lead to /usr/lib/pelmora/$program"
done
dpkg-deb -f "$deb" Recommends | grep -qw bash-completion ||
  fail "the package does not recommend bash-completion"
pelmora-cli --help || fail "pelmora-cli --help"
[ "$(pelmora-cli --version)" = "pelmora-cli $version" ] || fail "pelmora-cli --version"
[ -f /usr/share/bash-completion/completions/pelmora-cli ] || fail "no bash completion"
[ -f /usr/share/zsh/vendor-completions/_pelmora-cli ] || fail "no zsh completion"
(cd / && pelmora-cli count /usr/share) >"$work/count" || fail "pelmora-cli count /usr/share"
cat "$work/count"
grep -q '^Total Files [0-9]' "$work/count" || fail "pelmora-cli count printed no figures"

echo "== the growth history and its chart"
# A list in a folder whose name holds a space, counted twice with a file added in between.
lists="$work/My Lists"
mkdir -p "$lists" "$work/tree/sub dir"
head -c 1000 /dev/zero >"$work/tree/sub dir/f"
list="$lists/WEEKLY.PML"
printf '%s\r\n' "$work/tree" >"$list"
(cd / && pelmora-cli export --history "$list") || fail "the first export --history"
head -c 5000 /dev/zero >"$work/tree/g"
head -c 3000 /dev/zero >"$work/tree/sub dir/h"
(cd / && pelmora-cli export --history "$list") || fail "the second export --history"
(cd / && pelmora-cli history "$list") >"$work/history" || fail "pelmora-cli history"
cat "$work/history"
grep -qF "$work/tree" "$work/history" || fail "the history does not name the list's directory"
grep -qF "sub dir    $work/tree" "$work/history" || fail "the history does not say what grew most"
(cd / && pelmora-cli history --json "$list") >"$work/history.json" || fail "history --json"
grep -q '"bytes_change": 8000,' "$work/history.json" &&
  grep -q '"files_change": 2,' "$work/history.json" ||
  { cat "$work/history.json"; fail "the history does not hold the change between the exports"; }
(cd / && pelmora-cli history --explain "$work/tree" "$list") || fail "history --explain"
(cd / && pelmora-cli history --json --explain "$work/tree" "$list") >"$work/explain.json" ||
  fail "history --json --explain"
grep -qF "{\"path\": \"$work/tree/sub dir\", " "$work/explain.json" &&
  grep -q '"bytes_change": 3000, "files_change": 1, ' "$work/explain.json" &&
  grep -q '"share": 37.50,' "$work/explain.json" ||
  { cat "$work/explain.json"; fail "history --explain does not say where the tree grew"; }
pelmora-chart --help >/dev/null || fail "pelmora-chart --help"
(cd / && pelmora-chart "$list" -o "$work/growth.svg") || fail "pelmora-chart"
grep -q '<svg' "$work/growth.svg" 2>/dev/null || fail "pelmora-chart drew no SVG"
(cd / && pelmora-cli history --plot "$work/growth.png" "$list") || fail "history --plot"
file "$work/growth.png" | grep -q "PNG image data, 1200 x 700," ||
  fail "history --plot drew no 1200 x 700 PNG"

echo "== count -d 1 and the ncdu export"
(cd / && pelmora-cli count -d 1 "$work/tree") >"$work/depth" || fail "pelmora-cli count -d 1"
cat "$work/depth"
grep -qF "    $work/tree/sub dir" "$work/depth" || fail "count -d 1 has no line for the subdirectory"
(cd / && pelmora-cli count --ncdu-export "$work/tree.json" "$work/tree") ||
  fail "pelmora-cli count --ncdu-export"
grep -q '^\[1,2,{"progname":"pelmora-cli"' "$work/tree.json" || fail "the export is not ncdu's format"
if command -v ncdu >/dev/null; then
  ncdu -f "$work/tree.json" -o "$work/again.json" || fail "ncdu does not load the export"
  grep -q '"name":"f","asize":1000,' "$work/again.json" ||
    { cat "$work/again.json"; fail "ncdu lost a file of the export"; }
else
  echo "ncdu is not installed: the export is not loaded"
fi

echo "== bash completion of a name with a space"
# An interactive bash on a terminal, bash-completion loading the installed completion by the
# command's name; a stand-in function prints the arguments the completed line gives.
mkdir -p "$work/complete/My Docs"
cat >"$work/complete.rc" <<'EOF'
PS1='> '
bind 'set enable-bracketed-paste off'
. /usr/share/bash-completion/bash_completion
pelmora-cli() { printf 'ARGS:'; printf '<%s>' "$@"; printf '\n'; }
EOF
printf 'pelmora-cli count My\t\nexit\n' >"$work/complete.in"
(cd "$work/complete" && INPUTRC=/dev/null TERM=dumb HOME="$work/complete" timeout 60 \
  script -qec "bash --noprofile --rcfile '$work/complete.rc' -i" /dev/null <"$work/complete.in") \
  >"$work/complete.out" 2>&1 || true
grep -aq 'ARGS:<count><My Docs/>' "$work/complete.out" ||
  { cat -v "$work/complete.out"; fail "bash does not complete My Docs whole"; }

echo "== systemd-analyze verify on the units"
# The installed templates, instantiated for the list above; verify needs no running systemd,
# and finds pelmora-cli and its manual page installed.
instance=$(systemd-escape --path "$list")
[ "$(systemd-escape --unescape --path "$instance")" = "$list" ] || fail "systemd-escape round trip"
mkdir -p "$work/runtime"
set +e
XDG_RUNTIME_DIR="$work/runtime" systemd-analyze --user verify \
  "/usr/lib/systemd/user/pelmora-export@$instance.service" \
  "/usr/lib/systemd/user/pelmora-export@$instance.timer" >"$work/verify" 2>&1
status=$?
set -e
cat "$work/verify"
[ "$status" -eq 0 ] && [ ! -s "$work/verify" ] || fail "systemd-analyze verify pelmora-export@$instance"
# The system units for Prometheus: valid for the same list, and not enabled by the package.
set +e
systemd-analyze verify "/usr/lib/systemd/system/pelmora-metrics@$instance.service" \
  "/usr/lib/systemd/system/pelmora-metrics@$instance.timer" >"$work/verify" 2>&1
status=$?
set -e
cat "$work/verify"
[ "$status" -eq 0 ] && [ ! -s "$work/verify" ] || fail "systemd-analyze verify pelmora-metrics@$instance"
if ls /etc/systemd/system/*.wants/pelmora-* >/dev/null 2>&1; then
  fail "the package enabled a unit: $(ls /etc/systemd/system/*.wants/pelmora-*)"
fi

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
for page in pelmora pelmora-cli pelmora-chart; do
  path=/usr/share/man/man1/$page.1.gz
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$path" >"$work/$page.txt" 2>"$work/$page.err" ||
    fail "man -l $path"
  [ -s "$work/$page.err" ] && { cat "$work/$page.err"; fail "man -l $path warns"; }
  head -n 4 "$work/$page.txt"
done
for page in pelmora pelmora-cli pelmora-chart; do
  man -w $page >/dev/null || fail "man $page finds no page"
done

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
