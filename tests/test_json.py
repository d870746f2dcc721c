"""JSON input: ``validate_json``, ``load`` and ``is_valid_json``.

``load`` and ``validate_json`` parse into Python objects and validate those;
``is_valid_json`` walks its own parsed tree.  The properties compare both
with the standard library's ``json`` module on documents both accept.
"""

import json
import math
import string
import typing

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import tessaron
from tessaron import ValidationError, Validator

from interpreter import cpython_only

ANY = tessaron.anything
NOT_JSON_TYPE = "JSON input must be a str or bytes object"
LONE_SURROGATE = "input string is not valid UTF-8 (contains a lone surrogate)"


def json_failure(v, data, **kwargs):
    """The json_invalid error of ``data``, checked to be the same from
    ``validate_json`` and ``load``, and ``is_valid_json`` to say False."""
    assert v.is_valid_json(data) is False
    errors = []
    for method in (v.validate_json, v.load):
        with pytest.raises(ValidationError) as info:
            method(data, **kwargs)
        errors.append(info.value)
    first, second = errors
    assert str(first) == str(second)
    assert (first.code, first.path, first.expected) == ("json_invalid", (), "valid JSON")
    assert len(first.errors) == 1
    assert str(first) == f"expected valid JSON, got {first.value} [json_invalid]"
    return first


# --- input types ------------------------------------------------------------


@pytest.mark.parametrize("data", [123, None, bytearray(b"1"), memoryview(b"1"), ["1"], 1.5])
def test_neither_str_nor_bytes_is_a_type_error(data):
    v = Validator(ANY)
    for method in (v.validate_json, v.load):
        with pytest.raises(TypeError) as info:
            method(data)
        assert str(info.value) == NOT_JSON_TYPE
    assert v.is_valid_json(data) is False


def test_str_and_bytes_subclasses_are_documents():
    class Text(str):
        pass

    class Raw(bytes):
        pass

    v = Validator({"a": int})
    for data in (Text('{"a": 1}'), Raw(b'{"a": 1}')):
        assert v.load(data) == {"a": 1}
        assert v.is_valid_json(data) is True


def test_a_lone_surrogate_in_a_str_is_not_utf8():
    err = json_failure(Validator(ANY), '"\ud800"')
    assert err.value == LONE_SURROGATE


def test_non_ascii_text_is_read_as_utf8():
    v = Validator({"clé": str})
    doc = '{"clé": "naïve ☃ 😀"}'
    assert v.load(doc) == {"clé": "naïve ☃ 😀"}
    assert v.load(doc.encode()) == {"clé": "naïve ☃ 😀"}
    assert v.is_valid_json(doc) and v.is_valid_json(doc.encode())


# --- malformed documents ----------------------------------------------------

MALFORMED = [
    ("", "expected a JSON value, found end of input at line 1 column 0"),
    (" \n\t ", "expected a JSON value, found end of input at line 2 column 3"),
    ("1 2", "trailing characters after the JSON value at line 1 column 3"),
    ("[1] x", "trailing characters after the JSON value at line 1 column 5"),
    ("01", "invalid number at line 1 column 2"),
    ("[1.]", "invalid number at line 1 column 4"),
    ("1e400", "number out of range (too large for a float) at line 1 column 1"),
    # Exponents longer than the parser holds: a true overflow is refused at
    # the number, and later errors keep their positions.
    ("[1e2147483648]", "number out of range (too large for a float) at line 1 column 2"),
    ("-12.5e+99999999999", "number out of range (too large for a float) at line 1 column 1"),
    ("[0e99999999999, nul]", "invalid literal (expected true, false or null) at line 1 column 17"),
    # A malformed number after a long exponent stays malformed (the rewrite
    # touches well-formed numbers only).
    ("[0e2147483648, 0.5e-1234565e-11]", "invalid number at line 1 column 28"),
    ("[0e2147483648, 01e99999999999]", "invalid number at line 1 column 17"),
    ("NaN", "NaN and Infinity are not allowed at line 1 column 1"),
    ("[-Infinity]", "NaN and Infinity are not allowed at line 1 column 3"),
    ("[1,]", "trailing comma before ']' at line 1 column 4"),
    ('{"a":1,}', "trailing comma before '}' at line 1 column 8"),
    ('{"a" 1}', "expected ':' after an object key at line 1 column 6"),
    ("{'a': 1}", "expected a double-quoted string as object key at line 1 column 2"),
    ('{\n "a": 1\n "b": 2}', "expected ',' or '}' after an object value at line 3 column 2"),
    ("[true false]", "expected ',' or ']' after an array item at line 1 column 7"),
    ("[nul]", "invalid literal (expected true, false or null) at line 1 column 2"),
    ('"abc', "unexpected end of input inside a string at line 1 column 5"),
    ('"\\q"', "invalid escape sequence in a string at line 1 column 3"),
    ('"\\u12x4"', "invalid \\u escape in a string (expected four hex digits) at line 1 column 6"),
    ('"\\ud800"', "lone surrogate in a \\u escape at line 1 column 8"),
    ('["\\udc00"]', "lone surrogate in a \\u escape at line 1 column 9"),
    ('"a\tb"', "control character in a string (it must be escaped) at line 1 column 3"),
    (b'"\xff"', "invalid UTF-8 in a string at line 1 column 2"),
    (b'"\xed\xa0\x80"', "invalid UTF-8 in a string at line 1 column 2"),
    ("[" * 201 + "]" * 201, "nesting too deep (at most 200 nested containers) at line 1 column 201"),
]


