"""Membership of scalars, literals, instances and the limits of the walk.

Every behaviour is checked through all entry points: ``is_valid`` and ``in``
(verdict only), ``validate`` with and without ``fail_fast``, and ``ensure``.
"""

import sys
import typing

import pytest

import tessaron
from tessaron import ValidationError, Validator


def verdicts(v, value):
    """The answer of every entry point, checked to agree; returns it."""
    answer = v.is_valid(value)
    assert (value in v) is answer
    for fail_fast in (False, True):
        try:
            assert v.validate(value, fail_fast=fail_fast) is None
            assert answer is True
        except ValidationError:
            assert answer is False
    if answer:
        assert v.ensure(value) is value
    else:
        with pytest.raises(ValidationError):
            v.ensure(value)
    return answer


def failure(v, value, **kwargs):
    with pytest.raises(ValidationError) as info:
        v.validate(value, **kwargs)
    return info.value


class Text(str):
    pass


class Integer(int):
    pass


NAN = float("nan")


@pytest.mark.parametrize(
    "literal, value, member",
    [
        (1, 1, True),
        (1, True, False),  # bool is an int, but not of the exact type
        (True, 1, False),
        (True, True, True),
        (1, 1.0, False),
        (1, Integer(1), False),
        (1, 2**64, False),
        (2**70, 2**70, True),
        ("a", "a", True),
        ("a", Text("a"), False),
        (b"x", b"x", True),
        (b"x", bytearray(b"x"), False),
        (0.0, -0.0, True),
        (1.5, 1.5, True),
        (NAN, NAN, False),  # a NaN literal admits nothing, not even itself
        (NAN, float("nan"), False),
    ],
)
def test_literal_membership_is_exact(literal, value, member):
    assert verdicts(Validator(literal), value) is member


def test_literal_failure_record():
    err = failure(Validator("abc"), 5)
    assert (err.code, err.expected, err.value, err.path) == ("literal_error", "the literal 'abc'", "5", ())
    assert str(err) == "expected the literal 'abc', got 5 [literal_error]"


def test_none_anything_and_nothing():
    assert verdicts(Validator(None), None) is True
    assert verdicts(Validator(None), 0) is False
    err = failure(Validator(None), 0)
    assert (err.code, err.expected) == ("none_type", "None")
    for value in (None, 1, object(), [1]):
        assert verdicts(tessaron.anything, value) is True
        assert verdicts(tessaron.nothing, value) is False
    err = failure(tessaron.nothing, 3)
    assert (err.code, err.expected, err.value) == ("no_match", "nothing", "3")
    if hasattr(typing, "Never"):
        assert verdicts(Validator(typing.Never), None) is False
    assert verdicts(Validator(typing.Any), object()) is True


@pytest.mark.parametrize(
    "spec, value, member, code",
    [
        (int, 1, True, None),
        (int, True, True, None),  # bool values are ints
        (int, Integer(3), True, None),
        (int, 1.0, False, "int_type"),
        (float, 1, False, "float_type"),
        (float, 1.5, True, None),
        (bool, 1, False, "bool_type"),
        (bool, False, True, None),
        (str, Text("x"), True, None),
        (str, b"x", False, "string_type"),
        (bytes, b"x", True, None),
        (bytes, "x", False, "bytes_type"),
        (type(None), None, True, None),
    ],
)
def test_scalar_kinds(spec, value, member, code):
    v = Validator(spec)
    assert verdicts(v, value) is member
    if code:
        assert failure(v, value).code == code


# --- user objects that misbehave -------------------------------------------


class EqRaises:
    def __init__(self, exc):
        self.exc = exc

    def __eq__(self, other):
        raise self.exc

    __hash__ = object.__hash__


class TruthRaises:
    def __bool__(self):
        raise ValueError("no truth")


class EqAnswers:
    def __init__(self, answer):
        self.answer = answer

    def __eq__(self, other):
        return self.answer

    __hash__ = object.__hash__


def test_ordinary_exception_in_eq_is_a_non_member():
    constant = EqRaises(ValueError("boom"))
    v = Validator(constant)
    assert verdicts(v, EqRaises(ValueError("boom"))) is False
    assert failure(v, EqRaises(ValueError("x"))).code == "literal_error"


