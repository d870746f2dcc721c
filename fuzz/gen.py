"""Spec and value generators shared by the Python-level fuzz targets.

Every choice is read from a `Choices` source, so the same generator serves
atheris (choices from the fuzzer's bytes: mutating the input mutates the spec)
and a seeded `random.Random` (tests, corpus generation).  Generated specs stay
small (depth at most 4, a few members each) and deterministic: predicates
never raise and never depend on anything but their argument, so every
verdict can be compared with another one.
"""

import dataclasses
import enum
import typing

import tessaron

MAX_DEPTH = 4


class Choices:
    """Choices read from a byte string (atheris.FuzzedDataProvider)."""

    def __init__(self, fdp):
        self.fdp = fdp

    def below(self, n):
        return self.fdp.ConsumeIntInRange(0, n - 1)

    def flag(self):
        return self.fdp.ConsumeBool()

    def big_int(self):
        return self.fdp.ConsumeInt(self.fdp.ConsumeIntInRange(1, 20))

    def float(self):
        return self.fdp.ConsumeRegularFloat() if self.flag() else self.fdp.ConsumeFloat()

    def text(self):
        return self.fdp.ConsumeUnicode(self.below(6))

    def data(self):
        return self.fdp.ConsumeBytes(self.below(6))


class RandomChoices:
    """Choices from a seeded random.Random."""

    def __init__(self, rng):
        self.rng = rng

    def below(self, n):
        return self.rng.randrange(n)

    def flag(self):
        return self.rng.random() < 0.5

    def big_int(self):
        return self.rng.randrange(-(2**100), 2**100) >> self.rng.randrange(100)

    def float(self):
        return self.rng.choice([0.0, -0.0, 1.5, -2.25, 1e300, float("inf"), float("nan"), 0.1])

    def text(self):
        return "".join(self.rng.choice("ab\u00e9\U0001f600\ud800 ") for _ in range(self.rng.randrange(5)))

    def data(self):
        return bytes(self.rng.randrange(256) for _ in range(self.rng.randrange(5)))


# --- fixed classes the generator may name ---------------------------------------


@dataclasses.dataclass
class Point:
    x: int
    y: str = "a"


class Movie(typing.TypedDict, total=False):
    title: str
    year: int


class Pair(typing.NamedTuple):
    left: int
    right: typing.Optional[str]


class Color(enum.Enum):
    RED = 1
    GREEN = "g"


@typing.runtime_checkable
class Sized(typing.Protocol):
    def __len__(self) -> int: ...


class Plain:
    pass


CLASSES = [Point, Movie, Pair, Color, Sized, Plain]


# Marker objects, read by duck typing on their attribute names.
class Marker:
    def __init__(self, **attrs):
        self.__dict__.update(attrs)

    def __repr__(self):
        return f"Marker({self.__dict__!r})"


def even(x):
    return type(x) is int and x % 2 == 0


def short(x):
    return len(type(x).__name__) < 5


PREDICATES = [even, short]
PATTERNS = ["a*", "[a-z]+", "\\d{1,3}", "(ab|é)?b", ".", "\\w+\\s?"]
KEYS = ["a", "b", "c?", "d"]


# --- values ------------------------------------------------------------------------


def scalar(c):
    k = c.below(12)
    if k == 0:
        return None
    if k == 1:
        return c.flag()
    if k == 2:
        return c.below(5) - 1
    if k == 3:
        return c.big_int()
    if k == 4:
        return c.float()
    if k == 5:
        return ["a", "b", "ab", "", "é"][c.below(5)]
    if k == 6:
        return c.text()
    if k == 7:
        return [b"a", b"", b"\xff"][c.below(3)]
    if k == 8:
        return c.data()
    if k == 9:
        return [Color.RED, Color.GREEN, Point(1), Pair(1, None), Plain()][c.below(5)]
    if k == 10:
        return [int, str, object][c.below(3)]
    return 1.0 if c.flag() else 2


def hashable(c, depth):
    if depth < 2 and c.below(4) == 0:
        return tuple(hashable(c, depth + 1) for _ in range(c.below(3)))
    value = scalar(c)
    try:
        hash(value)
    except TypeError:
        return 0
    return value