@pytest.mark.parametrize("data, reason", MALFORMED)
def test_malformed_documents_are_json_invalid(data, reason):
    assert json_failure(Validator(ANY), data).value == reason


@pytest.mark.parametrize("data, reason", MALFORMED[:6])
def test_json_invalid_ignores_fail_fast_and_the_schema(data, reason):
    # No schema check runs: a schema that admits nothing still reports the
    # document, and fail_fast changes nothing.
    assert json_failure(Validator(tessaron.nothing), data, fail_fast=True).value == reason


def test_json_invalid_value_is_cut_to_80_characters():
    data = "\n" * 999 + " " * 99990 + '"\\u12x4"'
    full = "invalid \\u escape in a string (expected four hex digits) at line 1000 column 99995"
    err = json_failure(Validator(ANY), data)
    assert err.value == full[:80] + "..."
    assert len(err.value) == 83


def test_same_document_as_str_and_bytes_gives_the_same_error():
    v = Validator(ANY)
    for data, _ in MALFORMED:
        if isinstance(data, str):
            assert json_failure(v, data).value == json_failure(v, data.encode()).value


# --- well-formed edge cases -------------------------------------------------


def test_a_repeated_key_keeps_its_first_position_and_last_value():
    doc = '{"a": 1, "b": 2, "a": "three"}'
    loaded = Validator(ANY).load(doc)
    assert loaded == {"a": "three", "b": 2}
    assert list(loaded) == ["a", "b"]
    assert Validator({"a": str, "b": int}).is_valid_json(doc) is True
    assert Validator({"a": int, "b": int}).is_valid_json(doc) is False
    # Many members take the hashed merge in the tree.
    many = "{" + ", ".join(f'"k{i}": {i}' for i in range(40)) + ', "k7": "x"}'
    assert Validator(dict[str, int]).is_valid_json(many) is False
    assert Validator(ANY).load(many)["k7"] == "x"


@pytest.mark.parametrize(
    "doc, expected",
    [
        ("1.0", 1.0),
        ("1", 1),
        ("123456789012345678901234567890", 123456789012345678901234567890),
        ("-123456789012345678901234567890", -123456789012345678901234567890),
        ("9223372036854775808", 2**63),
        ("-9223372036854775808", -(2**63)),
        ("1e-400", 0.0),
        ("-0.0", -0.0),
        # Zeros and underflows with exponents longer than 32 bits hold.
        ("0e2147483648", 0.0),
        ("0.0e99999999999", 0.0),
        ("1e-9999999999", 0.0),
        ("-0e+99999999999", -0.0),
        ("-25.5e-00012345678901", -0.0),
        ("0e0000000000000000000000001", 0.0),
        ("-0", 0),
        ("2.2250738585072011e-308", 2.2250738585072011e-308),
        ("0.1", 0.1),
        ("1E2", 100.0),
    ],
)
def test_numbers(doc, expected):
    loaded = Validator(ANY).load(doc)
    assert type(loaded) is type(expected)
    assert loaded == expected
    assert math.copysign(1, loaded) == math.copysign(1, expected)
    schema = float if isinstance(expected, float) else int
    other = int if schema is float else float
    assert Validator(schema).is_valid_json(doc) is True
    assert Validator(other).is_valid_json(doc) is False


