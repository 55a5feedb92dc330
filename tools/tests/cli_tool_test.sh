#!/usr/bin/env bash
# dbpftool's command line, the same for every command: --help on stdout with exit 0, --version,
# one usage line on stderr with exit 2 for an unknown option, a missing or an extra argument or
# an unknown command, and "--" ending the options (a file named --help is a file).
#   cli_tool_test.sh DBPFTOOL WORKDIR VERSION
. "$(dirname "$0")/common.sh"
new_work_dir "$2"
version=$3
cd "$work" || exit 1

# run COMMAND...: stdout in $out, stderr in $err (carriage returns removed), status in $rc.
run() {
  "$tool" "$@" >out.raw 2>err.raw
  rc=$?
  out=$(tr -d '\r' <out.raw)
  err=$(tr -d '\r' <err.raw)
}

run --version
check "--version: status" 0 "$rc"
check "--version: the suite's version" "dbpftool (DBPF suite) $version" "$out"

run --help
check "--help: status" 0 "$rc"
check "--help: nothing on stderr" "" "$err"
# The commands, from the help's own list.
commands=$(printf '%s\n' "$out" | sed -n '/^Commands:/,/^$/s/^  \([a-z0-9]*\) .*/\1/p')
[ -n "$commands" ] || fail "--help lists no commands: $out"
printf '%s\n' "$out" | grep -q '^Usage: dbpftool' || fail "--help has no usage line"

for c in $commands; do
  for h in --help -h; do
    run "$c" "$h"
    check "$c $h: status" 0 "$rc"
    check "$c $h: nothing on stderr" "" "$err"
    printf '%s\n' "$out" | grep -q "^Usage: dbpftool $c" || fail "$c $h: no usage line: $out"
  done
  run "$c" --no-such-option
  check "$c --no-such-option: status" 2 "$rc"
  check "$c --no-such-option: one line" 1 "$(printf '%s\n' "$err" | wc -l | tr -d ' ')"
  case $err in
  "usage: dbpftool $c "*) ;;
  *) fail "$c --no-such-option: not its usage line: $err" ;;
  esac
  [ -z "$out" ] || fail "$c --no-such-option: wrote to stdout: $out"
done

# A missing argument: every command but demo (whose directory is optional).
for c in $commands; do
  [ "$c" = demo ] && continue
  run "$c"
  check "$c without arguments: status" 2 "$rc"
  check "$c without arguments: one line" 1 "$(printf '%s\n' "$err" | wc -l | tr -d ' ')"
  case $err in
  "usage: dbpftool $c"*) ;;
  *) fail "$c without arguments: not its usage line: $err" ;;
  esac
done

run
check "no command: status" 2 "$rc"
check "no command: one line" 1 "$(printf '%s\n' "$err" | wc -l | tr -d ' ')"
run frobnicate x
check "unknown command: status" 2 "$rc"
check "unknown command: one line" 1 "$(printf '%s\n' "$err" | wc -l | tr -d ' ')"
run --bogus
check "unknown tool option: status" 2 "$rc"

if printf '%s\n' "$commands" | grep -qx md5; then
  printf 'abc' >./--help
  printf 'abc' >./info
  run md5 -- --help
  check "md5 -- --help digests the file" "900150983cd24fb0d6963f7d28e17f72  --help" "$out"
  run md5 info
  check "a file named like a command is a file" "900150983cd24fb0d6963f7d28e17f72  info" "$out"
  run md5 info -- --help
  check "-- after a file" "900150983cd24fb0d6963f7d28e17f72  info
900150983cd24fb0d6963f7d28e17f72  --help" "$out"
fi
if printf '%s\n' "$commands" | grep -qx compress; then
  run compress a
  check "compress with one file: status" 2 "$rc"
  check "compress with one file: usage" "usage: dbpftool compress [--best] IN OUT" "$err"
  run compress a b c
  check "compress with three files: status" 2 "$rc"
  run decompress --partial
  check "--partial without its value: status" 2 "$rc"
fi

# The bash completion script: commands, package commands, options, option values.
completion=$(dirname "$0")/../completion/dbpftool.bash
complete_words() { # the words offered for the command line "$@" (the last word is completed)
  bash -c '. "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _dbpftool; printf "%s\n" "${COMPREPLY[@]}"' \
    _ "$completion" "$@" 2>/dev/null | sort | tr '\n' ' '
}
check "completion: commands" "package path " "$(complete_words dbpftool pa)"
check "completion: package commands" "list " "$(complete_words dbpftool package l)"
check "completion: pack options" "--format " "$(complete_words dbpftool package pack --fo)"
check "completion: --format values" "1.1 2.0 " "$(complete_words dbpftool package pack --format '')"
check "completion: extract options" "--jobs " "$(complete_words dbpftool package extract --j)"
check "completion: tool options" "--help --version " "$(complete_words dbpftool --)"
# Every command that --help lists is offered.
for c in $commands; do
  case " $(complete_words dbpftool '') " in
  *" $c "*) ;;
  *) fail "completion does not offer $c" ;;
  esac
done

finish "dbpftool command line"
