#!/usr/bin/env bash
# dbpftool under hostile input and hostile conditions: an entry whose header announces
# 16 MiB but that holds 10 bytes, a command line of 10,000 characters, a file-size limit that
# stops the write halfway, and the tool killed (SIGTERM, SIGKILL) at moments spread over a
# compression. Whatever happens, no partial output file and no temporary file may remain: the
# output is either absent or complete.
#   robust_tool_test.sh DBPFTOOL WORKDIR
. "$(dirname "$0")/common.sh"
new_work_dir "$2"
cd "$work" || exit 1

temporaries() { find . -maxdepth 1 -name '.dbpftool-*' | wc -l; }

# An entry that announces 16 MiB - 1 bytes but holds 10 bytes after its header: two literal
# runs of 4 bytes (0xE0), so the stream is sound but ends 16 MiB too early.
printf '\x13\x00\x00\x00\x10\xfb\xff\xff\xff\xe0abcd\xe0efgh' >announces16m.q
"$tool" decompress announces16m.q announces16m.out >out.txt 2>err.txt
status=$?
[ "$status" -eq 1 ] || fail "16 MiB announcement: exit $status, expected 1"
[ ! -e announces16m.out ] || fail "16 MiB announcement: output file left"
[ "$(wc -l <err.txt)" -eq 1 ] && grep -q '^dbpftool: announces16m.q: ' err.txt ||
  fail "16 MiB announcement: report is not one line naming the file: $(cat err.txt)"
"$tool" decompress --partial 16777215 announces16m.q announces16m.out >/dev/null 2>&1
[ ! -e announces16m.out ] || fail "16 MiB announcement, partial: output file left"

# A command line of 10,000 characters (the program name) is refused by the split: every part
# is empty, and the tool says so normally.
long=$(head -c 10000 /dev/zero | tr '\0' x)
(exec -a "$long" "$tool" path --self) >self.txt 2>&1
status=$?
[ "$status" -eq 0 ] || fail "10,000-character command line: exit $status"
grep -qx 'components: *0' self.txt && grep -qx 'arguments: *0' self.txt && grep -qx 'title: *' self.txt ||
  fail "10,000-character command line not refused: $(head -c 300 self.txt)"
"$tool" path "C:\\$long" >out.txt 2>err.txt
status=$?
[ "$status" -eq 1 ] && grep -q 'too long' err.txt || fail "10,000-character path: exit $status, $(head -c 200 err.txt)"

# Input that takes a noticeable time to compress.
seq 1 1900000 >input.txt
"$tool" compress input.txt reference.q || fail "compress of the input failed"

# The output file may not grow beyond 64 KiB: the write fails halfway (EFBIG instead of the
# signal), the tool reports it, and neither the output nor a temporary file remains.
(ulimit -f 64; "$tool" compress input.txt limited.q) >out.txt 2>err.txt
status=$?
[ "$status" -eq 1 ] || fail "write beyond the file-size limit: exit $status, expected 1"
grep -q '^dbpftool: limited.q: ' err.txt || fail "file-size limit: report: $(cat err.txt)"
[ ! -e limited.q ] || fail "file-size limit: partial output left"
[ "$(temporaries)" -eq 0 ] || fail "file-size limit: temporary file left"

# Killed at moments spread over a run. The output must be absent or equal to the reference.
check_output() { # what
  if [ -e out.q ]; then
    cmp -s out.q reference.q || fail "$1: output file left incomplete"
    rm -f out.q
  fi
}
for sig in TERM KILL INT; do
  for delay in 0 0.02 0.05 0.1 0.2 0.3 0.5 0.8 1.2; do
    "$tool" compress input.txt out.q 2>/dev/null &
    pid=$!
    sleep "$delay"
    kill -s "$sig" "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    check_output "SIG$sig after ${delay}s"
    if [ "$sig" != KILL ]; then
      [ "$(temporaries)" -eq 0 ] || fail "SIG$sig after ${delay}s: temporary file left"
    fi
  done
done
# A temporary file that SIGKILL left (only possible between linking it in and renaming it)
# is never the output, and the next write into the directory removes it. One made by hand
# for a process that no longer exists stands in for it.
sh -c 'exit 0' &
dead=$!
wait "$dead"
: >".dbpftool-$dead-0.tmp"
"$tool" compress input.txt after.q || fail "compress after the kills failed"
cmp -s after.q reference.q || fail "compress after the kills differs"
[ "$(temporaries)" -eq 0 ] || fail "stale temporary files not removed: $(ls -a)"

finish "robust tool"
