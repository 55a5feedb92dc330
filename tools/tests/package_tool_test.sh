#!/usr/bin/env bash
# dbpftool package: pack, list, verify, extract and recompress on packages made from the
# bundled samples (1.1 and 2.0, compressed and stored, with resource ids and 64-bit instances);
# the same bytes whatever --jobs; extract -> pack -> extract gives the files back; the headers
# and indexes read back by a small reader of this script (python3, when present); hostile
# packages (cut at many lengths, index past the end, millions of entries announced, a damaged
# compressed entry, duplicate names) fail with one line naming the file and no output left;
# refusals happen before OUT is written; usage errors exit 2.
#   package_tool_test.sh DBPFTOOL SAMPLES WORKDIR
# DBPFTOOL may be a wrapper that runs the Windows build under Wine: outputs are compared with
# carriage returns removed, and file names are relative to the work directory.
. "$(dirname "$0")/common.sh"
samples=$2
new_work_dir "$3"
cd "$work" || exit 1

# run COMMAND...: stdout in out.txt (carriage returns removed), stderr in err.txt, the exit
# status in $rc.
run() {
  "$@" >out.raw 2>err.raw
  rc=$?
  tr -d '\r' <out.raw >out.txt
  tr -d '\r' <err.raw >err.txt
}
# expect STATUS COMMAND...: run, and a failure unless the status is STATUS.
expect() {
  local want=$1
  shift
  run "$@"
  [ "$rc" -eq "$want" ] || fail "$* exited $rc, expected $want: $(head -c 300 err.txt)"
}
# one_line_naming WHAT TEXT: err.txt is one line "dbpftool: TEXT..." (a failure report).
one_line_naming() {
  [ "$(wc -l <err.txt)" -eq 1 ] && grep -q "^dbpftool: $2" err.txt ||
    fail "$1: not one line naming '$2': $(head -c 300 err.txt)"
}
# poke FILE OFFSET VALUE: writes VALUE as a 32-bit little-endian word at OFFSET of FILE.
poke() {
  local v=$3
  printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((v & 255)) $(((v >> 8) & 255)) \
    $(((v >> 16) & 255)) $(((v >> 24) & 255)))" |
    dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
# word FILE OFFSET: the 32-bit little-endian word at OFFSET.
word() {
  od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '
}
# no_trace WHAT: no temporary file of the tool is left in the work directory.
no_trace() {
  [ -z "$(find . -name '.dbpftool-*' -o -name '*.tmp' | head -n 1)" ] ||
    fail "$1: temporary file left: $(find . -name '.dbpftool-*' -o -name '*.tmp')"
}

