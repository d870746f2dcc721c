"""``is_valid_json`` checks while it parses; its answers are those of the
general walk.

``validate_json`` parses the whole document into Python objects and walks
them, so its verdict (raising or not) is the reference: for every schema and
document below, ``is_valid_json`` must say True exactly when
``validate_json`` does not raise.  The documents are chosen where a check
that reads as it parses could go wrong: a failure early or late, repeated
keys that override a failed or a passing value, every truncation of a
document, bad UTF-8, lone surrogates in escapes, huge numbers, deep nesting
against recursive schemas at the walk's recursion limit, and containers the
one-pass check hands to the general walk (unions of records, refinements,
intersections).
"""

import json
import typing

import pytest

import tessaron
from tessaron import ValidationError, Validator


# Blanks that take a document past the size parsed without the
# interpreter lock.
UNLOCKED_PAD = " " * (256 * 1024)


def reference(v, doc):
    try:
        v.validate_json(doc)
    except ValidationError:
        return False
    return True


def agree(v, doc):
    assert v.is_valid_json(doc) is reference(v, doc), doc


Point = {"x": int, "y": float}
Labelled = {"label": str, "points": [Point, ...], "note?": typing.Optional[str]}

Tree = tessaron.recursive(lambda t: Validator({"value": int, "children": [t, ...]}))
Nested = tessaron.recursive(lambda t: Validator(tessaron.union([t, ...], int)))

SCHEMAS = {
    "record": {"a": int, "b?": [str, ...], "c": typing.Optional[typing.Dict[str, float]]},
    "typed": Labelled,
    "list": [Labelled, ...],
    "tuple-like": [int, str],
    "dict": typing.Dict[str, typing.List[int]],
    "enum": typing.Dict[str, typing.Literal["a", "b", 1, 2, None, True]],
    "tree": Tree,
    "nested": Nested,
    "records-union": tessaron.union({"kind": typing.Literal["p"], "x": int}, {"kind": typing.Literal["q"], "y": str}),
    "anything": tessaron.anything,
    "any-values": {"a": typing.Any, "b": [typing.Any, ...]},
    "scalar": float,
    "intersection": tessaron.intersection({"a": int, "b?": int}, {"a": typing.Literal[1, 2], "c?": str}),
    "literal-keys": typing.Dict[typing.Literal["k", "l"], int],
    "tuple": typing.Tuple[int, ...],
    "set": typing.Set[int],
    "open": Validator({"a": int}).open(),
}

try:
    import annotated_types as at
except ImportError:  # pragma: no cover - the test requirements bring it
    at = None
if at is not None:
    SCHEMAS["refined"] = typing.Dict[str, typing.Annotated[typing.List[int], at.MinLen(2)]]
    SCHEMAS["bounds"] = [typing.Annotated[int, at.Ge(0), at.Lt(10)], ...]
    # A predicate is code of the user's: such a schema is walked as a tree.
    SCHEMAS["predicate"] = [typing.Annotated[int, at.Predicate(lambda n: n % 2 == 0)], ...]

