#!/usr/bin/env bash
# dbpftool tokens: completions with the file offsets where they end (CR LF pairs counted as two
# bytes), refusals reported before the scan with exit status 1, a token hidden after 0x1A, the
# failures (missing file, directory, no tokens, bad escape), and a named pipe as the file.
#   tokens_tool_test.sh DBPFTOOL WORKDIR
. "$(dirname "$0")/common.sh"
new_work_dir "$2"
cd "$work" || exit 1

expect() { # name, expected status, expected stdout, expected stderr, command...
  local name=$1 status=$2 out=$3 err=$4
  shift 4
  local got_out got_err got_status
  got_out=$("$@" 2>stderr.txt)
  got_status=$?
  got_err=$(cat stderr.txt)
  [ "$got_status" = "$status" ] || fail "$name: status $got_status, expected $status"
  [ "$got_out" = "$out" ] || fail "$name: stdout <$got_out>, expected <$out>"
  [ "$got_err" = "$err" ] || fail "$name: stderr <$got_err>, expected <$err>"
}

printf 'key ab\r\nab\r\nx\xE9y\x1a ab' >text.txt
tab=$(printf '\t')

expect "offsets" 0 "key${tab}3
ab${tab}6
ab${tab}10
\\xE9y${tab}15" "" "$tool" tokens text.txt ab key '\xE9y'

expect "line feed of a CR LF pair" 0 "\\n${tab}8
\\n${tab}12" "" "$tool" tokens text.txt '\n'

expect "refusals" 1 "ab${tab}6
ab${tab}10" 'dbpftool: token 2 "b": refused: overlaps token 1 "ab" (one contains the other)
dbpftool: token 3 "": refused: empty token' "$tool" tokens text.txt ab b ''

expect "missing file" 1 "" "dbpftool: missing.txt: No such file or directory" \
  "$tool" tokens missing.txt ab
expect "directory" 1 "" "dbpftool: .: Is a directory" "$tool" tokens . ab
expect "no tokens" 2 "" "usage: dbpftool tokens FILE TOKEN..." "$tool" tokens text.txt
expect "bad escape" 2 "" 'dbpftool: tokens: bad escape in "\q"' "$tool" tokens text.txt '\q'

# A named pipe is opened once and scanned as its writer writes: a second open would wait for a
# writer that never comes (the timeout turns that into a failure), and a probe that opened and
# closed it first would lose the writer's data. Natively only: Windows has no mkfifo.
case "$tool" in
*.exe)
  echo "dbpftool tokens: named pipe checks skipped (the tool runs under Wine)"
  ;;
*)
  mkfifo pipe || fail "mkfifo"
  printf 'key ab\r\nab' >pipe &
  writer=$!
  expect "named pipe" 0 "key${tab}3
ab${tab}6
ab${tab}10" "" timeout 20 "$tool" tokens pipe ab key
  wait "$writer" || fail "named pipe: the writer failed (its reader went away)"

  # More than a pipe holds at once: 142,857 lines "ab key" and the "a" of one more.
  yes 'ab key' | head -c 1000000 >pipe &
  writer=$!
  timeout 60 "$tool" tokens pipe ab key >found.txt 2>stderr.txt
  check "large named pipe: status" 0 $?
  wait "$writer" || fail "large named pipe: the writer failed"
  check "large named pipe: completions" 285714 "$(wc -l <found.txt)"
  check "large named pipe: the last" "key${tab}999998" "$(tail -n 1 found.txt)"
  rm -f pipe
  ;;
esac

finish "dbpftool tokens"