# Entry files named as extract writes them: the samples under a few types and instances.
mkdir in
n=0
for f in "$samples"/*; do
  n=$((n + 1))
  cp "$f" "in/$(printf '6B943B43-%08X-%016X.bin' $((n % 3)) $((n * 4099)))"
done
count=$n
head -c 100 /dev/urandom >in/00000001-00000002-0000000000000003.bin # incompressible, small
: >in/00000001-00000002-0000000000000004.bin                         # empty entry
count=$((count + 2))

# --- pack 1.1, list, verify ---------------------------------------------------------------
expect 0 "$tool" package pack in p11.package
[ -s err.txt ] && fail "pack wrote to stderr (not a terminal): $(cat err.txt)"
check "1.1 magic" DBPF "$(head -c 4 p11.package)"
check "1.1 major" 1 "$(word p11.package 4)"
check "1.1 minor" 1 "$(word p11.package 8)"
check "1.1 index 7.0 (no resource ids)" 1 "$(word p11.package 60)"
expect 0 "$tool" package list p11.package
check "list: one line per record (entries + directory record)" $((count + 1)) "$(wc -l <out.txt)"
grep -q '^E86B1EEF-E86B1EEF-00000000286B1F03 .*(directory record)' out.txt ||
  fail "list: no directory record line"
grep -q '^00000001-00000002-0000000000000004 .* 0 *0 none$' out.txt ||
  fail "list: the empty entry: $(grep 0000000000000004 out.txt)"
expect 0 "$tool" package verify p11.package
check "verify: summary" "p11.package: DBPF 1.1, $((count + 1)) entries, all sound" "$(cat out.txt)"

if command -v python3 >/dev/null; then
  expect 0 "$tool" package list --json p11.package
  check "json: keys, values and no resource" ok "$(python3 -c '
import json, sys
rows = json.load(open("out.txt"))
keys = ["type", "group", "instance", "offset", "size", "uncompressed", "compression"]
assert all(list(r) == keys for r in rows), rows[0]
assert {r["compression"] for r in rows} == {"entry", "none"}, rows
d = [r for r in rows if r["type"] == 0xE86B1EEF]
assert len(d) == 1 and d[0]["instance"] == 0x286B1F03 and d[0]["compression"] == "none"
assert all(r["size"] == r["uncompressed"] for r in rows if r["compression"] == "none")
assert all(r["size"] < r["uncompressed"] for r in rows if r["compression"] == "entry")
print("ok")' 2>&1)"
fi

# --- extract: the files back, --raw, md5 lines that md5sum -c accepts -------------------
expect 0 "$tool" package extract p11.package out11
diff -r in out11 >/dev/null || fail "extract of the 1.1 package differs from the input files"
expect 0 "$tool" package verify --md5 p11.package
check "verify --md5: one line per entry and the summary" $((count + 1)) "$(wc -l <out.txt)"
if command -v md5sum >/dev/null; then
  grep -v ': DBPF' out.txt >out11/sums.md5
  (cd out11 && md5sum -c --quiet sums.md5) || fail "verify --md5 lines do not check the files"
  rm -f out11/sums.md5
fi
expect 0 "$tool" package extract --raw p11.package raw11
catalog=$(printf '6B943B43-%08X-%016X.bin' 1 4099) # the first sample, catalog.txt: compressed
expect 0 "$tool" decompress "raw11/$catalog" catalog.back
cmp -s "in/$catalog" catalog.back || fail "extract --raw: the stored entry does not expand to the file"
cmp -s in/00000001-00000002-0000000000000003.bin raw11/00000001-00000002-0000000000000003.bin ||
  fail "extract --raw: a stored entry differs"

# --- reproducible whatever --jobs; extract -> pack -> extract ------------------------------
for j in 1 2 3; do
  expect 0 "$tool" package pack --jobs "$j" in "j$j.package"
  cmp -s p11.package "j$j.package" || fail "pack --jobs $j gives other bytes"
  expect 0 "$tool" package extract --jobs "$j" p11.package "x$j"
  diff -r in "x$j" >/dev/null || fail "extract --jobs $j differs"
done
expect 0 "$tool" package pack out11 again.package
cmp -s p11.package again.package || fail "extract -> pack does not give the package back"
expect 0 "$tool" package extract again.package again
diff -r in again >/dev/null || fail "extract -> pack -> extract does not give the files back"

# --- 2.0, stored, resource ids, 64-bit instances -----------------------------------------
expect 0 "$tool" package pack --format 2.0 --jobs 2 in p20.package
check "2.0 major" 2 "$(word p20.package 4)"
check "2.0 index offset at 40 is 0" 0 "$(word p20.package 40)"
expect 0 "$tool" package list p20.package
check "2.0 list: no directory record" "$count" "$(wc -l <out.txt)"
expect 0 "$tool" package verify p20.package
expect 0 "$tool" package extract p20.package out20
diff -r in out20 >/dev/null || fail "extract of the 2.0 package differs from the input files"

# --best: the smaller-output compressor, read back like any other package, never larger.
expect 0 "$tool" package pack in p11.default.package
expect 0 "$tool" package pack --best in best.package
expect 0 "$tool" package verify best.package
expect 0 "$tool" package extract best.package outbest
diff -r in outbest >/dev/null || fail "extract of the --best package differs from the input files"
[ "$(wc -c <best.package)" -le "$(wc -c <p11.default.package)" ] ||
  fail "--best wrote a larger package than the default compressor"
expect 2 "$tool" package pack --best --store in both.package
[ ! -e both.package ] || fail "pack --best --store left an output"

expect 0 "$tool" package pack --store in stored.package
expect 0 "$tool" package list stored.package
check "--store: every entry stored, no directory record" "$count" "$(grep -c ' none$' out.txt)"

mkdir wide res
cp "in/$catalog" wide/00000001-00000002-0000000100000003.bin
cp "in/$catalog" res/00000001-00000002-0000000000000003-0000ABCD.bin
cp in/00000001-00000002-0000000000000003.bin res/00000001-00000002-0000000000000003-00000001.bin
expect 0 "$tool" package pack --format 2.0 wide wide.package
expect 0 "$tool" package extract wide.package wide.out
diff -r wide wide.out >/dev/null || fail "64-bit instance: the names do not come back"
expect 0 "$tool" package pack res res.package
check "resource ids: index 7.1" 2 "$(word res.package 60)"
expect 0 "$tool" package extract res.package res.out
diff -r res res.out >/dev/null || fail "resource ids: the names do not come back"
if command -v python3 >/dev/null; then
  expect 0 "$tool" package list --json res.package
  check "json: resource ids" "[1, 43981]" "$(python3 -c '
import json; print([r.get("resource") for r in json.load(open("out.txt")) if r["type"] == 1])')"
fi

# Refusals before OUT is written: an existing OUT stays as it was, a new one never appears.
echo keep >kept.package
expect 1 "$tool" package pack wide kept.package
one_line_naming "64-bit instance into 1.1" "wide/00000001-00000002-0000000100000003.bin: "
check "64-bit instance into 1.1: OUT untouched" keep "$(cat kept.package)"
expect 1 "$tool" package pack --format 2.0 res res20.package
one_line_naming "resource id into 2.0" "res/00000001-00000002-0000000000000003-00000001.bin: "
[ ! -e res20.package ] || fail "resource id into 2.0: OUT written"
mkdir odd && cp in/* odd/ && echo x >odd/notes.txt
expect 1 "$tool" package pack odd odd.package
one_line_naming "stray file" "odd/notes.txt: not an entry file"
[ ! -e odd.package ] || fail "stray file: OUT written"
no_trace "refusals"

# --- recompress ----------------------------------------------------------------------------
expect 0 "$tool" package recompress p11.package re11.package
cmp -s p11.package re11.package || fail "recompress of a packed 1.1 package changes its bytes"
expect 0 "$tool" package recompress --jobs 2 p20.package re20.package
cmp -s p20.package re20.package || fail "recompress of a packed 2.0 package changes its bytes"
expect 0 "$tool" package recompress stored.package restored.package
expect 0 "$tool" package list restored.package
check "recompress keeps stored entries stored" "$count" "$(grep -c ' none$' out.txt)"
expect 0 "$tool" package recompress res.package reres.package
cmp -s res.package reres.package || fail "recompress of a 7.1 package changes its bytes"

# --- an independent look at the files pack wrote ---------------------------------------------
if command -v python3 >/dev/null; then
  check "headers and indexes read independently" ok "$(python3 - p11.package p20.package res.package wide.package <<'EOF' 2>&1
import struct, sys
for path in sys.argv[1:]:
    b = open(path, "rb").read()
    u = lambda o: struct.unpack_from("<I", b, o)[0]
    assert b[:4] == b"DBPF", path
    major, minor, count, isize = u(4), u(8), u(36), u(44)
    assert (major, minor) in ((1, 1), (2, 0)), path
    assert all(u(o) == 0 for o in (12, 16, 20, 24, 28)), path  # no user version, flags, dates
    rows = []
    if major == 1:
        assert u(32) == 7 and u(60) in (1, 2)
        width = 24 if u(60) == 2 else 20
        off = u(40)
        assert count * width == isize and off + isize == len(b), path
        for k in range(count):
            w = struct.unpack_from("<%dI" % (width // 4), b, off + k * width)
            rows.append((w[0], w[1], w[2], w[-2], w[-1]))
    else:
        off = u(64)
        assert u(40) == 0 and u(60) == 3 and off + isize == len(b), path
        flags = u(off); p = off + 4; const = {}
        for bit in range(3):
            if flags & (1 << bit):
                const[bit] = u(p); p += 4
        for k in range(count):
            f = []
            for field in range(8):
                if field < 3 and field in const:
                    f.append(const[field])
                else:
                    f.append(u(p)); p += 4
            assert f[7] & 0xFFFF in (0, 0xFFFF), f
            rows.append((f[0], f[1], (f[2] << 32) | f[3], f[4], f[5] & 0x7FFFFFFF))
        assert p == off + isize, path
    end = 96
    for t, g, i, o, s in rows:
        assert o == end, (path, t, g, i, o, end)  # entries follow each other from the header on
        end = o + s
    names = [(t, g, i) for t, g, i, o, s in rows if t != 0xE86B1EEF]
    assert names == sorted(names), path  # name order
print("ok")
EOF
)"
fi

# --- hostile packages ------------------------------------------------------------------------
# Cut at many lengths: never a crash or a success that hides the cut, never an output.
size=$(wc -c <p11.package)
for cut in 0 3 4 50 95 96 97 1000 100000 $((size / 2)) $((size - 200)) $((size - 21)) $((size - 1)); do
  head -c "$cut" p11.package >cut.package
  for cmd in list verify; do
    expect 1 "$tool" package "$cmd" cut.package
    grep -q '^dbpftool: cut.package: ' err.txt || fail "cut at $cut, $cmd: report: $(head -c 200 err.txt)"
  done
  expect 1 "$tool" package extract cut.package cut.out
  [ ! -e cut.out ] || fail "cut at $cut: extract left its directory"
  expect 1 "$tool" package recompress cut.package cut.re
  [ ! -e cut.re ] || fail "cut at $cut: recompress wrote its output"
done
no_trace "cut packages"

# Index past the end; an entry count whose index would not fit; millions of entries announced
# in a few bytes.
cp p11.package badindex.package && poke badindex.package 40 $((size + 10))
expect 1 "$tool" package list badindex.package
one_line_naming "index past the end" "badindex.package: "
cp p11.package badcount.package && poke badcount.package 36 $(((count + 2)))
expect 1 "$tool" package verify badcount.package
one_line_naming "count beyond the index size" "badcount.package: "
{ printf 'DBPF\x01\x00\x00\x00\x01\x00\x00\x00'; head -c 20 /dev/zero
  printf '\x07\x00\x00\x00\x80\x96\x98\x00\x60\x00\x00\x00\x00\x2d\x31\x01'
  head -c 12 /dev/zero; printf '\x01\x00\x00\x00'; head -c 32 /dev/zero; head -c 40 /dev/zero
} >millions.package
expect 1 "$tool" package list millions.package
one_line_naming "ten million entries announced" "millions.package: "

# An entry that lies past the end: verify names it, extract writes nothing.
cp p11.package farentry.package
poke farentry.package $(($(word p11.package 40) + 12)) $((size * 2))
expect 1 "$tool" package verify farentry.package
grep -q '^dbpftool: farentry.package: entry 0 ' err.txt || fail "entry past the end: $(cat err.txt)"
expect 1 "$tool" package extract farentry.package far.out
[ ! -e far.out ] || fail "entry past the end: extract left its directory"

# A damaged command in the last compressed entry: verify names that entry; extract (into an
# existing directory) has written others by then and takes them all back, keeping what was
# there before.
cp p11.package damaged.package
last=$(grep -n ' entry$' <("$tool" package list p11.package | tr -d '\r') | tail -n 1 | cut -d: -f1)
rec=$(($(word p11.package 40) + (last - 1) * 20))
at=$(($(word p11.package $((rec + 12))) + 9))
printf '\xff\xff\xff\xff\xff\xff\xff\xff' | dd of=damaged.package bs=1 seek="$at" conv=notrunc status=none
expect 1 "$tool" package verify damaged.package
grep -q "^dbpftool: damaged.package: entry $((last - 1)) " err.txt ||
  fail "damaged entry: verify does not name entry $((last - 1)): $(cat err.txt)"
grep -q 'problem' out.txt || fail "damaged entry: no summary line: $(cat out.txt)"
mkdir existing && echo before >existing/mine.txt
expect 1 "$tool" package extract --jobs 2 damaged.package existing
one_line_naming "damaged entry, extract" "damaged.package: entry $((last - 1)) "
check "failed extract takes back what it wrote" "mine.txt" "$(ls existing)"
expect 1 "$tool" package recompress damaged.package damaged.re
[ ! -e damaged.re ] || fail "damaged entry: recompress wrote its output"
no_trace "damaged entry"

# The directory record listing an entry that is not there, and one whose size the entry's
# header contradicts: verify fails naming the record or the entry.
dir_at=$("$tool" package list p11.package | tr -d '\r' | awk '$1 ~ /^E86B1EEF/ { print $2 }')
cp p11.package dirghost.package && poke dirghost.package "$dir_at" $((0x12345678))
expect 1 "$tool" package verify dirghost.package
grep -q '^dbpftool: dirghost.package: .*12345678' err.txt ||
  fail "directory record with a missing entry: $(head -c 300 err.txt)"
cp p11.package dirsize.package && poke dirsize.package $((dir_at + 12)) 12345
expect 1 "$tool" package verify dirsize.package
grep -q '^dbpftool: dirsize.package: entry [0-9]* (.*): sizes disagree' err.txt ||
  fail "directory record with a wrong size: $(head -c 300 err.txt)"
expect 1 "$tool" package extract dirsize.package dirsize.out
[ ! -e dirsize.out ] || fail "directory record with a wrong size: extract left its directory"

# Two records with one name: extract refuses before writing.
mkdir dup && cp "in/$catalog" dup/00000001-00000002-0000000000000003.bin &&
  cp in/00000001-00000002-0000000000000003.bin dup/00000001-00000002-000000000000000a.bin &&
  cp in/00000001-00000002-0000000000000003.bin dup/00000001-00000002-000000000000000A.bin
expect 0 "$tool" package pack dup dup.package
expect 1 "$tool" package extract dup.package dup.out
one_line_naming "duplicate names" "dup.package: entries 1 and 2 would both be written"
[ ! -e dup.out ] || fail "duplicate names: extract left its directory"

# Missing and unreadable inputs.
expect 1 "$tool" package list missing.package
one_line_naming "missing package" "missing.package: "
expect 1 "$tool" package pack missingdir x.package
one_line_naming "missing directory" "missingdir: "
[ ! -e x.package ] || fail "missing directory: OUT written"

# Interrupted (native builds: Wine delivers no POSIX signals to the program): at whatever moment
# SIGINT or SIGTERM arrives, extract leaves its directory complete (it had finished) or absent,
# and pack leaves OUT absent; never a temporary file.
if [ "${tool%-wine}" = "$tool" ]; then
  mkdir many
  for k in $(seq 1 200); do seq $((k * 1000)) $((k * 1000 + 30000)) >"many/$(printf '00000001-00000000-%016X.bin' "$k")"; done
  expect 0 "$tool" package pack --store many many.package
  for delay in 0.01 0.03 0.06 0.1; do
    for sig in INT TERM; do
      rm -rf many.out
      "$tool" package extract --jobs 2 many.package many.out 2>/dev/null &
      pid=$!
      sleep "$delay"
      kill -"$sig" "$pid" 2>/dev/null
      wait "$pid"
      if [ -e many.out ]; then
        diff -r many many.out >/dev/null || fail "extract interrupted after ${delay}s ($sig): partial directory"
      fi
      "$tool" package pack --jobs 2 many many.re 2>/dev/null &
      pid=$!
      sleep "$delay"
      kill -"$sig" "$pid" 2>/dev/null
      if ! wait "$pid"; then
        [ ! -e many.re ] || fail "pack interrupted after ${delay}s ($sig): OUT left"
      fi
      rm -f many.re
      no_trace "interrupted after ${delay}s ($sig)"
    done
  done
fi

# --- the command line -------------------------------------------------------------------------
for cmd in list extract verify pack recompress; do
  expect 0 "$tool" package "$cmd" --help
  grep -q "^Usage: dbpftool package $cmd" out.txt || fail "package $cmd --help: $(head -n 2 out.txt)"
done
expect 0 "$tool" package --help
for cmd in list extract verify pack recompress; do
  grep -q "^  $cmd " out.txt || fail "package --help does not list $cmd"
done
expect 2 "$tool" package
expect 2 "$tool" package frobnicate p11.package
expect 2 "$tool" package list
check "missing argument: one usage line" "usage: dbpftool package list [--json] PKG" "$(cat err.txt)"
expect 2 "$tool" package list --bogus p11.package
expect 2 "$tool" package pack --format 3.0 in y.package
expect 2 "$tool" package extract --jobs 0 p11.package y
expect 2 "$tool" package extract --jobs x p11.package y
expect 2 "$tool" package verify p11.package extra
[ ! -e y.package ] && [ ! -e y ] || fail "usage error left an output"
cp p11.package ./--odd.package
expect 0 "$tool" package verify -- --odd.package
expect 0 "$tool" package list --quiet p11.package

finish "package tool"
