#!/usr/bin/env bash
# Runs the built monitor-emulator once as a process: it serves a monitor a
# client can talk to, exits 0 on SIGTERM after unplugging, keeps its state in
# --state, and makes demo packages with vfwtool.
# Usage: end_to_end_test.sh MONITOR_EMULATOR VFWTOOL
set -u
emulator=$1
vfwtool=$2
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d /tmp/monitor-emulator-e2e-XXXXXX)
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$dir"' EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# A client of its own: CREATE2, then the tunnel token and one tunnelled read;
# with "identity" after the path, the identity block in hex instead.
cat >"$dir/client.py" <<'PY'
import socket, struct, sys
EVENT = 4380                      # sizeof(struct uhid_event)
CREATE2, GET_REPORT, GET_REPORT_REPLY, SET_REPORT, SET_REPORT_REPLY = 11, 9, 10, 13, 14
FEATURE = 0
s = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
s.connect(sys.argv[1])
ev = s.recv(EVENT)
assert len(ev) == EVENT and struct.unpack_from("<I", ev)[0] == CREATE2
rd_size, bus, vendor, product, version = struct.unpack_from("<HHIII", ev, 4 + 256)
rd = ev[4 + 256 + 20: 4 + 256 + 20 + rd_size]
# Report IDs of the page-0xFF30 usages: each report holds one field, in declaration order.
ids, page, rid = {}, 0, 0
i = 0
while i < len(rd):
    prefix = rd[i]; size = [0, 1, 2, 4][prefix & 3]
    value = int.from_bytes(rd[i + 1:i + 1 + size], "little"); tag = prefix & 0xFC
    if tag == 0x04: page = value
    elif tag == 0x08: usage = value
    elif tag == 0x84: rid = value
    elif tag == 0xB0 and not (value & 1): ids[(page, usage)] = rid
    i += 1 + size
def get(report_id):
    s.send(struct.pack("<IIBB", GET_REPORT, 1, report_id, FEATURE).ljust(EVENT, b"\0"))
    r = s.recv(EVENT)
    t, _, err, size = struct.unpack_from("<IIHH", r)
    assert t == GET_REPORT_REPLY and err == 0, (t, err)
    return r[12:12 + size]
def set_(data):
    s.send(struct.pack("<IIBBH", SET_REPORT, 2, data[0], FEATURE, len(data)).ljust(12, b"\0") + data.ljust(EVENT - 12, b"\0"))
    r = s.recv(EVENT)
    t, _, err = struct.unpack_from("<IIH", r)
    assert t == SET_REPORT_REPLY and err == 0, (t, err)
token = struct.unpack_from("<H", get(ids[(0xFF30, 6)]), 1)[0]
channel = ids[(0xFF30, 3)]
if sys.argv[2:] == ["identity"]:
    print(get(ids[(0xFF30, 8)])[1:].hex())   # a tunnel monitor serves it natively
    sys.exit(0)
set_(bytes([channel]) + struct.pack("<HHH", 0xFF00, 0xB8, token) + bytes(34))
reply = get(channel)
page, usage, echoed = struct.unpack_from("<HHH", reply, 1)
assert (page, usage, echoed) == (0xFF00, 0xB8, token), (page, usage, echoed)
print("%04X %04X %d %d" % (vendor, product, version, reply[7]))
PY

# The program prints each socket path once it listens; reading the pipe waits for it.
mkfifo "$dir/paths"
"$emulator" --dir "$dir" --kind combined-tunnel --serial E2E00001 --state "$dir/state" >"$dir/paths" 2>"$dir/err" &
pid=$!
exec 3<"$dir/paths"
read -r path <&3 || fail "no socket path printed: $(cat "$dir/err")"
[ -S "$path" ] || fail "$path is not a socket"
case $path in */VID_7E53\&PID_4203\#????) ;; *) fail "unexpected device name $path" ;; esac
answer=$(python3 "$dir/client.py" "$path") || fail "the client could not talk to the monitor"
[ "$answer" = "7E53 4203 258 1" ] || fail "the client saw: $answer"

kill -TERM "$pid"
wait "$pid"
code=$?
pid=""
[ "$code" -eq 0 ] || fail "SIGTERM gave exit code $code: $(cat "$dir/err")"
[ ! -e "$path" ] || fail "the socket file stayed after SIGTERM"
[ -s "$dir/state" ] || fail "no state file"

# A model and serial number given as escapes reach a client byte for byte; a
# --dir that does not exist yet is made, for this user only.
mkfifo "$dir/hostile-paths"
"$emulator" --dir "$dir/new/sockets" --serial 'S\x07N\\' --model 'QX\x1b[2J\xff\xfe27' >"$dir/hostile-paths" 2>"$dir/err" &
pid=$!
exec 3<"$dir/hostile-paths"
read -r path <&3 || fail "no socket path printed for the escaped identity: $(cat "$dir/err")"
identity=$(python3 "$dir/client.py" "$path" identity) || fail "the client could not read the identity"
[ "$identity" = "53074e5c0000000051581b5b324afffe3237$(printf '00%.0s' {1..14})" ] ||
  fail "the identity block holds $identity"
[ "$(stat -c %a "$dir/new/sockets")" = 700 ] || fail "--dir was made with mode $(stat -c %a "$dir/new/sockets")"
kill -TERM "$pid"
wait "$pid"
pid=""

# A package that fits the emulated monitor.
MONITOR_EMULATOR=$emulator VFWTOOL=$vfwtool "$here/make-demo-package.sh" -o "$dir/demo.vfw" --model 'QC27*' \
  --from 0010200201000030000400005 --to 0010300202000030000400005 --types "2 3" >/dev/null 2>"$dir/err" ||
  fail "make-demo-package.sh: $(cat "$dir/err")"
"$vfwtool" check "$dir/demo.vfw" >/dev/null 2>&1 || fail "vfwtool refuses the demo package"
"$vfwtool" extract "$dir/demo.vfw" --set 0010200201000030000400005 --type 3 -o "$dir/prg001.bin" >/dev/null 2>&1 ||
  fail "no PRG001 in the demo package"
[ "$(od -An -c -N10 "$dir/prg001.bin" | tr -d ' ')" = "QFWIPRG001" ] || fail "the PRG001 image has no header"
[ "$(od -An -tu2 -j10 -N2 "$dir/prg001.bin" | tr -d ' ')" = "202" ] || fail "the PRG001 image carries another version"

[ "$failures" -eq 0 ] && echo "all passed"
exit "$failures"
