"""Soundness of the set decisions over generated schemas.

For generated schemas A and B and values sampled for them (a generic pool
plus values generated from each schema's grammar, always filtered through
``A.is_valid``):

* ``is_subtype_of(A, B)`` True: every sampled member of A is valid under B;
* ``is_empty(A)`` True: no sampled value is a member of A;
* ``relation_to(A, B) == "not_subset"``: a witness exists among the values
  enumerated from A's grammar (a finite sub-grammar of values);
* ``is_equivalent(A, B)`` True: A and B agree on every sampled value;
* A against ``union(A, B)`` is never "not_subset".

The grammar covers what the descriptor route decides: bounds (floats around
±0.0, 5e-324, ±inf and NaN), divisors, lengths and patterns, literals, and
subclasses of int and str next to the builtins (an IntEnum among them, whose
class holds every int: ``int.__new__(E, 150)`` is an instance).  Candidates
include subclass instances, lone surrogates and the floats next to the
bounds.

Beyond the general grammar, two focused pairings: mappings against mappings
(records, dicts keyed by str, by literal names or by a str enumeration, with
values whose keys are str subclass instances: a record takes those for its
names, a literal key does not), and enumerations against enumerations and
their literals (plain ones, a Flag and one whose ``_missing_`` makes members
that iteration never lists).

Out of scope, and never generated: values with odd comparisons (a lax
``__ge__``, an ``__eq__`` that lies), subclasses of int or str that override
comparison, and objects spoofing their class.  Decisions assume the builtin
kinds' own comparisons; these values are outside that promise.

Later steps extend the schema grammar here as more forms are decided.
"""

import enum
import itertools
import math
from typing import Annotated, Any, Literal

from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st
import pytest

from tessaron import Validator, anything, complement, intersection, nothing, recursive, union


class Base:
    pass


class Derived(Base):
    pass


class Other:
    pass


class Key(str, enum.Enum):
    A = "a"
    B = "b"


class Name(str):
    pass


class Color(enum.Enum):
    RED = 1
    GREEN = 2


class Lenient(enum.Enum):
    A = 1

    @classmethod
    def _missing_(cls, value):
        member = object.__new__(cls)
        member._value_ = value
        member._name_ = f"X{value}"
        return member


class Bits(enum.Flag):
    A = 1
    B = 2


class MyInt(int):
    pass


class MyStr(str):
    pass


class MyFloat(float):
    pass


class Level(enum.IntEnum):
    LOW = 1
    HIGH = 2


# An instance of the IntEnum that is no member: its class admits any int.
LEVEL_150 = int.__new__(Level, 150)
LEVEL_0 = int.__new__(Level, 0)
LEVEL_MINUS_1 = int.__new__(Level, -1)


class Ge:
    def __init__(self, ge):
        self.ge = ge


class Le:
    def __init__(self, le):
        self.le = le


class Gt:
    def __init__(self, gt):
        self.gt = gt


class Lt:
    def __init__(self, lt):
        self.lt = lt


class MultipleOf:
    def __init__(self, multiple_of):
        self.multiple_of = multiple_of


class MinLen:
    def __init__(self, min_length):
        self.min_length = min_length


class MaxLen:
    def __init__(self, max_length):
        self.max_length = max_length


class Pattern:
    def __init__(self, pattern):
        self.pattern = pattern


# One value of each kind first, so that a truncated pool stays diverse.
POOL = [
    None, True, 0, 2.5, "a", b"a", [], [0], (), (0,), {}, {"a": 1}, set(), frozenset(), Base(), Derived(), Other(),
    False, 1, -1, 2, 3, 5, 2**53 + 1, 0.0, -0.0, 1.0, 2.0, math.nan, math.inf, "", "b", "ab", b"",
    [1, "a"], [[]], (1, "a"), (True, True), {"a": "x", "b": 2}, {"b": None}, {1: 1}, {1}, frozenset({True}),
    MyInt(1), MyStr("a"), MyFloat(0.0), Level.LOW, LEVEL_150, "\ud800", "a\udfff", 5e-324, -5e-324, -math.inf,
    math.nextafter(1.0, 2.0), "12", "aa",
]

