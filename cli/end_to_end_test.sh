#!/usr/bin/env bash
# Runs the built quillon-cli as a process against monitor-emulator: the exit
# codes, a stop signal at the question (the window's exit path, 128+n), Ctrl-Z
# at the question (the job stops and goes on), stop and job control signals and
# a lost terminal during the update (refused, the update completes),
# the update lock seen by a second run and by list, and a run killed outright
# that the next run resumes.
# Usage: end_to_end_test.sh QUILLON_CLI MONITOR_EMULATOR VFWTOOL MAKE_DEMO_PACKAGE
set -u
# The update lock is the machine's (a name in the abstract socket namespace, one
# per network namespace): in a network namespace of its own when it may have one,
# this test never meets another run of it on the machine, such as another
# build's suite. The emulated monitors are reached through socket files, which
# every namespace reaches.
# Root keeps its records in /var/lib/quillon, the machine's: root runs the test as
# an ordinary user of a user namespace of its own, whose records go to the test's folder.
if [ -z "${QUILLON_E2E_OWN_NETWORK:-}" ]; then
  if [ "$(id -u)" = 0 ]; then
    own_network=(unshare --user --map-user=1000 --map-group=1000 --net)
  else
    own_network=(unshare --map-current-user --net)
  fi
  if "${own_network[@]}" true 2>/dev/null; then
    QUILLON_E2E_OWN_NETWORK=1 exec "${own_network[@]}" bash "$0" "$@"
  fi
fi
if [ "$(id -u)" = 0 ]; then
  echo "FAIL: run as root, the updater would keep its records in /var/lib/quillon" >&2
  exit 1
fi
cli=$1
emulator=$2
vfwtool=$3
make_package=$4
dir=$(mktemp -d /tmp/quillon-cli-e2e-XXXXXX)
emulator_pid=""
trap '[ -n "$emulator_pid" ] && kill "$emulator_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$dir"' EXIT
# The backup record and the run logs go to the test's folder, not the home.
export LC_ALL=C QUILLON_HID_EMULATOR=$dir/monitors XDG_STATE_HOME=$dir/state

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
expect_code() {  # NAME EXPECTED ACTUAL
  [ "$2" = "$3" ] || fail "$1: exit code $3, expected $2"
}
wait_for() {  # FILE PATTERN: up to 30 s
  for _ in $(seq 300); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  fail "no \"$2\" in $1"
  return 1
}
expect_json() {  # NAME FILE: each line a JSON object, in UTF-8, as a script reads it
  python3 -c '
import json, sys
for number, line in enumerate(open(sys.argv[1], "rb"), 1):
    assert isinstance(json.loads(line.decode("utf-8")), dict), "line %d is no object" % number
' "$2" 2>"$dir/json.err" || fail "$1: not JSON: $(tail -n1 "$dir/json.err")"
}

v1=0010200201000030000400005
v2=0010300202000030000400005
v3=0010400203000030000400005
mkdir "$dir/monitors" "$dir/demo"
# Restarts of 1 s make the update last long enough to signal it.
"$emulator" --dir "$dir/monitors" --kind combined-tunnel --model QC27-EMU --firmware-version "$v1" \
  --restart-seconds 1 --transfer-time 0,0 >"$dir/emulator.out" &
emulator_pid=$!
wait_for "$dir/emulator.out" . || exit 1
cp "$cli" "$dir/demo/quillon-cli"
run=$dir/demo/quillon-cli
"$make_package" -o "$dir/v2.vfw" --model 'QC27*' --from "$v1" --to "$v2" --emulator "$emulator" --vfwtool "$vfwtool" >/dev/null
"$make_package" -o "$dir/v3.vfw" --model 'QC27*' --from "$v2" --to "$v3" --emulator "$emulator" --vfwtool "$vfwtool" >/dev/null
cp "$dir/v2.vfw" "$dir/demo/update.vfw"

# Plain runs.
"$run" --version >"$dir/out" 2>&1
expect_code version 0 $?
grep -q '^quillon-cli [0-9]' "$dir/out" || fail "--version printed $(cat "$dir/out")"
"$run" update --bogus >/dev/null 2>"$dir/err"
expect_code "bad option" 2 $?
grep -q '^usage: quillon-cli update' "$dir/err" || fail "no usage line: $(cat "$dir/err")"
"$run" update </dev/null >/dev/null 2>"$dir/err"
expect_code "update without --yes nor a terminal" 2 $?
"$run" list --json >"$dir/out"
expect_code list 0 $?
grep -q '"model":"QC27-EMU","serial":"EMU00001","version":"00102-00201-00003-00004-00005","state":"running"' "$dir/out" ||
  fail "list: $(cat "$dir/out")"
expect_json list "$dir/out"

