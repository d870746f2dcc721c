"""Validating against refined schemas: bounds, lengths, divisors, predicates
and patterns, with duck-typed markers and with annotated-types' own."""

from typing import Annotated, Any, Literal, Union

import annotated_types as at
import pytest

from interpreter import cpython_only
from tessaron import ValidationError, Validator


class M:
    def __init__(self, **attrs):
        self.__dict__.update(attrs)


class Text(str):
    pass


def failures(v, value, fail_fast=False):
    with pytest.raises(ValidationError) as info:
        v.validate(value, fail_fast=fail_fast)
    return [(e["code"], e["expected"], e["value"]) for e in info.value.errors]


def agree(v, value):
    """The verdict of every entry point, checked to agree."""
    answer = v.is_valid(value)
    assert (value in v) is answer
    try:
        v.validate(value)
        assert answer
    except ValidationError:
        assert not answer
    return answer


# Each constraint written both ways: (duck-typed marker, annotated-types marker).
BOTH = {
    "ge": (M(ge=0), at.Ge(0)),
    "gt": (M(gt=0), at.Gt(0)),
    "le": (M(le=0), at.Le(0)),
    "lt": (M(lt=0), at.Lt(0)),
    "min": (M(min_length=2), at.MinLen(2)),
    "max": (M(max_length=2), at.MaxLen(2)),
    "mult": (M(multiple_of=3), at.MultipleOf(3)),
    "pred": (M(func=str.isdigit), at.Predicate(str.isdigit)),
}


@pytest.mark.parametrize("style", [0, 1], ids=["duck", "annotated_types"])
@pytest.mark.parametrize(
    "name, base, value, failure",
    [
        ("ge", int, 0, None),
        ("ge", int, -1, ("greater_than_equal", ">= 0", "-1")),
        ("gt", int, 1, None),
        ("gt", int, 0, ("greater_than", "> 0", "0")),
        ("le", float, 0.0, None),
        ("le", float, 0.5, ("less_than_equal", "<= 0", "0.5")),
        ("lt", int, -1, None),
        ("lt", int, 0, ("less_than", "< 0", "0")),
        ("min", str, "ab", None),
        ("min", str, "a", ("too_short", "length >= 2", "'a'")),
        ("min", list[int], [1], ("too_short", "length >= 2", "[1]")),
        ("max", dict[str, int], {"a": 1, "b": 2}, None),
        ("max", bytes, b"abc", ("too_long", "length <= 2", "b'abc'")),
        ("max", Any, 5, ("too_long", "length <= 2", "5")),  # no length: a failure, not an error
        ("mult", int, 9, None),
        ("mult", int, -6, None),
        ("mult", int, 10, ("multiple_of", "a multiple of 3", "10")),
        ("mult", float, 4.5, ("multiple_of", "a multiple of 3", "4.5")),
        ("mult", Any, "x", ("multiple_of", "a multiple of 3", "'x'")),  # the remainder raises
        ("pred", str, "123", None),
        ("pred", str, "12a", ("predicate_failed", "a passing predicate", "'12a'")),
        ("ge", Any, "x", ("greater_than_equal", ">= 0", "'x'")),  # the comparison raises
    ],
)
def test_constraints(style, name, base, value, failure):
    v = Validator(Annotated[base, BOTH[name][style]])
    assert agree(v, value) is (failure is None)
    if failure is not None:
        assert failures(v, value) == [failure]


@pytest.mark.parametrize(
    "pattern, value, member",
    [
        ("a|b", "a", True),
        ("a|b", "b", True),
        ("a|b", "ab", False),  # the whole text must match
        ("a|b", "", False),
        ("[0-9]+", "123", True),
        ("[0-9]+", Text("123"), True),  # a str subclass is matched by its text
        ("[0-9]+", b"123", False),  # bytes never match a pattern
        ("[0-9]+", 123, False),
        (".*", "\ud800", False),  # no UTF-8 form: not a member, no error
        ("\\w+", "héllo", True),
        ("(?x) a b  # spaced, with a comment", "ab", True),
    ],
)
def test_patterns(pattern, value, member):
    v = Validator(Annotated[Any, M(pattern=pattern)])
    assert agree(v, value) is member


