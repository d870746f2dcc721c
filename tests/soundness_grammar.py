"""The schema grammar of the decision soundness checks, shared by the
property tests (tests/test_decision_soundness.py) and the sweep
(tests/sweep.py).

A schema is a tuple:

    ("scalar", name)              a builtin, a class, Any, anything, nothing
    ("lit", values)               Literal[values]
    ("union", [a, ...]), ("inter", a, b), ("comp", a)
    ("refined", name, markers)    Annotated[scalar, markers]
    ("obj", name)                 a dataclass or named tuple: a class with
                                  hinted attributes
    ("list", a), ("tuple", [a, ...]), ("tuplevar", a)
    ("unpack", flavour, [a, ...], b, [c, ...])
                                  tuple[a, ..., *tuple[b, ...], c, ...], or
                                  the list literal [a, ..., b, ...] (also
                                  where the interpreter has no Unpack)
    ("bounded", flavour, a, lo, hi)
                                  list[a] or tuple[a, ...] of lo to hi items
    ("set", name)                 set[scalar]
    ("setof", flavour, a)         set[a] or frozenset[a]
    ("record", [(key, required, a), ...], opened)
                                  {"a": .., "b?": ..}, opened with .open()
    ("mapping", [(key, required, a), ...], [(keys, a), ...])
                                  a record with clauses: {"a": .., str: ..}
    ("dict", keys, a)             dict[keys, a]
    ("typeddict", [(key, hint), ...], total)
                                  a TypedDict (open: it admits other str keys)
    ("rec", family, a)            a recursive fixpoint

Key schemas (`keys`) are a name of KEY_SCHEMAS or a tuple of literal keys.

`values_of` lists candidate members of a schema from its grammar;
`candidates_of` adds the values of every part and the pool of awkward
values: str subclass instances that a record takes for its names but a
literal key does not, True beside 1 and 1.0 (one dict key, one set
element), hashable list and tuple subclasses, sets that hold elements of
several kinds.

Out of scope, and never generated: values with odd comparisons (a lax
``__ge__``, an ``__eq__`` that lies), subclasses of int or str that override
comparison, objects spoofing their class, and enumeration instances made
behind the class's back (`int.__new__(E, 150)`).  Decisions assume the
builtin kinds' own comparisons, and that an enumeration's instances are
those its class makes; these values are outside that promise.
"""

import dataclasses
import enum
import itertools
import math
import typing
from typing import Annotated, Any, Literal, NamedTuple, Union

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


# Enumerations whose members do not settle their instances: a flag's
# pseudo-members (Perm(8)), a `_missing_` that makes members of any value,
# the members of a memberless base's subclass; and one whose builtin
# contents (tuples) are not told.
class Perm(enum.IntFlag):
    R = 4
    W = 2
    X = 1


class Loose(enum.IntEnum):
    A = 1

    @classmethod
    def _missing_(cls, value):
        member = int.__new__(cls, value)
        member._value_ = value
        member._name_ = f"X{value}"
        return member


class SizeBase(int, enum.Enum):
    pass


class Size(SizeBase):
    S = 1
    M = 3


class Grade(SizeBase):
    TOP = 9


class Corner(tuple, enum.Enum):
    ORIGIN = (0, 0)
    UNIT = (1, 1)


# Enumerations of float and bytes contents, a NaN member among them.
class Ratio(float, enum.Enum):
    HALF = 0.5
    ONE = 1.0
    NAN = math.nan


class Tag(bytes, enum.Enum):
    A = b"a"
    BB = b"bb"


class HList(list):
    """A hashable list subclass: a member of list schemas and a set element."""

    def __hash__(self):
        return hash(tuple(self))


class Row(list):
    """Another hashable list subclass: no member of a schema naming HList."""

    def __hash__(self):
        return hash(tuple(self))


class HSet(set):
    """A hashable set subclass: a set that can be a set element."""

    def __hash__(self):
        return hash(frozenset(self))


class HTuple(tuple):
    pass


@dataclasses.dataclass(frozen=True)
class Point:
    x: int


@dataclasses.dataclass(frozen=True)
class Flag(Point):
    x: bool


@dataclasses.dataclass(frozen=True)
class Labelled(Point):
    label: str = ""


class Pair(NamedTuple):
    a: int
    b: str


class Titled(typing.TypedDict):
    title: str


class Movie(Titled, total=False):
    year: int


# A flag whose boundary refuses pseudo-members outside its bits (from
# Python 3.11): its instances are 0 to 3.
if hasattr(enum, "STRICT"):
    class Strict(enum.IntFlag, boundary=enum.STRICT):
        A = 1
        B = 2

    STRICT_SCALARS = {"strict": (Strict, [Strict.A, Strict.B, Strict.A | Strict.B, Strict(0)])}
