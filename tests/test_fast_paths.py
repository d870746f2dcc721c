"""The shortcuts of the recording walk give the answers of the full walk.

`validate` answers a member of a union of literals from the literal sets,
tests the elements of a list whose element checks call no user code before
it walks them with paths, and answers a scalar root without a walk state;
`is_valid_json` reads JSON ints and strings against the literal sets
directly.  These tests pin that the verdicts and the reports are those of
the full walk, and that user code still runs exactly once per check.
"""

import enum
import json
from typing import Literal, Optional, Union

import pytest

from tessaron import ValidationError, Validator, recursive

Colour = Literal["red", "green", "blue", 0, 1, 2**70]


class StrSub(str):
    pass


def outcome(v, value, **kw):
    try:
        v.validate(value, **kw)
    except ValidationError as e:
        return [(err["code"], err["path"], err["expected"]) for err in e.errors]
    return None


UNION_EXPECTED = "one of: the literal 'red', the literal 'green', the literal 'blue', the literal 0, the literal 1, the literal 1180591620717411303424"


@pytest.mark.parametrize(
    "value, member",
    [
        ("red", True),
        (1, True),
        (2**70, True),  # past 64 bits: the members answer
        ("purple", False),
        (4, False),
        (True, False),  # == 1, but a bool
        (1.0, False),
        (StrSub("red"), False),
        ("\ud800", False),  # no UTF-8 form: the members answer
        (None, False),
    ],
)
@pytest.mark.parametrize("fail_fast", [False, True])
def test_literal_union_recording_agrees_with_the_verdict(value, member, fail_fast):
    v = Validator(Colour)
    assert v.is_valid(value) is member
    expected = None if member else [("union_error", (), UNION_EXPECTED)]
    assert outcome(v, value, fail_fast=fail_fast) == expected
    assert outcome(Validator(list[Colour]), ["red", value], fail_fast=fail_fast) == (
        None if member else [("union_error", (1,), UNION_EXPECTED)]
    )


@pytest.mark.parametrize(
    "text, member",
    [
        ('"red"', True),
        ('"gr\\u0065en"', True),  # escaped: compared by its decoded text
        ("1", True),
        ("1180591620717411303424", True),  # a big int: the members answer
        ('"purple"', False),
        ("4", False),
        ("true", False),  # a bool, not the int 1
        ("1.0", False),
        ("null", False),
        ('["red"]', False),
    ],
)
def test_literal_union_json_agrees_with_the_parsed_value(text, member):
    v = Validator(Colour)
    assert v.is_valid_json(text) is member
    assert v.is_valid(json.loads(text)) is member
    lv = Validator(list[Colour])
    doc = f'["blue", {text}, 0]'
    assert lv.is_valid_json(doc) is member
    assert lv.is_valid(json.loads(doc)) is member


class Counted(enum.Enum):
    A = 1
    B = 2

    def __eq__(self, other):
        CALLS.append(("eq", self.name))
        return self is other

    def __hash__(self):
        return hash(self.name)


class Shown:
    def __repr__(self):
        CALLS.append(("repr",))
        return "Shown()"


CALLS = []


@pytest.mark.parametrize(
    "spec, value, calls, codes",
    [
        # a literal of a class with its own __eq__: no first pass, one
        # comparison per element walked (collect all, fail fast)
        (list[Literal[Counted.A]], [Counted.A, Counted.A, Counted.A], (3, 3), None),
        (list[Literal[Counted.A]], [Counted.A, Counted.B, Counted.A], (3, 2), ["literal_error"]),
        (list[Union[Literal[Counted.A], int]], [Counted.A, 5, Counted.B], (2, 2), ["union_error"]),
        # a first pass that fails: value texts are made by the report only
        # (a union weighs its members without texts and shows the value once)
        (list[int], [1, Shown(), 3], (1, 1), ["int_type"]),
        (list[Union[Literal[1, 2], None]], [1, None, Shown()], (1, 1), ["union_error"]),
        (tuple[int, str], (1, Shown()), (1, 1), ["string_type"]),
    ],
)
def test_user_code_runs_once_per_check(spec, value, calls, codes):
    v = Validator(spec)
    for fail_fast, count in zip((False, True), calls):
        CALLS.clear()
        try:
            v.validate(value, fail_fast=fail_fast)
            got = None
        except ValidationError as e:
            got = [err["code"] for err in e.errors]
        assert got == codes
        assert len(CALLS) == count, CALLS