DOCUMENTS = [
    '{"a": 1, "c": null}',
    '{"a": 1, "c": {"x": 1.5}, "b": ["x"]}',
    '{"a": "x", "c": null}',
    '{"a": 1}',
    '{"a": 1, "c": null, "d": 2}',
    '{"a": "x", "a": 1, "c": null}',
    '{"a": 1, "a": "x", "c": null}',
    '{"a": 1, "c": {"x": 1, "x": 1.5}}',
    '{"a": 1, "c": {"x": 1.5, "x": 1}}',
    '{"a": 1, "c": {"x": "s", "y": "t", "x": 2.5}}',
    '{"a": 1, "c": {"x": "s", "y": "t", "x": 2.5, "y": 0.5}}',
    '{"a": 1, "c": null} x',
    '{"a": 1, "c": [1]}',
    '{"a": [1, 2], "b": [3], "a": [], "c": null}',
    '{"label": "l", "points": [{"x": 1, "y": 2.0}, {"x": 2, "y": 0.5}]}',
    '{"label": "l", "points": [{"x": 1, "y": 2.0}, {"x": 2.0, "y": 0.5}], "note": null}',
    '{"label": "l", "points": [{"x": 1, "y": 2.0, "x": "no", "x": 3}], "note": "n"}',
    '[{"label": "l", "points": []}, {"label": 3, "points": []}, {"label": "m", "points": [}]',
    '[{"label": "l", "points": []}, {"label": "m", "points": [{"x": 1, "y": 1.5}]}]',
    '[1, "s"]',
    '[1, "s", 2]',
    '[1]',
    '{"k": ["a", 1, null, true, "c"]}',
    '{"k": "a", "l": 1, "m": null, "n": true, "o": false, "p": 2}',
    '{"k": "b", "l": 3}',
    '{"value": 1, "children": [{"value": 2, "children": []}, {"value": 3, "children": [{"value": "x", "children": []}]}]}',
    '{"value": 1, "children": [{"value": 2, "children": [], "extra": 1}]}',
    '{"kind": "p", "x": 1}',
    '{"kind": "q", "y": "s"}',
    '{"kind": "q", "x": 1}',
    '{"a": 1, "b": 2, "c": "s"}',
    '{"a": 3}',
    '[[], [[]], [[[1, 2, "x"]]]]',
    '[1, 2, 3, 12345678901234567890123456789, -5]',
    '[1e400]',
    '1e999999999999999999999',
    '12345678901234567890123456789',
    '1.5',
    '"s\\ud800"',
    '{"\\ud800": 1}',
    '{"a": "\\udc00\\ud800", "c": null}',
    '{"a": 1, "c": {"\\u00e9\\n": 2.5, "\\u00e9\\n": "x"}}',
    '[1, 2, 3,]',
    '[1, 2 3]',
    '',
    '   ',
    'null',
    '{"a": 1, "b": ["x", "y"], "c": null, "b": ["z", 3]}',
    '{"a": 1, "b": ["x", 3], "c": null, "b": ["z"]}',
    '{"a": {"deep": [1, {"x": [null]}]}, "b": [[], {}]}',
    # Exponents too long for the parser: the document is parsed again with
    # them rewritten, whatever the check had seen so far.
    '{"a": 1, "c": {"x": 1e-99999999999999999999, "y": 2.5}}',
    '[{"label": "l", "points": [{"x": 1, "y": 1e-99999999999999999999}]}, {"label": "m", "points": []}]',
    '{"a": 1, "c": {"x": 1E+99999999999999999999}}',
    '{"k": [1, 2e-99999999999999999999, "a"], "l": 1}',
]


@pytest.mark.parametrize("name", sorted(SCHEMAS))
def test_every_document_and_truncation_agrees_with_the_general_walk(name):
    v = Validator(SCHEMAS[name])
    for doc in DOCUMENTS:
        agree(v, doc)
        agree(v, doc.encode())
        # The same, checked without the interpreter lock.
        assert v.is_valid_json(UNLOCKED_PAD + doc) is v.is_valid_json(doc), doc
        # Every truncation: the check must stop, or go on, exactly where the
        # walk's verdict says, whatever the parser meets next.
        for cut in range(len(doc)):
            agree(v, doc[:cut])


@pytest.mark.parametrize("name", sorted(SCHEMAS))
def test_bad_utf8_and_hostile_bytes(name):
    v = Validator(SCHEMAS[name])
    for doc in [b'{"a": 1, "c": null, "\xff": 1}', b'["\xc3\x28"]', b'{"a": 1, "c": {"\xed\xa0\x80": 1.0}}',
                b'\x00', b'{"a": 1, "c": null}\x00', b'["' + b"\xe2\x82" + b'"]']:
        agree(v, doc)


def nested_arrays(depth, leaf="1"):
    return "[" * depth + leaf + "]" * depth