def test_json_true_is_an_int_and_a_bool_but_never_bytes_or_a_tuple():
    assert Validator(int).is_valid_json("true") is True
    assert Validator(bool).is_valid_json("1") is False
    assert Validator(bytes).is_valid_json('"a"') is False
    assert Validator(tuple[int, ...]).is_valid_json("[1]") is False
    assert Validator(list[int]).is_valid_json("[1, true]") is True
    assert Validator(set[int]).is_valid_json("[1]") is False


@pytest.mark.parametrize("depth, ok", [(200, True), (201, False), (202, False)])
def test_nesting_of_200_containers_passes(depth, ok):
    doc = "[" * depth + "0" + "]" * depth
    v = Validator(ANY)
    assert v.is_valid_json(doc) is ok
    if ok:
        loaded = v.load(doc)
        for _ in range(depth):
            assert isinstance(loaded, list) and len(loaded) == 1
            loaded = loaded[0]
        assert loaded == 0
    else:
        json_failure(v, doc)


def test_load_returns_a_new_object_and_validate_json_none():
    v = Validator({"a": list[int]})
    doc = b'{"a": [1, 2]}'
    first, second = v.load(doc), v.load(doc)
    assert first == {"a": [1, 2]} and first is not second
    assert v.validate_json(doc) is None


def test_failures_of_a_parsed_document_are_those_of_validate():
    v = Validator({"a": list[int], "b": str})
    doc = '{"a": [1, "x", 3.5]}'
    for fail_fast in (False, True):
        with pytest.raises(ValidationError) as from_json:
            v.validate_json(doc, fail_fast=fail_fast)
        with pytest.raises(ValidationError) as from_load:
            v.load(doc, fail_fast=fail_fast)
        with pytest.raises(ValidationError) as from_value:
            v.validate(json.loads(doc), fail_fast=fail_fast)
        assert str(from_json.value) == str(from_load.value) == str(from_value.value)
    assert [e["path"] for e in from_json.value.errors] == [("a", 1)]


def test_checks_that_need_a_python_value_get_one():
    assert Validator(typing.Literal["on", 2]).is_valid_json('"on"') is True
    assert Validator(typing.Literal["on", 2]).is_valid_json('"off"') is False
    assert Validator(typing.Literal[True]).is_valid_json("1") is False
    assert Validator(typing.Literal[2**70]).is_valid_json(str(2**70)) is True
    assert Validator(dict).is_valid_json('{"a": [1]}') is True
    assert Validator(list).is_valid_json('{"a": [1]}') is False


def test_records_and_catch_all_clauses():
    class Movie(typing.TypedDict, total=False):
        title: str
        year: int

    cases = [
        (Movie, '{"title": "x"}', True),
        (Movie, '{"title": "x", "year": "1999"}', False),
        (Movie, '{"title": "x", "extra": [1]}', True),
        ({"a": int}, '{"a": 1, "b": [null]}', False),
        ({"a": int}, '{"b": 1}', False),
        ({"a": int}, "[]", False),
        ({"a": int, "b?": str}, '{"a": 1, "b": null}', False),
        (dict[typing.Literal["x", "y"], int], '{"x": 1, "y": 2}', True),
        (dict[typing.Literal["x", "y"], int], '{"x": 1, "z": 2}', False),
        (dict[str, list[int]], '{"x": [1], "y": [2, "3"]}', False),
    ]
    for schema, doc, member in cases:
        v = Validator(schema)
        assert v.is_valid_json(doc) is member, (schema, doc)
        assert v.is_valid(json.loads(doc)) is member, (schema, doc)


class Meta(type):
    mode = None

    def __instancecheck__(cls, obj):
        if Meta.mode is not None:
            raise Meta.mode
        return type.__instancecheck__(cls, obj)


class Guarded(metaclass=Meta):
    pass


