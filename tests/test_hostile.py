"""Hostile input: every case ends in a documented answer or exception, never a crash.

Deeply nested and cyclic values and specs, huge ints and strings, user code
that raises or lies (__eq__, __hash__, __len__, __iter__, __getattr__,
__instancecheck__, __repr__, predicates), containers mutated while they are
checked (from a callback and from another thread), and fatal exceptions
(KeyboardInterrupt, SystemExit, MemoryError, RecursionError) from inside a
walk or a build.  After a fatal exception the validator and the builder's
per-thread state must still work.
"""

import dataclasses
import sys
import threading
import time
import typing
from typing import Annotated, Any, Literal, Union

import pytest

import tessaron
from tessaron import ValidationError, Validator, complement, intersection, recursive, union

JSON = recursive(lambda j: union(None, bool, int, float, str, list[j], dict[str, j]))
TREE = recursive(lambda t: list[t])
FATAL = (KeyboardInterrupt, SystemExit, MemoryError, RecursionError)


def nested_lists(depth, inner=None):
    value = [] if inner is None else inner
    for _ in range(depth):
        value = [value]
    return value


def nested_specs(depth, inner):
    for _ in range(depth):
        inner = list[inner]
    return inner


def cyclic_list():
    x = []
    x.append(x)
    return x


def cyclic_dict():
    d = {"a": 1}
    d["self"] = d
    return d


class Marker:
    def __init__(self, **attrs):
        self.__dict__.update(attrs)


class Eq:
    """A constant whose == raises `exc` (or answers `result`)."""

    def __init__(self, exc=None, result=True):
        self.exc, self.result = exc, result

    def __eq__(self, other):
        if self.exc is not None:
            raise self.exc
        return self.result

    __hash__ = object.__hash__


class RaisingTruth:
    def __bool__(self):
        raise KeyboardInterrupt


class LyingList(list):
    """Its own length and iteration lie or raise; its items are what counts."""

    def __len__(self):
        return 10**6

    def __iter__(self):
        raise ValueError("no iteration")


class LyingKey(str):
    def __hash__(self):
        return 1


class EqualKey(str):
    """A str subclass key that behaves exactly like the plain str."""


class RaisingGetattr:
    def __init__(self, exc):
        self.exc = exc

    def __getattr__(self, name):
        raise self.exc


class RaisingRepr:
    def __init__(self, exc):
        self.exc = exc

    def __repr__(self):
        raise self.exc


class InstanceCheckMeta(type):
    def __instancecheck__(cls, value):
        raise cls.exc


class ChecksKI(metaclass=InstanceCheckMeta):
    exc = KeyboardInterrupt


class ChecksVE(metaclass=InstanceCheckMeta):
    exc = ValueError


@dataclasses.dataclass
class Point:
    x: int


class PointWithoutX(Point):
    """Passes the class test; reading its field goes to a raising __getattr__."""

    def __init__(self, exc):
        self.exc = exc

    def __getattr__(self, name):
        raise self.exc


def raising(exc):
    def predicate(value):
        raise exc

    predicate.__name__ = f"raises_{exc.__name__}"
    return predicate


CONSTANT = Eq()

# (id, schema, value, outcome): outcome is True/False (the verdict; a failure
# raises ValidationError with the code given after it) or an exception type
# that every membership entry raises.
VALUE_CASES = [
    ("deep-list-vs-json", JSON, lambda: nested_lists(100_000), (False, "recursion_limit")),
    ("deep-list-vs-any-list", list[Any], lambda: nested_lists(100_000), True),
    ("deep-list-vs-tree", TREE, lambda: nested_lists(120), True),
    ("deep-list-vs-tree-past-128", TREE, lambda: nested_lists(200), (False, "recursion_limit")),
    ("deep-list-vs-nested-specs", nested_specs(120, int), lambda: nested_lists(119, [1]), True),
    ("cyclic-list-vs-tree", TREE, cyclic_list, (False, "recursion_loop")),
    ("cyclic-list-vs-json", JSON, cyclic_list, (False, "recursion_loop")),
    ("cyclic-dict-vs-json", JSON, cyclic_dict, (False, "recursion_loop")),
    ("cyclic-list-vs-list-of-int", list[int], cyclic_list, (False, "int_type")),
    ("huge-int-vs-int", int, lambda: 10**100_000, True),
    ("huge-int-vs-bounds", Annotated[int, Marker(ge=0), Marker(lt=10**100_001)], lambda: 10**100_000, True),
    ("huge-int-vs-multiple", Annotated[int, Marker(multiple_of=3)], lambda: 10**100_000, (False, "multiple_of")),
    ("huge-int-vs-literal", Literal[1, 2], lambda: 10**100_000, (False, "union_error")),
    ("huge-int-vs-literal-constant", 7, lambda: 10**100_000, (False, "literal_error")),
    ("huge-int-vs-str", str, lambda: 10**100_000, (False, "string_type")),
    ("huge-str-vs-pattern", Annotated[str, Marker(pattern="[a-z]*")], lambda: "a" * 5_000_000, True),
    ("huge-str-vs-pattern-fails-last", Annotated[str, Marker(pattern="[a-z]*")], lambda: "a" * 5_000_000 + "!",
     (False, "string_pattern_mismatch")),
    ("huge-str-vs-max-length", Annotated[str, Marker(max_length=10)], lambda: "a" * 5_000_000, (False, "too_long")),
    ("huge-str-key", {"a": int}, lambda: {"a": 1, "b" * 5_000_000: 2}, (False, "extra_forbidden")),
    ("lone-surrogate-str", Literal["a"], lambda: "\ud800", (False, "literal_error")),
    ("eq-raises-value-error", CONSTANT, lambda: Eq(ValueError("no")), (False, "literal_error")),
    ("eq-raises-keyboard-interrupt", CONSTANT, lambda: Eq(KeyboardInterrupt()), KeyboardInterrupt),
    ("eq-raises-under-complement", complement(CONSTANT), lambda: Eq(KeyboardInterrupt()), KeyboardInterrupt),
    ("eq-answers-raising-truth", CONSTANT, lambda: Eq(result=RaisingTruth()), KeyboardInterrupt),
    ("eq-raises-in-union", union(CONSTANT, Literal[1, "a"]), lambda: Eq(SystemExit(2)), SystemExit),
    ("len-and-iter-lie", list[int], lambda: LyingList([1, 2]), True),
    ("len-lies-to-max-length", Annotated[list, Marker(max_length=3)], lambda: LyingList([1, 2]), True),
    ("hash-lies-on-key", {"a": int}, lambda: {LyingKey("a"): 1}, (False, "missing_key")),
    ("str-subclass-key-counts", {"a": int}, lambda: {EqualKey("a"): 1}, True),
    ("getattr-raises-value-error", Point, lambda: PointWithoutX(ValueError()), (False, "missing_attribute")),
    ("getattr-raises-keyboard-interrupt", Point, lambda: PointWithoutX(KeyboardInterrupt()), KeyboardInterrupt),
    ("getattr-raises-not-an-instance", Point, lambda: RaisingGetattr(KeyboardInterrupt()), (False, "instance_type")),
    ("instancecheck-raises-value-error", ChecksVE, lambda: 1, (False, "instance_type")),
    ("instancecheck-raises-keyboard-interrupt", ChecksKI, lambda: 1, KeyboardInterrupt),
    ("repr-raises-in-message", int, lambda: RaisingRepr(ValueError()), (False, "int_type")),
    ("predicate-value-error", list[Annotated[int, raising(ValueError)]], lambda: [1], (False, "predicate_error")),
    ("predicate-keyboard-interrupt", list[Annotated[int, raising(KeyboardInterrupt)]], lambda: [1],
     KeyboardInterrupt),
    ("predicate-system-exit", {"a": Annotated[int, raising(SystemExit)]}, lambda: {"a": 1}, SystemExit),
    ("predicate-memory-error", dict[str, Annotated[int, raising(MemoryError)]], lambda: {"a": 1}, MemoryError),
    ("predicate-recursion-error", union(str, Annotated[int, raising(RecursionError)]), lambda: 1, RecursionError),
    ("predicate-fatal-under-complement", complement(Annotated[int, raising(KeyboardInterrupt)]), lambda: 1,
     KeyboardInterrupt),
    ("predicate-fatal-in-intersection", intersection(int, Annotated[int, raising(KeyboardInterrupt)]), lambda: 1,
     KeyboardInterrupt),
    ("predicate-fatal-in-set", set[Annotated[int, raising(KeyboardInterrupt)]], lambda: {1, 2}, KeyboardInterrupt),
]


@pytest.mark.parametrize("schema, make_value, outcome", [c[1:] for c in VALUE_CASES], ids=[c[0] for c in VALUE_CASES])
def test_hostile_values(schema, make_value, outcome):
    v = Validator(schema)
    value = make_value()
    if isinstance(outcome, type):
        for call in (v.is_valid, v.validate, v.ensure, lambda x: x in v, lambda x: v.validate(x, fail_fast=True)):
            with pytest.raises(outcome):
                call(value)
        return
    verdict, code = outcome if isinstance(outcome, tuple) else (outcome, None)
    assert v.is_valid(value) is verdict
    assert (value in v) is verdict
    if verdict:
        assert v.validate(value) is None
        assert v.ensure(value) is value
        return
    for fail_fast in (False, True):
        with pytest.raises(ValidationError) as info:
            v.validate(value, fail_fast=fail_fast)
        err = info.value
        assert err.code == code
        assert isinstance(str(err), str) and err.message in str(err)
        assert all(isinstance(e["value"], str) for e in err.errors)


def test_a_fatal_exception_leaves_the_validator_working():
    calls = []

    def flaky(value):
        calls.append(value)
        if len(calls) == 1:
            raise KeyboardInterrupt
        return True

    v = Validator(list[Annotated[int, flaky]])
    with pytest.raises(KeyboardInterrupt):
        v.validate([1, 2])
    assert v.is_valid([1, 2]) is True
    assert v.ensure([3]) == [3]
    with pytest.raises(ValidationError):
        v.validate(["x"])


# --- hostile specs ----------------------------------------------------------


class RaisingMarker:
    def __init__(self, exc):
        self.exc = exc

    @property
    def ge(self):
        raise self.exc


class FakeAnnotated:
    """Looks like Annotated to duck typing, and raises when read."""

    __origin__ = int

    @property
    def __metadata__(self):
        raise ZeroDivisionError


class Recursive:
    """A dataclass whose field names itself: it never bottoms out."""


Recursive.__annotations__ = {"child": "list[Recursive]"}
Recursive = dataclasses.dataclass(Recursive)


class SelfGroup:
    """Grouped metadata that contains itself."""

    __is_annotated_types_grouped_metadata__ = True

    def __iter__(self):
        yield self


class EndlessGroup:
    """Grouped metadata that never ends."""

    __is_annotated_types_grouped_metadata__ = True

    def __iter__(self):
        while True:
            yield Marker(ge=0)

SPEC_CASES = [
    ("spec-nested-10000", lambda: Validator(nested_specs(10_000, int)), NotImplementedError, "nesting is too deep"),
    ("validator-nested-past-128", lambda: Validator(nested_specs(100, Validator(nested_specs(100, int)))), ValueError,
     "past the limit of 128"),
    ("self-referencing-dataclass", lambda: Validator(Recursive), NotImplementedError, "recursive(...)"),
    ("recursive-not-contractive", lambda: recursive(lambda x: x), ValueError, "not contractive"),
    ("recursive-builder-raises", lambda: recursive(lambda x: 1 / 0), ZeroDivisionError, ""),
    ("recursive-builder-interrupted", lambda: recursive(lambda x: RaisingMarker(KeyboardInterrupt()).ge),
     KeyboardInterrupt, ""),
    ("marker-raises", lambda: Validator(Annotated[int, RaisingMarker(ZeroDivisionError())]), ZeroDivisionError, ""),
    ("marker-interrupted", lambda: Validator(Annotated[int, RaisingMarker(KeyboardInterrupt())]), KeyboardInterrupt,
     ""),
    ("metadata-raises", lambda: Validator(FakeAnnotated()), ZeroDivisionError, ""),
    ("group-contains-itself", lambda: Validator(Annotated[int, SelfGroup()]), ValueError, "nested too deeply"),
    ("group-never-ends", lambda: Validator(Annotated[int, EndlessGroup()]), ValueError, "yields more than 100000"),
    ("nan-bound", lambda: Validator(Annotated[float, Marker(ge=float("nan"))]), ValueError, "cannot be nan"),
    ("pattern-past-the-engine", lambda: Validator(Annotated[str, Marker(pattern="(" * 10_000)]), ValueError,
     "invalid regular expression"),
    ("too-many-definitions", lambda: union(*[recursive(lambda x, i=i: Union[list[x], Literal[i]]) for i in range(200)]),
     ValueError, "too many recursive definitions"),
    ("union-past-node-bound", lambda: Validator(Literal[tuple(range(200_000))]), ValueError, "past the limit of 100000"),
]


@pytest.mark.parametrize("build, exc, fragment", [c[1:] for c in SPEC_CASES], ids=[c[0] for c in SPEC_CASES])
def test_hostile_specs(build, exc, fragment):
    with pytest.raises(exc) as info:
        build()
    assert fragment in str(info.value)


def test_an_interrupted_build_leaves_the_builder_state_clean():
    """Nesting counters, the alias stack and the placeholder stack are
    per-thread: an exception thrown from deep inside a build must unwind
    them, or the next build on this thread would fail at a lower depth."""
    deep_bad = nested_specs(120, Annotated[int, RaisingMarker(KeyboardInterrupt())])
    for _ in range(20):
        with pytest.raises(KeyboardInterrupt):
            Validator(deep_bad)
        with pytest.raises(KeyboardInterrupt):
            recursive(lambda x: union(list[x], deep_bad))
    assert Validator(nested_specs(127, int)).is_valid(nested_lists(126, [1]))
    assert recursive(lambda x: list[x]).is_valid([[], [[]]])


# --- JSON -------------------------------------------------------------------

JSON_CASES = [
    ("deep-arrays", "[" * 100_000 + "]" * 100_000),
    ("unclosed-deep", "[" * 100_000),
    ("deep-objects", '{"a":' * 5_000 + "1" + "}" * 5_000),
    ("huge-int-digits", "9" * 100_000),
    ("huge-exponent", "1e999999999999999999999"),
    ("lone-surrogate", '"\\ud800"'),
    ("nan", "NaN"),
    ("invalid-utf8", b'"\xff\xfe"'),
    ("nul-inside", '"a\x00b"'),
    ("trailing", "[1] x"),
]


@pytest.mark.parametrize("doc", [c[1] for c in JSON_CASES], ids=[c[0] for c in JSON_CASES])
def test_hostile_json_is_refused(doc):
    for v in (tessaron.anything, JSON):
        assert v.is_valid_json(doc) is False
        for call in (v.validate_json, v.load):
            with pytest.raises(ValidationError) as info:
                call(doc)
            assert info.value.code == "json_invalid"


def test_huge_json_string_is_read():
    doc = '["' + "a" * 5_000_000 + '"]'
    assert Validator(list[Annotated[str, Marker(pattern="a+")]]).is_valid_json(doc)
    assert len(tessaron.anything.load(doc)[0]) == 5_000_000


# --- containers changed while they are checked ----------------------------------


