#!/usr/bin/env bash
# Prepares this machine for building and testing tessaron.  Idempotent, and
# quick when everything is already in place.
#
#   1. Debian packages (only the missing ones; `apt-get update` runs at most
#      once, and only when something has to be installed): the C++ compiler,
#      pkg-config, ccache, Boost (>= 1.81, headers + Boost.JSON), GoogleTest,
#      ICU (used by the table generator in tools/), and Node.js when no
#      `node` is on PATH (pyright, one of the type checkers the tests run,
#      is a Node.js program).  CMake and Ninja come from PyPI into the venvs,
#      so no CMake from apt.
#   2. One venv per CPython 3.11 / 3.12 / 3.13 found on the machine (pyenv's
#      versions directory first, then pythonX.Y on PATH) at .venvs/3.X, with
#      the build requirements (requirements-build.txt) and the test
#      requirements (requirements-test.txt), so that
#      `pip install --no-build-isolation .` works offline from then on.  A
#      stamp per venv records the hash of those files: pip runs again only
#      when they change.
#   3. Debian's PyPy (`pypy3`, `pypy3-dev`, `pypy3-venv`; language level 3.9
#      on Debian 12, 3.11 on Debian 13) and its venv at .venvs/pypy3.X, made
#      and kept like the CPython ones.
#   4. .venv, the default venv, is a symlink to the venv of the default
#      `python3` (or to the first one found if that version is unsupported).
#      It is always a CPython one.
#
# Options: --asan          also create .venvs/asan (default python3) for the
#                          sanitizer build of the extension.
#          --default-only  only the default interpreter's venv (step 4's)
#                          and what it needs: no other CPython's venv, no
#                          PyPy (`make demo`, which runs on that one only).
set -euo pipefail

cd "$(dirname "$0")/.."
ROOT=$PWD
WANT_ASAN=0
DEFAULT_ONLY=0
for arg in "$@"; do
    case "$arg" in
        --asan) WANT_ASAN=1 ;;
        --default-only) DEFAULT_ONLY=1 ;;
        *) echo "setup.sh: unknown option $arg" >&2; exit 2 ;;
    esac
done

SUPPORTED=(3.11 3.12 3.13)
log() { echo "setup: $*"; }

SUDO=()
if [ "$(id -u)" -ne 0 ]; then SUDO=(sudo); fi

# --- find the interpreters -------------------------------------------------

# Prints the path of a working CPython X.Y interpreter, or nothing.
find_python() {
    local v=$1 root cand dir
    root=${PYENV_ROOT:-$HOME/.pyenv}
    if [ -d "$root/versions" ]; then
        # Newest patch release first; skip pre-releases and free-threaded builds.
        for dir in $(ls -1 "$root/versions" 2>/dev/null | grep -E "^${v//./\\.}\.[0-9]+$" | sort -V -r); do
            cand=$root/versions/$dir/bin/python$v
            if [ -x "$cand" ] && "$cand" -c 'import sys' >/dev/null 2>&1; then
                echo "$cand"; return
            fi
        done
    fi
    # pyenv shims answer for versions that are not selected and then fail, so
    # each candidate on PATH has to actually run.
    for cand in $(type -ap "python$v" || true); do
        if "$cand" -c 'import sys' >/dev/null 2>&1; then
            echo "$cand"; return
        fi
    done
}

declare -A PY
declare -A APT_FOR
for v in "${SUPPORTED[@]}"; do
    p=$(find_python "$v")
    [ -n "$p" ] || continue
    PY[$v]=$p
    # A distribution interpreter may lack headers or venv support; those come
    # as separate Debian packages.
    if ! "$p" -c 'import ensurepip, os, sys, sysconfig; sys.exit(not os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")))' >/dev/null 2>&1; then
        case "$p" in
            /usr/bin/*) APT_FOR[$v]="python$v-dev python$v-venv" ;;
            *) log "warning: $p lacks Python.h or ensurepip; skipping it"; unset "PY[$v]" ;;
        esac
    fi
done
if [ ${#PY[@]} -eq 0 ]; then
    echo "setup: no CPython 3.11, 3.12 or 3.13 found" >&2
    exit 1
fi

# The default interpreter: the default `python3` when it is one of them,
# else the first one found.
default_v=$(python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])' 2>/dev/null || true)
if [ -z "$default_v" ] || [ -z "${PY[$default_v]:-}" ]; then
    for v in "${SUPPORTED[@]}"; do
        if [ -n "${PY[$v]:-}" ]; then default_v=$v; break; fi
    done
fi
if [ $DEFAULT_ONLY -eq 1 ]; then
    for v in "${!PY[@]}"; do
        [ "$v" = "$default_v" ] || unset "PY[$v]"
    done
fi
APT_EXTRA=()
for v in "${!PY[@]}"; do
    [ -z "${APT_FOR[$v]:-}" ] || APT_EXTRA+=(${APT_FOR[$v]})
done

# --- Debian packages --------------------------------------------------------

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

boost_ok() {
    # Boost >= 1.81 headers (unordered_flat_map) and Boost.JSON's CMake config.
    local ver
    ver=$(sed -n 's/^#define BOOST_VERSION \([0-9]*\).*/\1/p' /usr/include/boost/version.hpp 2>/dev/null || true)
    [ -n "$ver" ] && [ "$ver" -ge 108100 ] &&
        compgen -G "/usr/lib/*/cmake/boost_json-*/boost_json-config.cmake" >/dev/null
}

