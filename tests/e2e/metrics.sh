#!/bin/bash
# pelmora-cli export --metrics against the real programs: promtool check metrics accepts the
# files of two lists whose names and directories hold quotes, backslashes, a newline, commas,
# spaces, a tab and bytes that are not UTF-8; a node_exporter started here serves every series
# of them with its exact value, its textfile collector reporting no error; a Prometheus started
# here scrapes it, and a query over its HTTP API returns a watched directory's bytes, then, after
# a second export that added 1 MiB, the new figure.
#
# Both servers listen on 127.0.0.1 only, on a port they choose, under timeout(1), and are
# stopped when the script ends, however it ends. Waits are bounded: a server that is not up, or
# a figure that does not arrive, within 30 s fails the test.
#
# usage: bash metrics.sh BUILD/bin
set -u

bin=${1:?usage: metrics.sh BUILD/bin}
bin=$(cd "$bin" && pwd)
cli=$bin/pelmora-cli
for tool in promtool prometheus prometheus-node-exporter curl; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (scripts/install-deps.sh test installs it)"
        exit 77
    fi
done
[ -x "$cli" ] || { echo "FAIL: no pelmora-cli in $bin"; exit 1; }

supp="$(cd "$(dirname "$0")/.." && pwd)/lsan.supp"
[ -f "$supp" ] && export LSAN_OPTIONS="suppressions=$supp:${LSAN_OPTIONS:-}"

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

