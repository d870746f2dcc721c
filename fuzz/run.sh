#!/usr/bin/env bash
# Runs every fuzz target for a fixed time: `fuzz/run.sh SECONDS`.  Called by
# `make fuzz` once the targets are built (native ones in build/fuzz, the
# instrumented extension in .venvs/fuzz).
#
# Each target starts from its committed seed corpus (fuzz/corpus/NAME: plain
# seed files plus found.hex, see fuzz/corpus_pack.py; unpacked read-only into
# build/fuzz/seeds/NAME) plus what earlier runs found
# (build/fuzz/corpus/TARGET, where new inputs go).  A finding (crash, sanitizer report, failed assertion, timeout)
# is written to build/fuzz/artifacts/ and fails the run after every target
# has had its turn; turn it into a regression test and, when it is a good
# seed, add it to fuzz/corpus/.
set -uo pipefail
cd "$(dirname "$0")/.."

SECONDS_PER_TARGET=${1:?usage: fuzz/run.sh SECONDS}
ART=build/fuzz/artifacts
mkdir -p "$ART"

ATHERIS_DIR=$(.venvs/fuzz/bin/python -c 'import atheris, os; print(os.path.dirname(os.path.dirname(atheris.__file__)))')
# libFuzzer options common to every target: bounded per input and in memory.
COMMON=(-max_total_time="$SECONDS_PER_TARGET" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1)

# Unpacks every committed corpus afresh.
rm -rf build/fuzz/seeds
for dir in fuzz/corpus/*/; do
    name=$(basename "$dir")
    mkdir -p "build/fuzz/seeds/$name"
    find "$dir" -maxdepth 1 -type f ! -name '*.hex' -exec cp {} "build/fuzz/seeds/$name/" \;
    for packed in "$dir"*.hex; do
        [ -e "$packed" ] && .venvs/fuzz/bin/python fuzz/corpus_pack.py unpack "$packed" "build/fuzz/seeds/$name"
    done
done

status=0
# run TARGET SEEDS COMMAND...: fuzz one target, logging to build/fuzz/TARGET.log.
run() {
    local target=$1 seeds=$2
    shift 2
    local work=build/fuzz/corpus/$target log=build/fuzz/$target.log
    mkdir -p "$work"
    echo "==> fuzz $target for ${SECONDS_PER_TARGET}s (seeds: fuzz/corpus/$seeds)"
    if "$@" "${COMMON[@]}" -artifact_prefix="$ART/$target-" "$work" "build/fuzz/seeds/$seeds" >"$log" 2>&1; then
        grep -E '^(stat::number_of_executed_units|Done)' "$log" | tail -1
    else
        echo "FAILED: $target (log: $log, findings in $ART/)"
        grep -v '^    #' "$log" | tail -40
        status=1
    fi
}

run pattern_fuzz pattern build/fuzz/pattern_fuzz
run json_native_fuzz json build/fuzz/json_fuzz

# Python targets: the extension in .venvs/fuzz carries ASan and coverage
# instrumentation; atheris's runtime provides both, preloaded.
py() {
    LD_PRELOAD="$ATHERIS_DIR/asan_with_fuzzer.so" PYTHONMALLOC=malloc \
        ASAN_OPTIONS=detect_leaks=0 \
        .venvs/fuzz/bin/python "$@"
}
run schema_fuzz schema py fuzz/schema_fuzz.py
run json_python_fuzz json py fuzz/json_fuzz.py

exit $status