def test_truth_of_the_comparison_result_is_used():
    assert Validator(EqAnswers(1)).is_valid(EqAnswers(1)) is True
    assert Validator(EqAnswers(0)).is_valid(EqAnswers(0)) is False
    assert Validator(EqAnswers(TruthRaises())).is_valid(EqAnswers(TruthRaises())) is False


@pytest.mark.parametrize("exc_type", [KeyboardInterrupt, MemoryError, RecursionError, SystemExit])
def test_fatal_exception_in_eq_propagates_from_every_entry(exc_type):
    v = Validator(EqRaises(exc_type()))
    value = EqRaises(exc_type())
    with pytest.raises(exc_type):
        v.is_valid(value)
    with pytest.raises(exc_type):
        value in v  # noqa: B015
    for fail_fast in (False, True):
        with pytest.raises(exc_type):
            v.validate(value, fail_fast=fail_fast)
    with pytest.raises(exc_type):
        v.ensure(value)


def test_fatal_exception_stops_a_union_and_wins_over_the_error():
    # The first member raises KeyboardInterrupt; the second would admit.
    v = tessaron.union(EqRaises(KeyboardInterrupt()), 5)
    with pytest.raises(KeyboardInterrupt):
        v.is_valid(EqRaises(KeyboardInterrupt()))
    with pytest.raises(KeyboardInterrupt):
        v.validate(EqRaises(KeyboardInterrupt()))


def test_complement_folds_an_ordinary_exception_to_a_member():
    v = tessaron.complement(Validator(EqRaises(ValueError())))
    assert verdicts(v, EqRaises(ValueError())) is True


class Meta(type):
    mode = None

    def __instancecheck__(cls, obj):
        if Meta.mode is not None:
            raise Meta.mode
        return type.__instancecheck__(cls, obj)


class Guarded(metaclass=Meta):
    pass


def test_instance_checks():
    v = Validator(Guarded)
    assert verdicts(v, Guarded()) is True
    err = failure(v, 3)
    assert (err.code, err.expected, err.value) == ("instance_type", "Guarded", "3")
    # An object of the exact class never reaches __instancecheck__.
    try:
        Meta.mode = ValueError("no")
        assert verdicts(v, 3) is False
        assert verdicts(v, Guarded()) is True
        Meta.mode = KeyboardInterrupt()
        with pytest.raises(KeyboardInterrupt):
            v.is_valid(3)
        with pytest.raises(KeyboardInterrupt):
            v.validate(3)
    finally:
        Meta.mode = None


def test_ensure_returns_the_very_object():
    value = [1, 2]
    assert tessaron.anything.ensure(value) is value
    assert Validator(5).ensure(5) == 5


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda v: v.validate(1, fail_fast=1), "fail_fast"),
        (lambda v: v.validate(1, fail_fast=None), "fail_fast"),
        (lambda v: v.validate(1, True), "Validator.validate() takes 1 positional arguments but 2 were given"),
        (lambda v: v.validate(), "Validator.validate() missing 1 required positional argument: 'obj'"),
        (lambda v: v.validate(obj=1), "positional-only"),
        (lambda v: v.is_valid(1, 2), "Validator.is_valid() takes 1 positional arguments but 2 were given"),
        (lambda v: v.is_valid(), "Validator.is_valid() missing 1 required positional argument: 'obj'"),
        (lambda v: v.is_valid(obj=1), "positional-only"),
        (lambda v: v.ensure(1, fail_fast=True), "unexpected keyword argument 'fail_fast'"),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call(Validator(1))
    assert message in str(info.value)


def test_methods_reject_a_foreign_receiver():
    with pytest.raises(TypeError):
        Validator.is_valid(3, 3)


# --- unions, intersections, complements ------------------------------------


def test_union_of_literals():
    v = tessaron.union(1, 2, "a")
    for value, member in [(1, True), (2, True), ("a", True), (True, False), (2.0, False), ("b", False)]:
        assert verdicts(v, value) is member
    err = failure(v, 3.5)
    assert (err.code, err.expected) == ("union_error", "one of: the literal 1, the literal 2, the literal 'a'")
    assert len(failure(v, 3.5, fail_fast=True).errors) == 1