SCALARS = {
    "int": (int, [0, 1, -1, 2, 3, 5, -2, 6, -12, True, False, MyInt(0), MyInt(-1), MyInt(7), LEVEL_0]),
    "bool": (bool, [True, False]),
    "float": (float, [0.0, -0.0, 1.0, 2.5, math.nan, math.inf, -math.inf, 5e-324, -5e-324, MyFloat(1.0)]),
    "str": (str, ["", "a", "b", "ab", "\ud800", MyStr("a"), MyStr("")]),
    "bytes": (bytes, [b"", b"a"]),
    "myint": (MyInt, [MyInt(0), MyInt(1), MyInt(-3), MyInt(4)]),
    "mystr": (MyStr, [MyStr(""), MyStr("a"), MyStr("ab"), MyStr("\ud800")]),
    "level": (Level, [Level.LOW, Level.HIGH, LEVEL_150, LEVEL_0, LEVEL_MINUS_1]),
    "none": (None, [None]),
    "any": (Any, POOL),
    "anything": (anything, POOL),
    "nothing": (nothing, []),
    "base": (Base, [Base(), Derived()]),
    "derived": (Derived, [Derived()]),
    "other": (Other, [Other()]),
    "color": (Color, [Color.RED, Color.GREEN]),
    "lenient": (Lenient, [Lenient.A, Lenient(5)]),
    "bits": (Bits, [Bits.A, Bits.B, Bits.A | Bits.B, Bits(0)]),
    "key": (Key, [Key.A, Key.B]),
}
ENUMS = ["color", "lenient", "bits", "key"]
ENUM_MEMBERS = [Color.RED, Color.GREEN, Lenient.A, Bits.A, Bits.B, Key.A]
HASHABLE = ["int", "bool", "str", "bytes", "none"]
LITERAL_VALUES = [0, 1, 2, 5, True, False, "a", "b", b"a", None, 1.0, 2.5, -0.0, math.inf, math.nan, "12"]

# --- schema grammar -------------------------------------------------------
#
# A schema is a tuple: ("scalar", name), ("lit", values), ("union", [a, b,
# ...]), ("inter", a, b), ("comp", a), ("list", a), ("tuple", [a, ...]),
# ("tuplevar", a), ("set", name), ("record", [(key, required, a), ...]),
# ("dict", keys, a), ("refined", name, markers), ("rec", family, a); the
# keys of a dict are "str", "enum" (the str enumeration Key) or a tuple of
# literal names.

leaves = st.one_of(
    st.sampled_from(sorted(SCALARS)).map(lambda n: ("scalar", n)),
    st.lists(st.sampled_from(LITERAL_VALUES), min_size=1, max_size=3).map(lambda v: ("lit", tuple(v))),
    st.sampled_from(HASHABLE).map(lambda n: ("set", n)),
)

def is_not_two(value):
    return value != 2


MARKERS = {
    "int": [Ge(0), Ge(2), Gt(1), Le(3), Le(5), Lt(0), MultipleOf(2), MultipleOf(3), MultipleOf(4), MultipleOf(-6),
            MultipleOf(2.0), is_not_two],
    "float": [Ge(0), Ge(2.5), Le(1.0), Gt(0.0), MultipleOf(2.0), Ge(-0.0), Gt(-0.0), Lt(0.0), Le(-0.0),
              Gt(5e-324), Lt(-5e-324), Le(math.inf), Lt(math.inf), Gt(-math.inf), Ge(math.nan), Le(1)],
    "str": [MinLen(1), MinLen(2), MaxLen(1), MaxLen(2), Ge("a"), Le("b"), Pattern("a+"), Pattern("[ab]*"),
            Pattern("(?s).*"), Pattern("a|ab"), Pattern("[0-9]{2}")],
    "bool": [Ge(1), Le(0)],
    "myint": [Ge(0), Le(3), MultipleOf(2)],
    "mystr": [MinLen(1), MaxLen(1), Pattern("a+")],
    "level": [Ge(2), Lt(2)],
}

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


