"""Complements in decisions, and one question asked two ways.

A complement costs the descriptor route no level of depth, and two of them
cancel, so a schema that names a complement of a complement decides as the
schema without them.  "Is A & ~B empty?" gets the proof of "is A within
B?", and an equivalence proved from one side is proved from the other: the
answer never depends on which schema is the receiver.

Every "not_subset" below is checked against a value of the left side
outside the right one; every "subset" against values that would refute it.
"""

import random
import sys
from typing import Annotated, Any, Literal, Optional

import pytest

from tessaron import Validator, complement, intersection, nothing, union

sys.path.insert(0, __import__("os").path.dirname(__file__))

import soundness_grammar as g  # noqa: E402

Ge, Le, MultipleOf, MinLen, MaxLen = g.Ge, g.Le, g.MultipleOf, g.MinLen, g.MaxLen

M2 = Annotated[int, MultipleOf(2)]
M4 = Annotated[int, MultipleOf(4)]
# The even ints, written through two complements.
EVEN = intersection(int, complement(intersection(int, complement(M2))))
NON_EMPTY_STR = Annotated[str, MinLen(1)]


def is_truthy(n):
    return bool(n)


TRUTHY = Annotated[int, is_truthy]
UPPER = Annotated[str, str.isupper]
# No value: no int, and only ints are truthy ints.
EMPTY_BY_COMPLEMENTS = complement(union(int, complement(TRUTHY)))
# Dicts of three shapes, one of them a meet of two more.
DICTS = union(
    dict[str, Any], {"b?": bool, int: bool},
    intersection(dict[Literal[None, True], Annotated[g.Level, g.Lt(2)]],
                 union(dict[str, str], {"title": Optional[int], str: Any})))

# Values tried against every table row: a "subset" must hold for each, a
# "not_subset" must be witnessed by one of them.
PROBES = [
    None, True, False, 0, 1, 2, 3, 4, 6, -1, -2, 2.5, "", "a", b"", b"a", [], [0], [2], [""], ["a"], (), (2,),
    (4,), (1,), {2}, {3}, {4}, set(), {}, {"a": 1}, {"b": True}, {1: True}, {"title": 1},
]

# (left, right, answer) with complements of complements: each decided, and
# the same answer from is_empty of left & ~right.
DOUBLE_COMPLEMENTS = [
    ("the odd ints minus the odd ints", intersection(int, complement(M2), complement(intersection(int, complement(M2)))),
     nothing, "subset"),
    ("the odd ints minus the even ints", intersection(int, complement(M2), complement(EVEN)), int, "subset"),
    ("are not nothing", intersection(int, complement(M2), complement(EVEN)), nothing, "not_subset"),
    ("even through two complements within even", EVEN, M2, "subset"),
    ("even within even through two complements", M2, EVEN, "subset"),
    ("even is not within multiples of four", EVEN, M4, "not_subset"),
    ("inside a set", set[EVEN], set[M2], "subset"),
    ("inside a tuple, refuted", tuple[EVEN], tuple[M4], "not_subset"),
    ("a complement of a union of a complement",
     list[complement(union(int, complement(Annotated[int, Ge(0)])))], Annotated[list[Any], MaxLen(0)], "subset"),
    ("non-empty strs through two complements in a list",
     list[intersection(str, complement(intersection(str, complement(NON_EMPTY_STR))))], list[NON_EMPTY_STR],
     "subset"),
    ("the reverse", list[NON_EMPTY_STR],
     list[intersection(str, complement(intersection(str, complement(NON_EMPTY_STR))))], "subset"),
    ("a union through two complements", union(str, complement(union(str, complement(bytes)))), union(str, bytes),
     "subset"),
    ("bool outside three dict shapes", bool, complement(DICTS), "subset"),
    ("a list outside three dict shapes", Annotated[list[Any], MaxLen(2)], complement(DICTS), "subset"),
    ("dicts are not outside them", dict[str, int], complement(DICTS), "not_subset"),
]


def check_against_probes(left, right, answer):
    outside = [v for v in PROBES if left.is_valid(v) and not right.is_valid(v)]
    if answer == "subset":
        assert not outside
    else:
        assert outside, "no value witnesses the refutation"


@pytest.mark.parametrize("name, left, right, answer", DOUBLE_COMPLEMENTS, ids=[c[0] for c in DOUBLE_COMPLEMENTS])
def test_double_complements_decide(name, left, right, answer):
    left, right = Validator(left), Validator(right)
    assert left.relation_to(right) == answer
    assert intersection(left, complement(right)).is_empty() is (answer == "subset")
    check_against_probes(left, right, answer)


