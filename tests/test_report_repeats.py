"""What the collecting walk reports when it meets one failure more than once,
and what a mapping reports when a predicate answers differently the second
time.

An intersection whose members lead to one definition walks the same child
under each of them; through a recursive schema each level doubled the walks
below it, and the collecting walk recorded every failure once per walk.
`_walk_steps()` counts the walk levels entered on this thread, so the
bounds below are on work, not time.
"""

import json
from typing import Annotated, Any

import pytest

import _tessaron
from tessaron import ValidationError, Validator, intersection, recursive, union

# Each level is an int, or a one-item list (record) whose item is this
# schema under one member and this schema or a str under the other.
LISTS = recursive(lambda r: union(int, intersection([r], [union(r, str)])))
RECORDS = recursive(lambda r: union(int, intersection({"n": r}, {"n": union(r, str)})))


def list_chain(depth, leaf):
    return "[" * depth + leaf + "]" * depth


def record_chain(depth, leaf):
    return '{"n": ' * depth + leaf + "}" * depth


def report(call):
    before = _tessaron._walk_steps()
    with pytest.raises(ValidationError) as info:
        call()
    errors = [(e["code"], e["path"], e["expected"], e["value"]) for e in info.value.errors]
    return errors, _tessaron._walk_steps() - before


ENTRIES = {
    "validate": lambda schema, doc: schema.validate(json.loads(doc)),
    "validate_json": lambda schema, doc: schema.validate_json(doc),
}

# (schema, chain, leaf text, segment of a level, the leaf as shown).  A leaf
# shown as a container too: showing a plain list or dict runs no user code,
# so the walks around it stay remembered.
CHAINS = [
    (LISTS, list_chain, "null", 0, "None"),
    (LISTS, list_chain, "{}", 0, "{}"),
    (RECORDS, record_chain, "null", "n", "None"),
    (RECORDS, record_chain, "[]", "n", "[]"),
]
CHAIN_IDS = ["lists", "lists, dict leaf", "records", "records, list leaf"]


@pytest.mark.parametrize("entry", ENTRIES.values(), ids=ENTRIES.keys())
@pytest.mark.parametrize("schema, chain, leaf, segment, shown", CHAINS, ids=CHAIN_IDS)
def test_a_failure_met_under_both_members_of_an_intersection_is_reported_once(
    schema, chain, leaf, segment, shown, entry
):
    steps = {}
    for depth in (10, 20, 60):
        errors, steps[depth] = report(lambda: entry(schema, chain(depth, leaf)))
        # The leaf fails under the definition (first member) and under the
        # union with str (second member): two failures, each once.
        path = (segment,) * depth
        assert errors == [
            ("union_error", path, "one of: str, int, intersection", shown),
            ("union_error", path, "one of: int, intersection", shown),
        ]
    # Linear in the depth (a walk that repeats itself doubles per level).
    assert steps[60] <= 4 * steps[20], steps


@pytest.mark.parametrize("entry", ENTRIES.values(), ids=ENTRIES.keys())
def test_the_walk_is_bounded_past_the_nesting_limit(entry):
    # Members reach the child at walk depths a level apart, so near the
    # nesting limit the two walks are different walks (they meet the limit
    # at different places) and both are made; but each once, although the
    # failures they record show lists.
    _, steps = report(lambda: entry(LISTS, list_chain(8, "null")))
    assert steps < 100 * 8, steps  # linear below the limit (else stop here)
    errors, steps = report(lambda: entry(LISTS, list_chain(103, "null")))
    assert "recursion_limit" in {code for code, *_ in errors}
    assert len(errors) < 64, len(errors)
    assert steps < 1_000 * 103, steps


# --- one path, two objects --------------------------------------------------------
#
# A failure is left out only where the walk that recorded it was of the same
# object reached the same way.  Two keys shown by the same text reach a
# shared value at one path: its failures are reported under each, as they
# are for a copy of it under each.

Nested = recursive(lambda r: union(int, dict[Any, r]))


def test_a_shared_value_under_two_keys_of_one_text_reports_as_its_copies():
    def make(leaf):
        return {0.1: leaf, "0.1": leaf}

    shared = make({"k": "x"})
    copies = {0.1: {"k": "x"}, "0.1": {"k": "x"}}
    errors_shared, _ = report(lambda: Nested.validate(shared))
    errors_copies, _ = report(lambda: Nested.validate(copies))
    assert errors_shared == errors_copies
    assert len(errors_shared) == 2


# --- a predicate that answers otherwise the second time, in a mapping ------------
#
# A mapping is checked by a verdict pass and, when that fails, an explaining
# pass.  A predicate that fails once fails the first and passes the second:
# the report is the predicate's failure, at its entry, as a flat list
# reports it.


def once(outcome):
    """A predicate that fails on its third call: raises, or answers False."""
    calls = [0]

    def flaky(x):
        calls[0] += 1
        if calls[0] == 3:
            if outcome == "raise":
                raise ValueError("once")
            return False
        return True

    return flaky


OUTCOMES = {
    "raise": ("predicate_error", "a predicate that does not raise (raised ValueError: once)"),
    "false": ("predicate_failed", "a passing predicate"),
}
MAPPINGS = {
    # Declared keys looked up directly.
    "record": lambda p: [{"id": Annotated[int, p]}],
    # Typed other keys: the items read one by one.
    "record with other keys": lambda p: [{"id": Annotated[int, p], str: int}],
}


@pytest.mark.parametrize("mapping", MAPPINGS.values(), ids=MAPPINGS.keys())
@pytest.mark.parametrize("outcome", OUTCOMES.keys())
def test_a_predicate_failing_once_in_a_mapping_is_reported_as_its_failure(outcome, mapping):
    code, expected = OUTCOMES[outcome]
    with pytest.raises(ValidationError) as info:
        Validator(mapping(once(outcome))).validate([{"id": i} for i in range(4)])
    assert [(e["code"], e["path"], e["expected"], e["value"]) for e in info.value.errors] == [
        (code, (2, "id"), expected, "2")
    ]
    # A flat list says the same at its item.
    with pytest.raises(ValidationError) as info:
        Validator(list[Annotated[int, once(outcome)]]).validate(list(range(4)))
    assert [(e["code"], e["expected"]) for e in info.value.errors] == [(code, expected)]


def test_a_change_the_dict_reads_see_is_still_reported_as_one():
    # The predicate fails once and removes a key of its dict as it does:
    # the size read sees the change, which is reported, not the predicate.
    rows = [{"id": i, "x": 0} for i in range(4)]
    calls = [0]

    def shrinks(x):
        calls[0] += 1
        if calls[0] == 3:
            del rows[2]["x"]
            return False
        return True

    with pytest.raises(ValidationError) as info:
        Validator([{"id": Annotated[int, shrinks], "x": int}]).validate(rows)
    codes = {(e["code"], e["path"]) for e in info.value.errors}
    assert ("mutated_during_validation", (2,)) in codes
    assert not any(code.startswith("predicate") for code, _ in codes)