def to_spec(s):
    tag = s[0]
    if tag == "scalar":
        return SCALARS[s[1]][0]
    if tag == "lit":
        return Literal[s[1]]
    if tag == "union":
        return union(*[to_spec(x) for x in s[1]])
    if tag == "inter":
        return intersection(to_spec(s[1]), to_spec(s[2]))
    if tag == "comp":
        return complement(to_spec(s[1]))
    if tag == "list":
        return list[to_spec(s[1])]
    if tag == "tuple":
        return tuple[tuple(to_spec(x) for x in s[1])] if s[1] else tuple[()]
    if tag == "tuplevar":
        return tuple[to_spec(s[1]), ...]
    if tag == "set":
        return set[SCALARS[s[1]][0]]
    if tag == "record":
        return {(k if req else k + "?"): to_spec(x) for k, req, x in s[1]}
    if tag == "dict":
        keys = {"str": str, "enum": Key}.get(s[1]) or Literal[s[1]]
        return dict[keys, to_spec(s[2])]
    if tag == "refined":
        return Annotated[(SCALARS[s[1]][0], *s[2])]
    if tag == "rec":
        leaf = to_spec(s[2])
        if s[1] == "list":
            return recursive(lambda x: union(leaf, list[x]))
        if s[1] == "pair":
            return recursive(lambda x: union(leaf, tuple[x, x]))
        return recursive(lambda x: {"v": leaf, "next?": x})
    raise AssertionError(s)


def capped(values, n=12):
    return list(itertools.islice(values, n))


def interleave(lists):
    """The values of several lists taken in turn, so that a prefix of the
    result holds some of each."""
    out = []
    for group in itertools.zip_longest(*lists, fillvalue=interleave):
        out.extend(v for v in group if v is not interleave)
    return out


def members_first(s, values):
    """The values reordered so that the schema's members come first: a
    container built from a prefix of them then has members for items."""
    try:
        v = Validator(to_spec(s))
    except (NotImplementedError, ValueError):
        return values
    valid = [v.is_valid(x) for x in values]
    return [x for x, ok in zip(values, valid) if ok] + [x for x, ok in zip(values, valid) if not ok]


def part_values(s, depth, extra):
    return members_first(s, values_of(s, depth, extra))


def items_of(s, depth, extra):
    """The values to put alone in a container of items of schema `s`: its own
    first values, then the values of every part of both schemas (the
    witnesses a complement inside a container needs lie there)."""
    return part_values(s, depth, extra)[:24] + list(extra)


