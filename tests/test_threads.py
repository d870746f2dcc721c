"""Thread safety: validators shared by 16 threads, built and decided concurrently.

Every test computes the answers on one thread first (on a validator of its
own), then has 16 threads race through the same work, released together by
a barrier with the interpreter's switch interval at its minimum, and
compares each thread's answers with the single-threaded ones.  The shared
validator is fresh, so the threads also race to build its lookup tables.  A
subprocess repeats this right after import, where the module's lazily made
objects (typing names, the error types, the text shortener, the JSON string
cache, the oracle's modules) are made by whichever thread comes first.
"""

import dataclasses
import enum
import faulthandler
import subprocess
import sys
import textwrap
import threading
import typing
from typing import Annotated, Any, Literal, Optional

import pytest

import tessaron
from tessaron import ValidationError, Validator, complement, intersection, recursive, union

THREADS = 16


def run_threads(work, threads=THREADS):
    """Runs work(i) on `threads` threads released together; returns the
    results by thread, re-raising the first exception."""
    barrier = threading.Barrier(threads)
    results = [None] * threads
    errors = []

    def body(i):
        try:
            barrier.wait()
            results[i] = work(i)
        except BaseException as exc:  # reported below
            errors.append(exc)

    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    # A deadlock holds the interpreter lock, so no join could time out: the
    # watchdog of faulthandler ends the process with every stack instead.
    faulthandler.dump_traceback_later(300, exit=True)
    try:
        pool = [threading.Thread(target=body, args=(i,), daemon=True) for i in range(threads)]
        for t in pool:
            t.start()
        for t in pool:
            t.join()
    finally:
        faulthandler.cancel_dump_traceback_later()
        sys.setswitchinterval(old)
    if errors:
        raise errors[0]
    return results


class Marker:
    def __init__(self, **attrs):
        self.__dict__.update(attrs)


class Color(enum.Enum):
    RED = 1
    BLUE = "b"


@dataclasses.dataclass
class Point:
    x: int
    y: Optional[str] = None


@typing.runtime_checkable
class HasX(typing.Protocol):
    x: int


def even(value):
    return value % 2 == 0


ROW = {
    "id": Annotated[int, Marker(ge=0)],
    "name": Annotated[str, Marker(pattern="[a-z]+[0-9]*")],
    "tags?": list[Literal["a", "b", "c", 4, 5]],
    "color?": Color,
}
TREE = recursive(lambda t: union(int, list[t], {"kids": list[t]}))

# (id, spec, values): every value is checked by is_valid, validate (both
# modes) and, where it is JSON text, by the JSON entries.
SCHEMAS = [
    ("records", list[ROW], [
        [{"id": 1, "name": "ab1", "tags": ["a", 4]}],
        [{"id": -1, "name": "AB", "tags": ["z"]}, {"id": 2}],
        [{"id": 2, "name": "x", "color": Color.RED, "extra": 1}],
        '[{"id": 3, "name": "abc", "tags": ["b", 5]}]',
        '[{"id": 3, "name": "ABC"}]',
    ]),
    ("recursion", TREE, [
        [1, [2, [3, {"kids": [4, []]}]]],
        [1, [2, "x"]],
        {"kids": [{"kids": "no"}]},
        "[1, [2, {\"kids\": [3]}]]",
    ]),
    ("classes", union(Point, HasX, Color, dict[str, Annotated[int, even]]), [
        Point(1), Point("x"), Color.BLUE, {"a": 2}, {"a": 3}, 5, '{"a": 4}',
    ]),
    ("algebra", intersection(complement(Literal[1, 2, "x"]), union(int, str, list[Any])), [
        1, 3, "x", "y", [1], None, b"x", '"y"', "3",
    ]),
    ("json", recursive(lambda j: union(None, bool, int, float, str, list[j], dict[str, j])), [
        '{"a": [1, 2.5, null, true, "s"], "b": {"c": []}}',
        '{"a": [1, 2.5, null, true, "s"], "a": {"c": []}}',
        "[1, 2", '"\\ud800"', "1e400",
    ]),
]


