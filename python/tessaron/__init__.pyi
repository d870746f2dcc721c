"""Type stubs for tessaron: schema algebra and validation for Python values."""

from typing import Any, Callable, Final, Literal, NoReturn, TypedDict, TypeVar, final, type_check_only

from typing_extensions import deprecated

_T = TypeVar("_T")

__version__: Final[str]
__all__ = [
    "__version__",
    "_debug_build",
    "ValidationError",
    "Validator",
    "union",
    "intersection",
    "complement",
    "recursive",
    "anything",
    "nothing",
    "MAX_SCHEMA_DEPTH",
    "MAX_DEFINITIONS",
    "MAX_SCHEMA_NODES",
    "Regex",
]
_debug_build: Final[bool]

MAX_SCHEMA_DEPTH: Final[int]
MAX_DEFINITIONS: Final[int]
MAX_SCHEMA_NODES: Final[int]

@type_check_only
class _ErrorItem(TypedDict):
    """One failure in ValidationError.errors; every value is JSON-serialisable."""

    code: str
    path: tuple[str | int, ...]
    message: str
    expected: str
    value: str

class ValidationError(Exception):
    """A value outside the schema's set (or, from validate_json and load, a
    malformed JSON document with code "json_invalid").

    The attributes describe the first failure, `errors` every one; they are
    built on first access.
    """

    @property
    def errors(self) -> tuple[_ErrorItem, ...]:
        """Every failure: a tuple of dicts with the keys code, path, message, expected
        and value, each JSON-serialisable."""
    @property
    def code(self) -> str:
        """The code of the first failure, such as 'int_type'."""
    @property
    def path(self) -> tuple[str | int, ...]:
        """Where the first failure is: a tuple of field names, dict keys and positions,
        outermost first."""
    @property
    def message(self) -> str:
        """The first failure as one line: 'at PATH: expected WHAT, got VALUE [CODE]'."""
    @property
    def expected(self) -> str:
        """What the schema expects where the first failure is."""
    @property
    def value(self) -> str:
        """A short text of the first failing value (its repr, abbreviated), never the
        value itself."""

@final
class Validator:
    """A compiled, immutable schema validator."""

    def __new__(cls, schema: object, /) -> Validator: ...
    # Membership.
    def validate(self, obj: object, /, *, fail_fast: bool = False) -> None: ...
    def is_valid(self, obj: object, /) -> bool: ...
    def ensure(self, obj: _T, /) -> _T: ...
    def __contains__(self, obj: object, /) -> bool: ...
    def validate_json(self, data: str | bytes, /, *, fail_fast: bool = False) -> None: ...
    def load(self, data: str | bytes, /, *, fail_fast: bool = False) -> Any: ...
    def is_valid_json(self, data: object, /) -> bool: ...
    # Set questions.
    def is_empty(self) -> bool: ...
    def is_subtype_of(self, other: object, /) -> bool: ...
    def relation_to(self, other: object, /) -> Literal["subset", "not_subset", "undecided"]: ...
    def is_equivalent(self, other: object, /) -> bool: ...
    # Rewrites.
    def open(self) -> Validator: ...
    def close(self) -> Validator: ...
    @deprecated(
        "Validator.simplify is deprecated and is removed in the next minor version: a schema is built in the "
        "lattice normal form, so `repr` already shows it, and `is_empty`/`is_subtype_of`/`is_equivalent` decide "
        "what this folds and more."
    )
    def simplify(self) -> Validator: ...
    # Value semantics.
    def __copy__(self) -> Validator: ...
    def __deepcopy__(self, _memo: object) -> Validator: ...
    def __reduce__(self) -> NoReturn: ...
    def __or__(self, other: object, /) -> Validator: ...
    def __ror__(self, other: object, /) -> Validator: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...

@final
class Regex:
    """A pattern marker for Annotated: a str is a member when the whole of it
    matches `pattern`.  Flags are written inline, as in '(?i)[a-z]+'.  This is
    the name a validator's repr uses for a pattern constraint."""

    def __new__(cls, pattern: str) -> Regex: ...
    @property
    def pattern(self) -> str: ...
    def __reduce__(self) -> tuple[type[Regex], tuple[str]]: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...

anything: Final[Validator]
nothing: Final[Validator]

def union(*schemas: object) -> Validator: ...
def intersection(*schemas: object) -> Validator: ...
def complement(schema: object, /) -> Validator: ...
def recursive(builder: Callable[[Validator], object], /) -> Validator: ...
