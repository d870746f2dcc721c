"""Set decisions about lists, tuples, sets and frozen sets: item counts,
fixed and variadic tuples, literal items, subclass instances of the
containers, and set elements that Python holds equal across kinds.  Every
refutation is checked against a witness, every proof against a pool of
values.

Sets hold no two equal elements, and ``True == 1 == 1.0`` and
``(1,) == (True,)``: so no set is a member of ``set[Literal[True, 1]]``
without being one of ``set[Literal[True]] | set[Literal[1]]``, and such
questions must never be refuted.
"""

from typing import Annotated, Literal, NamedTuple, Union

import pytest

from interpreter import UNPACKING, needs
from tessaron import Validator, complement, intersection, union


class MinLen:
    def __init__(self, min_length):
        self.min_length = min_length


class MaxLen:
    def __init__(self, max_length):
        self.max_length = max_length


class MyList(list):
    pass


class HashableList(list):
    __hash__ = object.__hash__


class MyStr(str):
    pass


class Point(NamedTuple):
    x: int
    y: int


SHORT_INT_TUPLES = union(tuple[()], tuple[int], tuple[int, int])
INT_OR_STR = Union[int, str]

# Values the proofs are checked on: every value of a left side that is
# among them must be a member of the right side.
POOL = [
    (), (1,), (1, 2), (1, 2, 3), ("a",), (1, "a"), ("a", 1), ("a", "a"), (True, 1), Point(1, 2),
    [], [1], [2], [3], [1, 2], [True], [1, "a"], ["a", "b"], [[1]], [[1, 2]], [["a"]], MyList([1]),
    set(), {1}, {2}, {True}, {"a"}, {"b"}, {True, "a"}, {1.0}, {HashableList([1])}, {(1,)},
    frozenset(), frozenset({1}), frozenset({True}), frozenset({2}), frozenset({1.0}), frozenset({MyStr("a")}),
    1, "a", None,
]

# (name, left, right, answer, a member of left outside right for "not_subset")
CASES = [
    ("int tuples of at most two items within the fixed ones", Annotated[tuple[int, ...], MaxLen(2)],
     SHORT_INT_TUPLES, "subset", None),
    ("int tuples within the fixed ones of at most two items", tuple[int, ...], SHORT_INT_TUPLES, "not_subset",
     (1, 2, 3)),
    ("the fixed int tuples within int tuples of at most two", SHORT_INT_TUPLES,
     Annotated[tuple[int, ...], MaxLen(2)], "subset", None),
    ("int tuples within the empty one and the non-empty ones", tuple[int, ...],
     union(tuple[()], Annotated[tuple[int, ...], MinLen(1)]), "subset", None),
    ("list[Literal[1, 2]] within list[int]", list[Literal[1, 2]], list[int], "subset", None),
    ("list[int] within list[Literal[1, 2]]", list[int], list[Literal[1, 2]], "not_subset", [3]),
    ("nested lists of literals within nested lists of int", list[list[Literal[1]]], list[list[int]], "subset", None),
    ("frozenset[bool] within frozenset[int]", frozenset[bool], frozenset[int], "subset", None),
    ("frozenset[int] within frozenset[bool]", frozenset[int], frozenset[bool], "not_subset", frozenset({2})),
    ("a set is no frozen set", set[int], frozenset[int], "not_subset", set()),
    ("frozensets of 1.0 within frozensets of float", frozenset[Literal[1.0]], frozenset[float], "subset", None),
    ("sets of str within sets of 'a'", set[str], set[Literal["a"]], "not_subset", {"b"}),
    ("pairs of int or str within the two mixed pairs", tuple[INT_OR_STR, INT_OR_STR],
     union(tuple[int, str], tuple[str, int]), "not_subset", (1, 1)),
    ("pairs of int or str within the four pairs", tuple[INT_OR_STR, INT_OR_STR],
     union(tuple[int, str], tuple[str, int], tuple[int, int], tuple[str, str]), "subset", None),
    ("a fixed list within a homogeneous one", [int, str], list[INT_OR_STR], "subset", None),
    ("a homogeneous list within a fixed one", list[INT_OR_STR], [int, str], "not_subset", []),
    ("lists of at most no item within the empty list", Annotated[list[int], MaxLen(0)], [], "subset", None),
    ("non-empty int lists outside the empty list", Annotated[list[int], MinLen(1)], complement([]), "subset", None),
    ("a named tuple within the tuple of its fields", Point, tuple[int, int], "subset", None),
    ("the tuple of its fields within a named tuple", tuple[int, int], Point, "not_subset", (1, 2)),
    ("a list subclass instance is a list", list[int], intersection(list[int], complement(MyList)), "not_subset",
     MyList([1])),
    # True and "a" are two elements: a set may hold both.
    ("sets of True and 'a' within sets of either", set[Literal[True, "a"]],
     union(set[Literal[True]], set[Literal["a"]]), "not_subset", {True, "a"}),
    # A list subclass with a hash is a list and can be a set element.
    ("a hashable list subclass instance as a set element", set[Union[int, list[int]]], set[int], "not_subset",
     {HashableList([1])}),
    # A list literal's trailing `...` repeats the item before it.
    ("an int then strs within the non-empty lists", [int, str, ...], Annotated[list[INT_OR_STR], MinLen(1)],
     "subset", None),
    ("the non-empty lists within an int then strs", Annotated[list[INT_OR_STR], MinLen(1)], [int, str, ...],
     "not_subset", ["a"]),
]


