#!/usr/bin/env bash
# dbpftool path: the parts of a few paths and command lines, JSON that parses, exit statuses.
#   path_tool_test.sh DBPFTOOL
. "$(dirname "$0")/common.sh"

out=$("$tool" path 'C:\dir\sub\file.tar.gz')
check "drive" 'C:' "$(field drive "$out")"
check "directory" '\dir\sub\' "$(field directory "$out")"
check "components" '2' "$(field components "$out")"
check "title" 'file.tar' "$(field title "$out")"
check "extension" '.gz' "$(field extension "$out")"
check "local" 'yes' "$(field local "$out")"

out=$("$tool" path --args '"C:\Program Files\app.exe" /a 1 /long-name v')
check "args: directory" '\Program Files\' "$(field directory "$out")"
check "args: list" "  [0] switch '/' name 'a' value '1'
  [1] switch '-' name 'longname' value 'v'" "$(printf '%s\n' "$out" | grep '^  \[[0-9]\] switch')"
check "args: text" '/a 1 /long-name v' "$(field 'argument text' "$out")"

out=$("$tool" path --dir 'C:\a\b.d')
check "dir mode keeps the suffix" '\a\b.d\' "$(field directory "$out")"

if command -v python3 >/dev/null; then
  json=$("$tool" path --json --args $'C:\\\xe9\\x.exe "q \\" r" /k')
  check "json parses" 'ok' "$(printf '%s' "$json" | python3 -c 'import json,sys; json.load(sys.stdin); print("ok")' 2>&1)"
  json=$("$tool" path --json --self)
  check "self: title" 'dbpftool' "$(printf '%s' "$json" | python3 -c 'import json,sys; print(json.load(sys.stdin)["title"])')"
  check "self: arguments" 'path --json --self' "$(printf '%s' "$json" | python3 -c 'import json,sys; print(json.load(sys.stdin)["argumentText"])')"
fi

"$tool" path >/dev/null 2>&1; check "no text: usage" 2 $?
"$tool" path a b >/dev/null 2>&1; check "two texts: usage" 2 $?
"$tool" path --self x >/dev/null 2>&1; check "--self with text: usage" 2 $?
"$tool" path --bogus x >/dev/null 2>&1; check "unknown option: usage" 2 $?
err=$("$tool" path "$(printf 'x%.0s' $(seq 300))" 2>&1 >/dev/null); rc=$?
check "too long: failure" 1 $rc
check "too long: one line" 1 "$(printf '%s\n' "$err" | wc -l | tr -d ' ')"
out=$("$tool" path -- -x); check "-- ends the options" '-x' "$(field title "$out")"

finish "dbpftool path"
