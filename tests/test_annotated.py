"""Building ``Annotated[base, ...]``: how metadata is read into constraints.

The built constraints are read back through ``repr`` (``Ge(0)``,
``MinLen(1)``, ``Regex('...')``, ``Predicate(...)``), which lists them in
their canonical order.
"""

import decimal
import fractions
import re
import sys
from typing import Annotated, Any, Literal, Optional, Union

import annotated_types as at
import pytest

import tessaron
from tessaron import Validator


class M:
    """A duck-typed marker: every keyword becomes an instance attribute."""

    def __init__(self, **attrs):
        self.__dict__.update(attrs)

    def __repr__(self):
        return f"M({self.__dict__})"


class Slotted:
    __slots__ = ("ge", "max_length")

    def __init__(self, ge, max_length):
        self.ge = ge
        self.max_length = max_length


class Computed:
    """Attributes through properties on the type."""

    @property
    def le(self):
        return 9

    @property
    def pattern(self):
        return "[0-9]+"


class Dynamic:
    """Attributes through `__getattr__` only."""

    def __getattr__(self, name):
        if name == "gt":
            return 1
        raise AttributeError(name)


class Group:
    """Grouped metadata: yields its items."""

    __is_annotated_types_grouped_metadata__ = True

    def __init__(self, *items):
        self.items = items

    def __iter__(self):
        return iter(self.items)

    def __repr__(self):
        return "Group(...)"


class CallableClass:
    def __call__(self, value):
        return True


def is_even(value):
    return value % 2 == 0


def built(spec):
    return repr(Validator(spec))


def refusal(spec, exc_type):
    with pytest.raises(exc_type) as info:
        Validator(spec)
    return str(info.value)


# --- markers -----------------------------------------------------------------


@pytest.mark.parametrize(
    "spec, expected",
    [
        (Annotated[int, M(ge=0)], "Annotated[int, Ge(0)]"),
        (Annotated[int, at.Ge(0)], "Annotated[int, Ge(0)]"),
        (Annotated[int, M(gt=0)], "Annotated[int, Gt(0)]"),
        (Annotated[int, M(le=5.5)], "Annotated[int, Le(5.5)]"),
        (Annotated[int, M(lt=10)], "Annotated[int, Lt(10)]"),
        # attributes set to None are skipped
        (Annotated[int, M(ge=0, lt=10, gt=None, le=None)], "Annotated[int, Ge(0), Lt(10)]"),
        (Annotated[int, at.Interval(ge=0, lt=10)], "Annotated[int, Ge(0), Lt(10)]"),
        (Annotated[int, M(ge=None, multiple_of=None, func=None)], "int"),
        (Annotated[str, M(min_length=1, max_length=3)], "Annotated[str, MinLen(1), MaxLen(3)]"),
        (Annotated[str, at.Len(1, 3)], "Annotated[str, MinLen(1), MaxLen(3)]"),
        (Annotated[list[int], at.MinLen(2)], "Annotated[list[int], MinLen(2)]"),
        (Annotated[int, M(multiple_of=3)], "Annotated[int, MultipleOf(3)]"),
        (Annotated[str, M(pattern="a+")], "Annotated[str, Regex('a+')]"),
        # each way an attribute is found: instance dict, slots, property, __getattr__
        (Annotated[str, Slotted("a", 4)], "Annotated[str, Ge('a'), MaxLen(4)]"),
        (Annotated[Union[int, str], Computed()], "Annotated[int | str, Le(9), Regex('[0-9]+')]"),
        (Annotated[int, Dynamic()], "Annotated[int, Gt(1)]"),
        # callables become predicates, directly or through "func"
        (Annotated[int, is_even], "Annotated[int, Predicate(...)]"),
        (Annotated[int, CallableClass()], "Annotated[int, Predicate(...)]"),
        (Annotated[int, M(func=is_even)], "Annotated[int, Predicate(...)]"),
        (Annotated[int, at.Predicate(is_even)], "Annotated[int, Predicate(...)]"),
        (Annotated[int, at.Not(is_even)], "Annotated[int, Predicate(...)]"),
        (Annotated[int, M(func="not callable")], "int"),
        # a marker with bounds that is also callable yields both
        (Annotated[int, type("BoundPredicate", (), {"ge": 0, "__call__": lambda s, v: True})()],
         "Annotated[int, Ge(0), Predicate(...)]"),
        # not markers: classes (callable or not), plain objects, documentation
        (Annotated[int, int], "int"),
        (Annotated[int, CallableClass], "int"),
        (Annotated[int, "a note"], "int"),
        (Annotated[int, 42], "int"),
        (Annotated[int, {"ge": 0}], "int"),
        (Annotated[int, at.doc("documented")], "int"),
        # groups
        (Annotated[int, Group(M(ge=0), M(lt=3))], "Annotated[int, Ge(0), Lt(3)]"),
        (Annotated[int, Group()], "int"),
        (Annotated[int, Group("ignored", Group(M(le=2)))], "Annotated[int, Le(2)]"),
        # canonical order: by constraint kind, then bounds in the order first pooled
        (Annotated[int, M(lt=10), M(multiple_of=2), M(ge=0)], "Annotated[int, Ge(0), Lt(10), MultipleOf(2)]"),
        (Annotated[int, M(ge=5), M(ge=1)], "Annotated[int, Ge(5), Ge(1)]"),
        (Annotated[int, M(ge=1), M(ge=5)], "Annotated[int, Ge(1), Ge(5)]"),
        (Annotated[str, M(pattern="b"), M(pattern="a")], "Annotated[str, Regex('a'), Regex('b')]"),
        (Annotated[str, M(max_length=9), M(max_length=3)], "Annotated[str, MaxLen(3), MaxLen(9)]"),
        # duplicates: an equal bound is pooled once, so the constraint appears once
        (Annotated[int, M(ge=0), at.Ge(0), Group(M(ge=0))], "Annotated[int, Ge(0)]"),
        (Annotated[str, M(pattern="a"), M(pattern="a")], "Annotated[str, Regex('a')]"),
        (Annotated[int, M(ge=0), M(ge=False)], "Annotated[int, Ge(0), Ge(False)]"),
    ],
)
def test_markers(spec, expected):
    assert built(spec) == expected