@pytest.mark.parametrize("depth", [1, 127, 128, 129, 130, 199, 200, 201])
def test_deep_nesting_meets_the_same_limits(depth):
    # list[list[...]] as a recursive schema: one guard entry per level, so
    # the walk's limit of 128 nested entries fails the deeper documents.
    doc = nested_arrays(depth)
    for schema in (Nested, tessaron.anything, [typing.Any, ...], Tree):
        agree(Validator(schema), doc)
    deep_tree = '{"value": 1, "children": [' * depth + '{"value": 0, "children": []}' + "]}" * depth
    agree(Validator(Tree), deep_tree)


def test_a_walk_that_meets_a_fatal_exception_still_raises_it():
    # The one-pass check stands aside for a schema that runs user code, so a
    # predicate's fatal exception surfaces as before.
    at_ = pytest.importorskip("annotated_types")

    def boom(n):
        raise KeyboardInterrupt

    v = Validator([typing.Annotated[int, at_.Predicate(boom)], ...])
    with pytest.raises(KeyboardInterrupt):
        v.is_valid_json("[1]")
    assert v.is_valid_json('["x", 1]') is False


def test_huge_integers_past_the_digit_limit():
    sys = pytest.importorskip("sys")
    if not hasattr(sys, "set_int_max_str_digits"):
        pytest.skip("no integer digit limit on this interpreter")
    old = sys.get_int_max_str_digits()
    try:
        sys.set_int_max_str_digits(1000)
        doc = "[" + "9" * 2000 + "]"
        for schema in (tessaron.anything, [int, ...], [str, ...], {"a": int}):
            agree(Validator(schema), doc)
    finally:
        sys.set_int_max_str_digits(old)


def test_a_failure_in_an_early_item_ends_the_parse():
    # The rest of the document is never read: a malformed tail after the
    # first failing item makes no difference, and the answer is False.
    v = Validator([int, ...])
    assert v.is_valid_json('["x", ' + "1, " * 1000 + "}") is False
    assert v.is_valid_json("[1, " * 3 + "]") is False


def load_outcome(v, doc):
    try:
        return ("value", v.load(doc))
    except ValidationError as err:
        return ("error", str(err))


