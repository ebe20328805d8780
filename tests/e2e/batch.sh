#!/bin/bash
# The batch run of the real program: started with one argument naming a list file beside it,
# it writes the data file, waits for the confirmation to be answered and ends with status 0;
# with a list that does not exist it shows the "&Abort" warning, writes nothing and ends with
# a non-zero status; when the data file cannot be created it says so and ends with a non-zero
# status. The boxes ask the window manager for a close box only. Runs its own X server and
# answers the boxes with key presses.
#
# usage: bash batch.sh BUILD/bin
set -u

bin=${1:?usage: batch.sh BUILD/bin}
bin=$(cd "$bin" && pwd)

if ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null || ! command -v xprop >/dev/null; then
    echo "SKIP: Xvfb, xdotool or xprop is not installed"
    exit 77
fi

# Allocations the system libraries keep for the whole process are not the program's leaks.
supp="$(cd "$(dirname "$0")/.." && pwd)/lsan.supp"
[ -f "$supp" ] && export LSAN_OPTIONS="suppressions=$supp:${LSAN_OPTIONS:-}"

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

work=$(mktemp -d /tmp/pelmora-batch-XXXXXX)
xvfb_pid=
app_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# The program and its help file, alone in a directory of their own.
mkdir "$work/prog" "$work/elsewhere" "$work/tree"
cp "$bin/pelmora" "$work/prog/" || { echo "FAIL: no program in $bin"; exit 1; }
[ -f "$bin/Pelmora.hlp" ] && cp "$bin/Pelmora.hlp" "$work/prog/"

# Our own X server on a display number it picks itself; no reset when a client leaves, so that
# the next client finds it ready.
exec 3>"$work/display"
Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
if [ ! -s "$work/display" ]; then
    echo "FAIL: Xvfb did not start"
    cat "$work/xvfb.log"
    exit 1
fi
export DISPLAY=":$(head -n1 "$work/display")"
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY

# Waits for a visible window whose title is exactly $1; prints its id.
wait_window() {
    local id
    for _ in $(seq 300); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -n1)
        if [ -n "$id" ]; then
            echo "$id"
            return 0
        fi
        kill -0 "$app_pid" 2>/dev/null || return 1
        sleep 0.1
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

# Presses the keys $2 in the window $1.
press() {
    # The server handles the focus change before the key events that follow it.
    xdotool windowfocus "$1"
    xdotool key --clearmodifiers "$2"
}

# ---- one argument naming an existing list ---------------------------------------------------

printf '%300s' '' | tr ' ' 'a' >"$work/tree/one"
printf '%20s' '' | tr ' ' 'b' >"$work/tree/two"
printf '%s\r\n%s\r\n' "$work/tree" "$work/gone" >"$work/prog/MYLIST.PML"

(cd "$work/elsewhere" && exec "$work/prog/pelmora" mylist) >"$work/run1.log" 2>&1 &
app_pid=$!
if box=$(wait_window Pelmora); then
    # The data file is complete before the confirmation is shown.
    [ -f "$work/prog/MYLIST.TXT" ] || fail "no data file while the confirmation is shown"
    # The box offers the window manager a close box and moving, nothing to minimise or maximise.
    functions=$(xprop -id "$box" _MOTIF_WM_HINTS | sed -n 's/.*= *[^,]*, *\([^,]*\),.*/\1/p')
    if [ -z "$functions" ] || (( (functions & 0x19) != 0 || (functions & 0x20) == 0 )); then
        fail "the confirmation box asks for the Motif functions '$functions'"
    fi
    press "$box" Return
    wait_exit
    [ "$status" = 0 ] || fail "batch run ended with status $status"
else
    fail "the confirmation box did not appear"
    wait_exit
fi

# Half the cluster size of the volume the program was started in, per counted entry; nothing
# on a compressed volume.
cluster=$(stat -f -c %S "$work/elsewhere")
# The list is sorted: "gone" comes before "tree"; build the lines in that order.
printf -v line_gone '"%s",0,0,0,0\r\n' "$work/gone"
printf -v line_tree '"%s",0,2,320,%d\r\n' "$work/tree" $((2 * (cluster / 2)))
printf -v line_tree0 '"%s",0,2,320,0\r\n' "$work/tree"
actual=$(cat "$work/prog/MYLIST.TXT" 2>/dev/null; echo x)
actual=${actual%x}
if [ "$actual" != "$line_gone$line_tree" ] && [ "$actual" != "$line_gone$line_tree0" ]; then
    fail "data file differs"
    od -c "$work/prog/MYLIST.TXT" 2>/dev/null | head -20
fi
[ -e "$work/elsewhere/MYLIST.TXT" ] && fail "data file written in the start directory"

# ---- started through a symlink, as the installed program is --------------------------------

# The list and the data file are beside the program's real path, not beside the link.
mkdir "$work/link"
ln -s ../prog/pelmora "$work/link/pelmora"
rm -f "$work/prog/MYLIST.TXT"
(cd "$work/elsewhere" && exec "$work/link/pelmora" mylist) >"$work/run4.log" 2>&1 &
app_pid=$!
if box=$(wait_window Pelmora); then
    press "$box" Return
    wait_exit
    [ "$status" = 0 ] || fail "batch run through a symlink ended with status $status"
else
    fail "the confirmation box did not appear when started through a symlink"
    wait_exit
fi
[ -f "$work/prog/MYLIST.TXT" ] || fail "no data file beside the real program when started through a symlink"
[ -e "$work/link/MYLIST.TXT" ] && fail "data file written beside the symlink"

# ---- one argument naming a missing list -----------------------------------------------------

(cd "$work/elsewhere" && exec "$work/prog/pelmora" nosuch) >"$work/run2.log" 2>&1 &
app_pid=$!
if box=$(wait_window Warning); then
    press "$box" alt+a
    wait_exit
    if [ "$status" = hung ]; then
        fail "the program did not end after the warning"
    elif [ "$status" != 1 ]; then
        fail "a batch run with a missing list ended with status $status, not 1"
    fi
else
    fail "the warning box did not appear"
    wait_exit
fi
ls "$work/prog" | grep -qi '^nosuch\.txt$' && fail "a data file was written for a missing list"

# ---- a data file that cannot be created ----------------------------------------------------

printf '%s\r\n' "$work/tree" >"$work/prog/BLOCKED.PML"
mkdir "$work/prog/BLOCKED.TXT"
(cd "$work/elsewhere" && exec "$work/prog/pelmora" blocked) >"$work/run3.log" 2>&1 &
app_pid=$!
if box=$(wait_window Pelmora); then
    press "$box" Return
    wait_exit
    if [ "$status" = hung ]; then
        fail "the program did not end after the error box"
    elif [ "$status" != 1 ]; then
        fail "a batch run that wrote no data file ended with status $status, not 1"
    fi
else
    fail "the error box did not appear"
    wait_exit
fi
[ -d "$work/prog/BLOCKED.TXT" ] || fail "the directory in the data file's way was touched"

if [ "$failures" -ne 0 ]; then
    echo "--- program output"
    cat "$work"/run*.log
    exit 1
fi
echo "PASS"
