"""Soundness of the set decisions over generated schemas.

For generated schemas A and B (tests/soundness_grammar.py) and values
sampled for them (a generic pool plus values generated from each schema's
grammar, always filtered through ``A.is_valid``):

* ``is_subtype_of(A, B)`` True: every sampled member of A is valid under B;
* ``is_empty(A)`` True: no sampled value is a member of A;
* ``relation_to(A, B) == "not_subset"``: a witness exists among the values
  enumerated from A's grammar (a finite sub-grammar of values);
* ``is_equivalent(A, B)`` True: A and B agree on every sampled value;
* A against ``union(A, B)`` is never "not_subset".

The grammar covers every node kind on both routes: bounds (floats around
±0.0, 5e-324, ±inf and NaN), divisors, lengths and patterns, literals,
subclasses of int and str next to the builtins (enumerations of int,
str, float, bytes and tuple among them, some closed over their members,
some making other instances: flags, a `_missing_` hook, a memberless base),
classes with hinted attributes, lists, tuples (fixed, variadic, unpacked)
and their length bounds, sets and frozen sets of literals and of several
kinds, records (required and optional fields, closed and opened), dicts
keyed by kinds, literals and unions, records with clauses, and typed
dicts.  Candidates include subclass instances (str subclass keys, which a
record takes for its names and a literal key does not), True beside 1 and
1.0, hashable list and set subclasses, lone surrogates and the floats next
to the bounds.

Beyond the general grammar, focused families keep both schemas of a pair
related: mappings, containers, enumerations (a Flag, and one whose
``_missing_`` makes members that iteration never lists) and objects.

`test_sweep` asks many more questions (tests/sweep.py) where
TESSARON_SWEEP_PAIRS says how many: `make test` sets it for the default
interpreter, `make sweep` runs a million.
"""

import math
import os

from hypothesis import HealthCheck, assume, example, given, settings
from hypothesis import strategies as st
import pytest

from tessaron import Validator, complement, union

import soundness_grammar as g
import sweep
from soundness_grammar import (ENUM_MEMBERS, ENUMS, HASHABLE, LITERAL_VALUES, MARKERS, SCALARS, candidates_of,
                               wide_candidates_of)

# --- hypothesis strategies over the grammar's tuples ------------------------
#
# The general and focused strategies below shrink well; the families of
# soundness_grammar.py (every form, drawn from a hypothesis Random) add the
# forms these leave out.

leaves = st.one_of(
    st.sampled_from(sorted(SCALARS)).map(lambda n: ("scalar", n)),
    st.lists(st.sampled_from(LITERAL_VALUES), min_size=1, max_size=3).map(lambda v: ("lit", tuple(v))),
    st.sampled_from(HASHABLE).map(lambda n: ("set", n)),
)

refinements = st.sampled_from(sorted(MARKERS)).flatmap(
    lambda name: st.lists(st.sampled_from(MARKERS[name]), min_size=1, max_size=2).map(
        lambda ms: ("refined", name, tuple(ms))
    )
)

leaves = st.one_of(leaves, refinements)


DICT_KEYS = st.sampled_from(["str", "str", "enum", ("a",), ("a", "b"), ("b",)])


def extend(children):
    key = st.sampled_from(["a", "b"])
    return st.one_of(
        st.lists(children, min_size=2, max_size=3).map(lambda xs: ("union", xs)),
        st.tuples(children, children).map(lambda ab: ("inter", ab[0], ab[1])),
        children.map(lambda a: ("comp", a)),
        children.map(lambda a: ("list", a)),
        st.lists(children, max_size=2).map(lambda xs: ("tuple", xs)),
        children.map(lambda a: ("tuplevar", a)),
        st.lists(st.tuples(key, st.booleans(), children), max_size=2, unique_by=lambda e: e[0]).map(
            lambda es: ("record", es)
        ),
        st.tuples(DICT_KEYS, children).map(lambda ka: ("dict", ka[0], ka[1])),
        st.tuples(st.sampled_from(["list", "pair", "chain"]), children).map(lambda fa: ("rec", fa[0], fa[1])),
    )


schemas = st.recursive(leaves, extend, max_leaves=5)


def records_of(children):
    key = st.sampled_from(["a", "b"])
    entries = st.lists(st.tuples(key, st.booleans(), children), min_size=1, max_size=2, unique_by=lambda e: e[0])
    return entries.map(lambda es: ("record", es))


def dicts_of(children, keys=DICT_KEYS):
    return st.tuples(keys, children).map(lambda ka: ("dict", ka[0], ka[1]))


def mappings_of(children):
    return st.one_of(records_of(children), dicts_of(children))


# Mostly a few related scalars for values, so that inclusions hold often.
mapping_values = st.one_of(st.sampled_from(["int", "bool", "str", "any"]).map(lambda n: ("scalar", n)), leaves)
mappings = mappings_of(st.one_of(mapping_values, mappings_of(mapping_values)))
# Records against dicts keyed by their names as literals, or by the enumeration.
mapping_pairs = st.one_of(
    st.tuples(mappings, mappings),
    st.tuples(records_of(mapping_values), dicts_of(mapping_values, st.sampled_from([("a",), ("a", "b"), "enum"]))),
)