else:
    STRICT_SCALARS = {}


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


# Values that tell mappings apart where the algebra has to be careful: a
# field named by a literal clause too, a literal key admitted by several
# clauses, one key that must witness two clauses at once, keys that only
# a record takes for a name (str subclass instances), True beside 1.
MAPPING_VALUES = [
    {"a": 1}, {"a": "x"}, {"a": "x", "b": 1}, {"a": 1, "b": "x"}, {"a": True}, {"b": 1}, {"a": None},
    {MyStr("a"): 1}, {Name("b"): "x"}, {Key.A: 1}, {True: 1}, {1: 1}, {False: 0}, {0: "x"}, {None: 1},
    {b"a": 1}, {"a": 1, 1: 2}, {"c": 1}, {"title": "x"}, {"title": "x", "year": 1}, {"title": "x", 1: 2},
    {"a": {"a": 1}}, {(1,): 1}, {1.0: 1},
]

# Values that tell sequences and sets apart: True, 1 and 1.0 are one set
# element; a str subclass instance equals its str; (1,) == (True,); list and
# tuple subclasses (a hashable list can be a set element).
CONTAINER_VALUES = [
    {True}, {1}, {1.0}, {True, "a"}, {1, "a"}, {None, b"a"}, {True, 2}, {False, 1}, frozenset({True}),
    frozenset({1.0}), frozenset({1, "a"}), {MyStr("a")}, {"a", "b"}, {(1,)}, {(True,)}, {HList([1])},
    frozenset({frozenset({1})}), {HTuple((1,))}, HList([1]), HList(["a"]), HTuple((1,)), HTuple(()),
    [1, 2, 3], [1, "a", 2], (1, 2, 3), (1, "a", "b"), ("a",), (True,), [True, 1], [[1]], [(1,)], [{1}],
]

OBJECT_VALUES = [
    Point(1), Point("s"), Point(True), Flag(True), Flag(2), Labelled(1, "a"), Labelled("x", 1),
    Pair(1, "a"), Pair("a", 1),
]

# One value of each kind first, so that a truncated pool stays diverse.
POOL = [
    None, True, 0, 2.5, "a", b"a", [], [0], (), (0,), {}, {"a": 1}, set(), frozenset(), Base(), Derived(), Other(),
    False, 1, -1, 2, 3, 5, 2**53 + 1, 0.0, -0.0, 1.0, 2.0, math.nan, math.inf, "", "b", "ab", b"",
    [1, "a"], [[]], (1, "a"), (True, True), {"a": "x", "b": 2}, {"b": None}, {1: 1}, {1}, frozenset({True}),
    MyInt(1), MyStr("a"), MyFloat(0.0), Level.LOW, Perm(8), "\ud800", "a\udfff", 5e-324, -5e-324, -math.inf,
    math.nextafter(1.0, 2.0), "12", "aa", Name("a"), MyStr("abc"), Key.A,
] + MAPPING_VALUES + CONTAINER_VALUES + OBJECT_VALUES

SCALARS = {
    "int": (int, [0, 1, True, -1, 2, MyInt(7), 3, 5, -2, 6, -12, False, MyInt(0), MyInt(-1), Loose(0)]),
    "bool": (bool, [True, False]),
    "float": (float, [0.0, -0.0, 1.0, 2.5, math.nan, math.inf, -math.inf, 5e-324, -5e-324, MyFloat(1.0)]),
    "str": (str, ["", "a", "b", "ab", "abc", "\ud800", MyStr("a"), MyStr("")]),
    "bytes": (bytes, [b"", b"a"]),
    "myint": (MyInt, [MyInt(0), MyInt(1), MyInt(-3), MyInt(4)]),
    "mystr": (MyStr, [MyStr(""), MyStr("a"), MyStr("ab"), MyStr("abc"), MyStr("\ud800")]),
    "level": (Level, [Level.LOW, Level.HIGH]),
    "perm": (Perm, [Perm.R, Perm.W, Perm.X, Perm.R | Perm.W, Perm(0), Perm(8), Perm(15)]),
    "loose": (Loose, [Loose.A, Loose(0), Loose(7), Loose(-3)]),
    "sizebase": (SizeBase, [Size.S, Size.M, Grade.TOP]),
    "size": (Size, [Size.S, Size.M]),
    "corner": (Corner, [Corner.ORIGIN, Corner.UNIT]),
    "ratio": (Ratio, [Ratio.HALF, Ratio.ONE, Ratio.NAN]),
    "tag": (Tag, [Tag.A, Tag.BB]),
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
    "hlist": (HList, [HList([1]), HList(["a"]), HList(), HList(["a", "b"]), HList([1.0, "a"])]),
    "htuple": (HTuple, [HTuple((1,)), HTuple(()), HTuple((1, 1)), HTuple(("a",))]),
    **STRICT_SCALARS,
}
OBJECTS = {
    "point": (Point, [Point(1), Point(True), Point("s"), Flag(True), Flag(2), Labelled(1, "a"), Labelled("x", 1)]),
    "flag": (Flag, [Flag(True), Flag(False), Flag(2)]),
    "labelled": (Labelled, [Labelled(1, "a"), Labelled(True, ""), Labelled("x", 1)]),
    "pair": (Pair, [Pair(1, "a"), Pair(True, MyStr("b")), Pair("a", 1)]),
}
ENUMS = ["color", "lenient", "bits", "key"]
ENUM_MEMBERS = [Color.RED, Color.GREEN, Lenient.A, Bits.A, Bits.B, Key.A]
# Enumerations derived from builtin types, and those types, refined.
BUILTIN_ENUMS = ["key", "level", "perm", "loose", "sizebase", "size", "corner", "ratio", "tag", *STRICT_SCALARS]
ENUM_BASES = ["int", "str", "float", "bytes"]
HASHABLE = ["int", "bool", "str", "bytes", "none"]
LITERAL_VALUES = [0, 1, 2, 5, True, False, "a", "b", b"a", None, 1.0, 2.5, -0.0, math.inf, math.nan, "12"]
KEY_LITERALS = ["a", "b", "c", 1, 0, True, False, None, b"a"]

