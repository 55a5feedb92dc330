# Shared start of the dbpftool test scripts, sourced by each as its first command:
#   . "$(dirname "$0")/common.sh"
# The first argument of every script is the dbpftool to test; it is $tool here. Each script
# counts its failures through fail (or check) and ends with finish.
set -u

tool=${1:-}
if [ -z "$tool" ] || [ ! -x "$tool" ]; then
  echo "FAIL: no dbpftool to test: '$tool'" >&2
  exit 1
fi

failures=0
# fail MESSAGE...: reports one failed check.
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# check DESCRIPTION EXPECTED ACTUAL: a failure unless the two texts are equal.
check() {
  if [ "$2" != "$3" ]; then
    fail "$1"
    echo "  expected: $2" >&2
    echo "  actual:   $3" >&2
  fi
}
# field LABEL OUTPUT: the value after "LABEL:" on the first line that has it.
field() {
  printf '%s\n' "$2" | sed -n "s/^$1: *//p" | head -n 1
}

# new_work_dir DIR: DIR emptied (made if absent) and kept in $work.
new_work_dir() {
  work=$1
  rm -rf "$work" && mkdir -p "$work" || {
    echo "FAIL: cannot make the work directory $work" >&2
    exit 1
  }
}

# finish NAME: the script's exit, 0 when no check failed.
finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$1: $failures failure(s)" >&2
    exit 1
  fi
  echo "$1: all checks passed"
  exit 0
}
