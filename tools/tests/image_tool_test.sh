#!/usr/bin/env bash
# dbpftool image on the Pellisk test images: sizes and formats from files and from the test
# module's resources, --png output that reads back with the same size, and the failures
# (undecodable file, missing resource, unopenable module, usage) with no output file left.
#   image_tool_test.sh DBPFTOOL IMAGEDIR MODULE WORKDIR
. "$(dirname "$0")/common.sh"
images=$2
module=$3
new_work_dir "$4"

expect() { # description, expected output, command...
  local what=$1 want=$2
  shift 2
  local got
  got=$("$@" 2>/dev/null)
  [ "$got" = "$want" ] || fail "$what: got '$got', want '$want'"
}
status() { # description, expected status, command...
  local what=$1 want=$2
  shift 2
  "$@" >/dev/null 2>&1
  local rc=$?
  [ "$rc" -eq "$want" ] || fail "$what: exit $rc, want $want"
}

nl=$'\n'
expect "png file" "width: 13${nl}height: 9${nl}pixel format: 32bppARGB (0x0026200a)" \
  "$tool" image "$images/alpha.png"
expect "bmp file" "width: 7${nl}height: 5${nl}pixel format: 24bppRGB (0x00021808)" \
  "$tool" image "$images/gradient24.bmp"
expect "resource by name" "width: 13${nl}height: 9${nl}pixel format: 32bppARGB (0x0026200a)" \
  "$tool" image "$module" --resource LOGO PNG
expect "resource by id" "width: 24${nl}height: 16${nl}pixel format: 24bppRGB (0x00021808)" \
  "$tool" image "$module" --resource '#2' '#10'

status "png written" 0 "$tool" image "$images/icon.ico" --png "$work/icon.png"
expect "png reads back" "width: 16${nl}height: 16${nl}pixel format: 32bppARGB (0x0026200a)" \
  "$tool" image "$work/icon.png"

status "undecodable file" 1 "$tool" image "$images/garbage.bin" --png "$work/none.png"
[ -e "$work/none.png" ] && fail "output written after a failure"
status "missing resource" 1 "$tool" image "$module" --resource NOPE PNG
status "not a module" 1 "$tool" image "$images/alpha.png" --resource LOGO PNG
status "missing file" 1 "$tool" image "$work/does-not-exist.png"
status "no input" 2 "$tool" image
status "unknown option" 2 "$tool" image --bogus "$images/alpha.png"
status "incomplete --resource" 2 "$tool" image "$module" --resource LOGO

finish "image tool"
