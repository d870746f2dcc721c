"""Leaks: repeating an operation many times leaves memory flat.

Each operation runs a warm-up round (caches, free lists and the per-thread
sharing tables fill up to their bounds), then a measured round of many
repetitions.  Four counters must stay flat within a margin far below one
leaked object or allocation per repetition:

  - live objects tracked by the garbage collector (leaked containers,
    validators, exceptions);
  - the interpreter's allocated memory blocks (any leaked Python object,
    strings and ints included);
  - bytes in use in the C heap (mallinfo2: leaked nodes, tables, texts of
    the C++ side, which no Python counter sees);
  - the resident set size, with a coarse margin.

On PyPy only the object count and the resident set size are read: it has
no count of blocks, and its JIT and C-API layer allocate from the C heap
as they warm up, far past the heap margin.  There an object that only
another object holds through the C API (the items of a tuple the module
has read, say) is freed one major collection after its holder, so a chain
of n of them takes n collections: the counters are read after collecting
until the heap stops shrinking.

Under the sanitizers (the interpreter's allocator replaced by malloc, the
heap owned by AddressSanitizer, freed memory held in quarantine) only the
object count is meaningful; the others are skipped there.
"""

import copy
import ctypes
import dataclasses
import enum
import gc
import os
import sys
import threading
import typing
from typing import Annotated, Literal, Optional, Union

import pytest

import tessaron
from tessaron import ValidationError, Validator, complement, intersection, recursive, union

from interpreter import PYPY, cpython_only

SANITIZED = "libasan" in os.environ.get("LD_PRELOAD", "")
REPEATS = 300 if SANITIZED else 1000


class _Mallinfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks", "keepcost")]


def _heap_reader():
    try:
        libc = ctypes.CDLL(None)
        fn = libc.mallinfo2
    except (OSError, AttributeError):
        return None
    fn.restype = _Mallinfo2
    return lambda: fn().uordblks + fn().hblkhd


HEAP_IN_USE = None if SANITIZED or PYPY else _heap_reader()
# PyPy: the heap decides only when collecting may stop.
SETTLED_HEAP = _heap_reader() if PYPY else None


def rss_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def settle():
    gc.collect()
    if SETTLED_HEAP is None:
        return
    # A collection that frees a level of a thousand chains frees far more
    # than this; past the longest chain nothing is left to free.
    last = SETTLED_HEAP()
    for _ in range(tessaron.MAX_SCHEMA_DEPTH + 32):
        gc.collect()
        now = SETTLED_HEAP()
        if now > last - 4096:
            return
        last = now


def counters():
    settle()
    return {
        "gc objects": len(gc.get_objects()),
        "blocks": 0 if PYPY else sys.getallocatedblocks(),
        "heap bytes": HEAP_IN_USE() if HEAP_IN_USE else 0,
        "rss": 0 if SANITIZED else rss_bytes(),
    }