def check(left, right, answer, witness):
    v, w = Validator(left), Validator(right)
    assert v.relation_to(w) == answer
    assert v.is_subtype_of(w) == (answer == "subset")
    if witness is not None:
        assert v.is_valid(witness) and not w.is_valid(witness)
    if answer == "subset":
        assert [x for x in POOL if v.is_valid(x) and not w.is_valid(x)] == []


@pytest.mark.parametrize("name, left, right, answer, witness", CASES, ids=[c[0] for c in CASES])
def test_container_questions(name, left, right, answer, witness):
    check(left, right, answer, witness)


@needs(UNPACKING)
def test_an_unpacked_tuple_is_its_items():
    unpacked = eval("tuple[int, *tuple[str, ...]]")
    non_empty = Annotated[tuple[INT_OR_STR, ...], MinLen(1)]
    check(unpacked, non_empty, "subset", None)
    check(non_empty, unpacked, "not_subset", ("a",))
    check(unpacked, union(tuple[int], tuple[int, str, ...]), "subset", None)


# The truth of each is "subset": no set holds two elements that are equal.
NEVER_REFUTED = [
    ("True and 1", set[Literal[True, 1]], union(set[Literal[True]], set[Literal[1]])),
    ("True and 1.0", frozenset[Literal[True, 1.0]], union(frozenset[Literal[True]], frozenset[Literal[1.0]])),
    ("1 and 1.0 and True", set[Literal[1, 1.0, True]],
     union(set[Literal[1]], set[Literal[1.0]], set[Literal[True]])),
    ("(1,) and (True,)", set[Union[tuple[Literal[1]], tuple[Literal[True]]]],
     union(set[tuple[Literal[1]]], set[tuple[Literal[True]]])),
]


@pytest.mark.parametrize("name, left, right", NEVER_REFUTED, ids=[c[0] for c in NEVER_REFUTED])
def test_sets_of_elements_python_holds_equal_are_never_refuted(name, left, right):
    v, w = Validator(left), Validator(right)
    assert v.relation_to(w) != "not_subset"
    members = [s for s in ({True}, {1}, {1.0}, {(1,)}, {(True,)}, {True, 1}, {1, 1.0}, frozenset({True}),
                           frozenset({1.0}), set(), frozenset()) if v.is_valid(s)]
    assert members and all(w.is_valid(s) for s in members)


@pytest.mark.parametrize("schema, empty", [
    (intersection(tuple[int, str], tuple[str, int]), True),
    (Annotated[list[int], MinLen(2), MaxLen(1)], True),
    (tuple[int, intersection(int, str)], True),
    (intersection(list[int], list[str]), False),  # []
    (intersection(set[int], set[str]), False),  # set()
    (set[intersection(int, str)], False),  # set()
])
def test_container_emptiness(schema, empty):
    assert Validator(schema).is_empty() is empty


def test_item_counts_are_equivalent_to_their_fixed_forms():
    assert Validator(Annotated[list[int], MaxLen(0)]).is_equivalent([])
    assert Validator(Annotated[tuple[int, ...], MaxLen(2)]).is_equivalent(SHORT_INT_TUPLES)
    assert not Validator(Annotated[tuple[int, ...], MaxLen(3)]).is_equivalent(SHORT_INT_TUPLES)