@pytest.mark.parametrize(
    "spec, value, errors",
    [
        (list[int], list(range(100)) + ["x", 2, "y"], [("int_type", (100,)), ("int_type", (102,))]),
        (list[Union[int, None]], [None] * 20 + [1.5], [("union_error", (20,))]),
        (tuple[int, ...], (1, 2, "3"), [("int_type", (2,))]),
        (list[Literal["a", "b"]], ["a"] * 30 + ["c"], [("union_error", (30,))]),
        (list[int], [], None),
        (tuple[()], (), None),
    ],
)
def test_lists_of_plain_elements_report_every_failure(spec, value, errors):
    v = Validator(spec)
    got = outcome(v, value)
    assert (None if got is None else [(c, p) for c, p, _ in got]) == errors
    assert v.is_valid(value) is (errors is None)
    if errors:
        first = outcome(v, value, fail_fast=True)
        assert [(c, p) for c, p, _ in first] == errors[:1]


@pytest.mark.parametrize(
    "leaf, leaf_value, limit",
    [
        (Literal["a", "b"], "a", 507),
        (Union[str, None], "a", 507),
        (int, 1, 508),
        ({"k": Union[str, None], "n": int}, {"k": "a", "n": 1}, 506),
        ({"k": Literal["a", "b"]}, {"k": "a"}, 506),
        ({"k": int}, {"k": 1}, 507),
        (list[int], [1], 507),
        (list[Union[str, None]], ["a"], 506),
    ],
    ids=repr,
)
def test_plain_checks_at_the_nesting_limit_agree_with_the_walk(leaf, leaf_value, limit):
    # Four lists per entry into the definition (six walk levels with the
    # union and the back edge), then p + 1 tuples around the leaf: the
    # value is a member exactly while its innermost check stays within the
    # 512 levels, which puts a limit on 3k/2 + p that depends on the leaf
    # alone.  The literal sets, the type tests of plain items and of record
    # values stand for walks one or two levels down and must refuse at the
    # same point, in every mode.
    def value(k, p):
        x = leaf_value
        for _ in range(p + 1):
            x = (x,)
        for _ in range(k):
            x = [x]
        return x

    for p in range(8):

        def body(x, p=p):
            lit = Validator(leaf)  # a record as a spec typing can hold
            for _ in range(p + 1):
                lit = tuple[lit]
            return Union[list[list[list[list[x]]]], lit]

        v = Validator(recursive(body))
        for k in range(300, 360, 4):
            x = value(k, p)
            member = 3 * k // 2 + p <= limit
            assert v.is_valid(x) is member, (p, k)
            assert (outcome(v, x) is None) is member, (p, k)


@pytest.mark.parametrize(
    "args, kwargs, result",
    [
        ((1,), {}, None),
        (("x",), {}, "ValidationError"),
        ((1,), {"fail_fast": True}, None),
        (("x",), {"fail_fast": True}, "ValidationError"),
        (("x",), {"".join(["fail_", "fast"]): False}, "ValidationError"),  # a name not interned
        ((1,), {"fail_fast": 1}, "TypeError: argument 'fail_fast': 'int' object is not an instance of 'bool'"),
        ((1,), {"fail_fast": None}, "TypeError: argument 'fail_fast': 'NoneType' object is not an instance of 'bool'"),
        ((1, True), {}, "TypeError"),
        ((), {"obj": 1}, "TypeError"),
        ((1,), {"fail_fast": True, "other": 1}, "TypeError"),
        ((1,), {"failfast": True}, "TypeError"),
    ],
)
def test_validate_argument_spellings(args, kwargs, result):
    v = Validator(int)
    try:
        got = v.validate(*args, **kwargs)
    except ValidationError:
        got = "ValidationError"
    except TypeError as e:
        got = "TypeError" + (f": {e}" if "fail_fast" in str(e) and "bool" in str(e) else "")
    assert got == result


# --- plain items: a list or tuple of scalars or of literals, scanned in place -

class Never:
    """No value is an instance: a union with it is walked member by member,
    which keeps the scans of plain items out of the reference."""


class IntSub(int):
    pass


class FloatSub(float):
    pass


class BytesSub(bytes):
    pass


class Grows:
    """Equal to everything; appends to `target` (a list under validation)
    each time it is compared."""

    target = None

    def __eq__(self, other):
        if Grows.target is not None:
            Grows.target.append(0)
        return True

    __hash__ = object.__hash__


GROWS = Grows()
PLAIN_ELEMENTS = [
    Union[str, None],
    Union[int, float, None],
    Union[bool, bytes],
    int,
    bool,
    float,
    str,
    bytes,
    type(None),
    Literal["red", "gr\u00fcn", "\U0001f642", "", 0, 7, -(2**63), 2**63 - 1, 2**70, "\ud800"],
    Literal[1, 2, 3, 4],
    Literal["a", "b", True, 1.5, b"a", None],
    Literal["a", GROWS],
]


def fresh(text):
    """An equal str that is not the constant object (as a parser makes it)."""
    return "".join(list(text))


