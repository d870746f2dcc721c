"""Str patterns and the surrogate block.

A str holding a lone surrogate has no UTF-8 form, so the walk matches it
against no pattern; the automaton the decisions build from the same
pattern must hold no text with a surrogate either, however the pattern's
classes reach past U+D7FF and U+E000 (a range, a union of ranges, case
folding, a negated class).  Otherwise an inclusion is "proved" that a
surrogate refutes.

The automaton's verdict is reached through the algebra: a one-value
pattern (each code point written as an escape) stands for a value without
surrogates, and the strings of a length that hold a surrogate (those the
dot's pattern leaves out) for a value with one, since every pattern judges
all of them alike.
"""

import re
from typing import Annotated, Literal

import annotated_types as at
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st
import pytest

from tessaron import Validator, complement, intersection, nothing


def text(pattern):
    return Annotated[str, re.compile(pattern)]


def length(n):
    return Annotated[str, at.MinLen(n), at.MaxLen(n)]


ONE = length(1)
WHOLE = text(r"[\x00-\U0010ffff]")
WHOLE_STAR = text(r"[\x00-\U0010ffff]*")
DOT = text(r"(?s).")
FOLDED = text(r"(?i)[\x00-\U0010ffff]")
TWO_RANGES = text(r"[\x00-\ud7ff]|[\ud7ff-\U0010ffff]")
AROUND = text(r"[\ud7ff-\ue000]")
EITHER_SIDE = text(r"[\ud7ff\ue000]")


# (left, right, relation of left to right, a member of left outside right
# when the relation is "not_subset").
RELATIONS = [
    pytest.param(str, WHOLE_STAR, "not_subset", "\udcff", id="str-in-whole-range-star"),
    pytest.param(ONE, WHOLE, "not_subset", "\ud800", id="one-char-in-whole-range"),
    pytest.param(ONE, FOLDED, "not_subset", "\udbff", id="one-char-in-folded-range"),
    pytest.param(ONE, TWO_RANGES, "not_subset", "\udc00", id="one-char-in-union-of-ranges"),
    pytest.param(list[ONE], list[WHOLE], "not_subset", ["a", "\ud800"], id="list"),
    pytest.param(dict[str, ONE], dict[str, WHOLE], "not_subset", {"k": "\udfff"}, id="dict-values"),
    pytest.param(tuple[ONE, int], tuple[WHOLE, int], "not_subset", ("\ud800", 1), id="tuple"),
    pytest.param(AROUND, EITHER_SIDE, "subset", None, id="around-in-either-side"),
    pytest.param(EITHER_SIDE, AROUND, "subset", None, id="either-side-in-around"),
    pytest.param(WHOLE, DOT, "subset", None, id="whole-range-in-dot"),
    pytest.param(DOT, WHOLE, "subset", None, id="dot-in-whole-range"),
    pytest.param(FOLDED, DOT, "subset", None, id="folded-range-in-dot"),
    pytest.param(TWO_RANGES, DOT, "subset", None, id="union-of-ranges-in-dot"),
    pytest.param(WHOLE, ONE, "subset", None, id="whole-range-in-one-char"),
    pytest.param(list[WHOLE], list[DOT], "subset", None, id="list-in-list"),
    pytest.param(dict[str, TWO_RANGES], dict[str, DOT], "subset", None, id="dict-in-dict"),
    pytest.param(Literal["\ud7ff", "\ue000"], AROUND, "subset", None, id="neighbours-in-around"),
    pytest.param(Literal["\ud7ff", "\ud800"], AROUND, "not_subset", "\ud800", id="surrogate-literal-in-around"),
]


@pytest.mark.parametrize("left, right, relation, witness", RELATIONS)
def test_ranges_across_the_surrogate_block_decide_as_the_walk_validates(left, right, relation, witness):
    vl, vr = Validator(left), Validator(right)
    assert vl.relation_to(vr) == relation
    assert intersection(left, complement(right)).is_empty() is (relation == "subset")
    if witness is not None:
        assert vl.is_valid(witness) and not vr.is_valid(witness)


@pytest.mark.parametrize("left, right", [
    pytest.param(AROUND, EITHER_SIDE, id="around"),
    pytest.param(WHOLE, DOT, id="whole-range"),
    pytest.param(FOLDED, TWO_RANGES, id="folded-and-union"),
])
def test_a_spanning_class_is_equivalent_to_its_scalar_values(left, right):
    assert Validator(left).is_equivalent(right)


def test_a_length_one_string_outside_a_whole_range_is_proved_to_exist():
    left_over = intersection(ONE, complement(WHOLE))
    assert Validator(left_over).relation_to(nothing) == "not_subset"
    assert left_over.is_valid("\ud800") and not left_over.is_valid("a")


@pytest.mark.parametrize("pattern, message", [
    (r"[\ud800-\udfff]", r'"[\\ud800-\\udfff]": hexadecimal literal is not a Unicode scalar value at position 1'),
    (r"[a-\U0000dfff]", r'"[a-\\U0000dfff]": hexadecimal literal is not a Unicode scalar value at position 3'),
    (r"\udbff", r'"\\udbff": hexadecimal literal is not a Unicode scalar value at position 0'),
])
def test_a_pattern_naming_a_surrogate_by_escape_is_refused(pattern, message):
    with pytest.raises(ValueError) as caught:
        Validator(text(pattern))
    assert str(caught.value) == "invalid regular expression " + message