KEY_SCHEMAS = {
    "str": (str, ["k", "a", "b", Key.A, Name("a"), MyStr("b")]),
    "enum": (Key, [Key.A, Key.B, "a"]),
    "int": (int, [1, 0, True, False, MyInt(1), 7]),
    "bool": (bool, [True, False, 1]),
    "none": (None, [None]),
    "bytes": (bytes, [b"a", b""]),
    "any": (Any, ["a", 1, True, None, b"a", 1.0, (1,), frozenset()]),
    "mystr": (MyStr, [MyStr("a"), "a"]),
    "strint": (Union[str, int], ["a", 1, True, Name("b")]),
}

# Hints a typed dict's fields take: plain typing forms, as the typing module
# wants them.
TYPED_DICT_HINTS = {
    "int": int, "bool": bool, "str": str, "any": Any, "optint": typing.Optional[int],
    "lit": Literal["a", 1], "listint": typing.List[int], "name": Name,
}
TYPED_DICT_VALUES = {
    "int": [1, True, "x"], "bool": [True, 2, False], "str": ["x", Name("y"), 1], "any": [None, True, "x", 2],
    "optint": [None, 2, "x"], "lit": ["a", 1, True, "b"], "listint": [[1], ["a"]], "name": [Name("y"), "y"],
}
_TYPED_DICTS = {}


def typed_dict(entries, total):
    """A typed dict class for the entries, made once per distinct form."""
    key = (tuple(entries), total)
    cls = _TYPED_DICTS.get(key)
    if cls is None:
        cls = typing.TypedDict(f"TD{len(_TYPED_DICTS)}", {k: TYPED_DICT_HINTS[h] for k, h in entries}, total=total)
        _TYPED_DICTS[key] = cls
    return cls


def is_not_two(value):
    return value != 2


MARKERS = {
    "int": [Ge(0), Ge(2), Gt(1), Le(3), Le(5), Lt(0), MultipleOf(2), MultipleOf(3), MultipleOf(4), MultipleOf(-6),
            MultipleOf(2.0), is_not_two],
    "float": [Ge(0), Ge(2.5), Le(1.0), Gt(0.0), MultipleOf(2.0), Ge(-0.0), Gt(-0.0), Lt(0.0), Le(-0.0),
              Gt(5e-324), Lt(-5e-324), Le(math.inf), Lt(math.inf), Gt(-math.inf), Ge(math.nan), Le(1)],
    "str": [MinLen(1), MinLen(2), MaxLen(1), MaxLen(2), Ge("a"), Le("b"), Pattern("a+"), Pattern("[ab]*"),
            Pattern("(?s).*"), Pattern("a|ab"), Pattern("[0-9]{2}"),
            # A range across the surrogate block, which no str pattern matches.
            Pattern(r"[\x00-\U0010ffff]")],
    "bool": [Ge(1), Le(0)],
    "myint": [Ge(0), Le(3), MultipleOf(2)],
    "mystr": [MinLen(1), MaxLen(1), Pattern("a+")],
    "level": [Ge(2), Lt(2)],
    "bytes": [MinLen(1), MaxLen(1)],
    # Bounds and lengths on enumerations: their members' contents decide,
    # or their class bounds them.
    "key": [MaxLen(1), MinLen(2), Pattern("a"), Pattern("[ab]")],
    "tag": [MaxLen(1), MinLen(2)],
    "ratio": [Le(0.5), Gt(0.5), Lt(1.0)],
    "perm": [Le(3), Le(7), Ge(2)],
    "loose": [Le(1), Ge(2)],
    "sizebase": [Le(3), Ge(2)],
    "size": [Le(1), Ge(2)],
    **({"strict": [Le(3), Ge(2), Le(1)]} if STRICT_SCALARS else {}),
}