@pytest.mark.parametrize(
    "marker, expected",
    [
        # a marker carrying a pattern still has its bounds, lengths and divisor read
        (M(pattern="a*", min_length=2), "Annotated[str, MinLen(2), Regex('a*')]"),
        (M(pattern="a*", ge="a", max_length=5), "Annotated[str, Ge('a'), MaxLen(5), Regex('a*')]"),
        # ... but it is never a predicate or a group
        (M(pattern="a*", func=is_even), "Annotated[str, Regex('a*')]"),
        (type("CallablePattern", (), {"pattern": "a*", "__call__": lambda s, v: False})(),
         "Annotated[str, Regex('a*')]"),
        (type("GroupPattern", (Group,), {"pattern": "a*"})(M(max_length=1)), "Annotated[str, Regex('a*')]"),
    ],
)
def test_pattern_marker_keeps_its_other_constraints(marker, expected):
    assert built(Annotated[str, marker]) == expected


def test_pattern_marker_constraints_all_validate():
    v = Validator(Annotated[str, M(pattern="a*", min_length=2)])
    assert [v.is_valid(s) for s in ("", "a", "aa", "aab")] == [False, False, True, False]


# --- lengths -------------------------------------------------------------------


class Index:
    def __init__(self, n):
        self.n = n

    def __index__(self):
        return self.n

    def __repr__(self):
        return f"Index({self.n})"


class BadIndex:
    def __index__(self):
        raise TypeError("no")

    def __repr__(self):
        return "BadIndex()"


@pytest.mark.parametrize(
    "value, expected",
    [(0, "MinLen(0)"), (3, "MinLen(3)"), (True, "MinLen(1)"), (Index(4), "MinLen(4)"),
     (2**64 - 1, f"MinLen({2**64 - 1})")],
)
def test_lengths(value, expected):
    assert built(Annotated[str, M(min_length=value)]) == f"Annotated[str, {expected}]"