work=$(mktemp -d /tmp/pelmora-metrics-XXXXXX)
servers=()
cleanup() {
    local p
    for p in "${servers[@]}"; do kill "$p" 2>/dev/null; done
    for p in "${servers[@]}"; do wait "$p" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# start LOG COMMAND...: runs a server under a time limit and sets `port` to the port it says it
# listens on, once it says so (at most 30 s). Not in a subshell: cleanup must know the server.
start() {
    local log=$1
    shift
    port=
    timeout -s TERM 100 "$@" >"$log" 2>&1 &
    servers+=($!)
    for _ in $(seq 300); do
        port=$(sed -n 's/.*msg="Listening on".*address=127\.0\.0\.1:\([0-9][0-9]*\).*/\1/p' "$log" |
            head -n1)
        [ -n "$port" ] && return 0
        kill -0 "${servers[-1]}" 2>/dev/null || break
        sleep 0.1
    done
    cat "$log"
    return 1
}

# The sample lines of the text on stdin in one form: labels with a value sorted by name (an
# empty label is no label), the value as a double. Both pelmora-cli and node_exporter escape a
# label value the same way (\\, \", \n), so the escaped text is compared as it stands.
canonical() {
    LC_ALL=C awk '
    /^#/ || NF == 0 { next }
    {
        line = $0; n = length(line); i = 1
        while (i <= n && substr(line, i, 1) != "{" && substr(line, i, 1) != " ") i++
        name = substr(line, 1, i - 1); count = 0
        if (substr(line, i, 1) == "{") {
            i++
            while (i <= n && substr(line, i, 1) != "}") {
                if (substr(line, i, 1) == ",") { i++; continue }
                key = ""
                while (i <= n && substr(line, i, 1) != "=") { key = key substr(line, i, 1); i++ }
                i += 2
                value = ""
                while (i <= n && substr(line, i, 1) != "\"") {
                    c = substr(line, i, 1)
                    if (c == "\\") { value = value c substr(line, i + 1, 1); i += 2 }
                    else { value = value c; i++ }
                }
                i++
                if (value != "") pair[++count] = key "=\"" value "\""
            }
            i++
        }
        for (a = 2; a <= count; a++) {
            p = pair[a]
            for (b = a - 1; b >= 1 && pair[b] > p; b--) pair[b + 1] = pair[b]
            pair[b + 1] = p
        }
        out = name "{"
        for (a = 1; a <= count; a++) out = out (a > 1 ? "," : "") pair[a]
        rest = substr(line, i); sub(/^ +/, "", rest); split(rest, field, " ")
        printf "%s} %.17g\n", out, field[1] + 0
    }' | LC_ALL=C sort
}

# The value of the series `name{labels}` (labels sorted by name) in a metrics text on stdin.
valueIn() {
    canonical | S="$1" awk 'index($0, ENVIRON["S"] " ") == 1 { print $NF }'
}

# ---- the files ----------------------------------------------------------------------------

tree=$work/tree
odd=('quote "q"' 'back\slash' 'comma, and space' $'tab\there' $'caf\xe9 latin-1')
mkdir -p "$tree/plain/sub" "$work/textfiles"
head -c 1000 /dev/zero >"$tree/plain/f"
head -c 24 /dev/zero >"$tree/plain/sub/g"
n=0
for d in "${odd[@]}"; do
    n=$((n + 1))
    mkdir "$tree/$d"
    for i in $(seq "$n"); do head -c "$((i * 100))" /dev/zero >"$tree/$d/f$i"; done
done
# A list whose name holds a quote, a backslash and a newline: plain twice, a blank line and a
# directory that does not exist among the odd ones; another whose name is not UTF-8.
main=$work/$'fleet "main"\\\nlist.PML'
other=$work/$'other\xff.PML'
{
    printf '%s\r\n' "$tree/plain" "${odd[@]/#/$tree/}" "$tree/plain" "" "$tree/gone"
} >"$main"
printf '%s\r\n' "$tree/plain" >"$other"

"$cli" export --quiet --metrics "$work/textfiles/main.prom" -- "$main" >/dev/null 2>"$work/err"
status=$?
[ "$status" -eq 1 ] || fail "export of the main list: status $status (1: a directory is gone)"
grep -q "cannot read directory '$tree/gone'" "$work/err" || fail "the gone directory not named"
"$cli" export --quiet --metrics "$work/textfiles/other.prom" -- "$other" >/dev/null ||
    fail "export of the other list"

for f in "$work/textfiles/main.prom" "$work/textfiles/other.prom"; do
    [ -s "$f" ] || { fail "no metrics in $f"; continue; }
    [ "$(tail -c 1 "$f" | od -An -tx1 | tr -d ' ')" = 0a ] || fail "$f does not end with LF"
    promtool check metrics <"$f" >"$work/check" 2>&1 || fail "promtool check metrics $f"
    [ -s "$work/check" ] && { cat "$work/check"; fail "promtool has remarks on $f"; }
    dups=$(canonical <"$f" | sed 's/ [^ ]*$//' | uniq -d)
    [ -z "$dups" ] || fail "series stand twice in $f: $dups"
done
# Every directory of the main list but the blank line has its series, the second plain
# apart.
[ "$(grep -c '^pelmora_directory_bytes{' "$work/textfiles/main.prom")" -eq 8 ] ||
    fail "not 8 bytes series in main.prom"
grep -q '^pelmora_directory_bytes{.*occurrence="2"' "$work/textfiles/main.prom" ||
    fail "the second plain has no occurrence label"

# ---- node_exporter --------------------------------------------------------------------------

start "$work/node.log" prometheus-node-exporter --web.listen-address=127.0.0.1:0 \
    --collector.disable-defaults --collector.textfile \
    --collector.textfile.directory="$work/textfiles" --web.disable-exporter-metrics ||
    { fail "node_exporter did not start"; exit 1; }
nport=$port
curl -sf --max-time 10 "http://127.0.0.1:$nport/metrics" >"$work/served" ||
    { fail "no /metrics from node_exporter"; exit 1; }
grep -qx 'node_textfile_scrape_error 0' "$work/served" ||
    { grep textfile "$work/served" "$work/node.log"; fail "node_textfile_scrape_error is not 0"; }
cat "$work/textfiles/"*.prom | canonical >"$work/ours"
grep '^pelmora_' "$work/served" | canonical >"$work/theirs"
[ "$(wc -l <"$work/ours")" -gt 50 ] || fail "too few series to compare"
diff "$work/ours" "$work/theirs" >"$work/diff" ||
    { cat "$work/diff"; fail "node_exporter serves other series or values than the files hold"; }
diff <(cat "$work/textfiles/"*.prom | grep '^# HELP' | sort -u) \
    <(grep '^# HELP pelmora_' "$work/served" | sort) >"$work/diff" ||
    { cat "$work/diff"; fail "node_exporter serves other help texts"; }

# ---- Prometheus -----------------------------------------------------------------------------

cat >"$work/prometheus.yml" <<EOF
global:
  scrape_interval: 1s
  scrape_timeout: 1s
scrape_configs:
  - job_name: node
    static_configs:
      - targets: ['127.0.0.1:$nport']
EOF
start "$work/prometheus.log" prometheus --config.file="$work/prometheus.yml" \
    --storage.tsdb.path="$work/tsdb" --web.listen-address=127.0.0.1:0 ||
    { fail "Prometheus did not start"; exit 1; }
pport=$port

# The value of the one series a PromQL query gives, or nothing.
query() {
    local answer
    answer=$(curl -sf --max-time 5 --get --data-urlencode "query=$1" \
        "http://127.0.0.1:$pport/api/v1/query") || return
    [ "$(grep -o '"value":' <<<"$answer" | wc -l)" -eq 1 ] || return
    sed -n 's/.*"value":\[[^,]*,"\([^"]*\)"\].*/\1/p' <<<"$answer"
}
# Waits (at most 30 s) until `query` gives `expected`.
awaitValue() {
    local got=
    [ -n "$2" ] || { fail "nothing to wait for in $1"; return; }
    for _ in $(seq 300); do
        got=$(query "$1")
        [ "$got" = "$2" ] && return 0
        sleep 0.1
    done
    fail "query $1 gave '$got', not $2"
}

# The list's label as the file writes it is also PromQL's escaping of the same text.
list=$(grep -oE 'list="([^"\\]|\\.)*"' "$work/textfiles/main.prom" | head -n1)
plain="pelmora_directory_bytes{path=\"$tree/plain\",occurrence=\"\",$list}"
# Sizes of directories count too: 1024 bytes of files and the size of plain/sub.
inFile="pelmora_directory_bytes{$list,path=\"$tree/plain\"}"
before=$(valueIn "$inFile" <"$work/textfiles/main.prom")
[ "${before:-0}" -gt 1024 ] || fail "plain holds '$before' bytes in the file"
awaitValue "$plain" "$before"
latin=$(grep -oE 'path_bytes="[^"]*"' "$work/textfiles/main.prom" | head -n1)
awaitValue "pelmora_directory_files{$latin}" 5
otherList=$(grep -oE 'list_bytes="[^"]*"' "$work/textfiles/other.prom" | head -n1)
awaitValue "pelmora_list_entries{$otherList}" 1

head -c 1048576 /dev/zero >>"$tree/plain/f"
"$cli" export --quiet --metrics "$work/textfiles/main.prom" -- "$main" >/dev/null 2>&1
after=$(valueIn "$inFile" <"$work/textfiles/main.prom")
[ "$after" = $((before + 1048576)) ] || fail "plain holds $after bytes after 1 MiB more"
awaitValue "$plain" "$((before + 1048576))"

[ "$failures" -eq 0 ] && echo "PASS"
exit "$failures"