# (left, right, answer): is_empty(left & ~right) is True exactly when
# relation_to proves "subset".
AGREEMENT = [
    (Annotated[int, Ge(0)], int, "subset"),
    ({"a": int}, dict[str, int], "subset"),
    (list[bool], list[int], "subset"),
    (Literal[1, 2], Annotated[int, Ge(1), Le(2)], "subset"),
    (Annotated[tuple[int, ...], MaxLen(2)], union(tuple[()], tuple[int], tuple[int, int]), "subset"),
    (dict[Literal["a", "b"], int], {"a?": int, "b?": int}, "subset"),
    (intersection(int, complement(M2)), complement(M4), "subset"),
    (union(M4, Literal["a"]), union(M2, str), "subset"),
    (int, Annotated[int, Ge(0)], "not_subset"),
    ({"a": int}, dict[str, str], "not_subset"),
    (M2, M4, "not_subset"),
    (intersection(int, complement(M4)), complement(M2), "not_subset"),
    ({}, dict[g.MyStr, Any], "subset"),
    ({}, dict[Literal[None, "b"], bool], "subset"),
    # An empty left side beside a right side the descriptors do not
    # settle: the meet is empty at the member (a complement here) or the
    # members that make the left side, as the relation's left side is.
    (EMPTY_BY_COMPLEMENTS, UPPER, "subset"),
    (intersection(tuple[()], tuple[str]),
     complement(tuple[Annotated[list[Literal["a", False]], MinLen(1), MaxLen(1)], int, frozenset[Any]]), "subset"),
]


def pair_id(a, b):
    return f"{Validator(a)!r} within {Validator(b)!r}"


@pytest.mark.parametrize("left, right, answer", AGREEMENT, ids=[pair_id(a, b) for a, b, _ in AGREEMENT])
def test_is_empty_of_a_meet_with_a_complement_agrees_with_relation_to(left, right, answer):
    left, right = Validator(left), Validator(right)
    assert left.relation_to(right) == answer
    assert intersection(left, complement(right)).is_empty() is (answer == "subset")
    assert left.is_subtype_of(right) is (answer == "subset")
    check_against_probes(left, right, answer)


def generated_pairs(seed, count):
    """Pairs of schemas of one family of the soundness grammar."""
    rng = random.Random(seed)
    out = []
    while len(out) < count:
        family = rng.choice(sorted(g.FAMILIES))
        a, b = g.pair_of(rng, family)
        va, vb = g.compile_spec(a), g.compile_spec(b)
        if va is not None and vb is not None:
            out.append((a, b, va, vb))
    return out


@pytest.mark.parametrize("seed", [0, 1, 2])
def test_generated_pairs_proved_within_give_an_empty_meet(seed):
    for a, b, va, vb in generated_pairs(seed, 120):
        for left, right, schemas in ((va, vb, (a, b)), (vb, va, (b, a))):
            meet = intersection(left, complement(right))
            if left.relation_to(right) == "subset":
                assert meet.is_empty(), (left, right)
            if meet.is_empty():
                # Sound whichever way it was proved.
                assert not any(meet.is_valid(v) for v in g.candidates_of(*schemas)), (left, right)


# (a, b): schemas equivalent to each other; each side, as the receiver,
# proves both inclusions.  The bounds' constants sit in the pool in a
# different order on each side.
EQUIVALENT = [
    (intersection(frozenset[Any], Annotated[bool, Ge(2.5), Ge(10)]), Annotated[bool, Ge(3.5), Ge(10)]),
    (Annotated[bool, Ge(3.5), Ge(10)], nothing),
    (Annotated[bool, Ge(10), Ge(3.5)], nothing),
    (Annotated[float, Ge(2.5), Ge(10.0)], Annotated[float, Ge(10)]),
    (EVEN, M2),
]


@pytest.mark.parametrize("a, b", EQUIVALENT, ids=[pair_id(a, b) for a, b in EQUIVALENT])
def test_equivalence_is_proved_from_either_side(a, b):
    a, b = Validator(a), Validator(b)
    assert a.is_equivalent(b) and b.is_equivalent(a)
    assert a.relation_to(b) == b.relation_to(a) == "subset"
    check_against_probes(a, b, "subset")
    check_against_probes(b, a, "subset")


@pytest.mark.parametrize("seed", [3, 4])
def test_generated_equivalences_are_both_inclusions(seed):
    for a, b, va, vb in generated_pairs(seed, 150):
        if va.is_equivalent(vb) or vb.is_equivalent(va):
            assert va.relation_to(vb) == vb.relation_to(va) == "subset", (va, vb)