@pytest.mark.parametrize(
    "attr, value, shown",
    [
        ("min_length", -1, "-1"),
        ("min_length", 1.5, "1.5"),
        ("max_length", 2**64, str(2**64)),
        ("max_length", "3", "'3'"),
        ("min_length", Index(-2), "Index(-2)"),
        ("min_length", BadIndex(), "BadIndex()"),
    ],
)
def test_length_refusals(attr, value, shown):
    message = refusal(Annotated[str, M(**{attr: value})], ValueError)
    assert message == f"{attr} must be a length a value can have, and {shown} is not"


# --- bounds --------------------------------------------------------------------


@pytest.mark.parametrize("attr", ["ge", "gt", "le", "lt"])
@pytest.mark.parametrize("nan", [float("nan"), decimal.Decimal("nan")])
def test_nan_bound_is_refused(attr, nan):
    message = refusal(Annotated[float, M(**{attr: nan})], ValueError)
    assert message == (
        f"{attr} cannot be nan: every comparison with nan is false, so the bound admits no value at all. "
        "Write the bound you mean, or `nothing` for the empty set"
    )


def test_bound_that_is_no_float_is_kept():
    # "nan" is a str bound for a str base, not a float
    assert built(Annotated[str, M(ge="nan")]) == "Annotated[str, Ge('nan')]"
    assert built(Annotated[float, M(ge=decimal.Decimal("1.5"))]) == "Annotated[float, Ge(Decimal('1.5'))]"


# --- divisors ------------------------------------------------------------------


@pytest.mark.parametrize(
    "divisor, expected",
    [(3, "MultipleOf(3)"), (0.5, "MultipleOf(0.5)"), (True, "MultipleOf(True)"),
     (fractions.Fraction(1, 3), "MultipleOf(Fraction(1, 3))"), (decimal.Decimal("0.1"), "MultipleOf(Decimal('0.1'))")],
)
def test_divisors(divisor, expected):
    assert built(Annotated[float, M(multiple_of=divisor)]) == f"Annotated[float, {expected}]"


@pytest.mark.parametrize(
    "divisor, message",
    [
        (0, "MultipleOf(0) is not a valid constraint: no value is a multiple of zero. Use a nonzero divisor."),
        (0.0, "MultipleOf(0) is not a valid constraint: no value is a multiple of zero. Use a nonzero divisor."),
        (False, "MultipleOf(0) is not a valid constraint: no value is a multiple of zero. Use a nonzero divisor."),
        (float("nan"), "MultipleOf(nan) is not a valid constraint: no value is a multiple of nan, because every "
         "comparison with nan is false. Write the step you mean"),
        ("2", "MultipleOf('2') is not a valid constraint: a multiple is `value % n == 0`, and the remainder of a "
         "value that is not a number equals no zero, so no value would belong. Write the step as a number"),
    ],
)
def test_divisor_refusals(divisor, message):
    assert refusal(Annotated[int, M(multiple_of=divisor)], ValueError) == message
    assert refusal(Annotated[int, at.MultipleOf(divisor)], ValueError) == message


# --- patterns and flags ----------------------------------------------------------


@pytest.mark.parametrize(
    "flags, expected",
    [
        (re.IGNORECASE, "(?i)x"),
        (re.IGNORECASE | re.MULTILINE, "(?im)x"),
        (re.VERBOSE | re.DOTALL | re.IGNORECASE | re.MULTILINE, "(?imsx)x"),
        (re.UNICODE, "x"),  # every other bit is ignored
        (0, "x"),
        ("i", "x"),  # not an int: ignored
        (-1, "x"),  # not in [0, 2**32): ignored
        (2**32 | re.IGNORECASE, "x"),
        (None, "x"),
    ],
)
def test_flags(flags, expected):
    assert built(Annotated[str, M(pattern="x", flags=flags)]) == f"Annotated[str, Regex({expected!r})]"


@pytest.mark.parametrize(
    "flags, name, reason",
    [
        (re.ASCII, "re.ASCII", "write the ASCII spellings ([0-9], [A-Za-z0-9_]) instead"),
        (re.ASCII | re.LOCALE, "re.ASCII", "write the ASCII spellings ([0-9], [A-Za-z0-9_]) instead"),
        (re.LOCALE | re.IGNORECASE, "re.LOCALE", "a pattern here does not depend on a locale"),
        (re.DEBUG, "re.DEBUG", "it asks the other engine to report on itself"),
    ],
)
def test_refused_flags(flags, name, reason):
    message = refusal(Annotated[str, M(pattern="x", flags=int(flags))], NotImplementedError)
    assert message == f"{name} cannot be carried into this pattern: {reason}"