def value(c, depth=0):
    """A Python value: scalars, containers of them, a few class instances."""
    if depth >= MAX_DEPTH:
        return scalar(c)
    k = c.below(9)
    n = c.below(4)
    if k == 0:
        return [value(c, depth + 1) for _ in range(n)]
    if k == 1:
        return tuple(value(c, depth + 1) for _ in range(n))
    if k == 2:
        return {hashable(c, depth) for _ in range(n)}
    if k == 3:
        return frozenset(hashable(c, depth) for _ in range(n))
    if k == 4:
        return {KEYS[c.below(4)].rstrip("?"): value(c, depth + 1) for _ in range(n)}
    if k == 5:
        return {hashable(c, depth): value(c, depth + 1) for _ in range(n)}
    if k == 6:
        return Point(value(c, depth + 1), value(c, depth + 1))
    return scalar(c)


# --- specs -------------------------------------------------------------------------


LEAF_MAKERS = {
    int: lambda c: c.below(5) - 1 if c.flag() else c.big_int(),
    str: lambda c: ["a", "ab", "7", ""][c.below(4)] if c.flag() else c.text(),
    float: lambda c: c.float(),
    bool: lambda c: c.flag(),
    bytes: lambda c: c.data(),
    None: lambda c: None,
    typing.Any: lambda c: value(c, 2),
    Point: lambda c: Point(c.below(3), "b") if c.flag() else Point(c.below(3)),
    Movie: lambda c: {k: v for k, v in (("title", "t"), ("year", c.below(3))) if c.flag()},
    Pair: lambda c: Pair(c.below(3), None if c.flag() else "r"),
    Color: lambda c: [Color.RED, Color.GREEN][c.below(2)],
    Sized: lambda c: [1] * c.below(3),
    Plain: lambda c: Plain(),
}


def either(makers):
    return lambda c: makers[c.below(len(makers))](c) if makers else value(c)


def leaf_spec(c):
    """(spec, make): a leaf spec and a maker of values that are likely members."""
    k = c.below(10)
    if k < 7:
        spec = [int, str, float, bool, bytes, None, typing.Any][k]
        return spec, LEAF_MAKERS[spec]
    if k == 7:
        constant = hashable(c, 1)
        return constant, lambda c: constant
    if k == 8:
        members = tuple(hashable(c, 2) for _ in range(1 + c.below(3)))
        return typing.Literal[members], lambda c: members[c.below(len(members))]
    cls = CLASSES[c.below(len(CLASSES))]
    return cls, LEAF_MAKERS[cls]


def marker(c):
    k = c.below(8)
    bound = [0, 1, -1, 2.5, 10**20][c.below(5)]
    if k == 0:
        return Marker(ge=bound)
    if k == 1:
        return Marker(gt=bound, le=None)
    if k == 2:
        return Marker(lt=bound)
    if k == 3:
        return Marker(multiple_of=[2, 3, 0.5][c.below(3)])
    if k == 4:
        return PREDICATES[c.below(len(PREDICATES))]
    if k == 5:
        return Marker(min_length=c.below(3))
    if k == 6:
        return Marker(max_length=c.below(3))
    return Marker(pattern=PATTERNS[c.below(len(PATTERNS))], flags=[0, 2, 8][c.below(3)])


def typing_form(form, args):
    """form[args], or None where typing itself refuses the arguments (a
    constant such as "" is not a type to `typing.Union`)."""
    try:
        return form[args]
    except Exception:
        return None


def hashable_or_skip(make):
    def made(c):
        item = make(c)
        try:
            hash(item)
        except TypeError:
            return 0
        return item

    return made


def chain(inner_make, shape, c, depth):
    """A likely member of the recursive shapes of `spec` below."""
    if depth >= 3 or c.flag():
        return inner_make(c) if shape == 0 else ({"v": inner_make(c)} if shape == 1 else None)
    rest = chain(inner_make, shape, c, depth + 1)
    if shape == 0:
        return [rest, inner_make(c)][: 1 + c.below(2)]
    if shape == 1:
        return {"v": inner_make(c), "next": rest}
    return (inner_make(c), rest)