UNPACK = getattr(typing, "Unpack", None)


def key_spec(keys):
    if isinstance(keys, tuple):
        return Literal[keys]
    return KEY_SCHEMAS[keys][0]


def key_values(keys):
    if isinstance(keys, tuple):
        return list(keys) + [Name(k) for k in keys if isinstance(k, str)][:1]
    return list(KEY_SCHEMAS[keys][1])


def record_spec(entries):
    return {(k if req else k + "?"): to_spec(x) for k, req, x in entries}


def to_spec(s):
    tag = s[0]
    if tag == "scalar":
        return SCALARS[s[1]][0]
    if tag == "obj":
        return OBJECTS[s[1]][0]
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
    if tag == "unpack":
        prefix, tail, suffix = [to_spec(x) for x in s[2]], to_spec(s[3]), [to_spec(x) for x in s[4]]
        if s[1] == "list" or UNPACK is None:
            # [a, b, ...]: a list of a followed by any number of b.
            return [*prefix, tail, ...]
        return tuple[(*prefix, UNPACK[tuple[tail, ...]], *suffix)]
    if tag == "bounded":
        inner = to_spec(s[2])
        seq = list[inner] if s[1] == "list" else tuple[inner, ...]
        return Annotated[seq, MinLen(s[3]), MaxLen(s[4])]
    if tag == "set":
        return set[SCALARS[s[1]][0]]
    if tag == "setof":
        return (set if s[1] == "set" else frozenset)[to_spec(s[2])]
    if tag == "record":
        spec = record_spec(s[1])
        return Validator(spec).open() if len(s) > 2 and s[2] else spec
    if tag == "mapping":
        spec = record_spec(s[1])
        for keys, x in s[2]:
            spec[key_spec(keys)] = to_spec(x)
        return spec
    if tag == "dict":
        return dict[key_spec(s[1]), to_spec(s[2])]
    if tag == "typeddict":
        return Movie if s[1] == "movie" else typed_dict(s[1], s[2])
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
    except (NotImplementedError, ValueError, TypeError):
        return values
    valid = [v.is_valid(x) for x in values]
    return [x for x, ok in zip(values, valid) if ok] + [x for x, ok in zip(values, valid) if not ok]


def longer(items, flavour, subclass):
    """Longer sequences of the first items, and some as subclass instances."""
    out = [flavour(items[k:k + 1] * n) for n in (3, 5) for k in (0, 1)] + [flavour(items[:3])]
    return out + [subclass(items[:1]), subclass(items[1:2]), subclass(items[:2])]