def test_union_summary_lists_at_most_64_members():
    v = tessaron.union(*range(70))
    err = failure(v, -1)
    texts = err.expected.removeprefix("one of: ").split(", ")
    assert texts[:64] == [f"the literal {i}" for i in range(64)]
    assert texts[64:] == ["..."]
    # Members past the 64th are still tried.
    assert verdicts(v, 69) is True


def test_complement():
    v = tessaron.complement(Validator(3))
    assert verdicts(v, 4) is True
    err = failure(v, 3)
    assert (err.code, err.expected, err.value) == ("unexpected_match", "not literal", "3")


def test_intersection():
    v = tessaron.intersection(tessaron.union(1, 2), tessaron.union(2, 3))
    assert verdicts(v, 2) is True
    assert verdicts(v, 1) is False
    assert verdicts(v, 3) is False
    # The first member fails at the intersection's own level: nothing more
    # is walked, so exactly one failure is reported.
    assert len(failure(v, 7).errors) == 1


# --- limits -----------------------------------------------------------------


def recursive_alias(body):
    """A validator of the recursive alias `type X = <body>`."""
    if sys.version_info < (3, 12):
        pytest.skip("the type statement is new in 3.12")
    namespace = {}
    exec(f"type X = {body}", namespace)
    return Validator(namespace["X"])


def nested_lists(depth):
    value = None
    for _ in range(depth):
        value = [value]
    return value


def test_recursion_entries_are_limited_to_128():
    v = recursive_alias("list[X] | None")
    # Every list and the final None enter the definition once: 128 entries
    # pass, the 129th fails.
    assert v.is_valid(nested_lists(127)) is True
    assert v.is_valid(nested_lists(128)) is False
    with pytest.raises(ValidationError) as info:
        v.validate(nested_lists(1000))
    assert (info.value.code, info.value.expected) == ("recursion_limit", "at most 128 levels of recursion")
    assert len(info.value.path) == 128


def test_nesting_is_limited_to_512_levels():
    # Four lists per entry into the definition: the nesting limit comes first.
    v = recursive_alias("list[list[list[list[X]]]] | None")
    assert v.is_valid(nested_lists(4 * 80)) is True
    assert v.is_valid(nested_lists(2000)) is False
    with pytest.raises(ValidationError) as info:
        v.validate(nested_lists(2000))
    assert [e["expected"] for e in info.value.errors] == ["at most 512 levels of nesting"]


def test_a_cyclic_value_is_a_loop_not_a_crash():
    v = recursive_alias("list[X] | None")
    cyclic = []
    cyclic.append(cyclic)
    assert v.is_valid(cyclic) is False
    with pytest.raises(ValidationError) as info:
        v.validate(cyclic)
    assert (info.value.code, info.value.expected, info.value.path) == (
        "recursion_loop",
        "a finite (non-cyclic) value",
        (0,),
    )
    # The same object twice side by side is no loop.
    shared = [None]
    assert v.is_valid([shared, shared]) is True


# --- a limit under a complement ----------------------------------------------

# Integers nested in lists, one entry into the definition per list.
NESTED_INTS = tessaron.recursive(lambda r: tessaron.union(int, Validator([r])))
# Four lists per entry: the nesting limit comes before the recursion limit.
FOUR_DEEP = tessaron.recursive(lambda r: tessaron.union(None, Validator([[[[r]]]])))

RECURSION_TEXT = "at most 128 levels of recursion"
NESTING_TEXT = "at most 512 levels of nesting"


def in_lists(depth, inner):
    for _ in range(depth):
        inner = [inner]
    return inner


def failures(v, value, **kwargs):
    with pytest.raises(ValidationError) as info:
        v.validate(value, **kwargs)
    return [(e["code"], e["path"], e["expected"]) for e in info.value.errors]


