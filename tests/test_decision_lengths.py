"""Decisions between length bounds of texts, lists and tuples.

A str length bound is an exact set of texts up to 584 code points (its
minimal automaton has 7n + 2 states, within the 4096-state cap), so it
meets patterns; two length bounds with no pattern are compared by their
numbers, whatever their size, up to sys.maxsize, the greatest length any
value has.  List and tuple bounds of thousands of items decide within the
work budget.  Every "not_subset" is checked against a
value of the left side outside the right one.
"""

import sys
from typing import Annotated, Union

import pytest

from tessaron import Validator, intersection, union


class MinLen:
    def __init__(self, min_length):
        self.min_length = min_length


class MaxLen:
    def __init__(self, max_length):
        self.max_length = max_length


class Pattern:
    def __init__(self, pattern):
        self.pattern = pattern


def text(*constraints, base=str):
    return Annotated[(base, *constraints)]


def ints(kind, *constraints):
    return Annotated[(kind[int, ...] if kind is tuple else kind[int], *constraints)]


BIG = 10**6

# (name, left, right, answer, witness of a "not_subset": a left value outside the right)
CASES = [
    # Texts of at most a few hundred code points meet patterns.
    ("one letter within 300 code points", text(Pattern("b")), text(MaxLen(300)), "subset", None),
    ("300 letters within 300 code points", text(Pattern("b{300}")), text(MaxLen(300)), "subset", None),
    ("301 letters exceed 300 code points", text(Pattern("b{301}")), text(MaxLen(300)), "not_subset", "b" * 301),
    ("names of 1 to 255 letters within 255", text(Pattern("[a-z]{1,255}")), text(MaxLen(255)), "subset", None),
    ("names of 1 to 256 letters exceed 255", text(Pattern("[a-z]{1,256}")), text(MaxLen(255)), "not_subset",
     "a" * 256),
    ("letters up to 584 within 584 code points", text(Pattern("[a-z]*"), MaxLen(584)), text(MaxLen(584)), "subset",
     None),
    ("letters up to 584 exceed 583 code points", text(Pattern("[a-z]*"), MaxLen(584)), text(MaxLen(583)),
     "not_subset", "a" * 584),
    ("four-byte code points are counted once", text(Pattern("\U0001F600{584}")), text(MaxLen(584), MinLen(584)),
     "subset", None),
    ("at least 300 letters within at least 299", text(Pattern("[ab]*"), MinLen(300)), text(MinLen(299)), "subset",
     None),
    ("at least 299 letters are not all at least 300", text(Pattern("[ab]*"), MinLen(299)), text(MinLen(300)),
     "not_subset", "a" * 299),
    ("a pattern of up to 250 code points within 300", text(Pattern("(?s).{0,250}")), text(MaxLen(300)), "subset",
     None),
    ("260 code points exceed a pattern of up to 250", text(MaxLen(260)), text(Pattern("(?s).{0,250}")),
     "not_subset", "a" * 251),
    ("a lone surrogate is counted but never matched", text(MaxLen(250)), text(Pattern("(?s).{0,250}")),
     "not_subset", "\ud800"),
    ("a pattern between a range of str lengths", text(Pattern("[a-z]*"), MinLen(300), MaxLen(584)),
     text(MinLen(299)), "subset", None),
    ("a pattern below a range of str lengths", text(Pattern("[a-z]*"), MinLen(299)),
     text(MinLen(300), MaxLen(584)), "not_subset", "a" * 299),
    ("bounds on both sides of a pattern make one range", text(MinLen(300), Pattern("[a-z]*"), MaxLen(584)),
     text(MinLen(299)), "subset", None),
    ("bounds on both sides of a pattern, below a range", text(MinLen(299), Pattern("[a-z]*"), MaxLen(584)),
     text(MinLen(300), MaxLen(584)), "not_subset", "a" * 299),
    ("crossed bounds beside a pattern admit nothing", text(Pattern("a*"), MinLen(5000), MaxLen(10)), text(MaxLen(0)),
     "subset", None),
    ("a pattern between two bounds", text(Pattern("x+"), MinLen(100), MaxLen(400)),
     text(MinLen(50), MaxLen(500)), "subset", None),
    ("bytes bounds as automata", text(MaxLen(4000), base=bytes), Union[text(MaxLen(3000), base=bytes), str],
     "not_subset", b"a" * 4000),
    # Length bounds alone, whatever their size.
    ("at most a million within at most ten million", text(MaxLen(BIG)), text(MaxLen(10 * BIG)), "subset", None),
    ("at most ten million exceed a million", text(MaxLen(10 * BIG)), text(MaxLen(BIG)), "not_subset",
     "a" * (BIG + 1)),
    ("at least a million within at least ten", text(MinLen(BIG)), text(MinLen(10)), "subset", None),
    ("at least ten are not all at least a million", text(MinLen(10)), text(MinLen(BIG)), "not_subset", "a" * 10),
    ("every str is not within a million", str, text(MaxLen(BIG)), "not_subset", "a" * (BIG + 1)),
    ("a range wider than the right one", text(MinLen(BIG), MaxLen(2 * BIG)), text(MaxLen(BIG)), "not_subset",
     "a" * (BIG + 1)),
    ("a range inside the right one", text(MinLen(BIG), MaxLen(2 * BIG)), text(MinLen(BIG - 1), MaxLen(3 * BIG)),
     "subset", None),
    ("no text between crossed bounds", text(MinLen(10 * BIG), MaxLen(BIG)), text(MaxLen(5)), "subset", None),
    ("bytes lengths of any size", text(MaxLen(10 * BIG), base=bytes), text(MaxLen(BIG), base=bytes), "not_subset",
     b"a" * (BIG + 1)),
    ("bytes lengths beyond the cap", text(MinLen(5000), base=bytes), text(MinLen(6000), base=bytes), "not_subset",
     b"a" * 5000),
    # Lists and tuples by their item counts.
    ("one int within at most 191", tuple[int], ints(tuple, MaxLen(191)), "subset", None),
    ("one int within at most 1000", tuple[int], ints(tuple, MaxLen(1000)), "subset", None),
    ("one int within at most 3000", tuple[int], ints(tuple, MaxLen(3000)), "subset", None),
    ("an int and a str within at most 1000 of either", tuple[int, str],
     Annotated[tuple[Union[int, str], ...], MaxLen(1000)], "subset", None),
    ("an int and a str are not at least 1000 items", tuple[int, str],
     Annotated[tuple[Union[int, str], ...], MinLen(1000)], "not_subset", (1, "a")),
    ("every int list is not at most 1000 items", list[int], ints(list, MaxLen(1000)), "not_subset", [0] * 1001),
    ("1001 items exceed 1000", ints(list, MaxLen(1001)), ints(list, MaxLen(1000)), "not_subset", [0] * 1001),
    ("1000 items are fewer than 1001", ints(list, MinLen(1000)), ints(list, MinLen(1001)), "not_subset",
     [0] * 1000),
    ("at least 1000 are not at most 2000", ints(list, MinLen(1000)), ints(list, MaxLen(2000)), "not_subset",
     [0] * 2001),
    ("bools up to 1000 within ints up to 1000", Annotated[list[bool], MaxLen(1000)], ints(list, MaxLen(1000)),
     "subset", None),
    ("ints up to 1000 are not all bools", ints(list, MaxLen(1000)), Annotated[list[bool], MaxLen(1000)],
     "not_subset", [2]),
    ("tuples of 1000 to 3000 ints within at least 999", ints(tuple, MinLen(1000), MaxLen(3000)),
     Union[ints(tuple, MinLen(999)), str], "subset", None),
    ("tuples of at least 1000 ints exceed 2000", ints(tuple, MinLen(1000)),
     Union[ints(tuple, MinLen(999), MaxLen(2000)), str], "not_subset", (0,) * 2001),
    ("tuples below a range of 999 to 2000", ints(tuple, MinLen(999), MaxLen(2000)),
     Union[ints(tuple, MinLen(1000)), str], "not_subset", (0,) * 999),
    ("a range of 1000 to 3000 list items within at most 3000", ints(list, MinLen(1000), MaxLen(3000)),
     Union[ints(list, MaxLen(3000)), str], "subset", None),
]


