"""The type stub agrees with the library and satisfies the type checkers.

mypy --strict and pyright (strict) check examples/quickstart.py and
tests/typecheck/public_surface.py against the installed package, and
mypy.stubtest compares the stub with the runtime.  These run once per
`make test` (under the default interpreter: TESSARON_DIST_TESTS=1); the
surface file also runs as a program under every interpreter.
"""

import json
import os
import pathlib
import runpy
import shutil
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
SURFACE = ROOT / "tests" / "typecheck" / "public_surface.py"
QUICKSTART = ROOT / "examples" / "quickstart.py"
ALLOWLIST = ROOT / "tests" / "typecheck" / "stubtest-allowlist.txt"
USES_SIMPLIFY = "from tessaron import Validator\n\nValidator(int).simplify()\n"

once = pytest.mark.skipif(
    os.environ.get("TESSARON_DIST_TESTS") != "1",
    reason="type checkers run once per `make test`, under the default interpreter (TESSARON_DIST_TESTS=1)",
)


@pytest.mark.skipif(sys.version_info < (3, 11), reason="typing.assert_type is new in 3.11")
def test_public_surface_runs():
    runpy.run_path(str(SURFACE), run_name="__main__")


@pytest.fixture
def checked_files(tmp_path):
    # Away from the source tree, so `import tessaron` is the installed package.
    for source in (QUICKSTART, SURFACE):
        shutil.copy(source, tmp_path / source.name)
    (tmp_path / "uses_simplify.py").write_text(USES_SIMPLIFY)
    return tmp_path


def run(args, cwd):
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "MYPYPATH")}
    return subprocess.run(args, cwd=cwd, env=env, capture_output=True, text=True, timeout=600)


def mypy(*args, cwd):
    cache = ROOT / "build" / "mypy-cache"
    return run([sys.executable, "-m", "mypy", "--cache-dir", str(cache), *args], cwd)


@once
def test_mypy_strict(checked_files):
    result = mypy("--strict", "quickstart.py", "public_surface.py", cwd=checked_files)
    assert result.returncode == 0, result.stdout + result.stderr


@once
def test_mypy_reports_simplify_deprecated(checked_files):
    result = mypy("--strict", "--enable-error-code", "deprecated", "uses_simplify.py", cwd=checked_files)
    assert result.returncode == 1, result.stdout + result.stderr
    assert "uses_simplify.py:3: error: function tessaron.Validator.simplify is deprecated" in result.stdout


@once
def test_pyright_strict(checked_files):
    (checked_files / "pyrightconfig.json").write_text(json.dumps({"typeCheckingMode": "strict"}))
    result = run(
        [sys.executable, "-m", "pyright", "--outputjson", "--pythonpath", sys.executable,
         "quickstart.py", "public_surface.py", "uses_simplify.py"],
        checked_files,
    )
    report = json.loads(result.stdout)
    found = [
        (pathlib.Path(d["file"]).name, d["range"]["start"]["line"] + 1, d.get("rule"), d["message"])
        for d in report["generalDiagnostics"]
    ]
    # The one diagnostic: the deprecated method.
    assert [(name, line, rule) for name, line, rule, _ in found] == [
        ("uses_simplify.py", 3, "reportDeprecated")
    ], found
    assert report["summary"]["filesAnalyzed"] == 3


@once
def test_stubtest(tmp_path):
    result = run([sys.executable, "-m", "mypy.stubtest", "tessaron", "--allowlist", str(ALLOWLIST)], tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr
