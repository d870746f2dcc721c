"""Membership of sequences, sets, mappings and objects, and how their
failures are reported (paths, codes, the union report, mutation)."""

import dataclasses
import itertools
import typing
from typing import Annotated

import annotated_types
import pytest

from tessaron import ValidationError, Validator

from interpreter import cpython_only


def errors(v, value, **kwargs):
    """The failures of `value` as (path, code, expected, value) tuples; the
    verdict-only entry must agree that it is no member."""
    assert v.is_valid(value) is False
    with pytest.raises(ValidationError) as info:
        v.validate(value, **kwargs)
    return [(e["path"], e["code"], e["expected"], e["value"]) for e in info.value.errors]


def member(v, value):
    answer = v.is_valid(value)
    try:
        v.validate(value)
        assert answer is True
    except ValidationError:
        assert answer is False
    return answer


# --- sequences ---------------------------------------------------------------


SNEAKY_TUPLE = cpython_only("its C-API layer sizes a tuple subclass by its own __len__ and fails before the module sees it")


class SneakyTuple(tuple):
    def __len__(self):
        return 0


class SneakyList(list):
    def __iter__(self):
        return iter([1, 2, 3])

    def __getitem__(self, i):
        raise RuntimeError("not called")


@pytest.mark.parametrize(
    "spec, value, expected",
    [
        (list[int], [1, 2, True], True),
        (list[int], (1, 2), False),
        (list[int], [1, "x"], False),
        (tuple[int, ...], (1, 2), True),
        (tuple[int, ...], [1, 2], False),
        (tuple[int, str], (1, "a"), True),
        (tuple[int, str], (1, "a", 2), False),
        # its real items, not its __len__
        pytest.param(tuple[int, str], SneakyTuple((1, "a")), True, marks=SNEAKY_TUPLE),
        pytest.param(tuple[int], SneakyTuple((1, "a")), False, marks=SNEAKY_TUPLE),
        (list[int], SneakyList(["x"]), False),  # read from storage, not through __iter__
        (list[int], [], True),
    ],
)
def test_sequence_membership(spec, value, expected):
    assert member(Validator(spec), value) is expected


def test_sequence_failures():
    v = Validator(list[int])
    assert errors(v, ["a", 1, "b"]) == [((0,), "int_type", "int", "'a'"), ((2,), "int_type", "int", "'b'")]
    assert errors(v, ["a", 1, "b"], fail_fast=True) == [((0,), "int_type", "int", "'a'")]
    assert errors(v, (1,)) == [((), "list_type", "list", "(1,)")]
    fixed = Validator(tuple[int, str])
    assert errors(fixed, (1, "a", 2)) == [((), "tuple_length", "tuple of length 2", "(1, 'a', 2)")]
    assert errors(fixed, [1, "a"]) == [((), "tuple_type", "tuple", "[1, 'a']")]


def test_length_with_a_tail():
    v = Validator([int, str, ...])  # one int, then any number of str
    assert member(v, [1, "a", "b", "c"]) is True
    assert member(v, [1]) is True
    assert errors(v, []) == [((), "list_length", "list of length at least 1", "[]")]
    assert errors(v, [1, "a", 2]) == [((2,), "string_type", "str", "2")]


@pytest.mark.parametrize("size", [15, 16, 1000])
def test_homogeneous_scalar_lists_in_every_size(size):
    v = Validator(list[int])
    assert v.is_valid(list(range(size))) is True
    assert v.is_valid(list(range(size - 1)) + ["x"]) is False
    assert v.is_valid(["x"] + list(range(size - 1))) is False


class GrowMeta(type):
    """Its class check appends to `target`, a container under validation."""

    target = None

    def __instancecheck__(cls, obj):
        if GrowMeta.target is not None:
            GrowMeta.target.append(0)
        return True


class Grows(metaclass=GrowMeta):
    pass


def test_a_list_changed_during_the_walk_is_reported():
    v = Validator(list[Grows])
    try:
        GrowMeta.target = value = [1, 2]
        assert v.is_valid(value) is False
        GrowMeta.target = value = [1, 2]
        with pytest.raises(ValidationError) as info:
            v.validate(value)
    finally:
        GrowMeta.target = None
    assert info.value.code == "mutated_during_validation"
    assert info.value.expected == "a value that does not change while it is checked"


# --- sets --------------------------------------------------------------------


class RaisingIterSet(set):
    def __iter__(self):
        raise RuntimeError("not called")


def test_sets():
    v = Validator(set[int])
    assert member(v, {1, 2}) is True
    assert member(v, RaisingIterSet({1, 2})) is True  # iterated through set.__iter__
    assert member(v, frozenset({1})) is False
    assert errors(v, frozenset({1})) == [((), "set_type", "set", "frozenset({1})")]
    f = Validator(frozenset[int])
    assert errors(f, {1}) == [((), "frozen_set_type", "frozenset", "{1}")]


def test_set_failures_are_sorted_and_carry_the_sets_path():
    v = Validator(set[str])
    value = {30, 4, 200, 1}
    found = errors(v, value)
    assert found == [((), "string_type", "str", text) for text in ["1", "200", "30", "4"]]
    assert errors(v, value, fail_fast=True) == [((), "string_type", "str", "1")]


class Tag:
    """A value no value order reaches, tied with every other Tag; all Tags
    hash alike, so a set of tuples of them iterates in insertion order."""

    def __init__(self, name):
        self.name = name

    def __repr__(self):
        return f"Tag({self.name})"

    def __hash__(self):
        return 0

    def __eq__(self, other):
        return self is other


NON_NEGATIVE_TUPLES = Validator(frozenset[tuple[Annotated[int, annotated_types.Ge(0)], ...]])
INT_TUPLES = Validator(frozenset[tuple[int, ...]])


@pytest.mark.parametrize(
    "v, items",
    [
        # Every pair fails first on the same text and code: only the values
        # (or, for values no order reaches, the rest of the failures) tell
        # the elements apart.
        (NON_NEGATIVE_TUPLES, [(1, -1), (-1,)]),
        (NON_NEGATIVE_TUPLES, [(5, 6, -1), (-1,), (0, -1)]),
        (INT_TUPLES, [(0, None), (None,), (1, 2, None)]),
        (INT_TUPLES, [(1, (1, "a")), ((1, "a"),)]),
        (INT_TUPLES, [(1, "a"), ("a",), (b"x", "a")]),
        (INT_TUPLES, [(0, frozenset({1})), (frozenset({2}), frozenset({1})), (frozenset({1}),)]),
        # Tied values too: the failures after the first tell them apart.
        (INT_TUPLES, [(Tag("a"), Tag(1)), (Tag("a"), Tag(2)), (Tag("a"), Tag(3))]),
        (INT_TUPLES, [(float("nan"), Tag(1)), (float("nan"), Tag(2))]),
    ],
)
@pytest.mark.parametrize("fail_fast", [True, False])
def test_equal_sets_report_alike_whatever_their_build_order(v, items, fail_fast):
    reports = {tuple(errors(v, frozenset(order), fail_fast=fail_fast)) for order in itertools.permutations(items)}
    assert len(reports) == 1


@pytest.mark.parametrize(
    "v, items, path",
    [
        # The smaller value's failure comes first, wherever in it it lies.
        (NON_NEGATIVE_TUPLES, [(0, 0, -1), (1, -1)], (2,)),
        (NON_NEGATIVE_TUPLES, [(2, -1), (3, 3, 3, -1), (10**30, -1)], (1,)),
        (INT_TUPLES, [("a",), (0, "a")], (1,)),  # an int before a str
        (INT_TUPLES, [(7, None), (None,)], (0,)),  # None before an int
        (INT_TUPLES, [(3, 4, 1.5), (-(10**30), 1.5)], (1,)),
        (INT_TUPLES, [(5, b"x"), (1, 2, b"x")], (2,)),
    ],
)
def test_tied_failures_come_in_the_order_of_the_elements_values(v, items, path):
    for order in itertools.permutations(items):
        assert errors(v, frozenset(order), fail_fast=True)[0][0] == path


# --- unions, intersections and complements over containers -------------------


def test_union_reports_the_deepest_member():
    v = Validator(typing.Union[int, list[int]])
    assert errors(v, [1, "x"]) == [((1,), "int_type", "int", "'x'")]
    summary = errors(Validator(typing.Union[int, str]), 1.5)
    assert summary == [((), "union_error", "one of: int, str", "1.5")]


def test_literal_union_verdicts():
    v = Validator(typing.Literal[1, 2, "a"])
    for value, expected in [(2, True), ("a", True), (True, False), (2.0, False), ("b", False)]:
        assert member(v, value) is expected


def test_complement_of_a_kind():
    from tessaron import complement

    v = complement(Validator(int))
    assert member(v, "x") is True
    assert errors(v, 3) == [((), "unexpected_match", "not int", "3")]


# --- mappings -------------------------------------------------------------------


def test_record_failures():
    v = Validator({"a": int, "b?": str})
    assert member(v, {"a": 1}) is True
    assert member(v, {"a": 1, "b": "x"}) is True
    assert errors(v, {"a": 1, "c": 2}) == [(("c",), "extra_forbidden", "no unexpected key", "'c'")]
    assert errors(v, {}) == [(("a",), "missing_key", "required key a", "missing")]
    assert errors(v, {"a": "x", "b": 1}) == [
        (("a",), "int_type", "int", "'x'"),
        (("b",), "string_type", "str", "1"),
    ]
    assert len(errors(v, {"a": "x", "b": 1}, fail_fast=True)) == 1
    assert errors(v, [1]) == [((), "dict_type", "dict", "[1]")]


def test_dict_failures_name_the_key_or_the_value():
    v = Validator(dict[str, int])
    assert errors(v, {"x": "y"}) == [(("x",), "int_type", "int", "'y'")]
    assert errors(v, {1: 2}) == [((1,), "string_type", "str", "1")]
    ints = Validator(dict[int, str])
    assert errors(ints, {2**70: 1}) == [((2**70,), "string_type", "str", "1")]


class RaisingGetitemDict(dict):
    def __getitem__(self, key):
        raise RuntimeError("not called")


class OddHash(str):
    def __hash__(self):
        return hash(str(self)) + 1

    def __eq__(self, other):
        return str.__eq__(self, other)


def test_dicts_are_read_through_their_storage():
    v = Validator({"a": int})
    assert member(v, RaisingGetitemDict(a=1)) is True
    # A str subclass key equal to a declared name but hashing differently is
    # an undeclared key.
    assert member(v, {"a": 1, OddHash("a"): 1}) is False


class KeyAdder:
    def __init__(self, target):
        self.target = target

    def append(self, _):
        self.target[len(self.target) * 10] = 0


def test_a_dict_changed_during_the_walk_is_not_a_member():
    v = Validator(dict[str, Grows])
    try:
        value = {"a": 1, "b": 2}
        GrowMeta.target = KeyAdder(value)
        assert v.is_valid(value) is False
        value = {"a": 1, "b": 2}
        GrowMeta.target = KeyAdder(value)
        with pytest.raises(ValidationError) as info:
            v.validate(value)
    finally:
        GrowMeta.target = None
    assert "mutated_during_validation" in {e["code"] for e in info.value.errors}


def key_swapper(value):
    """A predicate that, on the second value, replaces the first key (already
    checked) by one whose value fails: the dict keeps its size."""

    def swap(item):
        if item == 2 and "a" in value:
            del value["a"]
            value["z"] = "not an int"
        return True

    return swap


@pytest.mark.parametrize(
    "spec",
    [
        lambda swap: Validator(dict[str, Annotated[int, swap]]),
        # A record that admits any other key (the direct-lookup pass).
        lambda swap: Validator({"b": Annotated[int, swap]}).open(),
    ],
)
@cpython_only("its dicts carry no version, so a change that keeps the size is not seen")
def test_a_key_swapped_for_another_at_the_same_size_is_reported(spec):
    value = {"a": 1, "b": 2}
    assert spec(key_swapper(value)).is_valid(value) is False
    value = {"a": 1, "b": 2}
    with pytest.raises(ValidationError) as info:
        spec(key_swapper(value)).validate(value)
    assert "mutated_during_validation" in {e["code"] for e in info.value.errors}


# --- objects -----------------------------------------------------------------------


@dataclasses.dataclass
class Point:
    x: int
    y: str = "a"


def test_object_attributes():
    v = Validator(Point)
    assert member(v, Point(1, "b")) is True
    found = errors(v, Point("no", "b"))
    assert found and found[0][:2] == (("x",), "int_type")


class BrokenPoint(Point):
    """A Point whose attribute x raises `exc` when read."""

    exc = ValueError("no x")

    @property
    def x(self):
        raise type(self).exc


def test_object_attribute_errors_follow_the_exception_rule():
    v = Validator(Point)
    broken = object.__new__(BrokenPoint)
    broken.y = "b"
    assert errors(v, broken) == [(("x",), "missing_attribute", "attribute x", "missing")]
    BrokenPoint.exc = KeyboardInterrupt()
    try:
        with pytest.raises(KeyboardInterrupt):
            v.is_valid(broken)
        with pytest.raises(KeyboardInterrupt):
            v.validate(broken)
    finally:
        BrokenPoint.exc = ValueError("no x")