def spread(values, n):
    """The first n values (a schema's members, by `members_first`), three
    taken across the rest, and the last two (non-members: the members of a
    complement around it)."""
    rest = values[n:-2]
    return values[:n] + rest[:: max(len(rest) // 3, 1)][:3] + values[n:][-2:]


def part_values(s, depth, extra):
    return members_first(s, values_of(s, depth, extra))


def items_of(s, depth, extra):
    """The values to put alone in a container of items of schema `s`: its own
    first values, then the values of every part of both schemas (the
    witnesses a complement inside a container needs lie there)."""
    return part_values(s, depth, extra)[:ITEM_PREFIX] + list(extra)


# How many of an item schema's own values go into containers; the wider
# search below takes more.
ITEM_PREFIX = 24


def as_element(v):
    """The value, or a hashable value of its kind (tuples item by item)."""
    if isinstance(v, tuple) and type(v) is tuple:
        return tuple(as_element(x) for x in v)
    if type(v) is list:
        return HList(as_element(x) for x in v)
    if type(v) is set:
        return HSet(as_element(x) for x in v)
    return v


def hashable(values):
    """The values as set elements: lists and sets by hashable subclass
    instances (two list classes, so that a schema naming one class has a
    list outside it), other unhashable values left out."""
    out = []
    for v in values:
        w = as_element(v)
        subs = [w, Row(w)] if type(v) is list else [w]
        try:
            [hash(x) for x in subs]
        except TypeError:
            continue
        out += subs
    return out


def record_values(entries, depth, extra, extra_keys):
    # Every key present or absent; records with more keys first.
    # Members of each field first, and two of its non-members (the members
    # of a complement written around the field).
    fields = [(k, part_values(x, depth - 1, extra)) for k, _, x in entries]
    choices = [[None] + [(k, v) for v in spread(vs, 4)] for k, vs in fields]
    out = [dict(kv for kv in combo if kv) for combo in capped(itertools.product(*choices), 64)]
    # The fullest and the emptiest records first.
    out = interleave([sorted(out, key=len, reverse=True), sorted(out, key=len)])
    # The names also under str subclass keys, which a record takes for them.
    renamed = [{Key(k) if k in ("a", "b") else k: v for k, v in d.items()} for d in out if d]
    renamed += [{Name(k): v for k, v in d.items()} for d in out[:4] if d]
    # Open mappings: other keys with values of several kinds.
    more = [{**d, k: v} for d in out[:2] for k, v in [("c", 1), ("c", "x"), (1, 1), (None, 1), ("a", 2),
                                                                     ("b", "x"), ("a", None), ("b", [1])]]
    # The other keys also beside the fullest and the emptiest records.
    grown = [{**d, k: v} for k, v in extra_keys for d in out[:2]]
    return out[:8] + renamed[:4] + grown + out[8:48] + more + capped(renamed[4:], 24)


def values_of(s, depth=3, extra=()):
    """A finite list of candidate members of the schema, from its grammar;
    `extra` joins the pool where a complement admits almost anything."""
    tag = s[0]
    if tag == "scalar":
        return list(SCALARS[s[1]][1])
    if tag == "obj":
        return list(OBJECTS[s[1]][1])
    if tag == "lit":
        return list(s[1])
    if tag == "union":
        return capped(interleave(values_of(x, depth, extra) for x in s[1]), 160)
    if tag == "inter":
        left, right = values_of(s[1], depth, extra), values_of(s[2], depth, extra)
        # Dicts of both sides merged: a member of two mappings holds the
        # keys of both.
        dicts = [[x for x in side if isinstance(x, dict)][:8] for side in (left, right)]
        merged = [{**x, **y} for x in dicts[0] for y in dicts[1]]
        # And one side's values under the other side's keys.
        merged += [{**x, k: v} for x, y in itertools.permutations(dicts, 2) for x in x for k in list(x)[:2]
                   for v in list(itertools.chain.from_iterable(d.values() for d in y))[:6]]
        # Sequences of one length mixed item by item from both sides.
        mixed = []
        for n in (1, 2, 3):
            xs, ys = [[x for x in side if isinstance(x, (list, tuple)) and len(x) == n][:6] for side in (left, right)]
            mixed += [(list if isinstance(x, list) else tuple)(x[i] if (k >> i) & 1 else y[i] for i in range(n))
                      for x in xs for y in ys for k in range(1, 2 ** n - 1)]
        return interleave([left, right, merged, mixed])
    if tag == "comp":
        # The inner schema's values are the witnesses a double complement
        # needs; the values of the other parts, those of a complement within
        # another complement.
        return interleave([list(extra), values_of(s[1], depth, extra), POOL])
    if tag == "refined":
        base = SCALARS[s[1]][1]
        near = [getattr(m, a) for m in s[2] for a in ("ge", "gt", "le", "lt") if hasattr(m, a)]
        # Values at and next to the bounds first: those are the members.
        steps = [n + d for n in near if isinstance(n, int) for d in (-1, 1, 2, -4, 4)]
        # Multiples of each divisor on both sides of 0.
        steps += [int(m.multiple_of) * k for m in s[2] if isinstance(getattr(m, "multiple_of", None), int)
                  for k in (1, -1, 3, -5)]
        # The same numbers as instances of the class refined (an
        # enumeration's instances are those its class makes).
        cls = {"myint": MyInt, "loose": Loose, "perm": Perm}.get(s[1])
        own = [cls(n) for n in near + steps if type(n) is int] if cls else []
        floats = [math.nextafter(x, t) for x in near if isinstance(x, float) for t in (-math.inf, math.inf)]
        texts = ["12", "00", "a", "aa", "aaa", "ab", "abc", "", "\ud800", MyStr("aa")] if s[1] in ("str", "mystr") else []
        texts += [b"b", b"aa", b"bb", b"abc", b"\xff"] if s[1] == "bytes" else []
        own += [MyStr(t) for t in texts] if s[1] == "mystr" else []
        return own + near + steps + floats + texts + base + ["aa", "abc", 4, 6, 2**53 + 1, MyInt(2)]
    if tag == "rec":
        leaf = part_values(s[2], max(depth, 1), extra)[:8]
        # Values through the recursion first, then the leaves.
        if s[1] == "list":
            return [[], [[]]] + [[v] for v in leaf] + [[[[]]], [[], leaf[:1]]] + leaf
        if s[1] == "pair":
            return [(a, b) for a in leaf[:2] for b in leaf[:2]] + [((a, a), a) for a in leaf[:1]] + leaf
        return [{"v": v} for v in leaf] + [{"v": v, "next": {"v": v}} for v in leaf[:2]]
    if tag == "set":
        inner = SCALARS[s[1]][1]
        return [set(), *({v} for v in inner[:4]), set(inner[:2])]
    if tag == "typeddict":
        if s[1] == "movie":
            entries = [("title", True, ("lit", ("x", "a", Name("x"), 1))), ("year", False, ("lit", (1, "y")))]
            return record_values(entries, depth, extra, [("z", None), (1, 2)])
        entries = [(k, True, ("lit", tuple(TYPED_DICT_VALUES[h]))) for k, h in s[1]]
        return record_values(entries, depth, extra, [("z", 1), (1, 1)])
    if depth == 0:
        # Only the containers' smallest values below the depth bound.
        return {"list": [[]], "tuplevar": [()], "dict": [{}], "set": [set()], "record": [{}], "mapping": [{}],
                "setof": [set(), frozenset()], "bounded": [[], ()]}.get(tag, [])
    if tag == "list":
        inner = items_of(s[1], depth - 1, extra)
        return [[]] + [[v] for v in inner] + [list(p) for p in capped(itertools.product(inner[:3], repeat=2), 4)] + \
            longer(inner, list, HList)
    if tag == "tuple":
        factors = [spread(part_values(x, depth - 1, extra), 16) + list(extra)[:8] or [None] for x in s[1]]
        if not factors:
            return [(), HTuple()]
        # Each item's values along the diagonal, then the small products.
        diagonal = [tuple(f[i % len(f)] for f in factors) for i in range(min(max(map(len, factors)), 40))]
        return diagonal + [tuple(p) for p in capped(itertools.product(*[f[:3] for f in factors]), 27)] + \
            [HTuple(t) for t in diagonal[:2]]
    if tag == "tuplevar":
        inner = items_of(s[1], depth - 1, extra)
        return [()] + [(v,) for v in inner] + [tuple(p) for p in capped(itertools.product(inner[:3], repeat=2), 4)] + \
            longer(inner, tuple, HTuple)
    if tag == "unpack":
        factors = [part_values(x, depth - 1, extra)[:3] or [None] for x in s[2]]
        tail = part_values(s[3], depth - 1, extra)[:3]
        ends = [part_values(x, depth - 1, extra)[:3] or [None] for x in s[4]]
        heads = capped(itertools.product(*factors), 12)
        feet = capped(itertools.product(*ends), 4)
        middles = [()] + [(v,) for v in tail] + [(v, v) for v in tail[:2]] + [(v,) * 4 for v in tail[:1]]
        # Every length of the middle early, the heads in turn.
        out = interleave([[tuple(h) + m + tuple(f) for h in heads for f in feet] for m in middles])
        # Both flavours: a list literal builds a list schema.
        return capped(interleave([out, [list(t) for t in out]]), 96)
    if tag == "bounded":
        inner = spread(part_values(s[2], depth - 1, extra), 4) + spread(list(extra), 2)
        lengths = range(0, s[4] + 2)
        out = [tuple(inner[(i + j) % len(inner)] for j in range(n)) for n in lengths for i in range(len(inner))]
        # The first member repeated, the other items in turn.
        out = [()] + [tuple(inner[k:k + 1] * n) for n in lengths for k in (0, 1)] + out
        return interleave([[list(t) for t in out], out])
    if tag == "setof":
        build = set if s[1] == "set" else frozenset
        inner = hashable(items_of(s[2], depth - 1, extra))
        out = [build()] + [build([v]) for v in spread(inner, 12)]
        out += [build(p) for p in capped(itertools.combinations(inner[:4], 2), 6)]
        out += [v for v in CONTAINER_VALUES if isinstance(v, (set, frozenset))]
        return out
    if tag == "record":
        return record_values(s[1], depth, extra, [("c", 1), (1, 1), (MyStr("a"), 1)])
    if tag == "mapping":
        keyed = [(k, v) for keys, x in s[2] for k in key_values(keys)
                 for v in spread(part_values(x, depth - 1, extra), 2)[:3]]
        return [{k: v} for k, v in keyed] + record_values(s[1], depth, extra, keyed)
    if tag == "dict":
        inner = spread(part_values(s[2], depth - 1, extra), 16)
        keys = key_values(s[1]) + ["k", "a", Name("a"), 1, True]
        out = [{}] + [{k: v} for k in keys[:2] for v in inner[-2:]]
        out += [{keys[i % len(keys)]: v} for i, v in enumerate(inner[:16])]
        out += [{k: v} for k in keys for v in inner[:3]]
        if len(keys) > 1 and inner:
            out += [{keys[0]: inner[0], keys[1]: inner[-1]}]
        return out + [{1: 1}]
    raise AssertionError(s)


TAGS = {"scalar", "obj", "lit", "union", "inter", "comp", "list", "tuple", "tuplevar", "unpack", "bounded", "set",
        "setof", "record", "mapping", "dict", "typeddict", "refined", "rec"}


def is_schema(x):
    return isinstance(x, tuple) and len(x) >= 2 and x[0] in TAGS


def parts(s):
    """The schema and every schema inside it."""
    yield s
    if s[0] in ("lit", "refined", "scalar", "obj", "set", "typeddict"):
        return
    stack = list(s[1:])
    while stack:
        c = stack.pop(0)
        if is_schema(c):
            yield from parts(c)
        elif isinstance(c, (list, tuple)):
            stack[:0] = list(c)


def candidates_of(*schemas):
    """Values of both schemas' grammars, complements drawing on the values
    of every part of either schema."""
    extra = capped(interleave([values_of(p, 1) for s in schemas for p in parts(s)]), 48)
    return interleave([values_of(s, 3, extra) for s in schemas]) + POOL


def wide_candidates_of(*schemas):
    """As `candidates_of`, with more of each item schema's own values in the
    containers: a complement's witness inside a tuple inside a list can lie
    past the usual prefix."""
    global ITEM_PREFIX
    saved, ITEM_PREFIX = ITEM_PREFIX, 64
    try:
        return candidates_of(*schemas)
    finally:
        ITEM_PREFIX = saved


def compile_spec(s):
    """The validator of a schema, or None where the builder refuses it."""
    try:
        return Validator(to_spec(s))
    except (NotImplementedError, ValueError, TypeError):
        return None


# --- a random generator of the grammar ------------------------------------
#
# The property tests draw from it through hypothesis (whose Random shrinks),
# the sweep through random.Random.  Families keep the two schemas of a pair
# related, so that inclusions hold often enough to be worth proving.

def _leaf(rng):
    r = rng.random()
    if r < 0.35:
        return ("scalar", rng.choice(sorted(SCALARS)))
    if r < 0.6:
        return ("lit", tuple(rng.sample(LITERAL_VALUES, rng.randint(1, 3))))
    if r < 0.7:
        return ("set", rng.choice(HASHABLE))
    if r < 0.8:
        return ("obj", rng.choice(sorted(OBJECTS)))
    name = rng.choice(sorted(MARKERS))
    return ("refined", name, tuple(rng.sample(MARKERS[name], rng.randint(1, min(2, len(MARKERS[name]))))))


def _mapping_value(rng):
    if rng.random() < 0.6:
        return ("scalar", rng.choice(["int", "bool", "str", "any"]))
    if rng.random() < 0.5:
        return ("lit", tuple(rng.sample([1, 2, True, "a", "x", None], rng.randint(1, 2))))
    return _leaf(rng)


def _key_schema(rng):
    if rng.random() < 0.5:
        return rng.choice(["str", "str", "enum", "int", "bool", "none", "bytes", "any", "mystr", "strint"])
    return tuple(rng.sample(KEY_LITERALS, rng.randint(1, 2)))


def _entries(rng, child, lo=0):
    keys = rng.sample(["a", "b"], rng.randint(lo, 2))
    return [(k, rng.random() < 0.5, child(rng)) for k in keys]


def mapping(rng, depth=1):
    child = (lambda r: mapping(r, depth - 1) if r.random() < 0.2 else _mapping_value(r)) if depth else _mapping_value
    r = rng.random()
    if r < 0.3:
        return ("record", _entries(rng, child), rng.random() < 0.25)
    if r < 0.45:
        clauses = [(_key_schema(rng), child(rng)) for _ in range(rng.randint(1, 2))]
        return ("mapping", _entries(rng, child), clauses)
    if r < 0.75:
        return ("dict", _key_schema(rng), child(rng))
    if r < 0.85:
        if rng.random() < 0.3:
            return ("typeddict", "movie", True)
        keys = rng.sample(["a", "b", "title"], rng.randint(1, 2))
        return ("typeddict", [(k, rng.choice(sorted(TYPED_DICT_HINTS))) for k in keys], rng.random() < 0.5)
    if r < 0.95:
        return ("union", [mapping(rng, 0), mapping(rng, 0)])
    return ("comp", mapping(rng, 0)) if rng.random() < 0.5 else ("inter", mapping(rng, 0), mapping(rng, 0))


def _item(rng):
    r = rng.random()
    if r < 0.5:
        return ("scalar", rng.choice(["int", "bool", "str", "float", "any", "none", "hlist", "htuple"]))
    if r < 0.8:
        return ("lit", tuple(rng.sample([1, True, 1.0, 0, False, "a", MyStr("a"), b"a", None], rng.randint(1, 3))))
    return _leaf(rng)


def container(rng, depth=1):
    child = (lambda r: container(r, depth - 1) if r.random() < 0.25 else _item(r)) if depth else _item
    r = rng.random()
    if r < 0.12:
        return ("list", child(rng))
    if r < 0.24:
        return ("tuple", [child(rng) for _ in range(rng.randint(0, 3))])
    if r < 0.36:
        return ("tuplevar", child(rng))
    if r < 0.46:
        flavour = rng.choice(["tuple", "list"])
        if UNPACK is None:
            # No unpacked tuples before 3.11: their spec would be a list
            # literal, whose values the tuple flavour does not make.
            flavour = "list"
        suffix = [child(rng) for _ in range(rng.randint(0, 1))] if flavour == "tuple" else []
        return ("unpack", flavour, [child(rng) for _ in range(rng.randint(0, 2))], child(rng), suffix)
    if r < 0.58:
        lo = rng.randint(0, 2)
        return ("bounded", rng.choice(["list", "tuple"]), child(rng), lo, lo + rng.randint(0, 2))
    if r < 0.78:
        inner = child(rng) if rng.random() < 0.5 else ("union", [_item(rng), _item(rng)])
        return ("setof", rng.choice(["set", "frozenset"]), inner)
    if r < 0.92:
        return ("union", [container(rng, 0) for _ in range(rng.randint(2, 3))])
    return ("comp", container(rng, 0)) if rng.random() < 0.5 else ("inter", container(rng, 0), container(rng, 0))


def enumeration(rng):
    def leaf():
        if rng.random() < 0.5:
            return ("scalar", rng.choice(ENUMS))
        return ("lit", tuple(rng.sample(ENUM_MEMBERS, rng.randint(1, 3))))
    return leaf() if rng.random() < 0.5 else ("union", [leaf() for _ in range(rng.randint(2, 3))])


def builtin_enumeration(rng):
    """Enumerations derived from builtin types against bounds, lengths
    and patterns of their contents: closed ones decided by their members,
    the others (flags, a `_missing_` hook, a memberless base, tuples)
    never refuted by a content no instance has."""
    def leaf():
        if rng.random() < 0.4:
            return ("scalar", rng.choice(BUILTIN_ENUMS))
        name = rng.choice([n for n in BUILTIN_ENUMS + ENUM_BASES if n in MARKERS])
        return ("refined", name, tuple(rng.sample(MARKERS[name], rng.randint(1, min(2, len(MARKERS[name]))))))
    r = rng.random()
    if r < 0.4:
        return leaf()
    if r < 0.6:
        return ("union", [leaf(), leaf()])
    if r < 0.8:
        return ("inter", leaf(), leaf())
    return ("comp", leaf())


def general(rng, size=5):
    """Any form of the grammar, with at most about `size` leaves."""
    if size <= 1 or rng.random() < 0.3:
        return _leaf(rng)
    r = rng.random()
    sub = max(size - 1, 1)
    if r < 0.15:
        n = rng.randint(2, 3)
        return ("union", [general(rng, sub // n) for _ in range(n)])
    if r < 0.25:
        return ("inter", general(rng, sub // 2), general(rng, sub // 2))
    if r < 0.35:
        return ("comp", general(rng, sub))
    if r < 0.45:
        return ("rec", rng.choice(["list", "pair", "chain"]), general(rng, sub))
    if r < 0.7:
        return container(rng, 1)
    if r < 0.95:
        return mapping(rng, 1)
    return ("obj", rng.choice(sorted(OBJECTS)))


def objects(rng):
    leaf = ("obj", rng.choice(sorted(OBJECTS)))
    r = rng.random()
    if r < 0.4:
        return leaf
    if r < 0.6:
        return ("union", [leaf, _leaf(rng)])
    if r < 0.8:
        return ("inter", leaf, ("obj", rng.choice(sorted(OBJECTS))))
    return ("comp", leaf)


FAMILIES = {"general": general, "mapping": mapping, "container": container, "enum": enumeration,
            "builtin_enum": builtin_enumeration, "object": objects}


def pair_of(rng, family):
    """Two schemas of one family."""
    make = FAMILIES[family]
    return make(rng), make(rng)