@pytest.mark.parametrize(
    "pattern, expected",
    [
        ("a|b", 'a string matching "a|b"'),
        ("\\d+", 'a string matching "\\\\d+"'),
        ('say "hi"', 'a string matching "say \\"hi\\""'),
        ("it's", 'a string matching "it\'s"'),
        ("\t\n\r", 'a string matching "\\t\\n\\r"'),
        ("\x01", 'a string matching "\\u{1}"'),
        ("\u0301", 'a string matching "\\u{301}"'),  # combining mark
        ("é", 'a string matching "é"'),
    ],
)
def test_pattern_failure_shows_quoted_pattern(pattern, expected):
    v = Validator(Annotated[str, M(pattern=pattern)])
    assert failures(v, "zz") == [("string_pattern_mismatch", expected, "'zz'")]


def test_base_is_walked_first():
    v = Validator(Annotated[int, at.Ge(0), at.Lt(10)])
    assert failures(v, -1) == [("greater_than_equal", ">= 0", "-1")]
    # a value of the wrong shape fails the base only; no constraint runs on it
    assert [code for code, _, _ in failures(v, "x")] == ["int_type"]


def test_collect_all_and_fail_fast():
    # written out of order: checked in the canonical order Ge, Lt, MultipleOf
    v = Validator(Annotated[int, at.MultipleOf(2), at.Lt(10), at.Ge(0)])
    assert [f[0] for f in failures(v, -1)] == ["greater_than_equal", "multiple_of"]
    assert [f[0] for f in failures(v, -1, fail_fast=True)] == ["greater_than_equal"]
    assert [f[0] for f in failures(v, 11)] == ["less_than", "multiple_of"]
    assert [f[0] for f in failures(v, 11, fail_fast=True)] == ["less_than"]


def test_failure_paths_inside_containers():
    v = Validator(list[Annotated[str, at.MinLen(2)]])
    with pytest.raises(ValidationError) as info:
        v.validate(["ab", "a", "abc", ""])
    assert [(e["path"], e["code"]) for e in info.value.errors] == [((1,), "too_short"), ((3,), "too_short")]


# --- predicates -------------------------------------------------------------------


class StrRaises(Exception):
    def __str__(self):
        raise RuntimeError("no text")


class Outer:
    class Inner(Exception):
        pass


def raiser(exc):
    def predicate(value):
        raise exc

    return predicate


@pytest.mark.parametrize(
    "predicate, expected",
    [
        (lambda v: 0, ("predicate_failed", "a passing predicate")),
        (lambda v: [], ("predicate_failed", "a passing predicate")),
        (raiser(ValueError("bad")), ("predicate_error", "a predicate that does not raise (raised ValueError: bad)")),
        (raiser(StrRaises()),
         ("predicate_error", "a predicate that does not raise (raised StrRaises: <exception str() failed>)")),
        (raiser(Outer.Inner("x")),
         ("predicate_error", "a predicate that does not raise (raised Outer.Inner: x)")),
        (raiser(ValueError("y" * 100)),
         ("predicate_error", "a predicate that does not raise (raised ValueError: " + "y" * 68 + "...)")),
        # a result whose truth test raises is an error of the predicate too
        (lambda v: type("NoBool", (), {"__bool__": lambda s: 1 / 0})(),
         ("predicate_error", "a predicate that does not raise (raised ZeroDivisionError: division by zero)")),
    ],
)
def test_predicate_failures(predicate, expected):
    v = Validator(Annotated[int, predicate])
    assert not v.is_valid(1)
    assert failures(v, 1) == [(*expected, "1")]


def test_predicate_truthy_results_pass():
    v = Validator(Annotated[int, lambda v: [v]])
    assert agree(v, 0)


@pytest.mark.parametrize("exc", [KeyboardInterrupt, MemoryError, RecursionError])
def test_fatal_predicate_errors_propagate(exc):
    v = Validator(Annotated[int, raiser(exc())])
    for call in (v.is_valid, v.validate, lambda x: x in v):
        with pytest.raises(exc):
            call(1)


def test_predicate_error_survives_a_failing_union():
    v = Validator(Union[Annotated[int, raiser(ValueError("bad"))], str])
    assert not v.is_valid(1)
    assert [f[0] for f in failures(v, 1)] == ["predicate_error"]


def test_not_marker_negates():
    v = Validator(Annotated[str, at.Not(str.isdigit)])
    assert agree(v, "ab") and not agree(v, "12")


@pytest.mark.parametrize(
    "marker, value, member",
    [
        (at.Interval(ge=0, lt=10), 0, True),
        (at.Interval(ge=0, lt=10), 10, False),
        (at.Len(1, 2), "", False),
        (at.Len(1, 2), "ab", True),
        (at.Len(1, 2), "abc", False),
    ],
)
def test_grouped_annotated_types_markers(marker, value, member):
    base = int if isinstance(value, int) else str
    assert agree(Validator(Annotated[base, marker]), value) is member