def outcome(v, value, i=0):
    """Every answer the membership entries give for one value."""
    answers = [v.is_valid(value), value in v]
    for fail_fast in (False, True):
        try:
            answers.append(v.validate(value, fail_fast=fail_fast))
        except ValidationError as err:
            answers.append((err.code, str(err), err.errors))
    if isinstance(value, str):
        answers.append(v.is_valid_json(value))
        try:
            answers.append(v.load(value))
        except ValidationError as err:
            answers.append((err.code, str(err), err.errors))
    return answers


@pytest.mark.parametrize("spec, values", [s[1:] for s in SCHEMAS], ids=[s[0] for s in SCHEMAS])
def test_one_fresh_validator_shared_by_16_threads(spec, values):
    expected = [outcome(Validator(spec), x) for x in values]
    shared = Validator(spec)

    def work(i):
        # Each thread starts at another value, so first uses differ.
        order = [(k + i) % len(values) for k in range(len(values))]
        got = [None] * len(values)
        for _ in range(3):
            for k in order:
                got[k] = outcome(shared, values[k])
        return got

    for got in run_threads(work):
        assert got == expected


# --- large JSON documents, checked without the interpreter lock ----------------

def large_documents():
    """Documents past 256 KiB (parsed without the interpreter lock): members,
    and non-members whose failure is near the end."""
    import json

    rows = [{"kind": "p", "id": i * 3, "name": "\u00e9" * (i % 3) + "n" * (1 + i % 5) + str(i % 1000)}
            for i in range(12000)]
    good = json.dumps(rows)
    bad_name = json.dumps(rows[:-1] + [{"kind": "p", "id": 3, "name": "N9"}])
    bad_id = json.dumps(rows[:-1] + [{"kind": "p", "id": 4, "name": "n9"}])
    tagged = json.dumps(rows[:-1] + [{"kind": "q", "id": "x"}])
    assert len(good) > 256 * 1024
    return [good, bad_name, bad_id, tagged, good.encode()]


LARGE_ROW = {
    "kind": Literal["p"],
    "id": Annotated[int, Marker(ge=0), Marker(lt=10**9), Marker(multiple_of=3)],
    "name": Annotated[str, Marker(min_length=1), Marker(max_length=12), Marker(pattern="[\u00e9n]+[0-9]{1,3}")],
}
LARGE_SCHEMAS = [
    # Checked in the parse itself.
    ("constrained records", list[LARGE_ROW]),
    # Each record goes to the general walk, which needs no Python.
    ("tagged union", list[union(LARGE_ROW, {"kind": Literal["q"], "id": str})]),
    # A bound past 64 bits needs Python: the lock is taken back once.
    ("big bound", list[{"kind": str, "id": Annotated[int, Marker(lt=10**30)], "name": str}]),
]


@pytest.mark.parametrize("spec", [s[1] for s in LARGE_SCHEMAS], ids=[s[0] for s in LARGE_SCHEMAS])
def test_large_json_documents_checked_by_16_threads_at_once(spec):
    docs = large_documents()
    expected = [Validator(spec).is_valid_json(d) for d in docs]
    assert expected[0] is True and False in expected
    shared = Validator(spec)

    def work(i):
        return [[shared.is_valid_json(docs[(k + i) % len(docs)]) for k in range(len(docs))] for _ in range(2)]

    for i, got in enumerate(run_threads(work)):
        rotated = [expected[(k + i) % len(docs)] for k in range(len(docs))]
        assert got == [rotated, rotated]


# --- concurrent construction ---------------------------------------------------


def make_specs():
    """Fresh marker types each call: the builder's marker cache meets them
    for the first time while the threads race."""
    Ge = type("Ge", (), {"__init__": lambda self, ge: setattr(self, "ge", ge)})
    Pat = type("Pat", (), {"pattern": "[0-9]+", "flags": 2})
    return [
        int,
        list[dict[str, Optional[int]]],
        ROW,
        [int, str, ...],
        Annotated[int, Ge(3)],
        Annotated[str, Pat()],
        Literal[tuple(range(50))],
        Point,
        HasX,
        Color,
        tuple[int, ...],
        union(int, str, None),
        complement(Literal["a"]),
    ]


def build_all(specs):
    built = [Validator(s) for s in specs]
    built.append(recursive(lambda t: union(int, list[t])))
    built.append(recursive(lambda a: {"next?": recursive(lambda b: list[union(a, b)])}))
    built.append(union(*built[:5]))
    built.append(built[2].close())
    built.append(built[2].open())
    return built