@pytest.mark.parametrize(
    "marker, expected, texts",
    [
        # re reflects a leading group's flags in `flags`: they are not written twice.
        (re.compile("(?i)a"), "(?i)a", ["A", "a", "b"]),
        (re.compile("(?im)a"), "(?im)a", ["A"]),
        (re.compile("(?s)(?i)."), "(?s)(?i).", ["\n", "A"]),
        (re.compile("(?x) (?i) a # note"), "(?x) (?i) a # note", ["A", " a"]),
        (re.compile("(?x)# note\n(?i)a"), "(?x)# note\n(?i)a", ["A"]),
        (M(pattern="(?i)a", flags=re.IGNORECASE), "(?i)a", ["A"]),
        # Flags the leading groups do not set are still written.
        (re.compile("(?i)a", re.MULTILINE), "(?m)(?i)a", ["A"]),
        (re.compile("(?i:a)b", re.IGNORECASE), "(?i)(?i:a)b", ["AB", "ab"]),
        # The blank before the group is text here unless x comes first.
        (re.compile(" (?i)a", re.VERBOSE), "(?x) (?i)a", ["A", " a"]),
        (re.compile(" (?x)(?i)a", re.VERBOSE), "(?x) (?x)(?i)a", ["A", " a"]),
    ],
)
def test_flags_the_leading_groups_set_are_not_written_again(marker, expected, texts):
    v = Validator(Annotated[str, marker])
    assert repr(v) == f"Annotated[str, Regex({expected!r})]"
    compiled = marker if isinstance(marker, re.Pattern) else re.compile(marker.pattern, marker.flags)
    assert [v.is_valid(t) for t in texts] == [compiled.fullmatch(t) is not None for t in texts]


def test_a_refusal_shows_the_pattern_once():
    message = refusal(Annotated[str, re.compile("(?x)[#a]")], ValueError)
    assert message == 'invalid regular expression "(?x)[#a]": unclosed character class at position 4'


def test_flags_change_matching():
    v = Validator(Annotated[str, M(pattern="ab", flags=re.IGNORECASE)])
    assert v.is_valid("AB") and not v.is_valid("ba")
    v = Validator(Annotated[str, M(pattern="a # a comment", flags=re.VERBOSE)])
    assert v.is_valid("a") and not v.is_valid("a # a comment")


@pytest.mark.parametrize(
    "value, shown",
    [(None, "the pattern None"), (b"x", "a bytes pattern"), (3, "the pattern 3"),
     (re.compile("x"), "the pattern re.compile('x')")],
)
def test_pattern_must_be_text(value, shown):
    message = refusal(Annotated[str, M(pattern=value)], NotImplementedError)
    assert message == (
        f"{shown} cannot constrain a schema: a pattern is matched against text, so write the pattern as a str"
    )


@pytest.mark.parametrize(
    "pattern, operator, position",
    [
        ("[a&&b]", "set intersection", 2),
        ("[a--b]", "set difference", 2),
        ("[a~~b]", "set symmetric difference", 2),
        ("x[^ab&&c]", "set intersection", 5),
        ("[]&&a]", "set intersection", 2),  # "]" first is a literal member
        ("é[a&&b]", "set intersection", 3),  # positions count characters
        ("[a[b]", "nested set", 2),
        ("[[a]]", "nested set", 1),
        ("[a[", "nested set", 2),
        ("[\\]&&a]", "set intersection", 3),
    ],
)
def test_class_set_operators_are_refused(pattern, operator, position):
    message = refusal(Annotated[str, M(pattern=pattern)], ValueError)
    quoted = '"' + pattern.replace("\\", "\\\\") + '"'
    assert message == (
        f"possible {operator} at position {position} in {quoted}: this is a class-set operator here and a literal "
        "character to `re`, so the two read the pattern as different sets. Escape the characters to mean them "
        "literally, or write the classes out."
    )