def test_is_valid_json_raises_only_fatal_exceptions():
    v = Validator(Guarded)
    try:
        Meta.mode = ValueError("no")
        assert v.is_valid_json("[1]") is False
        Meta.mode = KeyboardInterrupt()
        with pytest.raises(KeyboardInterrupt):
            v.is_valid_json("[1]")
        assert v.is_valid_json("[1") is False  # not parsed, never checked
    finally:
        Meta.mode = None


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda v: v.validate_json(123, fail_fast=0), "fail_fast"),
        (lambda v: v.load("1", fail_fast=None), "fail_fast"),
        (lambda v: v.load("1", True), "Validator.load() takes 1 positional arguments but 2 were given"),
        (lambda v: v.validate_json(), "Validator.validate_json() missing 1 required positional argument: 'data'"),
        (lambda v: v.is_valid_json(data="1"), "positional-only"),
        (lambda v: v.is_valid_json("1", fail_fast=True), "unexpected keyword argument 'fail_fast'"),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call(Validator(int))
    assert message in str(info.value)


# --- a limit under a complement -----------------------------------------------

NESTED_INTS = tessaron.recursive(lambda r: tessaron.union(int, Validator([r])))


def in_arrays(depth, leaf):
    return "[" * depth + leaf + "]" * depth


@pytest.mark.parametrize(
    "schema, doc, path",
    [
        # A member of the inner schema refused only at the recursion limit,
        # and a non-member the walk could not tell from one before it.
        (tessaron.complement(NESTED_INTS), in_arrays(128, "1"), ()),
        (tessaron.complement(NESTED_INTS), in_arrays(200, '"s"'), ()),
        # Under the containers the one-pass check follows as it parses.
        (Validator({"k": tessaron.complement(NESTED_INTS)}), '{"k": %s}' % in_arrays(128, "1"), ("k",)),
        (Validator([tessaron.complement(NESTED_INTS)]), '["s", %s]' % in_arrays(128, "1"), (1,)),
        # A record's keys are checked in declared order, as for the parsed
        # dict: the limit is met at "a" before "b" refuses the value.
        (tessaron.complement(Validator({"a": NESTED_INTS, "b": str})), '{"b": 1, "a": %s}' % in_arrays(128, "1"),
         ()),
    ],
    ids=["member", "non-member", "in-record", "in-list", "record-in-declared-order"],
)
def test_a_complement_refuses_a_document_its_inner_walk_refused_at_a_limit(schema, doc, path):
    assert schema.is_valid_json(doc) is False
    assert schema.is_valid_json(doc.encode()) is False
    expected = [("recursion_limit", path, "at most 128 levels of recursion")]
    for method in (schema.validate_json, schema.load):
        for fail_fast in (False, True):
            with pytest.raises(ValidationError) as info:
                method(doc, fail_fast=fail_fast)
            assert [(e["code"], e["path"], e["expected"]) for e in info.value.errors] == expected


def test_a_complement_still_admits_a_document_within_the_limits():
    v = tessaron.complement(NESTED_INTS)
    doc = in_arrays(127, '"s"')
    assert v.is_valid_json(doc) is True
    assert v.validate_json(doc) is None
    assert v.load(doc) == json.loads(doc)


# --- hostile documents ------------------------------------------------------


def test_hostile_documents_are_refused_not_crashed():
    v = Validator(ANY)
    json_failure(v, "[" * 100_000)
    json_failure(v, '{"a":' * 100_000)
    json_failure(v, "[" * 100_000 + "]" * 100_000)
    # An integer past the interpreter's digit limit is refused by both
    # parsers alike.
    huge = "7" * 100_000
    assert json_failure(v, huge).value.startswith("integer has too many digits")
    assert Validator(int).is_valid_json(huge) is False
    long_float = "0." + "1" * 100_000 + "e3"
    assert Validator(float).load(long_float) == json.loads(long_float)
    json_failure(v, "1" * 400 + ".5")  # too large for a float
    long_text = '"' + "ab\\n" * 200_000 + '"'
    assert Validator(str).load(long_text) == "ab\n" * 200_000
    assert Validator(str).is_valid_json(long_text) is True


@settings(max_examples=60, deadline=None)
@given(st.binary(max_size=40))
def test_arbitrary_bytes_never_crash(data):
    v = Validator(ANY)
    try:
        expected = json.loads(data)
    except (ValueError, RecursionError):
        expected = None
    answer = v.is_valid_json(data)
    try:
        loaded = v.load(data)
    except ValidationError as err:
        assert err.code == "json_invalid" and len(err.value) <= 83
        assert answer is False
    else:
        assert answer is True
        assert same(loaded, expected)


# --- properties against the json module -------------------------------------