def test_validators_built_concurrently_equal_those_built_alone():
    expected = build_all(make_specs())
    reprs = [repr(v) for v in expected]
    specs = make_specs()

    def work(i):
        return build_all(specs)

    for got in run_threads(work):
        assert got == expected
        assert [repr(v) for v in got] == reprs
        assert [hash(v) for v in got] == [hash(v) for v in expected]


def test_threads_building_from_one_dict_spec_see_every_key():
    """The builder reads a spec dict item by item and runs Python code in
    between (here a marker's property): threads reading one dict at once
    each see all of its items."""

    class Bound:
        @property
        def ge(self):
            return sum(range(20)) - 190

    spec = {f"key_{i}": Annotated[int, Bound()] for i in range(40)}
    expected = Validator(spec)

    def work(i):
        return [Validator(spec) for _ in range(8)]

    for got in run_threads(work):
        assert got == [expected] * 8


@pytest.mark.skipif(sys.version_info < (3, 12), reason="type statements need 3.12")
def test_type_aliases_built_concurrently():
    namespace = {}
    exec("type Tree = int | list[Tree]\ntype Pair = tuple[Tree, Pair] | None", namespace)
    expected = [repr(Validator(namespace["Tree"])), repr(Validator(namespace["Pair"]))]

    def work(i):
        return [repr(Validator(namespace["Tree"])), repr(Validator(namespace["Pair"]))]

    assert run_threads(work) == [expected] * THREADS


# --- concurrent decisions ----------------------------------------------------------

PAIRS = [
    (list[int], list[Any]),
    (Literal[1, 2], int),
    ({"a": int}, dict[str, int]),
    (ROW, {"id": int, "name": str}),
    (TREE, recursive(lambda t: union(int, list[t], dict[str, Any]))),
    (Point, HasX),
    (Color, Literal[Color.RED, Color.BLUE]),
    (intersection(int, str), Literal["never"]),
    (Annotated[int, Marker(ge=0)], Annotated[int, Marker(gt=-1)]),
]


def decisions(pairs):
    answers = []
    for left, right in pairs:
        answers.append((left.is_empty(), left.is_subtype_of(right), left.relation_to(right),
                        right.relation_to(left), left.is_equivalent(right)))
    return answers


def test_decisions_run_concurrently():
    expected = decisions([(Validator(a), Validator(b)) for a, b in PAIRS])
    shared = [(Validator(a), Validator(b)) for a, b in PAIRS]

    def work(i):
        return decisions(shared[i % len(shared):] + shared[: i % len(shared)])

    for i, got in enumerate(run_threads(work)):
        k = i % len(shared)
        assert got == expected[k:] + expected[:k]


# --- first use of everything, in a fresh interpreter --------------------------------

FRESH = textwrap.dedent(
    """
    import sys, threading
    from typing import Annotated, Literal
    import tessaron
    from tessaron import Validator, ValidationError, recursive, union

    class Ge:
        ge = 0

    def work():
        v = Validator(list[{"a": Annotated[int, Ge()], "b?": Literal["x", "y"]}])
        r = recursive(lambda t: union(int, list[t]))
        out = [repr(v), v.is_valid([{"a": 1}]), r.is_valid([1, [2]])]
        try:
            v.validate([{"a": -1, "b": "z"}, 3])
        except ValidationError as err:
            out.append((err.code, str(err), err.errors))
        out.append(v.load('[{"a": 2, "b": "x"}]'))
        out.append(v.is_valid_json('[{"a": "no"}]'))
        out.append((r.is_subtype_of(v), v.relation_to(r), r.is_equivalent(r), v.is_empty()))
        return out

    barrier = threading.Barrier(16)
    results = [None] * 16
    def body(i):
        barrier.wait()
        results[i] = work()
    sys.setswitchinterval(1e-6)
    threads = [threading.Thread(target=body, args=(i,)) for i in range(16)]
    for t in threads: t.start()
    for t in threads: t.join()
    alone = work()
    assert results == [alone] * 16, (results, alone)
    print("same answers")
    """
)


def test_first_use_after_import_on_16_threads():
    done = subprocess.run([sys.executable, "-c", FRESH], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "same answers"