# Ctrl-C at the question, on a terminal: the window's exit path, 128+2, the backup file gone.
python3 - "$run" >"$dir/pty.out" <<'PY'
import os, pty, signal, subprocess, sys, time
master, slave = pty.openpty()
p = subprocess.Popen([sys.argv[1], "update"], stdin=slave, stdout=slave, stderr=slave, close_fds=True)
os.close(slave)
seen, deadline = b"", time.time() + 30
while b"[y/N]" not in seen and time.time() < deadline:
    try:
        seen += os.read(master, 4096)
    except OSError:
        break
p.send_signal(signal.SIGINT)
print(p.wait(timeout=30))
PY
[ "$(cat "$dir/pty.out")" = 130 ] || fail "Ctrl-C at the question: exit $(cat "$dir/pty.out"), expected 130"
[ ! -e "$dir/state/quillon/.backup" ] || fail "Ctrl-C at the question left the backup file"

# Ctrl-Z at the question stops the job as usual, and it asks on when continued;
# Ctrl-\ then ends it as Ctrl-C does: 128+3, the backup file gone.
python3 - "$run" >"$dir/pty.out" <<'PY'
import os, pty, signal, subprocess, sys, time
master, slave = pty.openpty()
# A process group of its own in this session, which a stop signal stops.
p = subprocess.Popen([sys.argv[1], "update"], stdin=slave, stdout=slave, stderr=slave, close_fds=True,
                     process_group=0)
os.close(slave)
seen, deadline = b"", time.time() + 30
while b"[y/N]" not in seen and time.time() < deadline:
    try:
        seen += os.read(master, 4096)
    except OSError:
        break
def changed(flag, deadline=time.time() + 30):  # the status after `flag`'s change, or None
    while time.time() < deadline:
        pid, status = os.waitpid(p.pid, flag | os.WNOHANG)
        if pid:
            return status
        time.sleep(0.05)
p.send_signal(signal.SIGTSTP)
status = changed(os.WUNTRACED)
print("stopped by", os.WSTOPSIG(status) if status is not None and os.WIFSTOPPED(status) else status)
p.send_signal(signal.SIGCONT)
status = changed(os.WCONTINUED)
print("continued", status is not None and os.WIFCONTINUED(status))
p.send_signal(signal.SIGQUIT)
print(p.wait(timeout=30))
PY
[ "$(cat "$dir/pty.out")" = "$(printf 'stopped by 20\ncontinued True\n131')" ] ||
  fail "Ctrl-Z, then Ctrl-\\ at the question: $(cat "$dir/pty.out"), expected to stop, go on and end with 131"
[ ! -e "$dir/state/quillon/.backup" ] || fail "Ctrl-\\ at the question left the backup file"

# During the update: the stop and job control signals and a lost terminal are
# refused, with the time left. In a process group of its own (set -m), which a
# stop signal would stop.
set -m
"$run" update --yes --json >"$dir/update.out" 2>"$dir/update.err" &
update_pid=$!
set +m
wait_for "$dir/update.out" '"event":"summary"'
sleep 1
"$run" update --yes >/dev/null 2>"$dir/second.err"
expect_code "a second update during the first" 1 $?
grep -q "An update is already running (quillon-cli (process $update_pid))" "$dir/second.err" ||
  fail "second update: $(cat "$dir/second.err")"
# The lock is the machine's, not the folder's: another copy of the programs waits its turn too.
mkdir "$dir/other"
cp "$cli" "$dir/other/quillon-cli"
cp "$dir/v3.vfw" "$dir/other/update.vfw"
"$dir/other/quillon-cli" update --yes >/dev/null 2>"$dir/other.err"
expect_code "an update from another copy during the first" 1 $?
grep -q "An update is already running (quillon-cli (process $update_pid))" "$dir/other.err" ||
  fail "update from another copy: $(cat "$dir/other.err")"
"$run" list --json >"$dir/list.out"
grep -q "^{\"monitors\":\[\],\"refused\":0,\"updateRunning\":\"quillon-cli (process $update_pid)\"}$" "$dir/list.out" ||
  fail "list during the update: $(cat "$dir/list.out")"
signals="TERM HUP INT QUIT TSTP TTIN TTOU"
for signal in $signals; do
  kill -$signal $update_pid
  sleep 0.3
  if grep -q '^State:.*stopped' /proc/$update_pid/status 2>/dev/null; then
    fail "SIG$signal stopped the update"
    kill -CONT $update_pid
  fi
done
wait $update_pid
expect_code "update signalled while it ran" 0 $?
[ "$(grep -c 'cannot be stopped now' "$dir/update.err")" = "$(wc -w <<<"$signals")" ] ||
  fail "refusals of $signals: $(cat "$dir/update.err")"
tail -n1 "$dir/update.out" | grep -q '^{"event":"result","status":"0x00000000",.*"version":"00103-00202-00003-00004-00005","runLog":"[^"]*/state/quillon/run-[0-9-]*\.log"}$' ||
  fail "result: $(tail -n1 "$dir/update.out")"

