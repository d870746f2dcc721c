"""Type aliases (`type X = ...`, 3.12+) and forward references."""

import sys
import threading
import typing

import pytest

from tessaron import Validator, recursive

NOT_CONTRACTIVE = (
    "recursive type alias is not contractive: the alias names itself outside any structural constructor, "
    "so it denotes no set. Put the self-reference under a list, tuple, set, dict, record, or object"
)


def forward_reference_message(text):
    return (
        f"{text} is a forward reference, and a schema is built from the types themselves: resolve the "
        "annotation first with typing.get_type_hints(..., include_extras=True), or write the type rather "
        "than its name"
    )


@pytest.mark.parametrize(
    "spec, shown",
    [
        (list["Tree"], "'Tree'"),
        (set[typing.ForwardRef("Tree")], "ForwardRef('Tree')"),
        (dict[str, "Tree"], "'Tree'"),
        (typing.Optional["Tree"], "ForwardRef('Tree')"),
    ],
    ids=["list of str", "set of ForwardRef", "dict value", "Optional"],
)
def test_forward_references_are_refused(spec, shown):
    with pytest.raises(NotImplementedError) as info:
        Validator(spec)
    assert str(info.value) == forward_reference_message(shown)


# --- `type` statements (3.12+): compiled from text so this file parses on 3.11

needs_type_statement = pytest.mark.skipif(sys.version_info < (3, 12), reason="type statements are 3.12+")

ALIASES = """
type Ints = list[int]
type Tree = list[Tree]
type Json = dict[str, Json] | list[Json] | int | str | None
type Node = tuple[int, list[Node]]
type Even = list[Odd] | None
type Odd = dict[str, Even]
type Left = list[Left | Right]
type Right = dict[str, Right | Left]
type Bad = Bad | int
type Loop = Loop
type Ping = Pong | int
type Pong = Ping | str
type Forward = list["Forward"]
type Pair = tuple[Tree, Tree]
type HoldsBad = list[Bad]
"""


@pytest.fixture(scope="module")
def aliases():
    namespace = {}
    exec(ALIASES, namespace)
    return namespace


@needs_type_statement
def test_an_alias_that_never_meets_itself_builds_its_value(aliases):
    v = Validator(aliases["Ints"])
    assert repr(v) == repr(Validator(list[int])) == "list[int]"
    assert v.is_valid([1, 2]) and not v.is_valid(["1"])


@needs_type_statement
@pytest.mark.parametrize(
    "name, text, members, non_members",
    [
        ("Tree", "recursive(lambda X: list[X])", [[], [[], [[]]]], [[1], None]),
        (
            "Json",
            "recursive(lambda X: None | int | str | list[X] | dict[str, X])",
            [None, {"a": [1, "b", {"c": None}]}],
            [1.5, {"a": [b"x"]}, {1: 2}],
        ),
        ("Node", "recursive(lambda X: tuple[int, list[X]])", [(1, [(2, [])])], [(1, [(2,)])]),
        ("Even", "recursive(lambda X: None | list[dict[str, X]])", [None, [{"a": None}, {"b": [{}]}]], [[{"a": 1}]]),
        ("Odd", "recursive(lambda X: dict[str, None | list[X]])", [{"a": [{"b": None}]}], [{"a": [None]}]),
        (
            "Left",
            "recursive(lambda X: list[recursive(lambda Y: dict[str, Y | X]) | X])",
            [[{"a": [], "b": {"c": []}}, []]],
            [[{"a": 1}], [1]],
        ),
    ],
)
def test_recursive_aliases(aliases, name, text, members, non_members):
    v = Validator(aliases[name])
    assert repr(v) == text
    for value in members:
        assert v.is_valid(value), value
    for value in non_members:
        assert not v.is_valid(value), value