@pytest.mark.parametrize(
    "pattern",
    ["[&&a]", "[^&&a]", "[--a]", "[\\&&]", "a&&b", "a--b", "[[:alpha:]]", "[a-z]-[b]", "\\[a&&b", "[a&b]"],
)
def test_class_set_operator_scan_passes(pattern):
    assert built(Annotated[str, M(pattern=pattern)]) == f"Annotated[str, Regex({pattern!r})]"


# Classes whose first member is a doubled operator character: `re` reads
# `&&` and `~~` there as two literal characters and `--` as a '-' that may
# open a range, and so does this engine.  Each class is probed inside and
# outside what `re` admits (for `[--a]`, the range '-'..'a').
FIRST_MEMBER_PROBES = ["&", "~", "-", ",", ".", "0", "A", "a", "b", "^", "]", "&&", ""]


@pytest.mark.parametrize(
    "pattern",
    ["[&&a]", "[&&]", "[^&&]", "[^&&a]", "[~~a]", "[~~]", "[^~~]", "[--a]", "[^--a]", "[--]", "[^--]", "[--0]",
     "[--\\x41]", "[&&-a]", "[~~-~a]", "[--a-]", "[--ab]", "x[&&]y"],
)
def test_a_class_opening_with_a_doubled_operator_reads_like_re(pattern):
    v = Validator(Annotated[str, re.compile(pattern)])
    texts = FIRST_MEMBER_PROBES + ["x" + t + "y" for t in FIRST_MEMBER_PROBES]
    assert [t for t in texts if v.is_valid(t)] == [t for t in texts if re.fullmatch(pattern, t)]


def test_a_class_opening_with_a_doubled_operator_is_the_same_set_to_the_decisions():
    assert Validator(Annotated[str, re.compile("[--a]")]).is_equivalent(Annotated[str, re.compile("[\\x2d-\\x61]")])
    assert Validator(Annotated[str, re.compile("[^&&]")]).is_equivalent(Annotated[str, re.compile("[^&]")])


def test_class_set_operator_message_quotes_the_text():
    message = refusal(Annotated[str, M(pattern='"\t\n[a&&b]')], ValueError)
    assert message.startswith('possible set intersection at position 5 in "\\"\\t\\n[a&&b]": ')


@pytest.mark.parametrize(
    "pattern, error",
    [
        ("(", "unclosed group at position 0"),
        ("a{2,1}", "invalid repetition count range, the start must be <= the end at position 1"),
        ("\\1", "backreferences are not supported at position 0"),
        ("é(", "unclosed group at position 1"),
        # Short, but a million NFA states to step for every character.
        ("(?:a{0,1000}){0,1000}", "compiled pattern exceeds the size limit at position 0"),
        ("(?:\\w{0,1000}){2}", "compiled pattern exceeds the size limit at position 0"),
        # Python's re (3.11 on) reads these as possessive, this engine would
        # read them as nested repetitions: refused, as atomic groups are.
        ("a++a", "possessive quantifiers are not supported at position 1"),
        ("a*+", "possessive quantifiers are not supported at position 1"),
        ("a?+", "possessive quantifiers are not supported at position 1"),
        ("(?:ab){1,2}+", "possessive quantifiers are not supported at position 6"),
        ("a(?>b+)", "atomic groups are not supported at position 1"),
        ("a(?#note)", "comment groups are not supported at position 1"),
    ],
)
def test_invalid_patterns(pattern, error):
    quoted = '"' + pattern.replace("\\", "\\\\") + '"'
    assert refusal(Annotated[str, M(pattern=pattern)], ValueError) == f"invalid regular expression {quoted}: {error}"


@pytest.mark.parametrize(
    "pattern, message",
    [
        ("a\ud800", 'invalid regular expression "a\\u{d800}": pattern is not valid UTF-8 at position 1'),
        ("x[\udc00-\udfff]", 'invalid regular expression "x[\\u{dc00}-\\u{dfff}]": pattern is not valid UTF-8 at position 2'),
    ],
)
def test_a_lone_surrogate_is_refused_like_any_invalid_pattern(pattern, message):
    # Once a bare UnicodeEncodeError from reading the str as UTF-8.
    assert refusal(Annotated[str, M(pattern=pattern)], ValueError) == message
    assert refusal(Annotated[str, re.compile(pattern)], ValueError) == message


