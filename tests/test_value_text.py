"""How failures show values: reprlib limits, the 80-character cut, fall-backs."""

import reprlib

import pytest

from tessaron import ValidationError, Validator

NEVER = object()  # a literal no test value equals


def shown(value):
    """The value text of `value` in a failure."""
    with pytest.raises(ValidationError) as info:
        Validator(NEVER).validate(value)
    return info.value.value


class LongRepr(list):
    def __repr__(self):
        return "L" + "x" * 100


class BadRepr:
    def __init__(self, exc):
        self.exc = exc

    def __repr__(self):
        raise self.exc


class SurrogateRepr:
    def __repr__(self):
        return "a\udcffb"


def reference(obj):
    r = reprlib.Repr()
    for name in ("maxtuple", "maxlist", "maxarray", "maxdict", "maxset", "maxfrozenset", "maxdeque"):
        setattr(r, name, 32)
    r.maxlevel, r.maxstring, r.maxlong, r.maxother = 12, 80, 80, 80
    return r.repr(obj)


@pytest.mark.parametrize(
    "value, text",
    [
        ("a" * 100, "'" + "a" * 79 + "..."),  # the cut applies to the repr, quotes included
        ("a" * 78, "'" + "a" * 78 + "'"),  # exactly 80 characters: not cut
        ("é" * 79, "'" + "é" * 79 + "..."),  # 81 characters of two bytes: cut after the 80th character
        (12345, "12345"),
        (None, "None"),
    ],
)
def test_plain_objects(value, text):
    assert shown(value) == text


def test_containers_go_through_reprlib_then_the_cut():
    big = list(range(1000))
    expected = reference(big)
    expected = expected if len(expected) <= 80 else expected[:80] + "..."
    assert shown(big) == expected
    assert "..." in shown(big)
    nested = {"k": [[[[[[[[[[[[[[1]]]]]]]]]]]]]]}
    assert "..." in reference(nested)  # reprlib stops at 12 levels
    assert shown(nested) == reference(nested)


def test_a_list_subclass_goes_through_reprlib():
    text = shown(LongRepr())
    # reprlib elides the middle of an unknown type's repr; a plain cut would
    # keep the first 80 characters.
    assert text == reference(LongRepr())
    assert text != ("L" + "x" * 100)[:80] + "..."


def test_a_failing_repr_is_unrepresentable():
    assert shown(BadRepr(ValueError("no"))) == "<unrepresentable>"
    # Inside a container, reprlib itself stands in for an element whose repr
    # raises an Exception.
    assert shown([BadRepr(ValueError("no"))]).startswith("[<BadRepr instance at 0x")


@pytest.mark.parametrize(
    "value",
    [BadRepr(KeyboardInterrupt()), BadRepr(MemoryError()), [BadRepr(KeyboardInterrupt())]],
    ids=["interrupt", "memory", "interrupt-in-list"],
)
def test_a_fatal_exception_in_repr_is_raised_instead_of_the_error(value):
    v = Validator(NEVER)
    exc_type = type(value[0].exc if isinstance(value, list) else value.exc)
    with pytest.raises(exc_type):
        v.validate(value)
    # The verdict-only entry builds no text, so it answers.
    assert v.is_valid(value) is False


def test_lone_surrogates_in_a_repr_become_replacement_characters():
    assert shown(SurrogateRepr()) == "a\ufffd\ufffd\ufffdb"


def test_a_str_with_a_lone_surrogate_is_shown_escaped():
    assert shown("x\udcff") == "'x\\udcff'"