@pytest.mark.parametrize(
    "schema, value, path, expected",
    [
        # A member of the inner schema, refused only at the limit.
        (tessaron.complement(NESTED_INTS), in_lists(128, 1), (), RECURSION_TEXT),
        (tessaron.complement(FOUR_DEEP), in_lists(4 * 130, None), (), NESTING_TEXT),
        # No member either, but the walk stopped at the limit before it
        # could tell: no verdict to negate.
        (tessaron.complement(NESTED_INTS), in_lists(200, "s"), (), RECURSION_TEXT),
        # The limit met by a member that did not decide the inner union.
        (tessaron.complement(tessaron.union(str, NESTED_INTS)), in_lists(128, 1), (), RECURSION_TEXT),
        # Under a container: at the complement's own path.
        (Validator({"k": tessaron.complement(NESTED_INTS)}), {"k": in_lists(128, 1)}, ("k",), RECURSION_TEXT),
        (Validator([tessaron.complement(NESTED_INTS)]), ["s", in_lists(128, 1)], (1,), RECURSION_TEXT),
    ],
    ids=["recursion", "nesting", "non-member", "union-member", "in-record", "in-list"],
)
def test_a_complement_refuses_what_its_inner_walk_refused_at_a_limit(schema, value, path, expected):
    assert verdicts(schema, value) is False
    assert failures(schema, value) == [("recursion_limit", path, expected)]
    assert failures(schema, value, fail_fast=True) == [("recursion_limit", path, expected)]


def test_a_limit_under_a_complement_is_no_member_of_either_side():
    deep = in_lists(128, 1)
    either = tessaron.union(str, NESTED_INTS, tessaron.intersection(list, tessaron.complement(NESTED_INTS)))
    assert verdicts(either, deep) is False
    assert verdicts(either, in_lists(127, 1)) is True
    assert verdicts(either, [[]]) is True


def raising(value):
    raise ValueError("no")


def cyclic_list():
    value = []
    value.append(value)
    return value


@pytest.mark.parametrize(
    "schema, value",
    [
        # Within the limits the complement answers as before.
        (tessaron.complement(NESTED_INTS), in_lists(127, "s")),
        # A cycle is no member of a recursive schema: a verdict.
        (tessaron.complement(tessaron.recursive(lambda r: tessaron.union(None, Validator([r])))), cyclic_list()),
        # A raising predicate refuses the value: a verdict.
        (tessaron.complement(typing.Annotated[typing.List[int], raising]), [1]),
        # Predicates that run and refuse without changing anything.
        (tessaron.complement(typing.List[typing.Annotated[int, lambda x: x > 0]]), [1, -1]),
        (tessaron.complement(typing.Dict[str, typing.Annotated[int, lambda x: x > 0]]), {"a": 1, "b": -1}),
    ],
    ids=["within-limits", "cycle", "raising-predicate", "predicate-list", "predicate-dict"],
)
def test_a_complement_still_admits_what_its_inner_schema_refuses_on_the_merits(schema, value):
    assert verdicts(schema, value) is True


def changing_containers():
    """(schema, value) pairs whose predicate changes the value being checked."""
    items = [1, 2, 3]
    table = {"a": 1, "b": 2}
    members = {1, 2, 3}
    outer = [[1, 2], [3, 4]]

    def clear_items(_):
        items.clear()
        return True

    def grow_table(_):
        table.update((f"k{i}", i) for i in range(100))
        return True

    def grow_members(_):
        members.update(range(10, 100))
        return True

    def drop_outer(_):
        outer.clear()
        return True

    return [
        (typing.List[typing.Annotated[int, clear_items]], items),
        (typing.Dict[str, typing.Annotated[int, grow_table]], table),
        (typing.Set[typing.Annotated[int, grow_members]], members),
        (typing.List[typing.List[typing.Annotated[int, drop_outer]]], outer),
    ]


@pytest.mark.parametrize("case", range(4), ids=["list", "dict", "set", "outer-list"])
@pytest.mark.parametrize("mode", ["is_valid", "validate", "fail_fast"])
def test_a_complement_refuses_a_value_that_changed_under_its_inner_walk(case, mode):
    schema, value = changing_containers()[case]
    v = tessaron.complement(schema)
    if mode == "is_valid":
        assert v.is_valid(value) is False
    else:
        assert failures(v, value, fail_fast=mode == "fail_fast") == [
            ("mutated_during_validation", (), "a value that does not change while it is checked")
        ]
