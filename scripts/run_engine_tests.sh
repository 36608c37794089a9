#!/usr/bin/env bash
# Runs the engine test programs of a build (their names, one a line, in
# BUILD/tests/engine_tests.txt), JOBS at a time, each whole in one process
# with its output in BUILD/test-logs/NAME.log. Prints one line per program
# and the end of the log of each that failed. Exits 1 when a program failed:
# a failed test, a crash, or any AddressSanitizer, LeakSanitizer or
# UndefinedBehaviorSanitizer report (the reports end the program with a
# non-zero status; the log is searched for them as well).
#   usage: scripts/run_engine_tests.sh BUILD [JOBS]
set -uo pipefail

build=$(realpath "$1")
jobs=${2:-$(nproc)}
list=$build/tests/engine_tests.txt
if [ ! -s "$list" ]; then
  echo "no engine test list in $list (configure and build the target engine_tests first)" >&2
  exit 1
fi
logs=$build/test-logs
rm -rf "$logs"
mkdir -p "$logs" "$build/test-tmp"

export VODURU_TEST_TMP=$build/test-tmp
export VODURU_SOURCE=$PWD
# A failed large allocation comes back empty, as the program expects (it
# answers "Out of memory"); a UBSan report stops the program with its stack.
# Options already set in the environment come after these and win.
export ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}

run_one() {
  local name=$1 build=$2 logs=$3 start status
  start=$(date +%s)
  "$build/tests/$name" --gtest_brief=1 >"$logs/$name.log" 2>&1
  status=$?
  if [ "$status" -eq 0 ] &&
    grep -qE 'ERROR: (Address|Leak|UndefinedBehavior)Sanitizer|runtime error:' "$logs/$name.log"; then
    status=99
  fi
  echo "$status" >"$logs/$name.status"
  if [ "$status" -eq 0 ]; then
    echo "passed $name ($(($(date +%s) - start)) s)"
  else
    echo "FAILED $name (status $status, $(($(date +%s) - start)) s)"
  fi
}
export -f run_one

xargs -P "$jobs" -I{} bash -c 'run_one "$1" "$2" "$3"' _ {} "$build" "$logs" <"$list"

failed=0
while read -r name; do
  [ -z "$name" ] && continue
  if [ "$(cat "$logs/$name.status" 2>/dev/null)" != "0" ]; then
    failed=1
    echo "==== $name: end of $logs/$name.log"
    tail -n 80 "$logs/$name.log"
  fi
done <"$list"
exit "$failed"
