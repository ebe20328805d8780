#!/bin/bash
# The real program under Wayland: a headless weston of the test's own, Pelmora on Qt's Wayland
# platform. The window must be drawn in its known colours (read back from a screenshot), and a
# batch run of a list saved in lower case must write its data file, wait for its confirmation to
# be answered (pressed through the accessibility bus, as a screen reader would) and end with
# status 0. Skipped, with the reason, where weston, Qt's Wayland platform or the accessibility
# bus is missing.
#
# usage: bash wayland.sh BUILD/bin
set -u

bin=${1:?usage: wayland.sh BUILD/bin}
bin=$(cd "$bin" && pwd)
here=$(cd "$(dirname "$0")" && pwd)

skip() {
    echo "SKIP: $*"
    exit 77
}

# The confirmation is answered through AT-SPI on a session bus of the test's own.
if [ "${PELMORA_E2E_OWN_BUS:-}" != 1 ]; then
    command -v dbus-run-session >/dev/null || skip "dbus-run-session is not installed (dbus-daemon)"
    exec dbus-run-session -- env PELMORA_E2E_OWN_BUS=1 bash "$0" "$@"
fi

for tool in weston weston-screenshooter convert; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done
plugins=$(qtpaths6 --query QT_INSTALL_PLUGINS 2>/dev/null)
ls "${plugins:-/usr/lib/x86_64-linux-gnu/qt6/plugins}"/platforms/libqwayland-*.so >/dev/null 2>&1 ||
    skip "Qt's Wayland platform is not installed (qt6-wayland)"
python=/usr/bin/python3
"$python" -c 'import dbus' 2>/dev/null || skip "python3-dbus is not installed"
[ -x /usr/libexec/at-spi-bus-launcher ] || skip "the accessibility bus is not installed (at-spi2-core)"

supp="$here/../lsan.supp"
[ -f "$supp" ] && export LSAN_OPTIONS="suppressions=$supp:${LSAN_OPTIONS:-}"

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

work=$(mktemp -d /tmp/pelmora-wayland-XXXXXX)
weston_pid=
app_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    [ -n "$weston_pid" ] && kill "$weston_pid" 2>/dev/null
    [ -n "$weston_pid" ] && wait "$weston_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -m 700 "$work/runtime"
mkdir "$work/prog" "$work/tree" "$work/tree/alpha" "$work/tree/beta" "$work/shots"
cp "$bin/pelmora" "$work/prog/" || { echo "FAIL: no program in $bin"; exit 1; }
[ -f "$bin/Pelmora.hlp" ] && cp "$bin/Pelmora.hlp" "$work/prog/"

# A compositor of our own, drawing into memory; --debug lets the screenshooter in.
export XDG_RUNTIME_DIR="$work/runtime"
export WAYLAND_DISPLAY=pelmora-e2e
weston --backend=headless-backend.so --use-pixman --width=1024 --height=768 --no-config \
    --idle-time=0 --debug --socket="$WAYLAND_DISPLAY" >"$work/weston.log" 2>&1 &
weston_pid=$!
for _ in $(seq 100); do
    [ -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ] && break
    sleep 0.1
done
if [ ! -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ]; then
    echo "FAIL: weston did not start"
    cat "$work/weston.log"
    exit 1
fi
export QT_QPA_PLATFORM=wayland QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
unset DISPLAY

# The number of pixels of colour $2 (#RRGGBB) in the image $1.
pixels() {
    convert "$1" -format %c histogram:info:- |
        awk -v c="$2" 'toupper($0) ~ toupper(c) { sub(":", "", $1); n += $1 } END { print n + 0 }'
}

