#!/usr/bin/env bash
# dbpftool version: the fields of the test modules' version resources, as text and as JSON, and
# the one-line failures for files without a usable version resource.
#   version_tool_test.sh DBPFTOOL FIXTURE_DIR
. "$(dirname "$0")/common.sh"
fixtures=${2:?fixture directory}

for arch in x86 x64; do
  dll=$fixtures/versioned-$arch.dll
  out=$("$tool" version "$dll")
  check "$arch: exit status" 0 $?
  check "$arch: file version" 1.2.3.4 "$(field 'file version' "$out")"
  check "$arch: product version" 5.6.7.8 "$(field 'product version' "$out")"
  check "$arch: first translation" \
    "language 0x0409 English (United States), code page 1252 Multilingual" \
    "$(field 'translation 0' "$out")"
  check "$arch: second translation's language" 0x0407 \
    "$(field 'translation 1' "$out" | sed -n 's/^language \(0x[0-9a-f]*\).*/\1/p')"
  # Each translation answers with its own strings, in the order the tool lists them.
  check "$arch: company names per translation" \
    "Example Software Ltd.|Beispiel GmbH" \
    "$(printf '%s\n' "$out" | sed -n 's/^  CompanyName: *//p' | paste -sd '|')"
  check "$arch: UTF-16 text arrives as UTF-8" "© Müller 日本" \
    "$(printf '%s\n' "$out" | sed -n 's/^  LegalCopyright: *//p' | tail -n 1)"

  json=$("$tool" version --json "$dll")
  check "$arch: --json exit status" 0 $?
  case "$json" in
    '{"file": '*'"file_version": "1.2.3.4", "product_version": "5.6.7.8"'*'"language_id": 1031'*'"CompanyName": "Beispiel GmbH"'*'}') ;;
    *) fail "$arch: --json output: $json" ;;
  esac
done

# Files without a usable version resource: one line naming the file and saying why, status 1,
# nothing on stdout.
printf 'MZ not really a module' >"$fixtures/not_pe.dll"
mkdir -p "$fixtures/directory.dll"
for case in "no_version-x64.dll:no version resource" \
            "bad_signature-x64.dll:no valid fixed record" \
            "short_root-x86.dll:" \
            "missing.dll:cannot open" \
            "not_pe.dll:not a Windows executable" \
            "directory.dll:"; do
  name=${case%%:*}
  why=${case#*:}
  stdout=$("$tool" version "$fixtures/$name" 2>"$fixtures/stderr.txt")
  status=$?
  check "$name: exit status" 1 "$status"
  check "$name: nothing on stdout" "" "$stdout"
  check "$name: one line on stderr" 1 "$(wc -l <"$fixtures/stderr.txt" | tr -d ' ')"
  grep -q "^dbpftool: $fixtures/$name: " "$fixtures/stderr.txt" || fail "$name: message names the file"
  grep -q "$why" "$fixtures/stderr.txt" || fail "$name: message says why: $(cat "$fixtures/stderr.txt")"
done
rm -rf "$fixtures/stderr.txt" "$fixtures/not_pe.dll" "$fixtures/directory.dll"

# A module with a large tail appended (a sparse file: no disk used) answers like the module
# itself: the reader maps the file and touches only what it reads.
big=$fixtures/appended-x64.dll
cp "$fixtures/versioned-x64.dll" "$big"
truncate -s 1500M "$big"
out=$("$tool" version "$big")
check "appended tail: exit status" 0 $?
check "appended tail: file version" 1.2.3.4 "$(field 'file version' "$out")"
rm -f "$big"

"$tool" version >/dev/null 2>&1
check "no file: usage error" 2 $?

finish dbpftool_version