@needs_type_statement
def test_each_occurrence_of_a_recursive_alias_is_built_anew(aliases):
    v = Validator(aliases["Pair"])
    assert repr(v) == "tuple[recursive(lambda X: list[X]), recursive(lambda X: list[X])]"
    assert v.is_valid(([[]], [])) and not v.is_valid(([1], []))


@needs_type_statement
@pytest.mark.parametrize("name", ["Bad", "Loop", "Ping", "Pong", "HoldsBad"])
def test_non_contractive_aliases_are_refused(aliases, name):
    with pytest.raises(ValueError) as info:
        Validator(aliases[name])
    assert str(info.value) == NOT_CONTRACTIVE


@needs_type_statement
def test_a_forward_reference_inside_an_alias_is_refused(aliases):
    with pytest.raises(NotImplementedError) as info:
        Validator(aliases["Forward"])
    assert str(info.value) == forward_reference_message("'Forward'")


@needs_type_statement
def test_failed_builds_leave_no_alias_behind(aliases):
    # After each failure the same thread builds every alias afresh: an entry
    # left on the stack would turn the next build into a placeholder.
    for name in ["Bad", "Forward", "HoldsBad"]:
        with pytest.raises((ValueError, NotImplementedError)):
            Validator(aliases[name])
        assert repr(Validator(aliases["Tree"])) == "recursive(lambda X: list[X])"
        assert repr(Validator(aliases["Ints"])) == "list[int]"


@needs_type_statement
def test_an_undefined_name_raises_its_own_exception_until_it_is_defined():
    namespace = {}
    exec("type Later = list[Undefined] | None", namespace)
    with pytest.raises(NameError) as info:
        Validator(namespace["Later"])
    assert type(info.value) is NameError
    assert info.value.name == "Undefined"
    namespace["Undefined"] = int
    v = Validator(namespace["Later"])
    assert repr(v) == "None | list[int]"


@needs_type_statement
def test_an_alias_used_inside_recursive(aliases):
    v = recursive(lambda x: None | tuple[x, aliases["Tree"]])
    assert repr(v) == "recursive(lambda X: None | tuple[X, recursive(lambda Y: list[Y])])"
    assert v.is_valid(((None, [[]]), []))
    assert not v.is_valid((None, [1]))


@needs_type_statement
def test_a_nested_compilation_does_not_see_the_outer_alias():
    # Reading `Outer.__value__` runs `inner()`, which compiles `Outer` again
    # on the same thread while the outer build is in progress.  The nested
    # compilation must build the alias on its own (here the value read the
    # second time is list[int]); had it seen the outer build's entry it would
    # have made a placeholder it can never resolve.
    namespace = {"nested": [], "Validator": Validator}
    exec(
        """
def inner():
    if not nested:
        nested.append(None)
        nested[0] = Validator(Outer)
    return int

type Outer = list[inner()]
""",
        namespace,
    )
    outer = Validator(namespace["Outer"])
    assert repr(outer) == "list[int]"
    assert repr(namespace["nested"][0]) == "list[int]"


@needs_type_statement
def test_a_recursive_alias_evaluated_lazily_inside_its_own_nested_compilation():
    # The value's evaluation compiles the alias itself: the nested
    # compilation builds it afresh (it cannot see the outer build), which
    # evaluates the value again, and so on, until a nesting limit stops it.
    # It must fail cleanly and not with an unresolved placeholder.
    namespace = {"Validator": Validator}
    exec("type Self = list[Self] | Validator(int)", namespace)
    with pytest.raises((RecursionError, NotImplementedError)):
        Validator(namespace["Self"])
    namespace["Validator"] = lambda spec: int
    assert repr(Validator(namespace["Self"])).startswith("recursive(lambda X: ")


@needs_type_statement
def test_threads_build_the_same_alias_at_once(aliases):
    barrier = threading.Barrier(4)
    results = [None] * 4

    def work(i):
        barrier.wait()
        for _ in range(50):
            results[i] = repr(Validator(aliases["Json"]))

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == ["recursive(lambda X: None | int | str | list[X] | dict[str, X])"] * 4