PLAIN_VALUES = [
    0, 1, 7, True, False, 2**63 - 1, 2**63, -(2**63), -(2**63) - 1, 2**70, IntSub(7), 1.5, float("nan"),
    "red", fresh("red"), fresh("gr\u00fcn"), fresh("\U0001f642"), "", "gr\u00fcn".encode(), "\ud800",
    StrSub("red"), "a", StrSub("a"), b"a", None, [], (), object(), FloatSub(2.5), BytesSub(b"a"),
]
# Past the entry's own scan, so that the walk's scan of the list runs too
# (for a few of the values).
LONG = 20000
LONG_VALUES = [7, fresh("red"), 2**70, "\ud800", True]


def plain_cases(element):
    fast_spec, slow_spec = list[element], list[Union[element, Never]]
    yield Validator(fast_spec), Validator(slow_spec), list
    yield Validator(tuple[element, ...]), Validator(tuple[Union[element, Never], ...]), tuple
    # Below the root: the walk's own scans.
    yield Validator({"k": fast_spec}), Validator({"k": slow_spec}), lambda items: {"k": list(items)}


@pytest.mark.parametrize("element", PLAIN_ELEMENTS, ids=repr)
def test_plain_items_agree_with_the_walk_of_their_members(element):
    filler = next(v for v in ["a", 1, True, 1.5, b"a", None, "red"] if Validator(element).is_valid(v))
    for fast, slow, make in plain_cases(element):
        for value in PLAIN_VALUES:
            lists = [[value], ["red", 1, value], [value] * 3 + [2]]
            if any(value is v for v in LONG_VALUES):
                lists.append([filler] * LONG + [value])
            for items in lists:
                x = make(items)
                member = slow.is_valid(x)
                assert fast.is_valid(x) is member, (element, items[-2:])
                assert (outcome(fast, x) is None) is member, (element, items[-2:])
                assert (outcome(fast, x, fail_fast=True) is None) is member


@pytest.mark.parametrize("wrap", [lambda x: x, lambda x: {"k": x}], ids=["root", "nested"])
@pytest.mark.parametrize("n", [3, LONG])
def test_an_item_whose_comparison_grows_the_list_is_reported(wrap, n):
    # The item is not an exact int or str, so the literal sets leave it to
    # the members' walk, whose comparison appends to the list under check.
    v = Validator(wrap(list[Literal["a", GROWS]]))
    for check in (v.is_valid, lambda x: outcome(v, x), lambda x: outcome(v, x, fail_fast=True)):
        items = ["a"] * n + [Grows()]
        Grows.target = items
        try:
            got = check(wrap(items))
        finally:
            Grows.target = None
        assert got is False or [code for code, _, _ in got] == ["mutated_during_validation"], got


@pytest.mark.parametrize("element", PLAIN_ELEMENTS, ids=repr)
def test_plain_record_values_agree_with_the_walk_of_their_members(element):
    fast = Validator({"k": element, "n": int, "o?": element})
    slow = Validator({"k": Union[element, Never], "n": int, "o?": Union[element, Never]})
    for value in PLAIN_VALUES:
        for x in ({"k": value, "n": 1}, {"k": "red", "n": 1, "o": value}, {"k": value}, {"k": value, "n": 1, "x": 0}):
            member = slow.is_valid(x)
            assert fast.is_valid(x) is member, (element, x)
            assert (outcome(fast, x) is None) is member, (element, x)
            assert outcome(fast, x) == outcome(Validator({"k": element, "n": int, "o?": element}), x)


class BadRepr:
    def __repr__(self):
        raise ValueError("no text")


@pytest.mark.parametrize("kind", [type(None), bool, int, float, str, bytes])
def test_scalar_root_failures_read_as_the_walk_records_them(kind):
    # A scalar root refusing a builtin scalar makes its one failure without
    # a walk; the same check one key down goes through the walk.
    top, nested = Validator(kind), Validator({"a": kind})
    values = ["x", "y" * 200, "\ud800", "gr\u00fcn\n", b"\x00" * 90, 1.5, float("nan"), 2**300, -7, None, True,
              StrSub("s"), IntSub(3), BadRepr(), [1], Shown()]
    for value in values:
        for fail_fast in (False, True):
            try:
                top.validate(value, fail_fast=fail_fast)
                assert nested.is_valid({"a": value}), value
                continue
            except ValidationError as e:
                err = e
            with pytest.raises(ValidationError) as info:
                nested.validate({"a": value}, fail_fast=fail_fast)
            inner = info.value
            assert str(inner) == "at a: " + str(err)
            assert err.args == (str(err),) and set(vars(err)) == {"_failures"}
            assert (err.code, err.expected, err.value, err.path) == (inner.code, inner.expected, inner.value, ())
            assert [dict(d, path=("a",), message="at a: " + d["message"]) for d in err.errors] == list(inner.errors)
