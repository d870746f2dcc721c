#!/usr/bin/env bash
# Opt-in setup for the fuzz targets (`make fuzz`, and the bounded fuzz run of
# .ci/run).  `make test` never needs any of this.  Idempotent and quick when
# everything is in place.
#
#   1. clang with libFuzzer and the sanitizer runtimes, from Debian: the
#      newest clang-N for which both clang-N and libclang-rt-N-dev are
#      available (Debian 12 offers 16, Debian 13 offers 19; older ones would
#      do too).  The chosen compiler is printed on the last line as
#      `CLANG=clang++-N`, which the Makefile reads.
#   2. .venvs/fuzz: a venv of the default python3 (via scripts/setup.sh) with
#      the build and test requirements plus atheris from PyPI, for the
#      Python-level targets.
set -euo pipefail
cd "$(dirname "$0")/.."

log() { echo "setup-fuzz: $*" >&2; }
SUDO=()
if [ "$(id -u)" -ne 0 ]; then SUDO=(sudo); fi

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
candidate() { apt-cache policy "$1" 2>/dev/null | sed -n 's/^ *Candidate: //p'; }

# --- clang + libFuzzer ------------------------------------------------------
VERSIONS=(19 18 17 16 15 14)
pick_installed() {
    local n
    for n in "${VERSIONS[@]}"; do
        if installed "clang-$n" && installed "libclang-rt-$n-dev"; then echo "$n"; return; fi
    done
}
N=$(pick_installed)
if [ -z "$N" ]; then
    export DEBIAN_FRONTEND=noninteractive
    log "apt-get update"
    "${SUDO[@]}" apt-get update -qq
    for n in "${VERSIONS[@]}"; do
        c1=$(candidate "clang-$n"); c2=$(candidate "libclang-rt-$n-dev")
        if [ -n "$c1" ] && [ "$c1" != "(none)" ] && [ -n "$c2" ] && [ "$c2" != "(none)" ]; then
            N=$n; break
        fi
    done
    if [ -z "$N" ]; then
        echo "setup-fuzz: no clang-N with libclang-rt-N-dev available from apt" >&2
        exit 1
    fi
    log "apt-get install clang-$N libclang-rt-$N-dev"
    "${SUDO[@]}" apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=600 "clang-$N" "libclang-rt-$N-dev" >&2
fi

# --- the atheris venv -------------------------------------------------------
scripts/setup.sh >&2
py=$(readlink -f .venv/bin/python)
home=$(sed -n 's/^home *= *//p' .venvs/fuzz/pyvenv.cfg 2>/dev/null || true)
if [ ! -x .venvs/fuzz/bin/python ] || [ "$home" != "$(dirname "$py")" ]; then
    log "creating .venvs/fuzz from $py"
    rm -rf .venvs/fuzz
    "$py" -m venv .venvs/fuzz
fi
stamp=$( { .venvs/fuzz/bin/python -VV; cat requirements-build.txt requirements-test.txt fuzz/requirements.txt; } |
    sha256sum | cut -d' ' -f1)
if [ "$(cat .venvs/fuzz/.requirements.sha256 2>/dev/null || true)" != "$stamp" ]; then
    log "installing requirements into .venvs/fuzz"
    .venvs/fuzz/bin/python -m pip install -q --disable-pip-version-check ${CI:+--progress-bar off} \
        -r requirements-build.txt -r requirements-test.txt -r fuzz/requirements.txt >&2
    echo "$stamp" >.venvs/fuzz/.requirements.sha256
fi

echo "CLANG=clang++-$N"
