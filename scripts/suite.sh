#!/usr/bin/env bash
# Runs the test suites of `make test` and `make asan` so that their output
# ends with one line per suite.  Every suite's full output is kept in
# build/test-logs/; a quiet suite (the native build and CTest, which list
# every test) shows it only when it fails.
#
#   suite.sh reset                      forget the summaries of an earlier run
#   suite.sh run NAME show|quiet CMD..  run CMD, keep its output, note its
#                                       closing line; exits with CMD's status
#   suite.sh summary                    print one line per suite run since reset
set -euo pipefail

cd "$(dirname "$0")/.."
LOGS=build/test-logs
SUMMARY=$LOGS/summary

# The runner's own closing line: pytest's "N passed, M skipped in Xs" (its
# rule of '=' stripped) or CTest's "N% tests passed...".
closing_line() {
    grep -E '^=+ .* in [0-9.]+s.* =+$|tests passed' "$1" | tail -n 1 | sed -E 's/^=+ //; s/ =+$//' || true
}

case "${1:-}" in
reset)
    mkdir -p "$LOGS"
    : >"$SUMMARY"
    ;;
run)
    name=$2 mode=$3
    shift 3
    mkdir -p "$LOGS"
    log="$LOGS/$(echo "$name" | tr -c 'A-Za-z0-9.\n-' '_').log"
    rc=0
    if [ "$mode" = show ]; then
        "$@" 2>&1 | tee "$log" || rc=$?
    else
        "$@" >"$log" 2>&1 || rc=$?
        if [ $rc -ne 0 ]; then cat "$log"; fi
    fi
    line=$(closing_line "$log")
    [ -n "$line" ] || line="no summary line"
    if [ $rc -ne 0 ]; then line="$line (exit $rc; full output in $log)"; fi
    printf '%s: %s\n' "$name" "$line" >>"$SUMMARY"
    exit $rc
    ;;
summary)
    echo "==> summary"
    cat "$SUMMARY"
    ;;
*)
    echo "usage: $0 reset | run NAME show|quiet CMD... | summary" >&2
    exit 2
    ;;
esac
