#!/usr/bin/env bash
# dbpftool path --stat: existence, conversions against --base, size and times of files this
# script makes, JSON that parses, usage errors.
#   path_stat_tool_test.sh DBPFTOOL WORKDIR
. "$(dirname "$0")/common.sh"
export TZ=UTC0

new_work_dir "$2"
mkdir -p "$work/base/sub"
printf 'twelve bytes' > "$work/base/sub/f.txt"
touch -m -d '2020-01-02 03:04:05 UTC' "$work/base/sub/f.txt"
touch -a -d '2021-07-01 12:00:00 UTC' "$work/base/sub/f.txt"

out=$("$tool" path --stat --base "$work/base" "$work/base/sub/f.txt")
check "file exists" 'yes' "$(field 'file exists' "$out")"
check "location found" 'yes' "$(field 'location found' "$out")"
check "relative form" 'sub\f.txt' "$(field 'relative form' "$out")"
check "absolute form of an absolute path" '' "$(field 'absolute form' "$out")"
check "size" '12' "$(field size "$out")"
check "written" '2020-01-02 03:04:05' "$(field written "$out")"
check "accessed" '2021-07-01 12:00:00' "$(field accessed "$out")"
winpath=$(printf '%s' "$work/base/sub/f.txt" | tr / '\\')
check "long form" "$winpath" "$(field 'long form' "$out")"

out=$("$tool" path --stat --base "$work/base/sub" '..\sub\f.txt')
check "absolute form" "$(printf '%s' "$work/base/sub/f.txt" | tr / '\\')" "$(field 'absolute form' "$out")"

out=$("$tool" path --stat "$work/missing.txt")
check "missing: exists" 'no' "$(field 'file exists' "$out")"
check "missing: size" '-' "$(field size "$out")"
check "missing: written" '-' "$(field written "$out")"
check "missing: short form" '' "$(field 'short form' "$out")"

if command -v python3 >/dev/null; then
  json=$("$tool" path --json --stat --base "$work" "$work/base/sub/f.txt")
  check "json: size" '12' "$(printf '%s' "$json" | python3 -c 'import json,sys; print(json.load(sys.stdin)["stat"]["size"])' 2>&1)"
  check "json: relative" 'base\sub\f.txt' "$(printf '%s' "$json" | python3 -c 'import json,sys; print(json.load(sys.stdin)["stat"]["relative"])' 2>&1)"
fi

"$tool" path --base "$work" x.txt >/dev/null 2>&1
check "--base without --stat" '2' "$?"
"$tool" path --stat x.txt --base >/dev/null 2>&1
check "--base without a directory" '2' "$?"

rm -rf "$work"
finish "dbpftool path --stat"
