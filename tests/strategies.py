"""Hypothesis strategies shared by the property tests: generated schemas
(as validators) and values worth checking against them.

Schemas cover the builtin kinds, literals (no NaN: equal only to itself),
containers, records with awkward keys, unions, intersections, complements
and recursive fixpoints.  Values are drawn from a fixed pool of tricky
objects plus generated nested data, so most schemas see both members and
non-members.
"""

import typing

from hypothesis import strategies as st

import tessaron
from tessaron import Validator, complement, intersection, recursive, union

SCALARS = [None, bool, int, float, str, bytes, typing.Any, tessaron.anything, tessaron.nothing]
LITERALS = st.one_of(
    st.integers(min_value=-(2**70), max_value=2**70),
    st.booleans(),
    st.floats(allow_nan=False),
    st.text(max_size=4),
    st.binary(max_size=4),
)
KEYS = st.sampled_from(["a", "b", "it's", 'say "hi"', "back\\slash", "line\nbreak", "ünï"])

leaves = st.one_of(
    st.sampled_from(SCALARS).map(Validator),
    LITERALS.map(lambda v: Validator(typing.Literal[v])),
    st.lists(LITERALS, min_size=2, max_size=4).map(lambda vs: Validator(typing.Literal[tuple(vs)])),
)


def extend(children):
    return st.one_of(
        st.lists(children, min_size=2, max_size=3).map(lambda xs: union(*xs)),
        st.lists(children, min_size=2, max_size=3).map(lambda xs: intersection(*xs)),
        children.map(complement),
        children.map(lambda x: Validator(list[x])),
        st.lists(children, max_size=3).map(lambda xs: Validator(tuple[tuple(xs)] if xs else tuple[()])),
        children.map(lambda x: Validator(tuple[x, ...])),
        st.sampled_from([int, str, bytes, frozenset[int]]).flatmap(
            lambda e: st.sampled_from([set, frozenset]).map(lambda c: Validator(c[e]))
        ),
        children.map(lambda x: Validator(dict[str, x])),
        st.lists(st.tuples(KEYS, st.booleans(), children), max_size=3, unique_by=lambda e: e[0]).map(
            lambda es: Validator({(k + "?" if optional else k): v for k, optional, v in es})
        ),
        children.map(lambda x: recursive(lambda self: list[self] | x)),
        children.map(lambda x: recursive(lambda self: {"head": x, "tail?": self})),
    )


schemas = st.recursive(leaves, extend, max_leaves=8)


class ListWithLyingIter(list):
    """A list subclass whose own iteration lies: validation reads storage."""

    def __iter__(self):
        return iter([])

    def __len__(self):
        return 0


class StrSub(str):
    pass


atoms = st.one_of(
    st.none(),
    st.booleans(),
    st.integers(min_value=-(2**70), max_value=2**70),
    st.floats(),
    st.text(max_size=4),
    st.binary(max_size=4),
    st.sampled_from([StrSub("a"), frozenset({1}), {1, "a"}, object()]),
)

values = st.recursive(
    atoms,
    lambda inner: st.one_of(
        st.lists(inner, max_size=3),
        st.lists(inner, max_size=3).map(tuple),
        st.lists(inner, max_size=3).map(ListWithLyingIter),
        st.dictionaries(st.one_of(KEYS, st.sampled_from(["head", "tail"])), inner, max_size=3),
        st.tuples(inner, st.one_of(st.none(), inner)).map(lambda ht: {"head": ht[0], "tail": ht[1]}),
    ),
    max_leaves=6,
)