@pytest.mark.parametrize("name", sorted(SCHEMAS))
def test_load_builds_and_checks_in_one_pass_as_parse_then_validate_would(name):
    # load checks while it builds; a member is returned unwalked, a
    # non-member gets the walk's report, a malformed document json_invalid.
    v = Validator(SCHEMAS[name])
    for doc in DOCUMENTS:
        for cut in (len(doc), len(doc) // 2):
            text = doc[:cut]
            kind, got = load_outcome(v, text)
            try:
                value = json.loads(text)
            except ValueError:
                if kind == "error" and "json_invalid" in got:
                    continue
                # json.loads refuses what our parser takes only for lone
                # surrogates and huge numbers, which we refuse too.
                assert kind == "error", text
                continue
            if kind == "value":
                assert v.is_valid(value), text
                assert got == value
            else:
                if "json_invalid" in got:
                    continue  # numbers past a float, lone surrogates: ours refuses
                with pytest.raises(ValidationError) as direct:
                    v.validate(value)
                assert got == str(direct.value), text
            for fail_fast in (True, False):
                try:
                    v.validate_json(text, fail_fast=fail_fast)
                except ValidationError:
                    assert kind == "error"
                else:
                    assert kind == "value"


def test_large_documents_checked_by_many_threads_at_once():
    # Large documents are parsed without the interpreter lock; the one pass
    # takes it back for every value it hands to the general walk (the
    # refined items here), and the tree path only parses unlocked.
    import threading

    at_ = pytest.importorskip("annotated_types")
    item = '{"label": "l", "points": [{"x": 1, "y": 2.5}]}'
    good = ("[" + ", ".join([item] * 7000) + "]").encode()
    bad = good[:-1] + b', {"label": 3, "points": []}]'
    assert len(good) > 300_000
    # (validator, verdict on the bad document)
    schemas = [
        (Validator([Labelled, ...]), False),
        (Validator([typing.Annotated[typing.Dict[str, typing.Any], at_.MaxLen(3)], ...]), True),
        (Validator([typing.Annotated[dict, at_.Predicate(lambda d: "points" in d)], ...]), True),
        (Validator([typing.Annotated[dict, at_.Predicate(lambda d: d["label"] == "l")], ...]), False),
    ]
    failures = []

    def work(k):
        try:
            for _ in range(3):
                for v, verdict in schemas:
                    if v.is_valid_json(good) is not True or v.is_valid_json(bad) is not verdict:
                        failures.append(k)
        except BaseException as e:  # pragma: no cover - reported below
            failures.append(repr(e))

    threads = [threading.Thread(target=work, args=(k,)) for k in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []


# --- constraints and literals checked without Python objects -----------------
#
# Lengths, patterns, bounds and divisors that are ints within 64 bits or
# floats, and literals of None, bool, int, float and str are checked on the
# parsed values themselves.  Each document below is checked four ways and
# must get the answer that `is_valid` gives its `json.loads` object: in one
# pass, in one pass without the interpreter lock (a document padded past
# 256 KiB), as a parsed tree (the same schema in a union with a class of a
# metaclass of its own, which keeps the one pass away), and by load.

at2 = pytest.importorskip("annotated_types")
Annotated = typing.Annotated
Literal = typing.Literal
Regex = tessaron.Regex


class OwnMeta(type):
    pass


class Opaque(metaclass=OwnMeta):
    pass


class Sparse(typing.TypedDict, total=False):
    a: int
    b: int


def loads_or_none(doc):
    try:
        return True, json.loads(doc)
    except ValueError:
        return False, None


def every_way_agrees(schema, doc, as_tree=True):
    # as_tree=False near the nesting limit, where the union is one more level.
    v = Validator(schema)
    ok, value = loads_or_none(doc)
    expected = ok and v.is_valid(value)
    try:
        v.validate_json(doc)
        loaded = True
    except ValidationError:
        loaded = False
    got = {
        "one pass": v.is_valid_json(doc),
        "one pass, unlocked": v.is_valid_json(UNLOCKED_PAD + doc),
        "load": loaded,
    }
    if as_tree:
        tree = Validator(tessaron.union(schema, Opaque))
        got["tree"] = tree.is_valid_json(doc)
        got["tree, unlocked"] = tree.is_valid_json(UNLOCKED_PAD + doc)
    assert got == dict.fromkeys(got, expected), (doc, expected)


BIG = "12345678901234567890"  # past 64 bits
INTS = ["-1", "0", "1", "9", "10", "11", "true", "false", BIG, "-" + BIG]
FLOATS = ["0.0", "-0.0", "0.5", "9.999", "10.0", "10.5", "1e300", "-1e300", "2.5e-320"]
OTHERS = ['"10"', "null", "[10]", '{"a": 10}']

NATIVE_CASES = [
    # (id, schema, documents)
    ("int bounds", Annotated[int, at2.Ge(0), at2.Lt(10)], INTS + FLOATS + OTHERS),
    ("int bounds, strict", Annotated[int, at2.Gt(0), at2.Le(10)], INTS),
    ("float bounds on ints", Annotated[typing.Union[int, float], at2.Ge(0.5), at2.Le(10.5)], INTS + FLOATS),
    ("any bounded", Annotated[typing.Any, at2.Gt(-1)], INTS + FLOATS + OTHERS),
    # 2**53 + 1 is no float: the comparison is exact, not through a rounding.
    ("past float precision", Annotated[int, at2.Le(9007199254740992.0)],
     ["9007199254740992", "9007199254740993", "-9007199254740993"]),
    ("at 2**63", Annotated[int, at2.Gt(9223372036854775807.0)],
     ["9223372036854775807", "9223372036854775808", "9223372036854775809", "-9223372036854775808"]),
    ("big ints and a large float bound", Annotated[int, at2.Ge(1e19)],
     ["10000000000000000000", "9999999999999999999", "10000000000000000001", "1" + "0" * 40,
      "-" + "1" + "0" * 40, "9223372036854775807"]),
    ("big ints and a negative large float bound", Annotated[int, at2.Lt(-1e19)],
     ["-10000000000000000000", "-10000000000000000001", "-9999999999999999999", "-" + BIG]),
    ("infinite bound", Annotated[typing.Union[int, float], at2.Lt(float("inf"))], INTS + FLOATS + ["1e308"]),
    ("64-bit int bounds", Annotated[int, at2.Ge(-9223372036854775808), at2.Le(9223372036854775807)],
     ["-9223372036854775808", "-9223372036854775809", "9223372036854775807", "9223372036854775808"]),
    ("bool base", Annotated[bool, at2.Ge(1)], ["true", "false", "1"]),
    ("divisor", Annotated[int, at2.MultipleOf(3)],
     ["0", "3", "-3", "4", "true", "false", "300000000000000000000", "300000000000000000001",
      "-300000000000000000000"]),
    ("divisor of floats and ints", Annotated[typing.Union[int, float], at2.MultipleOf(3)],
     ["3.0", "4.5", "-6.0", "0.0", "1e300", "0.1"]),
    ("float divisor", Annotated[typing.Union[int, float], at2.MultipleOf(0.5)],
     ["1", "1.5", "1.25", "true", "false", BIG, "-" + BIG, "1" + "0" * 400, "1e-320"]),
    ("divisor -1", Annotated[int, at2.MultipleOf(-1)], ["-9223372036854775808", "5", BIG]),
    ("divisor -2**63", Annotated[int, at2.MultipleOf(-9223372036854775808)],
     ["18446744073709551616", "9223372036854775809", "-9223372036854775808", "0", "1"]),
    ("divisor against a str", Annotated[typing.Any, at2.MultipleOf(3)], ['"%d"', '"abc"', '"%s%s"', "6", "null"]),
    ("str lengths in code points", Annotated[str, at2.MinLen(2), at2.MaxLen(3)],
     ['"a"', '"ab"', '"abc"', '"abcd"', '"\u00e9"', '"\u00e9\u00e9"', '"\\u00e9\\u00e9\\u00e9"',
      '"\U0001F600"', '"\U0001F600\U0001F600"', '"e\u0301e\u0301"', '"\u65e5\u672c\u8a9e\u3067"', '""']),
    ("list lengths", Annotated[typing.List[int], at2.MinLen(2), at2.MaxLen(3)],
     ["[]", "[1]", "[1, 2]", "[1, 2, 3]", "[1, 2, 3, 4]", '[1, "x"]', '"ab"']),
    ("dict lengths count distinct keys", Annotated[typing.Dict[str, int], at2.MinLen(2), at2.MaxLen(3)],
     ['{"a": 1, "a": 2}', '{"a": 1, "b": 2, "a": 3}', '{"a": 1, "b": 2, "c": 3, "a": 4}',
      '{"a": 1, "b": 2, "c": 3, "d": 4}', '{"a": 1, "\\u0061": 2}', '{"a": 1, "b": "x"}', "{}", "[1, 2]"]),
    ("record lengths", Annotated[Sparse, at2.MaxLen(1)],
     ['{"a": 1}', '{"a": 1, "a": 2}', '{"a": 1, "b": 2}', '{"a": 1, "z": 2}', '{"z": 1, "z": 2}', "{}"]),
    ("lengths of anything", Annotated[typing.Any, at2.MinLen(1)],
     ["[]", "[1]", "{}", '{"a": 1}', '""', '"a"', "1", "null"]),
    ("nested list lengths", Annotated[typing.List[Annotated[typing.List[int], at2.MaxLen(1)]], at2.MinLen(1)],
     ["[]", "[[]]", "[[1]]", "[[1, 2]]", "[[1], [2, 3]]"]),
    ("bound on containers", typing.Union[Annotated[typing.List[int], at2.MinLen(1)], Annotated[typing.Any, at2.Ge(0)]],
     ["[1]", "[]", "{}", "1", "-1"]),
    ("non-ASCII pattern", Annotated[str, Regex("\u00e9+")],
     ['"\u00e9"', '"\u00e9\u00e9"', '"\\u00e9"', '"e"', '""', "1", '"\u00e9e"']),
    ("one code point", Annotated[str, Regex("^.$")],
     ['"\U0001F600"', '"\u00e9"', '"a"', '"ab"', '"\\ud83d\\ude00"', '"\\n"']),
    ("word pattern", Annotated[str, Regex(r"\w+\d{2}")], ['"\u65e5\u672c12"', '"ab1"', '"__99"', '"\u0661\u0662\u0663"']),
    ("pattern and lengths", Annotated[str, at2.MinLen(2), Regex("[a-z]+")], ['"a"', '"ab"', '"aB"', '"abc"']),
    ("literal int", {"k": Literal[1]}, ['{"k": 1}', '{"k": 1.0}', '{"k": true}', '{"k": "1"}', '{"k": 2}']),
    ("literal bool", {"k": Literal[True]}, ['{"k": true}', '{"k": 1}', '{"k": false}']),
    ("literal false", {"k": Literal[False]}, ['{"k": false}', '{"k": 0}', '{"k": null}']),
    ("literal float", {"k": Literal[1.5]}, ['{"k": 1.5}', '{"k": 15e-1}', '{"k": 1.50}', '{"k": 1}', '{"k": 1.6}']),
    ("literal zero float", {"k": Literal[0.0]}, ['{"k": -0.0}', '{"k": 0.0}', '{"k": 0}', '{"k": 0e5}']),
    ("literal str", {"k": Literal["\u00e9"]}, ['{"k": "\u00e9"}', '{"k": "\\u00e9"}', '{"k": "e"}', '{"k": 1}']),
    ("literal None", {"k": Literal[None]}, ['{"k": null}', '{"k": 0}', '{"k": false}', '{"k": ""}']),
    ("literal big int", {"k": Literal[12345678901234567890]},
     ['{"k": 12345678901234567890}', '{"k": 12345678901234567891}', '{"k": 1}', '{"k": 1.2345678901234567e19}']),
    ("literal bytes", {"k": Literal[b"x"]}, ['{"k": "x"}', '{"k": null}']),
    ("literals and bounds", typing.Union[Literal[1.5], Annotated[int, at2.Ge(5)], Literal["x"]],
     ["1.5", "5", "4", '"x"', '"y"', "true", "null"]),
    ("intersection and complement",
     tessaron.intersection(Annotated[int, at2.Ge(0)], tessaron.complement(Annotated[int, at2.MultipleOf(2)])),
     ["1", "2", "-1", "0", "true", "false", BIG]),
]

JsonWithShortStrings = tessaron.recursive(
    lambda j: tessaron.union(None, bool, int, float, Annotated[str, at2.MaxLen(3)], [j, ...], {str: j}))
NATIVE_CASES.append(("recursive", JsonWithShortStrings,
                     ['{"a": ["xyz", 1, {"b": null}]}', '{"a": ["wxyz"]}', '[[[["abc"]]], "abcd"]', '"ab"']))


@pytest.mark.parametrize("schema, docs", [pytest.param(s, d, id=i) for i, s, d in NATIVE_CASES])
def test_native_checks_answer_as_python_objects_do(schema, docs):
    for doc in docs:
        every_way_agrees(schema, doc)
        every_way_agrees([schema, ...], "[" + doc + ", " + doc + "]")
        every_way_agrees({"x": schema, "y?": int}, '{"x": ' + doc + "}")


@pytest.mark.parametrize("depth", [120, 126, 127, 128, 129, 170, 200])
def test_constrained_leaves_at_the_nesting_limits(depth):
    # Four walk levels per array (back edge, union, refinement, list): the
    # nesting limit and the recursion limit fall near the same depth.
    nested = tessaron.recursive(
        lambda t: tessaron.union(Annotated[list[t], at2.MaxLen(2)], Annotated[int, at2.Ge(0)]))
    for leaf in ("1", "-1", "[1, 2, 3]"):
        every_way_agrees(nested, nested_arrays(depth, leaf), as_tree=False)


def test_constrained_records_run_no_general_walk():
    # Every check of these records is made in the one pass: the walk levels
    # entered are those of the containers alone, as for the same records
    # without constraints (a value handed to the general walk would add its
    # own levels, and take the interpreter lock to do so).
    import _tessaron

    doc = json.dumps([{"id": i, "name": f"n{i}", "kind": "a", "score": i / 2} for i in range(200)])
    plain = Validator([{"id": int, "name": str, "kind": str, "score": float}])
    constrained = Validator([{
        "id": Annotated[int, at2.Ge(0), at2.Lt(1000), at2.MultipleOf(1)],
        "name": Annotated[str, at2.MinLen(1), at2.MaxLen(8), Regex("n[0-9]+")],
        "kind": Literal["a"],
        "score": Annotated[float, at2.Ge(0.0)],
    }])

    def steps(v):
        before = _tessaron._walk_steps()
        assert v.is_valid_json(doc) is True
        return _tessaron._walk_steps() - before

    assert steps(constrained) == steps(plain)


def failing_keys(n):
    return "{" + ", ".join(f'"k{i}": "x"' for i in range(n)) + "}"


def failing_then_passing_keys(n):
    # Each key fails, then passes at its later occurrence (which counts).
    later = ", ".join(f'"k{i}": {i}' for i in range(n))
    return failing_keys(n)[:-1] + ", " + later + "}"


def nested_failing_keys(n):
    # The failing keys of an inner object, then of its parent.
    return '{"id": 1, "inner": ' + failing_keys(n) + ", " + failing_keys(n)[1:]


# (schema, document of n keys, member?)
MANY_KEYS = [
    pytest.param(typing.Dict[str, int], failing_keys, False, id="failing"),
    pytest.param(typing.Dict[str, int], failing_then_passing_keys, True, id="overridden"),
    pytest.param({"id": int, str: int}, failing_then_passing_keys, False, id="record-missing-id"),
    pytest.param({"id": int, "inner": typing.Dict[str, int], str: int}, nested_failing_keys, False, id="nested"),
    pytest.param([typing.Dict[str, int], ...], lambda n: "[" + failing_then_passing_keys(n) + "]", True,
                 id="in-array"),
    # Many small objects with a failed key each, after a large one.
    pytest.param({"big": typing.Dict[str, int], "small": typing.Dict[str, int]},
                 lambda n: '{"big": ' + failing_keys(n) + ', ' + ', '.join(['"small": {"k": "x"}'] * n) + "}",
                 False, id="large-then-small"),
]


@pytest.mark.parametrize("schema, document, member", MANY_KEYS)
def test_many_failing_keys_cost_work_linear_in_the_keys(schema, document, member):
    # A failed member of an object stays pending until a later occurrence
    # of its key passes; finding it among the pending keys must not scan
    # them all, or twice the keys cost four times the work.
    import _tessaron

    v = Validator(schema)

    def key_work(call, doc):
        before = _tessaron._json_key_work()
        try:
            call(doc)
        except ValidationError:
            pass
        return _tessaron._json_key_work() - before

    for call in (v.is_valid_json, v.load, v.validate_json):
        small, large = (key_work(call, document(n)) for n in (10_000, 20_000))
        assert 0 < small and large <= 2.2 * small, (call.__name__, small, large)
    doc = document(1_000)
    assert v.is_valid_json(doc) is member
    assert v.is_valid(json.loads(doc)) is member
    if member:
        assert v.load(doc) == json.loads(doc)