# Takes screenshots until the window shows all its known colours; the last one stays as shot.png.
window_drawn() {
    for _ in $(seq 40); do
        rm -f "$work"/shots/*.png
        (cd "$work/shots" && timeout 10 weston-screenshooter >/dev/null 2>&1)
        shot=$(ls "$work"/shots/*.png 2>/dev/null | head -n1)
        if [ -n "$shot" ]; then
            mv "$shot" "$work/shot.png"
            # The current directory's highlight (navy), the lists (white), the panels (#F0F0F0).
            navy=$(pixels "$work/shot.png" "#000080")
            white=$(pixels "$work/shot.png" "#FFFFFF")
            face=$(pixels "$work/shot.png" "#F0F0F0")
            [ "$navy" -ge 2000 ] && [ "$white" -ge 40000 ] && [ "$face" -ge 20000 ] && return 0
        fi
        kill -0 "$app_pid" 2>/dev/null || return 1
        sleep 0.25
    done
    return 1
}

# Waits for the program to end and sets `status` to its exit status ("hung" after a minute).
wait_exit() {
    status=hung
    for _ in $(seq 600); do
        if ! kill -0 "$app_pid" 2>/dev/null; then
            wait "$app_pid"
            status=$?
            app_pid=
            return
        fi
        sleep 0.1
    done
}

# Presses the button $2 of the program's box titled $1 through the accessibility bus, once the
# box is there (within 30 seconds). Prints what it did.
press_through_atspi() {
    "$python" - "$1" "$2" <<'EOF'
import sys, time
import dbus

title, button = sys.argv[1], sys.argv[2]
session = dbus.SessionBus()
address = session.get_object("org.a11y.Bus", "/org/a11y/bus").GetAddress(
    dbus_interface="org.a11y.Bus")
bus = dbus.bus.BusConnection(address)
ACCESSIBLE = "org.a11y.atspi.Accessible"


def prop(name, path, key):
    return bus.get_object(name, path).Get(ACCESSIBLE, key,
                                          dbus_interface="org.freedesktop.DBus.Properties")


def find(name, path, role, text, depth=0):
    node = dbus.Interface(bus.get_object(name, path), ACCESSIBLE)
    if node.GetRoleName() == role and str(prop(name, path, "Name")) == text:
        return name, path
    if depth > 8:
        return None
    for child_name, child_path in node.GetChildren():
        hit = find(child_name, child_path, role, text, depth + 1)
        if hit:
            return hit
    return None


deadline = time.monotonic() + 30
while time.monotonic() < deadline:
    try:
        root = dbus.Interface(bus.get_object("org.a11y.atspi.Registry",
                                             "/org/a11y/atspi/accessible/root"), ACCESSIBLE)
        for app_name, app_path in root.GetChildren():
            box = find(app_name, app_path, "dialog", title)
            hit = box and find(box[0], box[1], "push button", button)
            if hit:
                action = dbus.Interface(bus.get_object(*hit), "org.a11y.atspi.Action")
                names = [str(a[0]) for a in action.GetActions()]
                action.DoAction(names.index("Press") if "Press" in names else 0)
                print("pressed", button, "in", title)
                sys.exit(0)
    except dbus.exceptions.DBusException:
        pass
    time.sleep(0.2)
print("no box", title, "with a button", button)
sys.exit(1)
EOF
}

# ---- the window as drawn -------------------------------------------------------------------

printf '%s\r\n%s\r\n' "$work/tree/alpha" "$work/tree/beta" >"$work/prog/DEFAULT.PML"
(cd "$work/tree" && exec "$work/prog/pelmora") >"$work/run1.log" 2>&1 &
app_pid=$!
if ! window_drawn; then
    fail "the window was not drawn in its colours (navy ${navy:-?}, white ${white:-?}, grey ${face:-?} pixels)"
fi
kill "$app_pid" 2>/dev/null
wait "$app_pid" 2>/dev/null
app_pid=

# ---- a batch run of a list saved in lower case -----------------------------------------------

printf '%300s' '' | tr ' ' 'a' >"$work/tree/alpha/one"
printf '%s\r\n' "$work/tree/alpha" >"$work/prog/weekly.PML"
(cd "$work/tree" && exec "$work/prog/pelmora" weekly) >"$work/run2.log" 2>&1 &
app_pid=$!
if press_through_atspi Pelmora OK >"$work/press.log" 2>&1; then
    wait_exit
    [ "$status" = 0 ] || fail "the batch run ended with status $status"
else
    fail "the confirmation box was not found: $(cat "$work/press.log")"
    wait_exit
fi
# Half the cluster size of the volume per counted entry (one file); nothing on a compressed one.
cluster=$(stat -f -c %S "$work/tree")
actual=$(cat "$work/prog/weekly.TXT" 2>/dev/null; echo x)
actual=${actual%x}
printf -v expected '"%s",0,1,300,%d\r\n' "$work/tree/alpha" $((cluster / 2))
printf -v expected0 '"%s",0,1,300,0\r\n' "$work/tree/alpha"
if [ "$actual" != "$expected" ] && [ "$actual" != "$expected0" ]; then
    fail "the data file weekly.TXT differs"
    od -c "$work/prog/weekly.TXT" 2>/dev/null | head -10
fi

if [ "$failures" -ne 0 ]; then
    echo "--- program output"
    cat "$work"/run*.log
    echo "--- weston"
    tail -20 "$work/weston.log"
    exit 1
fi
echo "PASS"
