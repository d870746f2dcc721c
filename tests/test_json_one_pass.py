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