def test_comparison_uses_the_value_on_the_left():
    seen = []

    class Probe(int):
        def __ge__(self, other):
            seen.append(other)
            return True

    v = Validator(Annotated[int, at.Ge(100)])
    assert v.is_valid(Probe(1))
    assert seen == [100]


def test_json_value_text_is_the_safe_text():
    v = Validator(Annotated[str, at.MinLen(3)])
    if not hasattr(v, "validate_json"):
        pytest.skip("JSON input not available")
    with pytest.raises(ValidationError) as info:
        v.validate_json('"ab"')
    assert [(e["code"], e["value"]) for e in info.value.errors] == [("too_short", "'ab'")]
    assert v.is_valid_json('"abc"') and not v.is_valid_json('"ab"')


class Step(int):
    """A divisor that records every text formatting makes of it (`"%s" % d`
    calls its `__str__`, `b"%s" % d` its `__bytes__`)."""

    made = []

    def __str__(self):
        Step.made.append("str")
        return "2"

    def __bytes__(self):
        Step.made.append("bytes")
        return b"2"


def json_entries(v, doc):
    """The verdicts of the JSON entry points on one document."""
    answers = {"is_valid_json": v.is_valid_json(doc)}
    for name in ("validate_json", "load"):
        try:
            getattr(v, name)(doc)
            answers[name] = True
        except ValidationError as e:
            answers[name] = [x["code"] for x in e.errors]
    return answers


TEXT_DIVISOR_CASES = [
    (Union[int, str], "%s"),
    (Any, "%s"),
    (Any, b"%s"),
    (Any, bytearray(b"%s")),
]


@pytest.mark.parametrize("base, value", TEXT_DIVISOR_CASES)
def test_a_divisor_never_formats_a_text(base, value):
    # `text % n` is string formatting: a text, never 0, and as large as the
    # text asks ("%1000000000d" would be a gigabyte).  The text is no
    # multiple, and nothing formats it.
    Step.made.clear()
    v = Validator(Annotated[base, at.MultipleOf(Step(2))])
    assert agree(v, value) is False
    assert failures(v, value) == [("multiple_of", "a multiple of 2", repr(value))]
    assert failures(v, value, fail_fast=True) == [("multiple_of", "a multiple of 2", repr(value))]
    assert Step.made == []
    if not isinstance(value, bytearray):
        # The decisions walk a constant of the left side through the right.
        assert Validator(Literal[value]).relation_to(v) == "not_subset"
        assert Step.made == []
    if isinstance(value, str):
        assert json_entries(v, '"%s"') == {"is_valid_json": False, "validate_json": ["multiple_of"],
                                          "load": ["multiple_of"]}
        # Inside a container, where the JSON walks go through their frames.
        outer = Validator({"k": [Annotated[base, at.MultipleOf(Step(2))]]})
        assert json_entries(outer, '{"k": [4, "%s"]}')["is_valid_json"] is False
        assert outer.is_valid({"k": [4, value]}) is False
    assert Step.made == []


@cpython_only("tracemalloc")
@pytest.mark.parametrize("base", [Union[int, str], Any])
def test_a_divisor_check_of_a_huge_format_allocates_nothing(base):
    # A native divisor (an exact int) on the JSON paths and on a Python str.
    import tracemalloc

    v = Validator(Annotated[base, at.MultipleOf(2)])
    huge = "%20000000d"  # 20 MB once formatted
    tracemalloc.start()
    try:
        answers = json_entries(v, f'"{huge}"'), v.is_valid(huge), v.is_valid(huge.encode())
        decided = Validator(Literal[huge]).relation_to(v)
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert answers == ({"is_valid_json": False, "validate_json": ["multiple_of"], "load": ["multiple_of"]},
                       False, False)
    assert decided == "not_subset"
    assert peak < 2_000_000


def test_a_text_subclass_with_its_own_remainder_keeps_it():
    calls = []

    class Formats(str):
        def __mod__(self, other):
            calls.append(other)
            return 0

    v = Validator(Annotated[Any, at.MultipleOf(2)])
    assert v.is_valid(Formats("%s")) and v.is_valid(Formats("x"))
    assert calls == [2, 2]
    assert v.is_valid("x") is False and calls == [2, 2]