@pytest.mark.parametrize("name, left, right, answer, witness", CASES, ids=[c[0] for c in CASES])
def test_length_questions_decide(name, left, right, answer, witness):
    assert Validator(left).relation_to(right) == answer
    if answer == "not_subset":
        assert Validator(left).is_valid(witness)
        assert not Validator(right).is_valid(witness)


# No str, bytes, list or tuple is longer than sys.maxsize: a least length
# above it admits no value, and a greatest length at or above it admits
# every one.  Up to sys.maxsize itself lengths are taken as reachable.
HUGE = [sys.maxsize + 1, 2**64 - 1]
KINDS = {"str": str, "bytes": bytes, "list": list[int], "tuple": tuple[int, ...]}
HUGE_CASES = [
    (f"{name}: at least {n} items admit nothing", Annotated[kind, MinLen(n)], Annotated[kind, MaxLen(5)], "subset")
    for name, kind in KINDS.items() for n in HUGE
] + [
    (f"{name}: at least {n} items within the empty set", Annotated[kind, MinLen(n)], union(), "subset")
    for name, kind in KINDS.items() for n in HUGE
] + [
    (f"{name}: every one within at most {n} items", kind, Annotated[kind, MaxLen(n)], "subset")
    for name, kind in KINDS.items() for n in [sys.maxsize] + HUGE
] + [
    (f"{name}: at most {n} items within at most {n - 1}", Annotated[kind, MaxLen(n)], Annotated[kind, MaxLen(n - 1)],
     "subset")
    for name, kind in KINDS.items() for n in HUGE
]


@pytest.mark.parametrize("name, left, right, answer", HUGE_CASES, ids=[c[0] for c in HUGE_CASES])
def test_no_length_above_maxsize_is_reachable(name, left, right, answer):
    assert Validator(left).relation_to(right) == answer


@pytest.mark.parametrize("kind", KINDS.values(), ids=list(KINDS))
@pytest.mark.parametrize("n", HUGE)
def test_a_least_length_above_maxsize_is_empty(kind, n):
    assert Validator(Annotated[kind, MinLen(n)]).is_empty()
    assert intersection(kind, Annotated[kind, MinLen(n)]).is_empty()


@pytest.mark.parametrize("kind", KINDS.values(), ids=list(KINDS))
def test_a_length_of_maxsize_itself_is_not_ruled_out(kind):
    # The ceiling is sys.maxsize, not one below it.
    assert not Validator(Annotated[kind, MinLen(sys.maxsize)]).is_empty()
    assert Validator(Annotated[kind, MinLen(sys.maxsize)]).relation_to(Annotated[kind, MaxLen(5)]) != "subset"
    assert Validator(Annotated[kind, MaxLen(sys.maxsize)]).relation_to(Annotated[kind, MaxLen(sys.maxsize - 1)]) \
        != "subset"