def test_containers_changed_by_a_callback():
    items = [1, 2, 3, 4]
    table = {"a": 1, "b": 2}
    members = {1, 2, 3}
    outer = [[1, 2], [3, 4]]

    def clear_items(_):
        items.clear()
        return True

    def grow_table(_):
        table.update((f"k{i}", i) for i in range(100))
        return True

    def grow_members(_):
        members.update(range(10, 100))
        return True

    def drop_outer(_):
        outer.clear()
        return True

    cases = [
        (list[Annotated[int, clear_items]], items),
        (dict[str, Annotated[int, grow_table]], table),
        (set[Annotated[int, grow_members]], members),
        (list[list[Annotated[int, drop_outer]]], outer),
    ]
    for schema, value in cases:
        with pytest.raises(ValidationError) as info:
            Validator(schema).validate(value)
        assert info.value.code == "mutated_during_validation"


@pytest.mark.parametrize(
    "schema",
    [
        lambda check: dict[str, Annotated[int, check]],
        lambda check: {"a": Annotated[int, check], "b": int, str: int},
        lambda check: {"a": Annotated[int, check], "b": int, "c": int},
    ],
    ids=["dict", "record-with-clause", "record"],
)
def test_a_predicate_that_removes_a_key_of_the_dict_being_read(schema):
    # The dict is read item by item with the predicate running in between.
    # A removal is seen; a key swapped for another (the size unchanged) may
    # go unseen, but no key is ever read after it is gone.
    for swap in (False, True):
        value = {}

        def drop(_):
            value.pop("c", None)
            if swap:
                value["d"] = 4
            return True

        v = Validator(schema(drop))
        value.update(a=1, b=2, c=3)
        verdict = v.is_valid(value)
        value.clear()
        value.update(a=1, b=2, c=3)
        try:
            v.validate(value)
        except ValidationError as err:
            assert err.code in {"mutated_during_validation", "missing_key", "extra_forbidden"}
            assert verdict is False
        else:
            assert swap and verdict is True


def test_a_predicate_that_reads_the_same_dict_again():
    # A nested read of the dict being read (here a second validation from
    # inside a predicate) leaves the outer read where it was: the bad item
    # after it is still met.
    inner = Validator(dict[str, object])
    value = {}

    def again(_):
        return inner.is_valid(value)

    v = Validator(dict[str, Annotated[int, again]])
    value.update({"a": 1, "b": 2, "c": "not an int"})
    assert v.is_valid(value) is False
    with pytest.raises(ValidationError) as info:
        v.validate(value)
    assert info.value.path == ("c",)


def test_containers_changed_by_another_thread():
    """A writer thread reshapes a list, a dict and a set while this thread
    validates them; Python predicates let the interpreter switch threads in
    the middle of a walk.  Every answer is a verdict or a ValidationError."""

    def slow(value):
        return sum(range(10)) >= 0

    shared = {"list": list(range(100)), "dict": {f"k{i}": i for i in range(100)}, "set": set(range(100))}
    checks = [
        (Validator(list[Annotated[int, slow]]), shared["list"]),
        (Validator(dict[str, Annotated[int, slow]]), shared["dict"]),
        (Validator(set[Annotated[int, slow]]), shared["set"]),
        (Validator(JSON), shared["list"]),
    ]
    stop = threading.Event()

    def writer():
        i = 0
        lst, dct, st = shared["list"], shared["dict"], shared["set"]
        while not stop.is_set():
            lst.append(i)
            lst.pop(0)
            if i % 7 == 0:
                lst[:] = range(i % 150)
            dct[f"x{i % 50}"] = i
            dct.pop(f"x{(i + 25) % 50}", None)
            st.add(1000 + i % 50)
            st.discard(1000 + (i + 25) % 50)
            i += 1

    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    thread = threading.Thread(target=writer, daemon=True)
    thread.start()
    codes = set()
    try:
        deadline = time.monotonic() + 1.5
        while time.monotonic() < deadline:
            for v, value in checks:
                assert v.is_valid(value) in (True, False)
                try:
                    v.validate(value)
                except ValidationError as err:
                    codes.add(err.code)
    finally:
        stop.set()
        thread.join()
        sys.setswitchinterval(old)
    assert codes <= {"mutated_during_validation"}