enum_leaves = st.one_of(
    st.sampled_from(ENUMS).map(lambda n: ("scalar", n)),
    st.lists(st.sampled_from(ENUM_MEMBERS), min_size=1, max_size=3).map(lambda v: ("lit", tuple(v))),
)
enumerations = st.one_of(enum_leaves, st.lists(enum_leaves, min_size=2, max_size=3).map(lambda xs: ("union", xs)))


def compile_schema(s):
    v = g.compile_spec(s)
    assume(v is not None)
    return v


def members(v, candidates):
    out = []
    for value in candidates:
        if v.is_valid(value):
            out.append(value)
    return out


# The answers of the generated relation questions, by kind of answer.
ANSWERS = {"subset": 0, "not_subset": 0, "undecided": 0}


@pytest.fixture(scope="module", autouse=True)
def report_decided_fraction(request):
    """After the module: how many generated questions were answered (a
    figure reported, never asserted)."""
    yield
    total = sum(ANSWERS.values())
    if total:
        decided = total - ANSWERS["undecided"]
        line = (f"decision soundness: {decided} of {total} generated relation questions decided "
                f"({decided / total:.0%}; {ANSWERS['subset']} subset, {ANSWERS['not_subset']} not_subset)")
        capture = request.config.pluginmanager.get_plugin("capturemanager")
        with capture.global_and_fixture_disabled():
            print("\n" + line)


SETTINGS = settings(
    max_examples=120,
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.filter_too_much],
)


def check_pair(a, b):
    va, vb = compile_schema(a), compile_schema(b)
    candidates = candidates_of(a, b)
    in_a = members(va, candidates)

    answer = va.relation_to(vb)
    assert answer in ("subset", "not_subset", "undecided")
    ANSWERS[answer] += 1
    assert va.is_subtype_of(vb) is (answer == "subset")
    if answer == "subset":
        outside = [v for v in in_a if not vb.is_valid(v)]
        assert not outside, (va, vb, outside)
    elif answer == "not_subset" and not any(not vb.is_valid(v) for v in in_a):
        # The sweep's wider search: dicts merged from both sides, lists and
        # tuples lifted to their subclasses, values built from the parts.
        ea, eb = sweep.Entry(a, va), sweep.Entry(b, vb)
        assert (sweep.find_witness(ea, eb) or sweep.merged_witness(ea, eb) or sweep.lifted_witness(ea, eb)
                or any(va.is_valid(v) and not vb.is_valid(v) for v in wide_candidates_of(a, b))
                or sweep.part_witness(ea, eb)), (
            va, vb, "no witness")

    if va.is_empty():
        assert not in_a, (va, in_a)

    if va.is_equivalent(vb):
        in_b = members(vb, candidates)
        assert [v for v in candidates if va.is_valid(v) != vb.is_valid(v)] == [], (va, vb)
        assert len(in_a) == len(in_b)

    assert va.relation_to(union(va, vb)) != "not_subset"
    assert va.relation_to(va) == "subset"


@SETTINGS
@given(schemas, schemas)
# A complement's witness inside a tuple inside a list: (2,) lies past the
# usual prefix of the tuples' values.
@example(("list", ("tuplevar", ("comp", ("scalar", "base")))),
         ("list", ("tuplevar", ("comp", ("lit", (math.nan, 2))))))
def test_answers_are_sound(a, b):
    check_pair(a, b)


@SETTINGS
@given(mapping_pairs)
def test_mapping_answers_are_sound(pair):
    check_pair(*pair)


@SETTINGS
@given(enumerations, enumerations)
def test_enumeration_answers_are_sound(a, b):
    check_pair(a, b)


@SETTINGS
@given(st.sampled_from(sorted(g.FAMILIES)), st.randoms(use_true_random=False))
def test_answers_are_sound_in_each_family(family, rng):
    check_pair(*g.pair_of(rng, family))


@pytest.mark.skipif(not os.environ.get("TESSARON_SWEEP_PAIRS"),
                    reason="the sweep runs where TESSARON_SWEEP_PAIRS is set (`make test`, default interpreter)")
def test_sweep(request):
    """Many generated questions, every answer checked (tests/sweep.py); the
    report is shown, and only an unsound or unwitnessed answer fails."""
    stats = sweep.run(int(os.environ["TESSARON_SWEEP_PAIRS"]))
    capture = request.config.pluginmanager.get_plugin("capturemanager")
    with capture.global_and_fixture_disabled():
        print("\n" + "\n".join(sweep.report(stats)))
    assert stats["failure_count"] == 0, stats["failures"]


@SETTINGS
@given(schemas)
def test_refutations_of_the_complement_are_sound(a):
    va = compile_schema(a)
    vc = Validator(complement(va))
    candidates = candidates_of(("comp", a))
    for left, right in [(va, vc), (vc, va)]:
        answer = left.relation_to(right)
        in_left = members(left, candidates)
        if answer == "subset":
            assert all(right.is_valid(v) for v in in_left), (left, right)
        elif answer == "not_subset":
            assert any(not right.is_valid(v) for v in in_left), (left, right, "no witness")