# Killed outright while it writes: nothing is lost, the next run finishes the update.
cp "$dir/v3.vfw" "$dir/demo/update.vfw"
"$run" update --yes >"$dir/killed.out" 2>&1 &
killed_pid=$!
wait_for "$dir/state/quillon/.backup" . && sleep 2
kill -KILL $killed_pid
wait $killed_pid 2>/dev/null
# Its log, each line on disk as written, ends in the step it was killed in.
killed_log=$(ls "$dir"/state/quillon/run-*.log | sort | tail -n1)
grep -q 'update started' "$killed_log" || fail "killed run's log: $(cat "$killed_log")"
tail -n1 "$killed_log" | grep -q 'result:' && fail "killed run's log has a result: $(tail -n1 "$killed_log")"
"$run" status --json >"$dir/status.out"
grep -q '^{"interrupted":true,"model":"QC27-EMU","serial":"EMU00001"' "$dir/status.out" || fail "status: $(cat "$dir/status.out")"
grep -q "\"recordFile\":\"$dir/state/quillon/.backup\"}$" "$dir/status.out" || fail "status names no record file: $(cat "$dir/status.out")"
"$run" update --yes >"$dir/resumed.out" 2>&1
expect_code "resumed update" 0 $?
"$run" list --json | grep -q '"version":"00104-00203-00003-00004-00005","state":"running"' || fail "not resumed to $v3"
"$run" update --yes >/dev/null 2>&1
expect_code "already applied" 3 $?
for output in update.out list.out status.out; do expect_json "$output" "$dir/$output"; done

# history names each run by its log, newest first: the signalled update completed,
# the killed one incomplete, the next one resumed it, the last found nothing to do.
"$run" history --json >"$dir/history.out"
expect_code "history" 0 $?
expect_json history "$dir/history.out"
update_log=$(tail -n1 "$dir/update.out" | sed 's/.*"runLog":"\([^"]*\)".*/\1/')
python3 -c '
import json, sys
runs = json.loads(open(sys.argv[1], "rb").read().decode("utf-8"))["runs"]
logs = [run["runLog"] for run in runs]
update, killed = runs[logs.index(sys.argv[2])], logs.index(sys.argv[3])
assert (update["program"], update["model"], update["serial"], update["result"], update["status"]) == \
    ("quillon-cli", "QC27-EMU", "EMU00001", "completed", "0x00000000"), update
assert update["toVersion"] == "00103-00202-00003-00004-00005", update
assert runs[killed]["result"] == "incomplete", runs[killed]
assert (runs[killed - 1]["resumed"], runs[killed - 1]["result"]) == (True, "completed"), runs[killed - 1]
assert runs[0]["result"] == "ended" and runs[0]["status"].startswith("0x"), runs[0]
' "$dir/history.out" "$update_log" "$killed_log" 2>"$dir/json.err" || fail "history --json: $(tail -n1 "$dir/json.err")"

# A monitor whose model name holds a terminal's escape sequence and bytes that
# are not UTF-8, and whose serial number a carriage return: the terminal gets
# them escaped, the JSON reads as valid UTF-8.
mkdir "$dir/hostile"
"$emulator" --dir "$dir/hostile" --kind combined-tunnel --model 'QX\x1b[2J\xff\xfe27' --serial 'SN\x0d0001' \
  >"$dir/hostile.out" 2>&1 &
hostile_pid=$!
if wait_for "$dir/hostile.out" .; then
  QUILLON_HID_EMULATOR=$dir/hostile "$run" list >"$dir/hostile-list.out" 2>&1
  expect_code "list of the hostile monitor" 0 $?
  grep -qF 'QX\x1b[2J\xff\xfe27  SN\x0d0001  ' "$dir/hostile-list.out" || fail "hostile list: $(cat -v "$dir/hostile-list.out")"
  LC_ALL=C grep -q $'[\x01-\x09\x0b-\x1f\x7f-\xff]' "$dir/hostile-list.out" &&
    fail "the monitor's bytes reached the terminal: $(cat -v "$dir/hostile-list.out")"
  QUILLON_HID_EMULATOR=$dir/hostile "$run" list --json >"$dir/hostile.json"
  expect_json "hostile list --json" "$dir/hostile.json"
  python3 -c '
import json, sys
monitor = json.loads(open(sys.argv[1], "rb").read().decode("utf-8"))["monitors"][0]
assert (monitor["model"], monitor["serial"]) == ("QX\x1b[2J\ufffd\ufffd27", "SN\r0001"), monitor
' "$dir/hostile.json" 2>"$dir/json.err" || fail "hostile list --json: $(tail -n1 "$dir/json.err")"
fi
kill "$hostile_pid"
wait "$hostile_pid" 2>/dev/null

[ "$failures" = 0 ] && echo "quillon-cli end to end: all passed"
exit $((failures > 0))
