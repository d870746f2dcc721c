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


def leaf_spec(c):
    k = c.below(10)
    if k < 7:
        return [int, str, float, bool, bytes, None, typing.Any][k]
    if k == 7:
        return hashable(c, 1)  # a constant
    if k == 8:
        return typing.Literal[tuple(hashable(c, 2) for _ in range(1 + c.below(3)))]
    return CLASSES[c.below(len(CLASSES))]


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


def spec(c, depth=0):
    """A schema spec; may be refused by the builder (a refusal is not a fault)."""
    if depth >= MAX_DEPTH:
        return leaf_spec(c)
    sub = lambda: spec(c, depth + 1)  # noqa: E731
    k = c.below(22)
    if k == 0:
        return list[sub()]
    if k == 1:
        return tuple[sub(), ...]
    if k == 2:
        return tuple[tuple(sub() for _ in range(c.below(3)))] if c.flag() else tuple[()]
    if k == 3:
        return (set if c.flag() else frozenset)[leaf_spec(c)]
    if k == 4:
        return dict[[str, int, typing.Literal["a", "b"]][c.below(3)], sub()]
    if k == 5:
        return {KEYS[c.below(4)]: sub() for _ in range(c.below(4))}
    if k == 6:
        n = c.below(4)
        items = [sub() for _ in range(n)]
        if n and c.flag():
            items.append(...)
        return items
    if k == 7:
        return typing_form(typing.Optional, sub())
    if k == 8:
        return typing_form(typing.Union, (sub(), sub()))
    if k == 9:
        base = [int, float, str, bytes, list[int], typing.Optional[int], typing.Any][c.below(7)]
        return typing.Annotated[(base, *(marker(c) for _ in range(1 + c.below(2))))]
    if k == 10:
        return tessaron.union(*(sub() for _ in range(c.below(3))))
    if k == 11:
        return tessaron.intersection(*(sub() for _ in range(c.below(3))))
    if k == 12:
        return tessaron.complement(sub())
    if k == 13:
        inner = sub()
        shape = c.below(3)
        if shape == 0:
            return tessaron.recursive(lambda x: tessaron.union(inner, list[x]))
        if shape == 1:
            return tessaron.recursive(lambda x: {"v": inner, "next?": x})
        return tessaron.recursive(lambda x: tessaron.union(None, tuple[inner, x]))
    if k == 14:
        return tessaron.Validator(sub())
    if k == 15:
        v = tessaron.Validator(sub())
        return v.open() if c.flag() else v.close()
    return leaf_spec(c)