def spec(c, depth=0):
    """(spec, make): a schema spec, which the builder may refuse (a refusal
    is not a fault), and a maker of values that are likely its members, so
    that walks get past the first level."""
    if depth >= MAX_DEPTH:
        return leaf_spec(c)
    sub = lambda: spec(c, depth + 1)  # noqa: E731
    k = c.below(22)
    if k == 0:
        s, m = sub()
        return list[s], lambda c: [m(c) for _ in range(c.below(4))]
    if k == 1:
        s, m = sub()
        return tuple[s, ...], lambda c: tuple(m(c) for _ in range(c.below(4)))
    if k == 2:
        parts = [sub() for _ in range(c.below(3))] if c.flag() else []
        spec_ = tuple[tuple(p[0] for p in parts)] if parts else tuple[()]
        return spec_, lambda c: tuple(p[1](c) for p in parts)
    if k == 3:
        s, m = leaf_spec(c)
        kind = set if c.flag() else frozenset
        item = hashable_or_skip(m)
        return kind[s], lambda c: kind(item(c) for _ in range(c.below(4)))
    if k == 4:
        key, key_make = [(str, LEAF_MAKERS[str]), (int, LEAF_MAKERS[int]),
                         (typing.Literal["a", "b"], lambda c: "ab"[c.below(2)])][c.below(3)]
        s, m = sub()
        return dict[key, s], lambda c: {key_make(c): m(c) for _ in range(c.below(4))}
    if k == 5:
        fields = {KEYS[c.below(4)]: sub() for _ in range(c.below(4))}

        def make_record(c):
            return {key.rstrip("?"): m(c) for key, (_, m) in fields.items() if not key.endswith("?") or c.flag()}

        return {key: s for key, (s, _) in fields.items()}, make_record
    if k == 6:
        n = c.below(4)
        items = [sub() for _ in range(n)]
        specs = [s for s, _ in items]
        if n == 1:  # [T]: a list of T of any length
            return specs, lambda c: [items[0][1](c) for _ in range(c.below(4))]
        if n and c.flag():  # [A, B, ...]: the last element repeats
            return specs + [...], lambda c: [m(c) for _, m in items] + [items[-1][1](c) for _ in range(c.below(3))]
        return specs, lambda c: [m(c) for _, m in items]
    if k == 7:
        s, m = sub()
        return typing_form(typing.Optional, s), lambda c: None if c.flag() else m(c)
    if k == 8:
        (s1, m1), (s2, m2) = sub(), sub()
        return typing_form(typing.Union, (s1, s2)), either([m1, m2])
    if k == 9:
        base, make = [
            (int, LEAF_MAKERS[int]), (float, LEAF_MAKERS[float]), (str, LEAF_MAKERS[str]),
            (bytes, LEAF_MAKERS[bytes]), (list[int], lambda c: [c.below(3)] * c.below(4)),
            (typing.Optional[int], lambda c: c.below(4) if c.flag() else None), (typing.Any, value),
        ][c.below(7)]
        return typing.Annotated[(base, *(marker(c) for _ in range(1 + c.below(2))))], make
    if k == 10:
        parts = [sub() for _ in range(c.below(3))]
        return tessaron.union(*(s for s, _ in parts)), either([m for _, m in parts])
    if k == 11:
        parts = [sub() for _ in range(c.below(3))]
        return tessaron.intersection(*(s for s, _ in parts)), either([m for _, m in parts])
    if k == 12:
        s, m = sub()
        return tessaron.complement(s), either([m, value])
    if k == 13:
        inner, inner_make = sub()
        shape = c.below(3)
        if shape == 0:
            spec_ = tessaron.recursive(lambda x: tessaron.union(inner, list[x]))
        elif shape == 1:
            spec_ = tessaron.recursive(lambda x: {"v": inner, "next?": x})
        else:
            spec_ = tessaron.recursive(lambda x: tessaron.union(None, tuple[inner, x]))
        return spec_, lambda c: chain(inner_make, shape, c, 0)
    if k == 14:
        s, m = sub()
        return tessaron.Validator(s), m
    if k == 15:
        s, m = sub()
        v = tessaron.Validator(s)
        return (v.open() if c.flag() else v.close()), m
    return leaf_spec(c)