MISSING=()
# PyPy comes from Debian only (the lowest language level it must build for
# is 3.9); its headers and venv support are separate packages.
[ $DEFAULT_ONLY -eq 1 ] || APT_EXTRA+=(pypy3 pypy3-dev pypy3-venv)

for pkg in g++ make pkg-config ccache libgtest-dev libicu-dev "${APT_EXTRA[@]}"; do
    installed "$pkg" || MISSING+=("$pkg")
done
command -v node >/dev/null 2>&1 || MISSING+=(nodejs)
NEED_BOOST=0
boost_ok || NEED_BOOST=1

if [ ${#MISSING[@]} -gt 0 ] || [ $NEED_BOOST -eq 1 ]; then
    export DEBIAN_FRONTEND=noninteractive
    log "apt-get update"
    "${SUDO[@]}" apt-get update -qq
    if [ $NEED_BOOST -eq 1 ]; then
        # Debian 13 ships Boost >= 1.81 as the default libboost-dev; Debian 12
        # has 1.74 there and 1.81 as versioned packages.
        cand=$(apt-cache policy libboost-dev | sed -n 's/^ *Candidate: //p')
        if [ -n "$cand" ] && [ "$cand" != "(none)" ] && dpkg --compare-versions "$cand" ge 1.81; then
            MISSING+=(libboost-dev libboost-json-dev)
        else
            cand=$(apt-cache policy libboost1.81-dev | sed -n 's/^ *Candidate: //p')
            if [ -z "$cand" ] || [ "$cand" = "(none)" ]; then
                echo "setup: no Boost >= 1.81 available from apt" >&2
                exit 1
            fi
            MISSING+=(libboost1.81-dev libboost-json1.81-dev)
        fi
    fi
    log "apt-get install ${MISSING[*]}"
    "${SUDO[@]}" apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=600 "${MISSING[@]}"
fi

# --- venvs ------------------------------------------------------------------

REQ_FILES=(requirements-build.txt requirements-test.txt)

# make_venv DIR PYTHON: (re)creates DIR unless it already runs on PYTHON, then
# installs the requirements unless the stamp says they are current.
make_venv() {
    local dir=$1 py=$2 home want stamp
    want=$(cd "$(dirname "$py")" && pwd -P)
    home=$(sed -n 's/^home *= *//p' "$dir/pyvenv.cfg" 2>/dev/null || true)
    if [ ! -x "$dir/bin/python" ] || [ "$home" != "$want" ] ||
        ! "$dir/bin/python" -c 'import sys' >/dev/null 2>&1; then
        log "creating $dir from $py"
        rm -rf "$dir"
        "$py" -m venv "$dir"
    fi
    stamp=$( { "$dir/bin/python" -VV; cat "${REQ_FILES[@]}"; } | sha256sum | cut -d' ' -f1)
    if [ "$(cat "$dir/.requirements.sha256" 2>/dev/null || true)" != "$stamp" ]; then
        log "installing requirements into $dir"
        "$dir/bin/python" -m pip install -q ${CI:+--progress-bar off} \
            $(printf -- '-r %s ' "${REQ_FILES[@]}")
        echo "$stamp" >"$dir/.requirements.sha256"
    fi
}

mkdir -p .venvs
for v in "${SUPPORTED[@]}"; do
    [ -n "${PY[$v]:-}" ] || continue
    make_venv ".venvs/$v" "$(cd "$(dirname "${PY[$v]}")" && pwd -P)/$(basename "${PY[$v]}")"
done

pypy=
if [ $DEFAULT_ONLY -eq 0 ]; then
    pypy_v=$(/usr/bin/pypy3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
    make_venv ".venvs/pypy$pypy_v" /usr/bin/pypy3
    # A venv of another language level (left from an older Debian) would
    # still be picked up by the loops over .venvs/*.
    for old in .venvs/pypy*; do
        [ "$old" = ".venvs/pypy$pypy_v" ] || rm -rf "$old"
    done
    pypy=" pypy$pypy_v"
fi

# Default venv: the one matching the default python3.
if [ "$(readlink .venv 2>/dev/null || true)" != ".venvs/$default_v" ]; then
    rm -rf .venv
    ln -s ".venvs/$default_v" .venv
    log ".venv -> .venvs/$default_v"
fi

if [ $WANT_ASAN -eq 1 ]; then
    make_venv .venvs/asan "$(cd "$(dirname "${PY[$default_v]}")" && pwd -P)/$(basename "${PY[$default_v]}")"
fi

log "ok (python: ${!PY[*]}$pypy; default $default_v)"
