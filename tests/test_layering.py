"""The include graph of src/ points one way.

The core's layers, lowest first: util, ir, then pattern and json (side by
side, neither includes the other), descr, decide; src/python sits on top.
A layer includes only itself and the layers below it, and nothing under
src/core includes a CPython header.  Project headers are included by their
path from src/ ("core/ir/node.h", "python/oracle.h"), so every include can
be placed.  src/ is on the include path, so a project header named in angle
brackets (<core/ir/node.h>) is found as well, and is checked the same way.

Inside the descriptor algebra (core/descr) the folders rank the same way:
values, then the atom families side by side (sequences, sets, shapes),
then lines (whole descriptors, dispatching to the families), then convert.
The files directly in core/descr are the shared frame: anything may
include them, and they include only the atom folders they assemble
(descr.h completes `Descr` from the atoms' headers), so no path through
them leads up to lines or convert.  What the families need of the
whole-descriptor algebra is declared in the frame (nested.h).

The core also numbers the value kinds one way only: by `ir::Kind` (its slot
through `kind_slot`).  The names of the numberings it replaced do not come
back.
"""

import re
from pathlib import Path

import pytest

SRC = Path(__file__).resolve().parent.parent / "src"

# Rank of each layer; equal ranks are siblings that must not include each
# other.
CORE_RANKS = {"util": 0, "ir": 1, "pattern": 2, "json": 2, "descr": 3, "decide": 4}
PYTHON_RANK = 5

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.MULTILINE)
# Python.h and the headers that come with it.
CPYTHON_HEADER = re.compile(
    r"^(Python|structmember|frameobject|pythread|marshal|datetime|py[a-z_]*|cpython/.*|internal/.*)\.h$"
)


def project_header(bracket, name, src):
    """Whether an include names a project header: every quoted one, and one
    in angle brackets whose path starts at a top folder of src/ (core,
    python, or another there) or names a file there, which the include path
    finds under src/."""
    if bracket == '"':
        return True
    parts = Path(name).parts
    if len(parts) > 1 and (parts[0] in ("core", "python") or (src / parts[0]).is_dir()):
        return True
    return (src / name).is_file()


def as_written(bracket, name):
    return f'"{name}"' if bracket == '"' else f"<{name}>"


def layer_of(path, src):
    """(layer name, rank) of a file under src/, by its directory."""
    parts = path.relative_to(src).parts
    if parts[0] == "python":
        return "python", PYTHON_RANK
    if parts[0] == "core" and len(parts) > 2 and parts[1] in CORE_RANKS:
        return parts[1], CORE_RANKS[parts[1]]
    return None, None


def violations(src):
    """Every include under `src` that breaks the layering, as text."""
    found = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cc") or not path.is_file():
            continue
        where = path.relative_to(src)
        layer, rank = layer_of(path, src)
        if layer is None:
            found.append(f"{where}: outside every layer")
            continue
        for bracket, name in INCLUDE.findall(path.read_text(encoding="utf-8")):
            if layer != "python" and CPYTHON_HEADER.match(name):
                found.append(f"{where}: includes the CPython header {name}")
                continue
            if not project_header(bracket, name, src):
                continue
            written = as_written(bracket, name)
            target_layer, target_rank = layer_of(src / name, src) if "/" in name else (None, None)
            if target_layer is None:
                found.append(f"{where}: includes {written}, which names no layer (use its path from src/)")
            elif target_layer != layer and target_rank >= rank:
                found.append(f"{where}: layer {layer} includes {written} of layer {target_layer}")
    return found


# Rank of each folder of core/descr; the frame (files directly in
# core/descr) includes folders up to FRAME_REACH only.
DESCR_RANKS = {"values": 0, "sequences": 1, "sets": 1, "shapes": 1, "lines": 2, "convert": 3}
FRAME_REACH = 1


def descr_folder_of(name):
    """(folder, rank) of a path under core/descr given from src/ ("" and
    None for the frame), or None for a path elsewhere."""
    parts = Path(name).parts
    if parts[:2] != ("core", "descr"):
        return None
    if len(parts) == 3:
        return "", None
    return parts[2], DESCR_RANKS.get(parts[2])


