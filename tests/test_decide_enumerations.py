"""Decisions about enumerations derived from builtin types.

An enumeration whose instances are exactly its members (no Flag, at least
one member, no `_missing_` of its own, an int, float, str or bytes base) is
decided by its members' builtin contents: `int(m)`, `float(m)`, the text.
Any other enumeration is only bounded: it can be proved within a set by
its class, refuted only by a member it lists, and never by a content none
of its instances has.  Every "not_subset" is checked against a member of
the left side outside the right one.
"""

import enum
import math
from typing import Annotated, Literal

import annotated_types as at
import pytest

from tessaron import Regex, Validator, complement, intersection, union


class IE(enum.IntEnum):
    X = 1
    Y = 2


class SE(str, enum.Enum):
    A = "a"
    B = "bb"


class BE(bytes, enum.Enum):
    A = b"a"
    BB = b"bb"


class FE(float, enum.Enum):
    HALF = 0.5
    ONE = 1.0


class FN(float, enum.Enum):
    NAN = math.nan


class Custom(int, enum.Enum):
    # A custom constructor: the value (a tuple) is not the int content.
    A = (10, "ten")
    B = (20, "twenty")

    def __new__(cls, number, label):
        member = int.__new__(cls, number)
        member._value_ = (number, label)
        return member


class SizeBase(int, enum.Enum):
    pass


class Size(SizeBase):
    S = 1
    M = 2


class Loose(enum.IntEnum):
    A = 1

    @classmethod
    def _missing_(cls, value):
        member = int.__new__(cls, value)
        member._value_ = value
        member._name_ = f"X{value}"
        return member


class Corner(tuple, enum.Enum):
    ORIGIN = (0, 0)
    UNIT = (1, 1)


class Perm(enum.IntFlag):
    R = 4
    W = 2
    X = 1


def text(*markers, base=str):
    return Annotated[(base, *markers)]


def ints(*markers):
    return Annotated[(int, *markers)]


# (name, left, right, answer, witness of a "not_subset")
CASES = [
    # Exactly their members: decided by the members' contents.
    ("an IntEnum within its greatest member", IE, ints(at.Le(2)), "subset", None),
    ("an IntEnum's greater member is outside", IE, ints(at.Le(1)), "not_subset", IE.Y),
    ("an IntEnum between its members", IE, ints(at.Ge(1), at.Le(2)), "subset", None),
    ("an IntEnum's odd member is no multiple of 2", IE, ints(at.MultipleOf(2)), "not_subset", IE.X),
    ("an IntEnum outside the ints above its members", IE, complement(ints(at.Ge(3))), "subset", None),
    ("an IntEnum's members are no exact ints", IE, Literal[1, 2], "not_subset", IE.X),
    ("no int below 0 is an IntEnum member of at least 0", ints(at.Le(0)),
     complement(intersection(IE, ints(at.Ge(0)))), "subset", None),
    ("an int of at most 1 may be an IntEnum member", ints(at.Le(1)), complement(IE), "not_subset", IE.X),
    ("no IntEnum member is 3 or more", intersection(IE, ints(at.Ge(3))), union(), "subset", None),
    ("an IntEnum member is 2 or more", intersection(IE, ints(at.Ge(2))), union(), "not_subset", IE.Y),
    ("a str enumeration within its longest member", SE, text(at.MaxLen(2)), "subset", None),
    ("a str enumeration's longer member is outside", SE, text(at.MaxLen(1)), "not_subset", SE.B),
    ("a str enumeration within its members' pattern", SE, text(Regex("a|bb")), "subset", None),
    ("a str enumeration outside a narrower pattern", SE, text(Regex("a")), "not_subset", SE.B),
    ("no str enumeration member is 3 long", intersection(SE, text(at.MinLen(3))), union(), "subset", None),
    ("a str enumeration's members are no exact strs", SE, Literal["a", "bb"], "not_subset", SE.A),
    ("a bytes enumeration within its longest member", BE, text(at.MaxLen(2), base=bytes), "subset", None),
    ("a bytes enumeration's longer member is outside", BE, text(at.MaxLen(1), base=bytes), "not_subset", BE.BB),
    ("a float enumeration within its greatest member", FE, Annotated[float, at.Le(1.0)], "subset", None),
    ("a float enumeration's greatest member is outside", FE, Annotated[float, at.Lt(1.0)], "not_subset", FE.ONE),
    ("a NaN member is below nothing", FN, Annotated[float, at.Le(1.0)], "not_subset", FN.NAN),
    ("a constructed member's content is its int", Custom, ints(at.Ge(10), at.Le(20)), "subset", None),
    ("a constructed member's content is outside", Custom, ints(at.Le(15)), "not_subset", Custom.B),
    ("the members of a subclass", Size, ints(at.Le(2)), "subset", None),
    # Instances beyond their members: bounded, never refuted by a content
    # no instance has.
    ("a memberless base is within its builtin type", SizeBase, int, "subset", None),
    ("a memberless base is not refuted by its subclass's members", SizeBase, ints(at.Le(2)), "undecided", None),
    ("a memberless base is not refuted by literals", SizeBase, Literal[1, 2], "undecided", None),
    ("a missing hook's enumeration is within its builtin type", Loose, int, "subset", None),
    ("a missing hook makes members above the listed one", Loose, ints(at.Le(1)), "undecided", None),
    ("a missing hook's listed member refutes", Loose, ints(at.Ge(2)), "not_subset", Loose.A),
    ("a flag is within its builtin type", Perm, int, "subset", None),
    ("a flag's pseudo-members go beyond its members", Perm, ints(at.Le(7)), "undecided", None),
    ("a flag's listed member refutes", Perm, ints(at.Le(3)), "not_subset", Perm.R),
    ("a flag's members are no exact ints", Perm, Literal[1, 2, 4], "not_subset", Perm.R),
    ("a flag outside the ints of its members, by a member", ints(at.Ge(0)), complement(Perm), "not_subset",
     Perm.R),
    ("a tuple enumeration is within tuples", Corner, tuple, "subset", None),
    ("a tuple enumeration's contents are not told", Corner, Annotated[tuple, at.MaxLen(1)], "undecided", None),
    ("a tuple enumeration is not refuted by a pattern of its items", Corner, tuple[int, int], "undecided", None),
]

if hasattr(enum, "STRICT"):
    class Strict(enum.IntFlag, boundary=enum.STRICT):
        A = 1
        B = 2

    CASES += [
        ("a strict flag's combinations are not refuted", Strict, ints(at.Le(3)), "undecided", None),
        ("a strict flag's listed member refutes", Strict, ints(at.Le(1)), "not_subset", Strict.B),
    ]


@pytest.mark.parametrize("name, left, right, answer, witness", CASES, ids=[c[0] for c in CASES])
def test_enumeration_questions(name, left, right, answer, witness):
    assert Validator(left).relation_to(right) == answer
    if answer == "not_subset":
        assert Validator(left).is_valid(witness)
        assert not Validator(right).is_valid(witness)


@pytest.mark.parametrize("schema, empty", [
    (intersection(SE, text(at.MinLen(3))), True),
    (intersection(IE, ints(at.Ge(3))), True),
    (intersection(FE, Annotated[float, at.Gt(1.0)]), True),
    (intersection(IE, complement(Literal[1, 2])), False),
    # Bounded: their members do not settle which contents they have.
    (intersection(Perm, ints(at.Ge(8))), False),
    (intersection(Loose, ints(at.Ge(2))), False),
    (intersection(SizeBase, ints(at.Ge(3))), False),
], ids=repr)
def test_enumeration_emptiness(schema, empty):
    assert schema.is_empty() is empty
