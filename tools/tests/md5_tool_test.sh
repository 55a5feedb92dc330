#!/usr/bin/env bash
# dbpftool md5 against md5sum: the same lines for files of every size class and for awkward
# names, output that `md5sum -c` accepts, standard input, and the failures (missing file,
# directory, file over the 2^31 - 1 byte limit, no arguments).
#   md5_tool_test.sh DBPFTOOL WORKDIR
. "$(dirname "$0")/common.sh"
new_work_dir "$2"
cd "$work" || exit 1

# Files on both sides of every padding and block boundary, plus larger ones.
files=()
for n in 0 1 55 56 63 64 65 119 120 127 128 1000 4096 65537 1048576 3000001; do
  head -c "$n" /dev/urandom >"size_$n"
  files+=("size_$n")
done
# Names that md5sum escapes (backslash, line feed, carriage return) and one with blanks.
printf 'blank' >'with two  blanks'
printf 'bs' >'back\slash'
printf 'nl' >"$(printf 'line\nfeed')"
printf 'cr' >"$(printf 'carriage\rreturn')"
files+=('with two  blanks' 'back\slash' "$(printf 'line\nfeed')" "$(printf 'carriage\rreturn')")

"$tool" md5 "${files[@]}" >ours.txt 2>ours.err
rc=$?
md5sum "${files[@]}" >theirs.txt
[ "$rc" -eq 0 ] || fail "exit status $rc for readable files: $(cat ours.err)"
cmp -s ours.txt theirs.txt || { fail "output differs from md5sum"; diff ours.txt theirs.txt >&2; }
[ -s ours.err ] && fail "unexpected stderr: $(cat ours.err)"
md5sum -c --strict --quiet ours.txt || fail "md5sum -c rejects the output"

# Standard input, alone and between files.
"$tool" md5 size_1000 - size_0 <size_65537 >stdin.txt
md5sum size_1000 - size_0 <size_65537 >stdin_ref.txt
cmp -s stdin.txt stdin_ref.txt || fail "standard input: $(cat stdin.txt)"

# A missing file and a directory are reported, the others still done, exit status 1.
mkdir adir
"$tool" md5 size_1 missing adir size_64 >partial.txt 2>partial.err
rc=$?
md5sum size_1 size_64 >partial_ref.txt
[ "$rc" -eq 1 ] || fail "exit status $rc with a missing file (want 1)"
cmp -s partial.txt partial_ref.txt || fail "other files not done: $(cat partial.txt)"
grep -qx 'dbpftool: missing: No such file or directory' partial.err ||
  fail "missing file report: $(cat partial.err)"
grep -q '^dbpftool: adir: ' partial.err || fail "directory report: $(cat partial.err)"
[ "$(wc -l <partial.err)" -eq 2 ] || fail "want one line per failure: $(cat partial.err)"

# One byte over the limit (sparse, so it costs no disk). The size comes from stat, before any
# read: the report names it, which the reading path could not.
truncate -s 2147483648 huge
"$tool" md5 huge size_0 >huge.txt 2>huge.err
rc=$?
[ "$rc" -eq 1 ] || fail "exit status $rc for an oversized file (want 1)"
grep -qx 'dbpftool: huge: file too large for an MD5 digest (2147483648 bytes, the limit is 2147483647 bytes)' huge.err ||
  fail "oversized file report: $(cat huge.err)"
[ "$(cat huge.txt)" = "$(md5sum size_0)" ] || fail "file after the oversized one: $(cat huge.txt)"
rm -f huge

"$tool" md5 >/dev/null 2>&1
rc=$?
[ "$rc" -eq 2 ] || fail "exit status $rc without arguments (want 2)"

finish "dbpftool md5"