# --- generated patterns against the walk --------------------------------

SURROGATES = [0xD800, 0xDBFF, 0xDC00, 0xDFFF]
# Range ends where the encodings change length, around the surrogate block,
# at the ends of the planes, and case partners (k, K, KELVIN SIGN).
POINTS = [0x00, 0x0A, 0x20, 0x41, 0x4B, 0x61, 0x6B, 0x7F, 0x80, 0xC9, 0xE9, 0xFF, 0x100, 0x7FF, 0x800, 0x212A,
          0xD000, 0xD7FE, 0xD7FF, 0xE000, 0xE001, 0xFFFD, 0xFFFF, 0x10000, 0x10FFFF]
scalars = st.one_of(st.sampled_from(POINTS),
                    st.integers(0, 0x10FFFF).filter(lambda c: not 0xD800 <= c <= 0xDFFF))


@st.composite
def escapes(draw, c):
    """One code point as a pattern writes it: an escape of each width, or
    the character itself when it is a letter or digit."""
    forms = [f"\\U{c:08x}"]
    if c <= 0xFF:
        forms.append(f"\\x{c:02x}")
    if c <= 0xFFFF:
        forms.append(f"\\u{c:04X}")
    if chr(c).isalnum():
        forms.append(chr(c))
    return draw(st.sampled_from(forms))


@st.composite
def classes(draw, points):
    items = []
    for _ in range(draw(st.integers(1, 3))):
        kind = draw(st.sampled_from(["range", "range", "char", "perl"]))
        if kind == "perl":
            items.append(draw(st.sampled_from([r"\d", r"\s", r"\D", r"\S", r"\W"])))
            continue
        lo = draw(scalars)
        hi = draw(scalars) if kind == "range" else lo
        lo, hi = min(lo, hi), max(lo, hi)
        points += [lo, hi]
        items.append(draw(escapes(lo)) if lo == hi else f"{draw(escapes(lo))}-{draw(escapes(hi))}")
    negated = draw(st.booleans())
    return "[" + ("^" if negated else "") + "".join(items) + "]"


@st.composite
def atoms(draw, points):
    kind = draw(st.sampled_from(["class", "class", "class", "char", "dot"]))
    if kind == "dot":
        atom = draw(st.sampled_from([".", "(?s:.)"]))
    elif kind == "char":
        c = draw(scalars)
        points.append(c)
        atom = draw(escapes(c))
    else:
        atom = draw(classes(points))
    if draw(st.integers(0, 4)) == 0:
        atom = f"(?i:{atom})"
    return atom + draw(st.sampled_from(["", "", "?", "*", "+", "{2}", "{0,2}"]))


@st.composite
def patterns(draw):
    """A pattern text and the code points its ranges and characters name."""
    points = []
    branches = ["".join(draw(atoms(points)) for _ in range(draw(st.integers(1, 2))))
                for _ in range(draw(st.integers(1, 2)))]
    pattern = "|".join(branches)
    if draw(st.booleans()):
        pattern = "(?i)" + pattern
    return pattern, points


def near(points):
    """The characters at and next to the points, surrogates left out."""
    around = {p + d for p in points for d in (-1, 0, 1)}
    return sorted(chr(c) for c in around if 0 <= c <= 0x10FFFF and not 0xD800 <= c <= 0xDFFF)


def exact(value):
    """The one-value pattern of a text without surrogates."""
    return text("".join(f"\\U{ord(c):08x}" for c in value))


def holding_surrogates(n):
    """The strings of n code points that hold a surrogate: no pattern
    matches any of them, the dot's pattern included."""
    return intersection(length(n), complement(text(r"(?s:.)*")))


@st.composite
def cases(draw):
    pattern, points = draw(patterns())
    alphabet = near(points) + ["a", "K", "\u212a", "\n", "\x00", "\U0010ffff"] + [chr(c) for c in SURROGATES]
    values = draw(st.lists(st.text(st.sampled_from(alphabet), max_size=3), min_size=1, max_size=4))
    return pattern, values


@settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(cases())
def test_pattern_automata_agree_with_the_walk(case):
    pattern, values = case
    schema = text(pattern)
    walk = Validator(schema)
    # Every pattern leaves the lone surrogates out; "undecided" only where
    # the pattern has no automaton (an empty language is not kept as one).
    whole = Validator(str).relation_to(walk)
    assert whole != "subset", pattern
    assume(whole == "not_subset")
    for value in values:
        member = walk.is_valid(value)
        if any(0xD800 <= ord(c) <= 0xDFFF for c in value):
            assert not member, (pattern, value)
            alike = holding_surrogates(len(value))
        else:
            alike = exact(value)
        # The inclusion (through the complement of the pattern) and the
        # emptiness of the meet both read the pattern's automaton.
        assert Validator(alike).relation_to(walk) == ("subset" if member else "not_subset"), (pattern, value)
        assert intersection(alike, schema).is_empty() is (not member), (pattern, value)
        if not member:
            assert Validator(length(len(value))).relation_to(walk) != "subset", (pattern, value)
