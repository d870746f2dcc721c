"""A built wheel installs and runs away from the source tree.

The wheel that `make wheel` makes for this interpreter (scripts/wheel.sh:
build, then auditwheel repair) goes into a fresh venv, which runs the
quickstart from an empty folder; its output must be the output of the
development install.  Runs once per `make test`, under the default
interpreter (TESSARON_DIST_TESTS=1): a few seconds, since the build tree is
the one `make test` has just built.
"""

import os
import pathlib
import shutil
import subprocess
import sys
import zipfile

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent

pytestmark = pytest.mark.skipif(
    os.environ.get("TESSARON_DIST_TESTS") != "1",
    reason="the wheel is built once per `make test`, under the default interpreter (TESSARON_DIST_TESTS=1)",
)


def run(args, cwd):
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    result = subprocess.run(args, cwd=cwd, env=env, capture_output=True, text=True, timeout=900)
    assert result.returncode == 0, f"{args} failed:\n{result.stdout}{result.stderr}"
    return result.stdout


def test_wheel_installs_and_runs_in_a_fresh_venv(tmp_path):
    dist = tmp_path / "dist"
    run(["bash", str(ROOT / "scripts" / "wheel.sh"), sys.executable, str(dist)], ROOT)
    (wheel,) = dist.glob("*.whl")
    tag = f"cp{sys.version_info.major}{sys.version_info.minor}"
    assert wheel.name.startswith("tessaron-") and f"-{tag}-{tag}-manylinux_" in wheel.name, wheel.name

    # Boost.JSON is compiled in: the extension needs only the C and C++
    # runtimes, and auditwheel grafted no library into the wheel.
    with zipfile.ZipFile(wheel) as archive:
        names = archive.namelist()
        (extension,) = [n for n in names if n.startswith("_tessaron") and n.endswith(".so")]
        archive.extract(extension, tmp_path)
    assert not [n for n in names if ".libs/" in n], names
    needed = run(["readelf", "-d", str(tmp_path / extension)], tmp_path)
    assert "boost" not in needed.lower()
    assert {"tessaron/__init__.py", "tessaron/__init__.pyi", "tessaron/py.typed"} <= set(names)

    venv = tmp_path / "venv"
    run([sys.executable, "-m", "venv", "--without-pip", str(venv)], tmp_path)
    python = venv / "bin" / "python"
    run([sys.executable, "-m", "pip", "--python", str(python), "install", "-q", "--no-deps", "--no-index",
         "--disable-pip-version-check", str(wheel)], tmp_path)

    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    shutil.copy(ROOT / "examples" / "quickstart.py", elsewhere)
    where = run([str(python), "-c", "import tessaron, _tessaron; print(tessaron.__file__, _tessaron.__file__)"],
                elsewhere)
    assert all(path.startswith(str(venv)) for path in where.split()), where
    assert run([str(python), "quickstart.py"], elsewhere) == run([sys.executable, "quickstart.py"], elsewhere)
