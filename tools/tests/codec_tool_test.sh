#!/usr/bin/env bash
# dbpftool compress / decompress / info / demo: round trips through files, partial expansion,
# exit statuses, and no output file after any failure.
#   codec_tool_test.sh DBPFTOOL SAMPLES WORKDIR
. "$(dirname "$0")/common.sh"
samples=$2
new_work_dir "$3"
cd "$work" || exit 1

# expect STATUS COMMAND...: runs the command and checks its exit status.
expect() {
  local want=$1
  shift
  "$@" >out.txt 2>err.txt
  local got=$?
  [ "$got" -eq "$want" ] || fail "$* exited $got, expected $want: $(cat err.txt)"
}

# Round trip of every sample that compresses, and a partial expansion of its first bytes.
for f in "$samples"/*; do
  name=$(basename "$f")
  if "$tool" compress "$f" "$name.q" 2>err.txt; then
    expect 0 "$tool" decompress "$name.q" "$name.back"
    cmp -s "$f" "$name.back" || fail "$name: round trip differs"
    expect 0 "$tool" decompress --partial 100 "$name.q" "$name.part"
    head -c 100 "$f" | cmp -s - "$name.part" || fail "$name: partial expansion differs"
    expect 0 "$tool" info "$name.q"
    grep -q "decodes exactly: *yes" out.txt || fail "$name: info does not see a valid entry"
  else
    [ ! -e "$name.q" ] || fail "$name: output left after a failed compress"
    grep -q "^dbpftool: .*$name: " err.txt || fail "$name: error does not name the file"
  fi
done

# compress --best: a smaller-output search whose entries the same decoder reads; never larger.
for f in "$samples"/*; do
  name=$(basename "$f")
  [ -e "$name.q" ] || continue
  expect 0 "$tool" compress --best "$f" "$name.best"
  [ "$(wc -c <"$name.best")" -le "$(wc -c <"$name.q")" ] || fail "$name: --best is larger"
  expect 0 "$tool" decompress "$name.best" "$name.best.back"
  cmp -s "$f" "$name.best.back" || fail "$name: --best round trip differs"
done

# Failures: exit 1, one line naming the file, no output file.
printf 'short' >short.bin
expect 1 "$tool" compress short.bin short.q
[ ! -e short.q ] || fail "compress of a short file left an output"
[ "$(wc -l <err.txt)" -eq 1 ] || fail "error report is not one line"
expect 1 "$tool" compress missing.bin missing.q
head -c 5000 /dev/urandom >noise.bin
expect 1 "$tool" decompress noise.bin noise.out
[ ! -e noise.out ] || fail "decompress of noise left an output"
grep -q "^dbpftool: noise.bin: " err.txt || fail "decompress error does not name the file"
grep -q "signature" err.txt || fail "decompress of noise does not give the reason: $(cat err.txt)"
expect 0 "$tool" info noise.bin
grep -q "decodes exactly: *no" out.txt || fail "info takes noise for an entry"
grep -q "signature" out.txt || fail "info does not say why noise is no entry"
expect 1 "$tool" info short.bin

# A valid entry cut short: exact mode fails, a partial prefix still comes out.
for f in "$samples"/catalog.txt; do
  "$tool" compress "$f" cut.q
  head -c 2000 cut.q >cut.part.q
  expect 1 "$tool" decompress cut.part.q cut.out
  [ ! -e cut.out ] || fail "decompress of a cut entry left an output"
  grep -q "header sizes do not match" err.txt || fail "cut entry: no reason given: $(cat err.txt)"
  expect 0 "$tool" decompress --partial 50 cut.part.q cut.out
  head -c 50 "$f" | cmp -s - cut.out || fail "partial expansion of a cut entry differs"
  expect 1 "$tool" decompress --partial 1000000 cut.q cut.big
done

# Usage errors: exit 2.
expect 2 "$tool" compress onlyone
expect 2 "$tool" decompress --partial x cut.q y
expect 2 "$tool" decompress --partial -1 cut.q y
expect 2 "$tool" info

# The demo over the bundled samples succeeds.
expect 0 "$tool" demo "$samples"
grep -q "all entries expanded back" out.txt || fail "demo did not verify every entry"

finish "codec tool"