def descr_violations(src):
    """Every include between the folders of core/descr that runs up, or
    across between siblings, as text."""
    found = []
    root = src / "core" / "descr"
    for path in sorted(root.rglob("*")) if root.is_dir() else []:
        if path.suffix not in (".h", ".cc") or not path.is_file():
            continue
        where = path.relative_to(src)
        folder, rank = descr_folder_of(where)
        if folder and rank is None:
            found.append(f"{where}: folder {folder} has no rank")
            continue
        for bracket, name in INCLUDE.findall(path.read_text(encoding="utf-8")):
            target = descr_folder_of(name) if project_header(bracket, name, src) else None
            if target is None or target[0] in ("", folder):
                continue
            target_folder, target_rank = target
            written = as_written(bracket, name)
            if target_rank is None:
                found.append(f"{where}: includes {written} of the unranked folder {target_folder}")
            elif not folder and target_rank > FRAME_REACH:
                found.append(f"{where}: the frame includes {written} of folder {target_folder}")
            elif folder and target_rank >= rank:
                found.append(f"{where}: folder {folder} includes {written} of folder {target_folder}")
    return found


# Names of kind numberings beside `ir::Kind`: a kind as a code number, the
# conversions between codes and slots, a builtin base as a position.
SECOND_KIND_NUMBERING = re.compile(
    r"\b(KindCode|kOtherCode|kOtherKindCode|kSlotCount|slot_code|code_slot|kind_code|kind_from_code|base_position)\b"
)


def kind_numberings(src):
    """Every use under src/core of a kind numbering beside `ir::Kind`."""
    found = []
    for path in sorted((src / "core").rglob("*")):
        if path.suffix not in (".h", ".cc") or not path.is_file():
            continue
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            for name in SECOND_KIND_NUMBERING.findall(line):
                found.append(f"{path.relative_to(src)}:{number}: {name}")
    return found


def test_the_core_numbers_kinds_by_the_kind_enum_alone():
    assert kind_numberings(SRC) == []


@pytest.mark.parametrize(
    ("name", "text", "expected"),
    [
        ("core/descr/a.h", "using KindCode = std::uint8_t;\n", "core/descr/a.h:1: KindCode"),
        ("core/descr/a.cc", "int x;\nif (code == kOtherCode) {}\n", "core/descr/a.cc:2: kOtherCode"),
        ("core/decide/a.cc", "d.slots[code_slot(c)];\n", "code_slot"),
        ("core/descr/a.cc", "return slot_code(s);\n", "slot_code"),
        ("core/ir/a.h", "std::uint32_t base_position = 0;\n", "base_position"),
        ("core/ir/a.h", "constexpr std::uint8_t kind_code(Kind k);\n", "kind_code"),
    ],
)
def test_a_second_kind_numbering_is_reported(tmp_path, name, text, expected):
    write(tmp_path, name, text)
    found = kind_numberings(tmp_path)
    assert len(found) == 1 and expected in found[0], found


def test_kind_names_that_only_contain_a_banned_one_pass(tmp_path):
    write(tmp_path, "core/descr/a.h", "Kind builtin_kind; std::size_t kind_slot(Kind k); int my_slot_codes;\n")
    assert kind_numberings(tmp_path) == []


def test_the_include_graph_points_down():
    assert violations(SRC) == []


def write(root, name, text):
    path = root / name
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(text, encoding="utf-8")


@pytest.mark.parametrize(
    ("name", "text", "expected"),
    [
        ("core/ir/a.h", '#include "core/decide/route.h"\n', 'layer ir includes "core/decide/route.h" of layer decide'),
        ("core/ir/a.cc", '  #  include "python/oracle.h"\n', 'layer ir includes "python/oracle.h" of layer python'),
        ("core/pattern/a.h", '#include "core/json/parse.h"\n', "of layer json"),
        ("core/util/a.h", "#include <Python.h>\n", "the CPython header Python.h"),
        ("core/decide/a.cc", "#include <structmember.h>\n", "the CPython header structmember.h"),
        ("core/ir/a.h", '#include "node.h"\n', 'includes "node.h", which names no layer'),
        ("core/a.h", "", "outside every layer"),
        # src/ is on the include path: angle brackets find project headers too.
        ("core/ir/a.h", "#include <core/decide/route.h>\n", "layer ir includes <core/decide/route.h> of layer decide"),
        ("core/json/a.cc", "#include <core/pattern/dfa.h>\n", "of layer pattern"),
        ("core/decide/a.cc", "#include <python/oracle.h>\n", "of layer python"),
        ("core/ir/a.h", "#include <core/a.h>\n", "includes <core/a.h>, which names no layer"),
    ],
)
def test_an_include_against_the_layering_is_reported(tmp_path, name, text, expected):
    write(tmp_path, "core/decide/route.h", "")
    write(tmp_path, name, text)
    found = violations(tmp_path)
    assert len(found) == 1 and expected in found[0], found