@pytest.mark.parametrize(
    "marker, text", [(re.compile(r"\w{0,1000}"), "é" * 1000), (M(pattern=r"[\p{L}]{1,1000}"), "ж" * 1000)]
)
def test_the_largest_expected_class_repetitions_compile_and_match(marker, text):
    v = Validator(Annotated[str, marker])
    assert v.is_valid(text) and not v.is_valid(text + "a")


@pytest.mark.parametrize("pattern", ["a+?", "a*?b", "a??", "a{1,2}?", "(?:a+)+", "a+ +"])
def test_lazy_and_nested_quantifiers_are_not_possessive(pattern):
    v = Validator(Annotated[str, M(pattern=pattern)])
    texts = ["", "a", "aa", "ab", "a ", "a  "]
    assert [t for t in texts if v.is_valid(t)] == [t for t in texts if re.fullmatch(pattern, t)]


MULTIPLE_REPEAT = "multiple repeat: stacked quantifiers are not supported"


@pytest.mark.parametrize(
    "pattern, position",
    [("a**", 2), ("a{2}{3}", 4), ("a+?+", 3), ("a??+", 3), ("a?*", 2), ("a{2}*", 4), ("a*{2}", 2), ("a*??", 3),
     ("a{2}?+", 5), ("a*{2}?", 2), ("a{1,2}{3}", 6), ("[a]**", 4), ("(?:a)**", 6), ("(?x)a* *", 7),
     ("(?x)a*#c\n*", 9)],
)
def test_a_quantifier_after_a_quantifier_is_refused_as_re_refuses_it(pattern, position):
    # Nested, a{2}{3} would be a{6}; to re it is no pattern.
    with pytest.raises(re.error, match="multiple repeat") as info:
        re.compile(pattern)
    assert info.value.pos == position
    quoted = '"' + pattern.replace("\\", "\\\\").replace("\n", "\\n") + '"'
    message = f"invalid regular expression {quoted}: {MULTIPLE_REPEAT} at position {position}"
    assert refusal(Annotated[str, M(pattern=pattern)], ValueError) == message


@pytest.mark.parametrize("pattern", ["a{2}?", "(?:a*)*", "(a+)+", "a*?", "a{1,2}?b*", "(?:a{2}){3}", "a*\\*", "a+ +"])
def test_a_repetition_repeated_through_a_group_keeps_matching_as_re(pattern):
    v = Validator(Annotated[str, M(pattern=pattern)])
    texts = ["", "a", "aa", "aaaaaa", "ab", "a*", "a ", "a  "]
    assert [t for t in texts if v.is_valid(t)] == [t for t in texts if re.fullmatch(pattern, t)]


@pytest.mark.parametrize("pattern, position", [("a{2}{", 4), ("a*{", 2), ("a*{1", 2)])
def test_a_brace_after_a_quantifier_that_opens_no_count_keeps_its_message(pattern, position):
    # re reads these braces as characters; here they stay an unclosed count.
    message = f'invalid regular expression "{pattern}": unclosed counted repetition at position {position}'
    assert refusal(Annotated[str, M(pattern=pattern)], ValueError) == message


# The longest counted repetitions of everyday classes within the size
# limit; one more is refused.
@pytest.mark.parametrize(
    "fits, too_big, admitted, refused",
    [
        ("\\w{1,1385}", "\\w{1,1386}", "é" * 1385, "é" * 1386),
        ("[\\w.-]{1,1384}", "[\\w.-]{1,1385}", "a.-" * 461 + "é", "a" * 1385),
    ],
)
def test_the_longest_everyday_repetitions_within_the_size_limit(fits, too_big, admitted, refused):
    v = Validator(Annotated[str, M(pattern=fits)])
    assert v.is_valid(admitted) and not v.is_valid(refused)
    quoted = '"' + too_big.replace("\\", "\\\\") + '"'
    assert refusal(Annotated[str, M(pattern=too_big)], ValueError) == (
        f"invalid regular expression {quoted}: compiled pattern exceeds the size limit at position 0"
    )


