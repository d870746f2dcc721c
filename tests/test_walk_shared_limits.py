"""A value that shares containers meets the nesting limit where its tree copy does.

The walk remembers what it answered for a container it reaches from a
second place in the value, and reuses that answer deeper only while the
levels the first walk went down stay within the 512-level limit.  Plain
items (a scalar kind, a union of scalar kinds or of literals) are answered
by a scan without entering the levels their walks would enter, and a
union's test stands for two of them.  Here a chain of records, tuples or
unions nests one shared part at every link; the links are added one by one
around the point where the tree copy starts to fail, under 1 to 6 list
levels so that the limit falls on every level of a link.  At each length
the shared value and its tree copy must get the same answers: `is_valid`,
the errors of `validate` and of `fail_fast`, and the verdict of the
complement on the value followed by a failing item (which the complement
admits only when the walk refused it on the merits, not at the limit).
"""

from typing import Literal, Optional, Union

import pytest

from tessaron import ValidationError, Validator, complement, recursive

LEAVES = [
    (int, 1),
    (Optional[int], None),
    (Literal["x", "y"], "y"),
    (Literal[1, 2, 3], 2),
    (Union[float, str, bytes], b"b"),
]
LEAF_IDS = ["int", "int or None", "str literals", "int literals", "float, str or bytes"]

# The containers that hold the leaves: (schema of a leaf, value of a leaf).
HOLDERS = [
    (lambda leaf: list[list[leaf]], lambda v: [[v, v], [v, v]]),
    (lambda leaf: tuple[leaf, ...], lambda v: (v, v, v)),
    (lambda leaf: {"a": leaf, "b": leaf}, lambda v: {"a": v, "b": v}),
    (lambda leaf: dict[str, leaf], lambda v: {"a": v, "b": v}),
    (lambda leaf: tuple[leaf, leaf], lambda v: (v, v)),
]
HOLDER_IDS = ["lists", "tuple", "record", "dict", "pair"]

# A link of the chain: (schema of the chain given its part, the link holding
# `part` and the next link, or the last link when `below` is None).
CHAINS = [
    (lambda part: recursive(lambda r: {"p": part, "z?": [[[[r]]]]}),
     lambda part, below: {"p": part} if below is None else {"p": part, "z": [[[[below]]]]}),
    (lambda part: recursive(lambda r: tuple[part, list[list[list[r]]]]),
     lambda part, below: (part, [] if below is None else [[[below]]])),
    (lambda part: recursive(lambda r: {"p": part, "z": Union[None, list[list[list[r]]]]}),
     lambda part, below: {"p": part, "z": None if below is None else [[[below]]]}),
]
CHAIN_IDS = ["record chain", "tuple chain", "union chain"]


def outcome(call, value):
    try:
        return "ok", call(value)
    except ValidationError as e:
        return "error", [(x["code"], x["path"], x["expected"], x["value"]) for x in e.errors]


@pytest.mark.parametrize("leaf, leaf_value", LEAVES, ids=LEAF_IDS)
@pytest.mark.parametrize("holder, holder_value", HOLDERS, ids=HOLDER_IDS)
@pytest.mark.parametrize("chain, link", CHAINS, ids=CHAIN_IDS)
def test_a_shared_value_meets_the_nesting_limit_where_its_tree_copy_does(
        leaf, leaf_value, holder, holder_value, chain, link):
    part_schema = list[tuple[holder(leaf), ...]]

    def value(links, lists, shared, failing=False):
        # Every link holds the same part, whose list holds one tuple twice,
        # which holds one holder twice: the walk reaches each of them from
        # two places.  The tree copy has a new container at every place.
        if shared:
            pair = (holder_value(leaf_value),) * 2
            one = [pair, pair]
            part = lambda: one
        else:
            part = lambda: [(holder_value(leaf_value), holder_value(leaf_value)) for _ in range(2)]
        v = link(part(), None)
        for _ in range(links):
            v = link(part(), v)
        for _ in range(lists - 1):
            v = [v]
        # A failing item after the chain: only the limit is met before it.
        return [v, 0] if failing else [v]

    schema = chain(part_schema)
    low, high = 0, 200
    for lists in range(1, 7):
        schema = list[schema]
        v = Validator(schema)
        not_v = complement(v)
        # The fewest links the tree copy refuses (a list more, as many or
        # fewer).
        while low < high:
            middle = (low + high) // 2
            if v.is_valid(value(middle, lists, shared=False)):
                low = middle + 1
            else:
                high = middle
        assert 50 < low < 200
        for links in (low - 1, low, low + 1):
            shared, tree = value(links, lists, True), value(links, lists, False)
            failing, failing_tree = value(links, lists, True, True), value(links, lists, False, True)
            assert v.is_valid(shared) == v.is_valid(tree), (lists, links)
            assert outcome(v.validate, shared) == outcome(v.validate, tree), (lists, links)
            fail_fast = lambda x: v.validate(x, fail_fast=True)
            assert outcome(fail_fast, shared) == outcome(fail_fast, tree), (lists, links)
            assert not_v.is_valid(failing) == not_v.is_valid(failing_tree), (lists, links)
        low, high = low - 2, low