@pytest.mark.parametrize(
    ("name", "text"),
    [
        ("core/decide/a.cc", '#include "core/ir/node.h"\n#include "core/decide/include.h"\n#include <vector>\n'),
        ("core/descr/a.h", '#include "core/pattern/dfa.h"\n#include "core/json/tree.h"\n'),
        ("python/a.cc", '#include <Python.h>\n#include "core/decide/route.h"\n#include "python/pool.h"\n'),
        ("core/descr/a.cc", "#include <core/ir/node.h>\n#include <boost/json/basic_parser.hpp>\n#include <vector>\n"),
        ("python/a.cc", "#include <core/decide/route.h>\n#include <python/pool.h>\n"),
    ],
)
def test_includes_down_the_layering_pass(tmp_path, name, text):
    write(tmp_path, name, text)
    assert violations(tmp_path) == []


def test_the_descriptor_folders_include_downward():
    assert descr_violations(SRC) == []


@pytest.mark.parametrize(
    ("name", "text", "expected"),
    [
        ("core/descr/sets/a.cc", '#include "core/descr/lines/order.h"\n', 'folder sets includes "core/descr/lines/order.h"'),
        ("core/descr/sequences/a.cc", '#include "core/descr/convert/convert.h"\n', "of folder convert"),
        ("core/descr/shapes/a.h", '#include "core/descr/sets/set_items.h"\n', "of folder sets"),
        ("core/descr/values/a.h", '#include "core/descr/shapes/shape.h"\n', "folder values includes"),
        ("core/descr/lines/a.cc", '#include "core/descr/convert/refine.h"\n', "folder lines includes"),
        ("core/descr/a.h", '#include "core/descr/lines/combine.h"\n', 'the frame includes "core/descr/lines/combine.h"'),
        ("core/descr/extra/a.h", "", "folder extra has no rank"),
        ("core/descr/a.cc", '#include "core/descr/extra/b.h"\n', "the unranked folder extra"),
        ("core/descr/sets/a.cc", "#include <core/descr/lines/order.h>\n",
         "folder sets includes <core/descr/lines/order.h> of folder lines"),
        ("core/descr/a.h", "#include <core/descr/convert/convert.h>\n", "the frame includes <core/descr/convert/"),
    ],
)
def test_an_include_up_the_descriptor_folders_is_reported(tmp_path, name, text, expected):
    write(tmp_path, name, text)
    found = descr_violations(tmp_path)
    assert len(found) == 1 and expected in found[0], found


@pytest.mark.parametrize(
    ("name", "text"),
    [
        ("core/descr/sets/a.cc", '#include "core/descr/nested.h"\n#include "core/descr/values/integers.h"\n'
         '#include "core/descr/sets/set_items.h"\n#include "core/ir/kind.h"\n'),
        ("core/descr/lines/a.cc", '#include "core/descr/sequences/sequence_product.h"\n#include "core/descr/budget.h"\n'),
        ("core/descr/convert/a.cc", '#include "core/descr/lines/combine.h"\n#include "core/descr/shapes/shape.h"\n'),
        ("core/descr/a.h", '#include "core/descr/shapes/shape.h"\n#include "core/descr/values/integers.h"\n'),
    ],
)
def test_includes_down_the_descriptor_folders_pass(tmp_path, name, text):
    write(tmp_path, name, text)
    assert descr_violations(tmp_path) == []


def test_the_binding_reaches_the_interpreter_through_one_header():
    """Under src/python only binding/capi.h includes the interpreter's own
    headers: its shims cover what PyPy's C-API layer lacks."""
    shim = SRC / "python" / "binding" / "capi.h"
    found = []
    for path in sorted((SRC / "python").rglob("*")):
        if path.suffix not in (".h", ".cc") or path == shim:
            continue
        for _, name in INCLUDE.findall(path.read_text(encoding="utf-8")):
            if CPYTHON_HEADER.match(name):
                found.append(f"{path.relative_to(SRC)}: includes {name}")
    assert found == []