@pytest.mark.parametrize(
    "marker, shown",
    [
        (re.compile("(?#c)(?i)a", re.IGNORECASE), "(?#c)(?i)a"),
        (re.compile("(?i)(?#c)(?m)a", re.IGNORECASE | re.MULTILINE), "(?i)(?#c)(?m)a"),
        (M(pattern="(?#c)(?i)a", flags=re.IGNORECASE | re.DOTALL), "(?s)(?#c)(?i)a"),
        (M(pattern="(?#c)a", flags=re.IGNORECASE), "(?i)(?#c)a"),
    ],
)
def test_a_flag_set_behind_a_comment_group_is_not_written_again(marker, shown):
    position = shown.index("(?#")
    assert refusal(Annotated[str, marker], ValueError) == (
        f'invalid regular expression "{shown}": comment groups are not supported at position {position}'
    )


def test_invalid_pattern_shows_the_flagged_text():
    message = refusal(Annotated[str, M(pattern="(", flags=re.IGNORECASE)], ValueError)
    assert message == 'invalid regular expression "(?i)(": unclosed group at position 4'


# --- applicability -------------------------------------------------------------


class Point:
    pass


@pytest.mark.parametrize(
    "base, marker, refused_as",
    [
        (None, M(ge=0), ("None", "order against that bound")),
        (None, M(min_length=1), ("None", "length")),
        (Literal["a"], M(ge=0), ("str", "order against that bound")),
        (Literal[1], M(pattern="1"), ("int", "text for a pattern to match")),
        (str, M(multiple_of=2), ("str", "number for a divisor")),
        (str, M(ge=0), ("str", "order against that bound")),
        (int, M(ge="a"), ("int", "order against that bound")),
        (int, M(max_length=3), ("int", "length")),
        (int, M(pattern="1"), ("int", "text for a pattern to match")),
        (bytes, M(pattern="1"), ("bytes", "text for a pattern to match")),
        (bytes, M(ge="a"), ("bytes", "order against that bound")),
        (list[int], M(ge=(1,)), ("list", "order against that bound")),
        (tuple[int, ...], M(ge=[1]), ("tuple", "order against that bound")),
        (set[int], M(multiple_of=2), ("set", "number for a divisor")),
        (dict[str, int], M(ge={}), ("dict", "order against that bound")),
        (Optional[str], M(ge=0), ("union", "order against that bound")),
        (Union[None, bytes], M(pattern="x"), ("union", "text for a pattern to match")),
    ],
)
def test_inapplicable_constraint_is_refused(base, marker, refused_as):
    kind, prop = refused_as
    assert refusal(Annotated[base, marker], NotImplementedError) == (
        f"{kind} values have no {prop}, so this constraint admits none of them; constrain a base the constraint "
        "can be asked of"
    )


@pytest.mark.parametrize(
    "base, marker",
    [
        (Optional[int], M(ge=0)),  # one member applies: enough
        (int, M(ge=1.5)),
        (float, M(lt=fractions.Fraction(1, 2))),
        (bool, M(multiple_of=1)),
        (str, M(ge="a")),
        (bytes, M(ge=b"a")),
        (list[int], M(ge=[1])),
        (tuple[int, ...], M(ge=(1,))),
        (frozenset[int], M(le=frozenset())),
        (dict[str, int], M(max_length=2)),
        (bytes, M(min_length=1)),
        (Any, M(pattern="a")),
        (Any, M(multiple_of=2)),
        (Literal[object()], M(ge=0)),  # any other constant: undetermined
        (Point, M(ge=0)),
        (int, M(func=lambda v: True)),  # predicates are never tested
        (None, is_even),
    ],
)
def test_applicable_or_undetermined_constraint_is_kept(base, marker):
    assert built(Annotated[base, marker]).startswith("Annotated[")


def test_all_markers_are_read_before_applicability():
    # the unreadable marker comes second but is reported before the bound
    message = refusal(Annotated[str, M(ge=0), M(min_length=-1)], ValueError)
    assert message.startswith("min_length must be")


# --- groups --------------------------------------------------------------------


def nested(levels, inner):
    for _ in range(levels):
        inner = Group(inner)
    return inner