def values_of(s, depth=3, extra=()):
    """A finite list of candidate members of the schema, from its grammar;
    `extra` joins the pool where a complement admits almost anything."""
    tag = s[0]
    if tag == "scalar":
        return list(SCALARS[s[1]][1])
    if tag == "lit":
        return list(s[1])
    if tag == "union":
        return capped(interleave(values_of(x, depth, extra) for x in s[1]), 32)
    if tag == "inter":
        return interleave([values_of(s[1], depth, extra), values_of(s[2], depth, extra)])
    if tag == "comp":
        # The inner schema's values are the witnesses a double complement needs.
        return interleave([values_of(s[1], depth, extra), list(extra), POOL])
    if tag == "refined":
        base = SCALARS[s[1]][1]
        near = [getattr(m, a) for m in s[2] for a in ("ge", "gt", "le", "lt") if hasattr(m, a)]
        # Values at and next to the bounds first: those are the members.
        steps = [n + d for n in near if isinstance(n, int) for d in (1, -1, 2)]
        # Multiples of each divisor on both sides of 0.
        steps += [int(m.multiple_of) * k for m in s[2] if isinstance(getattr(m, "multiple_of", None), int)
                  for k in (1, -1, 3, -5)]
        floats = [math.nextafter(x, t) for x in near if isinstance(x, float) for t in (-math.inf, math.inf)]
        texts = ["12", "a", "aa", "ab", "", "\ud800", MyStr("aa")] if s[1] in ("str", "mystr") else []
        return near + steps + floats + texts + base + ["aa", "abc", 4, 6, 2**53 + 1, MyInt(2)]
    if tag == "rec":
        leaf = part_values(s[2], max(depth - 1, 0), extra)[:8]
        # Values through the recursion first, then the leaves.
        if s[1] == "list":
            return [[], [[]]] + [[v] for v in leaf] + [[[[]]], [[], leaf[:1]]] + leaf
        if s[1] == "pair":
            return [(a, b) for a in leaf[:2] for b in leaf[:2]] + [((a, a), a) for a in leaf[:1]] + leaf
        return [{"v": v} for v in leaf] + [{"v": v, "next": {"v": v}} for v in leaf[:2]]
    if tag == "set":
        inner = SCALARS[s[1]][1]
        return [set(), *({v} for v in inner[:4]), set(inner[:2])]
    if depth == 0:
        # Only the containers' smallest values below the depth bound.
        return {"list": [[]], "tuplevar": [()], "dict": [{}], "set": [set()], "record": [{}]}.get(tag, [])
    if tag == "list":
        inner = items_of(s[1], depth - 1, extra)
        return [[]] + [[v] for v in inner] + [list(p) for p in capped(itertools.product(inner[:3], repeat=2), 4)]
    if tag == "tuple":
        factors = [part_values(x, depth - 1, extra) or [None] for x in s[1]]
        if not factors:
            return [()]
        # Each item's values along the diagonal, then the small products.
        diagonal = [tuple(f[i % len(f)] for f in factors) for i in range(16)]
        return diagonal + [tuple(p) for p in capped(itertools.product(*[f[:3] for f in factors]), 27)]
    if tag == "tuplevar":
        inner = items_of(s[1], depth - 1, extra)
        return [()] + [(v,) for v in inner] + [tuple(p) for p in capped(itertools.product(inner[:3], repeat=2), 4)]
    if tag == "record":
        # Every key present or absent; records with more keys first.
        choices = [[None] + [(k, v) for v in part_values(x, depth - 1, extra)[:4]] for k, _, x in s[1]]
        out = [dict(kv for kv in combo if kv) for combo in itertools.product(*choices)]
        # The fullest and the emptiest records first.
        out = interleave([sorted(out, key=len, reverse=True), sorted(out, key=len)])
        # The names also under str subclass keys, which a record takes for them.
        renamed = [{Key(k) if k in ("a", "b") else k: v for k, v in d.items()} for d in out if d]
        renamed += [{Name(k): v for k, v in d.items()} for d in out[:4] if d]
        return capped(out, 24) + [dict(d, c=1) for d in out[:2]] + capped(renamed, 24)
    if tag == "dict":
        inner = part_values(s[2], depth - 1, extra)
        keys = ["k", "a", "b", Key.A, Name("a")]
        return [{}] + [{keys[i % len(keys)]: v} for i, v in enumerate(inner[:16])] + [{1: 1}]
    raise AssertionError(s)


TAGS = {"scalar", "lit", "union", "inter", "comp", "list", "tuple", "tuplevar", "set", "record", "dict", "refined", "rec"}


def is_schema(x):
    return isinstance(x, tuple) and len(x) >= 2 and x[0] in TAGS


def parts(s):
    """The schema and every schema inside it."""
    yield s
    for child in s[1:]:
        for c in child if isinstance(child, list) else [child]:
            if is_schema(c):
                yield from parts(c)
            elif isinstance(c, tuple) and len(c) == 3 and is_schema(c[2]):  # a record entry
                yield from parts(c[2])


def candidates_of(*schemas):
    """Values of both schemas' grammars, complements drawing on the values
    of every part of either schema."""
    extra = capped(interleave([values_of(p, 1) for s in schemas for p in parts(s)]), 48)
    return interleave([values_of(s, 3, extra) for s in schemas]) + POOL


def compile_schema(s):
    try:
        return Validator(to_spec(s))
    except (NotImplementedError, ValueError):
        assume(False)


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
    elif answer == "not_subset":
        assert any(not vb.is_valid(v) for v in in_a), (va, vb, "no witness")

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