def same(a, b):
    """Equal values of the same types, all the way down (1 != 1.0 != True)."""
    if type(a) is not type(b):
        return False
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, float):
        return a == b and math.copysign(1, a) == math.copysign(1, b)
    return a == b


keys = st.text(alphabet=string.ascii_letters + "é☃", min_size=0, max_size=4)
scalars = (
    st.none()
    | st.booleans()
    | st.integers(min_value=-(2**80), max_value=2**80)
    | st.floats(allow_nan=False, allow_infinity=False)
    | st.text(max_size=12)
)
json_values = st.recursive(
    scalars,
    lambda inner: st.lists(inner, max_size=4) | st.dictionaries(keys, inner, max_size=4),
    max_leaves=20,
)


def documents(value):
    return st.sampled_from(
        [
            json.dumps(value),
            json.dumps(value, ensure_ascii=False),
            json.dumps(value, indent=2),
            json.dumps(value, ensure_ascii=False).encode(),
        ]
    )


@settings(max_examples=80, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(json_values.flatmap(documents))
def test_load_equals_json_loads(doc):
    v = Validator(ANY)
    assert same(v.load(doc), json.loads(doc))
    assert v.is_valid_json(doc) is True


@settings(max_examples=40, deadline=None)
@given(st.lists(st.tuples(st.sampled_from(["a", "b", "c"]), st.integers(0, 9)), max_size=12))
def test_repeated_keys_match_json_loads(pairs):
    doc = "{" + ", ".join(f'"{k}": {n}' for k, n in pairs) + "}"
    loaded = Validator(ANY).load(doc)
    expected = json.loads(doc)
    assert same(loaded, expected)
    assert Validator(dict[str, typing.Literal[tuple(range(5))]]).is_valid_json(doc) is all(
        n < 5 for n in expected.values()
    )


scalar_schemas = st.sampled_from(
    [int, float, str, bool, type(None), typing.Any, typing.Literal["a", 1], typing.Literal[True]]
)
schemas = st.recursive(
    scalar_schemas,
    lambda inner: st.one_of(
        inner.map(lambda s: list[s]),
        inner.map(lambda s: dict[str, s]),
        st.tuples(inner, inner).map(lambda p: tessaron.union(p[0], p[1])),
        st.dictionaries(st.sampled_from(["a", "b", "c"]), inner, min_size=1, max_size=3),
    ),
    max_leaves=6,
)
matching_values = st.recursive(
    st.none() | st.booleans() | st.integers(-5, 5) | st.sampled_from([0.5, -1.0, 2.0]) | st.sampled_from(["a", "b", ""]),
    lambda inner: st.lists(inner, max_size=3) | st.dictionaries(st.sampled_from(["a", "b", "c", "d"]), inner, max_size=3),
    max_leaves=10,
)


@settings(max_examples=100, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(schemas, matching_values.flatmap(documents))
def test_is_valid_json_agrees_with_is_valid_of_json_loads(schema, doc):
    v = Validator(schema)
    value = json.loads(doc)
    assert v.is_valid_json(doc) is v.is_valid(value)
    try:
        loaded = v.load(doc)
    except ValidationError as err:
        assert not v.is_valid(value)
        with pytest.raises(ValidationError) as direct:
            v.validate(value)
        assert str(err) == str(direct.value)
    else:
        assert v.is_valid(value) and same(loaded, value)


# --- refined constraints, signatures, references ----------------------------


def test_constraints_see_the_parsed_value():
    at = pytest.importorskip("annotated_types")
    seen = []

    def record(value):
        seen.append(value)
        return True

    v = Validator(list[typing.Annotated[int, at.Ge(0), at.Lt(10)]])
    assert v.is_valid_json("[1, 9]") is True
    assert v.is_valid_json("[1, 10]") is False
    assert Validator(typing.Annotated[str, at.MaxLen(3)]).is_valid_json('"abcd"') is False
    spy = Validator(typing.Annotated[dict, at.Predicate(record)])
    assert spy.is_valid_json('{"a": [1, 2.5, "x", null]}') is True
    assert same(seen, [{"a": [1, 2.5, "x", None]}])

    def interrupt(value):
        raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        Validator(typing.Annotated[int, at.Predicate(interrupt)]).is_valid_json("1")


@cpython_only("its C-API layer keeps no text signature for the methods of an extension type")
def test_signatures():
    import inspect

    assert str(inspect.signature(Validator.validate_json)) == "(self, data, /, *, fail_fast=False)"
    assert str(inspect.signature(Validator.load)) == "(self, data, /, *, fail_fast=False)"
    assert str(inspect.signature(Validator.is_valid_json)) == "(self, data, /)"


@cpython_only("no count of allocated blocks (test_leaks.py covers JSON input there)")
def test_json_entries_leak_nothing():
    import gc
    import sys

    v = Validator({"a": list[int], "b": typing.Optional[str]})
    good = '{"a": [1, 2, 300000000000000000000], "b": "text \\u00e9", "a": [3]}'
    bad = '{"a": [1, "x"]}'

    def cycle(n):
        for _ in range(n):
            assert v.load(good) == {"a": [3], "b": "text é"}
            assert v.is_valid_json(good) is True
            assert v.is_valid_json(bad) is False
            for doc in (bad, "[1,", b"\xff"):
                with pytest.raises(ValidationError):
                    v.validate_json(doc)

    cycle(200)  # warm up caches and free lists
    gc.collect()
    before = sys.getallocatedblocks()
    cycle(2000)
    gc.collect()  # the raised errors' tracebacks are cycles
    # A leak of even one object per call would show as thousands of blocks.
    assert sys.getallocatedblocks() - before < 500


def test_long_exponents_inside_containers_and_strings():
    # Only numbers are rewritten: a string holding the same text is kept.
    doc = '{"s": "1e99999999999", "z": [0e2147483648, -1e-2147483648], "n": 1}'
    assert Validator(ANY).load(doc) == {"s": "1e99999999999", "z": [0.0, -0.0], "n": 1}
    assert Validator({"s": str, "z": list[float], "n": int}).is_valid_json(doc.encode()) is True
    assert math.copysign(1, Validator(ANY).load(doc)["z"][1]) == -1.0


# --- the order in which user code runs -----------------------------------

CALLS = []


def noting(tag, admits=lambda x: True):
    """A predicate that notes each call, then answers `admits(x)`."""

    def predicate(x):
        CALLS.append((tag, x))
        return admits(x)

    return predicate


def positive(tag):
    return noting(tag, lambda x: x > 0)


def short(tag):
    return noting(tag, lambda s: len(s) < 3)


ORDERED = {"a": typing.Annotated[int, positive("a")], "b": typing.Annotated[str, short("b")],
           "c?": typing.Annotated[int, positive("c")]}
OPEN = Validator({"b": typing.Annotated[str, short("open b")], "a": typing.Annotated[int, positive("open a")]}).open()


class TypedRequired(typing.TypedDict):
    z: typing.Annotated[int, positive("z")]
    m: typing.Annotated[str, short("m")]


class Typed(TypedRequired, total=False):
    a: typing.Annotated[int, positive("td a")]


# (schema, documents): the records are checked against objects whose keys
# come in another order than the declared one, with values failing early
# or late, keys missing, repeated and undeclared.
ORDER_CASES = [
    pytest.param(ORDERED, ['{"b": "x", "a": 1}', '{"b": "xxxx", "a": 1}', '{"b": "x", "a": -1}',
                           '{"c": 0, "b": "x", "a": 1}', '{"c": 2, "b": 7, "a": -1}', '{"b": "x"}',
                           '{"c": -1, "b": "x"}', '{"b": "x", "z": 1, "a": 1}', '{"a": 1, "b": "x", "a": -2}',
                           '{"z": 0, "c": 1}'], id="record"),
    pytest.param(Typed, ['{"a": 1, "m": "s", "z": 1}', '{"a": -1, "m": "long", "z": 1}',
                         '{"m": "s", "a": 1}', '{"a": 2, "z": -3, "m": "s"}'], id="typed-dict"),
    pytest.param(OPEN, ['{"x": 1, "a": 1, "b": "x"}', '{"a": 0, "y": [], "b": "long"}', '{"b": "x"}'],
                 id="open-record"),
    pytest.param(tessaron.union(ORDERED, OPEN, int),
                 ['{"b": "xxxx", "a": 1}', '{"c": 0, "b": "x", "a": 1}', '{"b": "x", "a": -1, "c": 1}', "3"],
                 id="union"),
    pytest.param(tessaron.intersection(ORDERED, OPEN),
                 ['{"b": "x", "a": 1}', '{"b": "x", "a": -1}', '{"c": 1, "b": "xxxx", "a": 1}'],
                 id="intersection"),
    pytest.param({"outer": ORDERED, "n": typing.Annotated[int, positive("n")]},
                 ['{"n": 1, "outer": {"b": "x", "a": 1}}', '{"outer": {"b": "xxxx", "a": 1}, "n": 1}',
                  '{"n": -1, "outer": {"a": 1, "b": "x"}}'], id="nested"),
    pytest.param([ORDERED, ...], ['[{"b": "x", "a": 1}, {"a": -1, "b": "long"}, {"b": "x", "a": 2}]'],
                 id="list"),
    # A clause that walks the values: the items in the document's order.
    pytest.param({"a": typing.Annotated[int, positive("a")], str: typing.Annotated[int, positive("extra")]},
                 ['{"x": 1, "a": 1, "y": -1}', '{"y": -1, "a": -5}', '{"x": 2, "x": 0, "a": 3}'],
                 id="valued-clause"),
]

# (inner schema, documents) of complements at the root.
COMPLEMENT_CASES = [
    pytest.param(ORDERED, ['{"b": "x", "a": 1}', '{"b": "x", "a": -1}', '{"c": 1, "b": "xxxx", "a": 1}', "[]"],
                 id="record"),
    pytest.param(tessaron.union(ORDERED, {"a": typing.Annotated[int, positive("u")]}),
                 ['{"b": "xxx", "a": 2}', '{"a": -1, "b": "x"}', '{"a": 5}', '{"b": "x", "a": 1}'], id="union"),
]


def calls_of(call, *args, **kwargs):
    CALLS.clear()
    try:
        outcome = call(*args, **kwargs)
    except ValidationError as err:
        outcome = ("error", str(err))
    calls = list(CALLS)
    CALLS.clear()
    return outcome, calls


@pytest.mark.parametrize("schema, docs", ORDER_CASES)
def test_is_valid_json_runs_user_code_as_is_valid_of_the_parsed_value(schema, docs):
    # The same calls of the user's code, in the same order, and the same
    # verdict: each object's members are checked in the order the check of
    # the parsed dict takes them.
    v = Validator(schema)
    for doc in docs:
        assert calls_of(v.is_valid_json, doc) == calls_of(v.is_valid, json.loads(doc)), doc


@pytest.mark.parametrize("schema, docs", ORDER_CASES + [
    pytest.param(tessaron.complement(c.values[0]), c.values[1], id="complement-" + c.id) for c in COMPLEMENT_CASES])
def test_validate_json_and_load_run_user_code_as_validate_of_the_parsed_value(schema, docs):
    v = Validator(schema)
    for doc in docs:
        for fail_fast in (False, True):
            report, calls = calls_of(v.validate, json.loads(doc), fail_fast=fail_fast)
            assert calls_of(v.validate_json, doc, fail_fast=fail_fast) == (report, calls), doc
            loaded, load_calls = calls_of(v.load, doc, fail_fast=fail_fast)
            assert load_calls == calls, doc
            assert loaded == (json.loads(doc) if report is None else report), doc


@pytest.mark.parametrize("inner, docs", COMPLEMENT_CASES)
def test_under_a_complement_a_document_is_checked_once(inner, docs):
    # A dict that the inner check refused after the user's code ran is
    # checked again, to see whether that code changed it; a document cannot
    # change, so is_valid_json runs the user's code as the inner check of
    # the parsed dict does, once.
    v, inner_v = tessaron.complement(inner), Validator(inner)
    for doc in docs:
        member, calls = calls_of(inner_v.is_valid, json.loads(doc))
        assert calls_of(v.is_valid_json, doc) == (not member, calls), doc
        assert calls_of(v.is_valid, json.loads(doc))[1][:len(calls)] == calls, doc


def test_a_fatal_exception_of_the_first_declared_key_stops_every_entry():
    at = pytest.importorskip("annotated_types")

    def stop(x):
        raise KeyboardInterrupt

    v = Validator({"a": typing.Annotated[int, at.Predicate(stop)], "b": str})
    doc = '{"b": 2, "a": 1}'
    for call in (v.is_valid_json, v.validate_json, v.load, lambda d: v.is_valid(json.loads(d))):
        with pytest.raises(KeyboardInterrupt):
            call(doc)