@pytest.mark.parametrize("levels, accepted", [(1, True), (8, True), (9, False)])
def test_group_depth(levels, accepted):
    # `levels` groups around one bound: the innermost sits at depth levels - 1
    spec = Annotated[int, nested(levels, M(ge=0))]
    if accepted:
        assert built(spec) == "Annotated[int, Ge(0)]"
    else:
        assert refusal(spec, ValueError) == (
            "Group(...) groups markers nested too deeply: a marker stands for the constraints it yields, and "
            "following this one does not bottom out"
        )


def test_endless_group_stops_at_the_node_limit():
    class Endless(Group):
        def __iter__(self):
            n = 0
            while True:
                n += 1
                yield M(ge=n)

    message = refusal(Annotated[int, Endless()], ValueError)
    assert message == (
        f"Group(...) yields more than {tessaron.MAX_SCHEMA_NODES} constraints: a schema holds at most "
        "MAX_SCHEMA_NODES nodes, so a group of markers this long, or one that never ends, cannot be carried"
    )


def test_endless_group_of_non_markers_stops_at_the_step_budget():
    class Endless(Group):
        def __iter__(self):
            while True:
                yield "a note"

    assert refusal(Annotated[int, Endless()], ValueError).startswith("schema is too large to compile")


class GroupFlagRaises:
    @property
    def __is_annotated_types_grouped_metadata__(self):
        raise RuntimeError("not readable")

    def __iter__(self):
        return iter([M(ge=0)])


def test_grouped_test_errors_count_as_not_grouped():
    assert built(Annotated[int, GroupFlagRaises()]) == "int"


# --- annotated_types markers ------------------------------------------------------


@pytest.mark.parametrize("marker", [at.Timezone(None), at.Unit("m")])
def test_unknown_annotated_types_markers_are_refused(marker):
    assert refusal(Annotated[int, marker], NotImplementedError) == (
        f"{marker!r} is a constraint this frontend does not check; a schema carrying it would admit the values "
        "it excludes, so it is refused rather than ignored"
    )


def foreign(module, name):
    return type(name, (), {"__module__": module})()


@pytest.mark.parametrize(
    "item, refused",
    [
        (foreign("annotated_types", "Frobnicate"), True),
        (foreign("annotated_types", "DocInfo"), False),
        (foreign("my_module", "Frobnicate"), False),
        (at.DocInfo("text") if hasattr(at, "DocInfo") else foreign("annotated_types", "DocInfo"), False),
    ],
)
def test_unchecked_marker_rule(item, refused):
    if refused:
        refusal(Annotated[int, item], NotImplementedError)
    else:
        assert built(Annotated[int, item]) == "int"


# --- the type flag cache ------------------------------------------------------------


def test_many_marker_types_still_read_correctly():
    # more types than the cache keeps: the later ones are read afresh each time
    types = [type(f"Marker{i}", (), {"ge": i}) for i in range(300)]
    for i, cls in enumerate(types):
        assert built(Annotated[int, cls()]) == f"Annotated[int, Ge({i})]"
    # an instance dict seen first for a type does not hide later instances' attributes
    late = type("LateMarker", (), {})
    first, second = late(), late()
    second.lt = 3
    assert built(Annotated[int, first]) == "int"
    assert built(Annotated[int, second]) == "Annotated[int, Lt(3)]"


# --- errors of user code ----------------------------------------------------------


class Raising:
    @property
    def ge(self):
        raise RuntimeError("attribute access failed")


class RaisingGroup(Group):
    def __iter__(self):
        raise RuntimeError("iteration failed")


class FloatInterrupts:
    def __float__(self):
        raise KeyboardInterrupt

    def __repr__(self):
        return "FloatInterrupts()"


@pytest.mark.parametrize(
    "item, exc_type",
    [
        (Raising(), RuntimeError),
        (RaisingGroup(), RuntimeError),
        (M(ge=FloatInterrupts()), KeyboardInterrupt),  # fatal errors are never discarded
    ],
)
def test_user_errors_propagate(item, exc_type):
    with pytest.raises(exc_type):
        Validator(Annotated[int, item])


def test_base_is_built_first():
    from typing import Protocol

    class NotCheckable(Protocol):
        def method(self): ...

    # the base is refused before the unreadable length is read
    message = refusal(Annotated[NotCheckable, M(min_length=-1)], NotImplementedError)
    assert "runtime_checkable" in message