# Largest growth allowed over the measured round: well under one object,
# block or small allocation per repetition.
# (A node of the C++ side takes more than 32 bytes of heap.)
MARGINS = {"gc objects": REPEATS // 10, "blocks": REPEATS // 4, "heap bytes": 32 * REPEATS, "rss": 4 << 20}
if PYPY:
    # Its JIT and per-thread states grow the resident set in steps of
    # megabytes for a while after the warm-up.
    MARGINS["rss"] = 16 << 20


# PyPy's JIT and collector take a few rounds to reach their working size.
WARM_UP_ROUNDS = 3 if PYPY else 1


def assert_flat(operation):
    # The warm-up is as long as the measured round: the per-thread sharing
    # tables keep up to 1024 dead entries' memory each until a colliding
    # entry evicts them, so they fill slowly and only then stay flat.
    for _ in range(REPEATS * WARM_UP_ROUNDS):
        operation()
    before = counters()
    for _ in range(REPEATS):
        operation()
    after = counters()
    over = {k: after[k] - before[k] for k in before if after[k] - before[k] > MARGINS[k]}
    assert not over, f"grew past the margin: {over}"


# --- schemas and values ---------------------------------------------------------


class Marker:
    def __init__(self, **attrs):
        self.__dict__.update(attrs)


class Color(enum.Enum):
    RED = 1
    BLUE = 2


@dataclasses.dataclass
class Dangling:
    x: "Undefined"  # noqa: F821


@dataclasses.dataclass
class Point:
    x: int
    label: Optional[str] = None


def interrupt(value):
    raise KeyboardInterrupt


def even(value):
    return value % 2 == 0


ROW = {
    "id": Annotated[int, Marker(ge=0), even],
    "name": Annotated[str, Marker(pattern="[a-z]+")],
    "tags?": list[Literal["a", "b", 3]],
    "where?": Point,
    "color?": Color,
}
ROWS = Validator(list[ROW])
GOOD = [{"id": 2, "name": "ab", "tags": ["a", 3], "where": Point(1), "color": Color.RED}] * 5
BAD = [{"id": -1, "name": "AB", "tags": ["z"], "where": Point("x"), "extra": 0}, 7, {"name": 5}]
TREE = recursive(lambda t: union(int, list[t], {"kids": list[t]}))
JSON_GOOD = '[{"id": 4, "name": "abc", "tags": ["b", 3]}, {"id": 6, "name": "' + "k" * 40 + '", "id": 8}]'
JSON_BAD = '[{"id": 3, "name": "abc"}, {"id": "x", "name": "ÄÖ"}]'


def raises(exc_type, call, *args, **kwargs):
    try:
        call(*args, **kwargs)
    except exc_type as exc:
        return exc
    raise AssertionError(f"{call} did not raise {exc_type.__name__}")


def validate_members():
    ROWS.validate(GOOD)
    assert ROWS.ensure(GOOD) is GOOD
    assert ROWS.is_valid(GOOD) and TREE.is_valid([1, [2, {"kids": [3]}]])


def validate_failures():
    err = raises(ValidationError, ROWS.validate, BAD)
    err.errors, err.path, err.code, err.message, err.expected, err.value, str(err)
    raises(ValidationError, ROWS.validate, BAD, fail_fast=True)
    assert not ROWS.is_valid(BAD) and not TREE.is_valid([1, ["x"]])


def cyclic_values():
    cyclic = []
    cyclic.append(cyclic)
    raises(ValidationError, TREE.validate, cyclic)


def fatal_exceptions():
    v = Validator(list[Annotated[int, interrupt]])
    raises(KeyboardInterrupt, v.validate, [1, 2])
    raises(KeyboardInterrupt, v.is_valid_json, "[1]")


def json_input():
    assert ROWS.load(JSON_GOOD)[0]["id"] == 4
    assert ROWS.is_valid_json(JSON_GOOD) and not ROWS.is_valid_json(JSON_BAD)
    raises(ValidationError, ROWS.validate_json, JSON_BAD)
    for malformed in ("[1,", b"\xff", '"\\ud800"', "1e400", "[" * 300):
        raises(ValidationError, ROWS.load, malformed)
        assert not ROWS.is_valid_json(malformed)
    raises(TypeError, ROWS.validate_json, 12)


def construction():
    Validator(list[ROW])
    Validator(Union[dict[str, tuple[int, ...]], set[frozenset[bytes]], None])
    Validator([int, str, ...])
    recursive(lambda t: {"value": int, "next?": t})
    recursive(lambda a: list[union(a, recursive(lambda b: dict[str, union(a, b)]))])
    Validator(Literal[tuple(range(100))])


def refusals():
    for spec, exc in [
        ((int, str), NotImplementedError),
        (Annotated[int, Marker(ge=float("nan"))], ValueError),
        (Annotated[str, Marker(pattern="(")], ValueError),
        (Annotated[None, Marker(ge=0)], NotImplementedError),
        (Annotated[int, Marker(ge=property)], NotImplementedError),
        (list[Annotated[int, Marker(multiple_of=0)]], ValueError),
        (list["ForwardName"], NotImplementedError),
        (Dangling, NameError),
        (Annotated[str, tessaron.Regex("(")], ValueError),
    ]:
        raises(exc, Validator, spec)
    raises(TypeError, tessaron.Regex, b"[a-z]")
    raises(ValueError, recursive, lambda x: x)
    raises(ZeroDivisionError, recursive, lambda x: 1 / 0)
    spec = int
    for _ in range(140):
        spec = list[spec]
    raises(NotImplementedError, Validator, spec)


def combinators_and_values():
    a, b = Validator(list[ROW]), Validator(dict[str, int])
    for v in (union(a, b), intersection(a, complement(b)), a | b, a.open(), a.close(), copy.copy(a), copy.deepcopy(b)):
        repr(v), hash(v)
        assert v == v
    raises(TypeError, copy.copy(a).__reduce__)
    word = Validator(Annotated[str, tessaron.Regex("(?i)[a-z]+")])
    assert eval(repr(word), {"Annotated": Annotated, "Regex": tessaron.Regex}) is not None
    assert repr(tessaron.Regex("a")) == "Regex('a')" and hash(tessaron.Regex("a")) == hash(tessaron.Regex("a"))


def decisions():
    left, right = Validator(list[ROW]), Validator(list[dict[str, object]])
    left.is_empty(), left.is_subtype_of(right), left.relation_to(right), right.is_equivalent(left)
    TREE.is_subtype_of(recursive(lambda t: union(int, list[t], dict[str, list[t]])))
    Validator(intersection(int, str)).is_empty()
    Validator(Point).relation_to(Literal[Color.RED])
    Validator(Color).is_equivalent(Literal[Color.RED, Color.BLUE])


def a_short_lived_thread():
    """Per-thread state (sharing tables, scratch pools, builder state) goes
    away with its thread."""
    failed = []

    def body():
        try:
            construction()
            validate_failures()
            raises(KeyboardInterrupt, Validator(list[Annotated[int, interrupt]]).validate, [1])
        except BaseException as exc:  # reported below
            failed.append(exc)

    t = threading.Thread(target=body)
    t.start()
    t.join()
    if failed:
        raise failed[0]


OPERATIONS = [
    validate_members,
    validate_failures,
    pytest.param(
        cyclic_values,
        marks=cpython_only(
            "a list that holds itself keeps its items as C references once the module has read it, a cycle "
            "its collector never frees"
        ),
    ),
    fatal_exceptions,
    json_input,
    construction,
    refusals,
    combinators_and_values,
    decisions,
]


@pytest.mark.parametrize("operation", OPERATIONS, ids=lambda f: f.__name__)
def test_repeating_leaves_memory_flat(operation):
    assert_flat(operation)


def test_threads_leave_memory_flat():
    assert_flat(a_short_lived_thread)


@pytest.mark.skipif(sys.version_info < (3, 12), reason="type statements need 3.12")
def test_type_aliases_leave_memory_flat():
    namespace = {}
    exec("type Tree = int | list[Tree]\ntype Pair = tuple[Tree, Pair] | None", namespace)

    def aliases():
        Validator(namespace["Pair"]).is_valid((1, ([2], None)))

    assert_flat(aliases)


def test_the_counters_see_a_leak():
    """The margins are tight enough: holding on to one small object or one
    validator per repetition fails them."""
    kept = []
    with pytest.raises(AssertionError):
        assert_flat(lambda: kept.append(Validator(int)))
    kept.clear()
    if HEAP_IN_USE is not None:
        # Invisible to the interpreter: only the heap counter can see it.
        libc = ctypes.CDLL(None)
        libc.malloc.restype = ctypes.c_void_p
        libc.free.argtypes = [ctypes.c_void_p]
        blocks = []
        try:
            with pytest.raises(AssertionError, match="heap bytes"):
                assert_flat(lambda: blocks.append(libc.malloc(48)))
        finally:
            for block in blocks:
                libc.free(block)
