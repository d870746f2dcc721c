"""How failures show values: reprlib limits, the 80-character cut, fall-backs."""

import reprlib

import pytest

import _tessaron
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


# --- containers: the text as the reprlib instance makes it, made only as far
# as the kept characters reach ---------------------------------------------


def todays_text(obj):
    """The value text by the rule spelled out in Python: a container through
    the reprlib instance (falling back to plain repr() when it raises or its
    text cannot be encoded), anything else through repr(), then the cut."""
    def cut(text):
        return text if len(text) <= 80 else text[:80] + "..."

    if isinstance(obj, (list, tuple, dict, set, frozenset)):
        try:
            text = reference(obj)
            text.encode("utf-8")
            return cut(text)
        except Exception:
            pass
    try:
        text = str(repr(obj))
    except Exception:
        return "<unrepresentable>"
    return cut(text.encode("utf-8", "surrogatepass").decode("utf-8", "replace"))


class Named:
    def __init__(self, text):
        self.text = text

    def __repr__(self):
        return self.text


class ShortList(list):
    def __repr__(self):
        return "S!"


def _self_holding():
    loop = [1]
    loop.append(loop)
    return loop


def _dict_holding_itself():
    d = {"k": 1}
    d["self"] = d
    return d


def _nested(depth, leaf):
    for _ in range(depth):
        leaf = [leaf]
    return leaf


def _shared(width, depth, leaf=1):
    for _ in range(depth):
        leaf = [leaf] * width
    return leaf


HUGE = 10**5000  # longer than repr() shows under the default digit limit

DIFFERENTIAL = [
    [],
    (),
    (1,),
    ((),),
    [[]],
    [(), {}, set(), frozenset()],
    [1, "two", 3.0, None, True, b"\x00\xff'"],
    ["x" * 200],
    ["é" * 30, "日本" * 30],
    ["\n" * 30],  # short, but its repr is over 80 characters
    ["\ud800", "a\x00b"],
    [10**100, -(10**100), 2**63, -(2**63) - 1],
    [1.5, float("nan"), float("inf"), -0.0, 1e300, 5e-324],
    list(range(32)),
    list(range(33)),
    tuple(range(40)),
    {i: i for i in range(33)},
    {(1, 2): None, None: (), frozenset({3}): "x", "k": [1]},
    {3: "c", 1: "a", 2: "b"},  # sorted keys, not insertion order
    {i: -i for i in range(40, 0, -1)},  # the 32 smallest keys
    {1: "a", "b": 2},  # keys that do not sort: insertion order
    {3, 1, 2},
    {1, "a", (2,)},
    set(range(100, 0, -3)),
    frozenset({(1, 2), (3,), ()}),
    {float("nan"), 1.0, 0.5},
    _nested(11, []),
    _nested(12, []),
    _nested(13, [1]),
    _nested(12, (1,)),
    _nested(14, {"a": 1}),
    _nested(11, {"a": {1, 2}}),
    _self_holding(),
    _dict_holding_itself(),
    _shared(4, 5),
    _shared(2, 12),
    _shared(40, 2, "x"),
    [Named("N" * 100)],
    [Named("a\udcffb")],  # its text cannot be encoded: plain repr() of the list
    [Named("a\udcffb" + "z" * 100)],
    [Named("z" * 50 + "\udcff" + "z" * 50)],  # the surrogate in the elided middle
    [BadRepr(ValueError("no"))],
    ShortList([1]),
    [ShortList([2]), LongRepr()],
    {"k": ShortList()},
    [HUGE],
    ["x" * 100, HUGE],  # past the kept text, still raising
    [_shared(4, 4), {"z": HUGE}],
    {1: [HUGE]} | {i: i for i in range(2, 40)},
    _nested(12, HUGE),
    _nested(13, [HUGE]),  # below the last level: never shown
    {i: HUGE for i in range(33, 50)} | {0: "x" * 90},
]


@pytest.mark.parametrize("value", DIFFERENTIAL, ids=range(len(DIFFERENTIAL)))
def test_container_texts_are_the_reprlib_rule(value):
    assert shown(value) == todays_text(value)


WORK = [
    # (value, nodes a text may visit at most); each is far too large to
    # render whole (4**12 or 6**20 paths).
    (_shared(4, 12), 300),
    (_shared(6, 20), 300),
    ({"a": _shared(6, 20)}, 300),
    ([_shared(6, 20)] * 3, 300),
    (_shared(3, 30, "x" * 1000), 300),
    (dict.fromkeys(range(40), _shared(6, 20)), 300),
    ({"k": _shared(4, 12), "l": [[_shared(4, 12)] * 40] * 40}, 300),
]


@pytest.mark.parametrize("value, budget", WORK, ids=range(len(WORK)))
def test_a_texts_work_is_bounded_by_the_text_kept(value, budget):
    before = _tessaron._value_text_work()
    text = shown(value)
    assert _tessaron._value_text_work() - before <= budget
    assert len(text) == 83 and text.endswith("...")


@pytest.mark.parametrize(
    "validator, value, message",
    [
        # The texts the rendering that followed every path made.
        (
            Validator(int),
            _shared(4, 12),
            "expected int, got [[[[[[[[[[[[1, 1, 1, 1], [1, 1, 1, 1], [1, 1, 1, 1], [1, 1, 1, 1]],"
            " [[1, 1, 1, 1... [int_type]",
        ),
        (
            Validator({"a": int}),
            {"a": _shared(4, 12)},
            "at a: expected int, got [[[[[[[[[[[[1, 1, 1, 1], [1, 1, 1, 1], [1, 1, 1, 1], [1, 1, 1, 1]],"
            " [[1, 1, 1, 1... [int_type]",
        ),
    ],
)
@pytest.mark.parametrize("fail_fast", [True, False])
def test_a_shared_values_message_is_unchanged(validator, value, message, fail_fast):
    with pytest.raises(ValidationError) as info:
        validator.validate(value, fail_fast=fail_fast)
    assert str(info.value) == message


@pytest.mark.parametrize("value", [[_shared(5, 14), HUGE], {"a": _shared(5, 14), "b": {HUGE}}], ids=["list", "dict"])
def test_an_int_too_long_to_show_past_a_shared_value_is_found_without_following_its_paths(value):
    # Plain repr() of these would follow 5**14 paths before it met the int
    # and raised; the text is known from the value's distinct containers.
    before = _tessaron._value_text_work()
    assert shown(value) == "<unrepresentable>"
    assert _tessaron._value_text_work() - before <= 300
