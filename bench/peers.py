"""How each library is called, per family and mode.

Every function here returns a list of `Slot`s, one per table column: an
`Entry` (a statement to time, its names, and a verdict function for the
corpus check) or the reason there is none (`Unavailable`: our method or form
is not built yet; `NotApplicable`: the library has no such mode).

Modes of the Python-object families: "valid" (the input is a member),
"first" (stop at the first failure), "all" (collect every failure and read
them).  JSON families: "valid" and "first".  The statements use the
fastest documented call of each library: a prebuilt adapter, decoder or
compiled function, looked up once, called with the input `x`.

msgspec appears twice where a family's schema can be written as
`msgspec.Struct` classes (structs.py): converting into its TypedDict
spelling, and into Structs, the path its users reach for.

Peers run in strict mode wherever they have one: msgspec `strict=True`,
pydantic `strict=True` (on the adapter, or on the TypedDict), typeguard with
every collection item checked.  beartype samples one item per container, so
its number is not a full check; it is labelled so in every table.
"""

from dataclasses import dataclass
from typing import Any, Callable

OURS = "tessaron"


class Unavailable(Exception):
    """Our side cannot run this yet (a method or a schema form not built)."""


class NotApplicable(Exception):
    """The library has no call for this mode."""


@dataclass
class Entry:
    stmt: str  # the timed statement; the input is `x`
    ns: dict  # the names the statement uses
    verdict: Callable[[Any], bool] | None = None  # member? (None: not checked)
    column: str = ""  # the table column, unique within a table (set by _slot)
    lib: str = ""  # the library (its colour in the plot)
    role: str = ""  # "ours" (the ratio's subject), "ours-extra", "peer", "reference"
    call: str = ""  # the call as a user writes it, for the legend
    note: str = ""


@dataclass
class Slot:
    column: str
    lib: str
    role: str
    entry: Entry | None = None
    reason: str = ""  # why there is no entry
    status: str = "ok"  # "ok", "not available", "n/a", "error"
    call: str = ""
    note: str = ""


def raises_verdict(fn, exc):
    def verdict(x):
        try:
            fn(x)
        except exc:
            return False
        return True

    return verdict


def _slot(column, lib, role, build, call="", note=""):
    try:
        entry = build()
    except Unavailable as e:
        return Slot(column, lib, role, reason=str(e), status="not available", call=call, note=note)
    except NotApplicable as e:
        return Slot(column, lib, role, reason=str(e), status="n/a", call=call, note=note)
    except Exception as e:  # a library refusing the hint: reported, not fatal
        return Slot(column, lib, role, reason=f"{type(e).__name__}: {e}", status="error", call=call, note=note)
    entry.column, entry.lib, entry.role = column, lib, role
    entry.call = entry.call or call
    entry.note = entry.note or note
    return Slot(column, lib, role, entry=entry, call=entry.call, note=entry.note)


def _try_first(body):
    return f"try:\n    {body}\nexcept E:\n    pass"


# --- ours ------------------------------------------------------------------


def our_validator(fam):
    import tessaron

    try:
        spec = fam.ours()
        return spec if isinstance(spec, tessaron.Validator) else tessaron.Validator(spec)
    except NotImplementedError as e:
        raise Unavailable(f"the schema does not compile yet: {e}") from None


def _need(v, *methods):
    for m in methods:
        if not hasattr(v, m):
            raise Unavailable(f"Validator.{m} is not built yet")


def _ours_objects(fam, mode):
    import tessaron

    E = tessaron.ValidationError

    def main():
        v = our_validator(fam)
        ns = {"v": v, "E": E}
        if mode == "valid":
            return Entry("v.validate(x)", ns, raises_verdict(v.validate, E))
        if mode == "first":
            return Entry(_try_first("v.validate(x, fail_fast=True)"), ns,
                         raises_verdict(lambda x: v.validate(x, fail_fast=True), E))
        return Entry("try:\n    v.validate(x)\nexcept E as e:\n    e.errors", ns,
                     raises_verdict(v.validate, E))

    def is_valid():
        v = our_validator(fam)
        return Entry("v.is_valid(x)", {"v": v}, v.is_valid)

    main_call = {
        "valid": "v.validate(x)",
        "first": "v.validate(x, fail_fast=True)",
        "all": "v.validate(x), then read .errors",
    }[mode]
    slots = [_slot("tessaron", OURS, "ours", main, main_call)]
    if mode != "all":
        slots.append(_slot("tessaron is_valid", OURS, "ours-extra", is_valid, "v.is_valid(x)"))
    return slots


def _ours_json(fam, mode):
    import tessaron

    E = tessaron.ValidationError

    def method(name, stmt, kwargs=None):
        def build():
            v = our_validator(fam)
            _need(v, name)
            fn = getattr(v, name)
            if name == "is_valid_json":
                verdict = fn
            else:
                verdict = raises_verdict(lambda x: fn(x, **(kwargs or {})), E)
            return Entry(stmt, {"v": v, "E": E}, verdict)

        return build

    def composite():
        import orjson

        v = our_validator(fam)

        def verdict(x):
            try:
                return v.is_valid(orjson.loads(x))
            except orjson.JSONDecodeError:
                return False

        return Entry("v.is_valid(loads(x))", {"v": v, "loads": orjson.loads}, verdict)

    if mode == "valid":
        return [
            _slot("tessaron is_valid_json", OURS, "ours", method("is_valid_json", "v.is_valid_json(x)"),
                  "v.is_valid_json(x)"),
            _slot("tessaron validate_json", OURS, "ours-extra", method("validate_json", "v.validate_json(x)"),
                  "v.validate_json(x)"),
            _slot("tessaron load", OURS, "ours-extra", method("load", "v.load(x)"), "v.load(x)"),
            _slot("orjson + tessaron", "orjson", "ours-extra", composite, "v.is_valid(orjson.loads(x))"),
        ]
    return [
        _slot("tessaron validate_json", OURS, "ours",
              method("validate_json", _try_first("v.validate_json(x, fail_fast=True)"), {"fail_fast": True}),
              "v.validate_json(x, fail_fast=True)"),
        _slot("tessaron is_valid_json", OURS, "ours-extra", method("is_valid_json", "v.is_valid_json(x)"),
              "v.is_valid_json(x)"),
    ]


# --- peers on Python objects -----------------------------------------------


def pydantic_adapter(hint):
    from pydantic import ConfigDict, PydanticUserError, TypeAdapter

    try:
        return TypeAdapter(hint, config=ConfigDict(strict=True))
    except PydanticUserError:  # a TypedDict: strict through its own config
        return TypeAdapter(hint)


def _msgspec(fam, mode):
    def build():
        import msgspec

        if mode == "all":
            raise NotApplicable("stops at the first failure")
        T = fam.hint_for("msgspec")
        E = msgspec.ValidationError
        ns = {"convert": msgspec.convert, "T": T, "E": E}
        call = "convert(x, T, strict=True)"
        return Entry(call if mode == "valid" else _try_first(call), ns,
                     raises_verdict(lambda x: msgspec.convert(x, T, strict=True), E))

    return [_slot("msgspec", "msgspec", "peer", build, "msgspec.convert(x, T, strict=True)")]


def _pydantic(fam, mode):
    def build():
        from pydantic import ValidationError as E

        f = pydantic_adapter(fam.hint_for("pydantic")).validate_python
        ns = {"f": f, "E": E}
        stmt = {"valid": "f(x)", "first": _try_first("f(x)"),
                "all": "try:\n    f(x)\nexcept E as e:\n    e.errors()"}[mode]
        return Entry(stmt, ns, raises_verdict(f, E))

    note = "collects every failure: no stop-at-first mode" if mode == "first" else ""
    call = "TypeAdapter(T, strict).validate_python(x)" + (", then .errors()" if mode == "all" else "")
    return [_slot("pydantic", "pydantic", "peer", build, call, note)]


def _fastjsonschema(fam, mode):
    def build():
        import fastjsonschema
        from cases import draft4

        if mode == "all":
            raise NotApplicable("stops at the first failure")
        if fam.schema is None:
            raise NotApplicable("no JSON Schema for this family")
        f = fastjsonschema.compile(draft4(fam.schema))
        E = fastjsonschema.JsonSchemaValueException
        return Entry("f(x)" if mode == "valid" else _try_first("f(x)"), {"f": f, "E": E},
                     raises_verdict(f, E))

    return [_slot("fastjsonschema", "fastjsonschema", "peer", build, "fastjsonschema.compile(schema)(x)")]


def _jsonschema(fam, mode):
    def build():
        import jsonschema

        if fam.schema is None:
            raise NotApplicable("no JSON Schema for this family")
        validator = jsonschema.Draft4Validator(fam.schema)
        if mode == "all":
            return Entry("list(it(x))", {"it": validator.iter_errors}, validator.is_valid)
        return Entry("f(x)", {"f": validator.is_valid}, validator.is_valid)

    call = "list(Draft4Validator(schema).iter_errors(x))" if mode == "all" else "Draft4Validator(schema).is_valid(x)"
    return [_slot("jsonschema", "jsonschema", "peer", build, call)]


def _typeguard(fam, mode):
    def build():
        from typeguard import CollectionCheckStrategy, TypeCheckError, check_type

        if mode == "all":
            raise NotApplicable("stops at the first failure")
        T = fam.hint_for("typeguard")
        ALL = CollectionCheckStrategy.ALL_ITEMS
        call = "check(x, T, collection_check_strategy=ALL)"
        ns = {"check": check_type, "T": T, "ALL": ALL, "E": TypeCheckError}
        return Entry(call if mode == "valid" else _try_first(call), ns,
                     raises_verdict(lambda x: check_type(x, T, collection_check_strategy=ALL), TypeCheckError))

    return [_slot("typeguard", "typeguard", "peer", build, "check_type(x, T, collection_check_strategy=ALL_ITEMS)")]


BEARTYPE_NOTE = "samples one item per container: not a full check"


def _beartype(fam, mode):
    def build():
        from beartype.door import is_bearable

        if mode == "all":
            raise NotApplicable("answers a verdict only")
        T = fam.hint_for("beartype")
        return Entry("f(x, T)", {"f": is_bearable, "T": T}, lambda x: is_bearable(x, T))

    return [_slot("beartype*", "beartype", "peer", build, "is_bearable(x, T)", BEARTYPE_NOTE)]


def _msgspec_struct(fam, mode):
    if fam.struct is None:  # no column where the schema is no Struct
        return []

    def build():
        import msgspec

        if mode == "all":
            raise NotApplicable("stops at the first failure")
        T = fam.struct()
        E = msgspec.ValidationError
        ns = {"convert": msgspec.convert, "T": T, "E": E}
        call = "convert(x, T, strict=True)"
        return Entry(call if mode == "valid" else _try_first(call), ns,
                     raises_verdict(lambda x: msgspec.convert(x, T, strict=True), E))

    return [_slot("msgspec Struct", "msgspec", "peer", build, "msgspec.convert(x, T, strict=True), T a msgspec.Struct",
                  "builds the Struct instances (its fastest path)")]


def objects_slots(fam, mode):
    slots = _ours_objects(fam, mode)
    for peer in (_msgspec, _msgspec_struct, _pydantic, _fastjsonschema, _jsonschema, _typeguard, _beartype):
        slots += peer(fam, mode)
    if fam.key == "int" and mode == "valid":
        slots.append(_slot("isinstance", "python", "reference",
                           lambda: Entry("isinstance(x, int)", {}, None), "isinstance(x, int)",
                           "the floor: one type test, no validator"))
    return slots


# --- peers on JSON text ----------------------------------------------------


def json_slots(fam, mode):
    slots = _ours_json(fam, mode)

    def msgspec_build():
        import msgspec

        dec = msgspec.json.Decoder(fam.hint_for("msgspec")).decode
        E = msgspec.DecodeError  # its ValidationError is a DecodeError
        return Entry("dec(x)" if mode == "valid" else _try_first("dec(x)"), {"dec": dec, "E": E},
                     raises_verdict(dec, E))

    def pydantic_build():
        from pydantic import ValidationError as E

        f = pydantic_adapter(fam.hint_for("pydantic")).validate_json
        return Entry("f(x)" if mode == "valid" else _try_first("f(x)"), {"f": f, "E": E},
                     raises_verdict(f, E))

    slots.append(_slot("msgspec", "msgspec", "peer", msgspec_build,
                       "msgspec.json.decode(x, type=T) (a prebuilt Decoder(T))"))
    slots.append(_slot("pydantic", "pydantic", "peer", pydantic_build, "TypeAdapter(T, strict).validate_json(x)",
                       "collects every failure: no stop-at-first mode" if mode == "first" else ""))
    if mode == "valid":
        def orjson_build():
            import orjson

            return Entry("loads(x)", {"loads": orjson.loads}, None)

        def json_build():
            import json

            return Entry("loads(x)", {"loads": json.loads}, None)

        slots.append(_slot("orjson.loads", "orjson", "reference", orjson_build, "orjson.loads(x)",
                           "the bare parse, no validation"))
        slots.append(_slot("json.loads", "python", "reference", json_build, "json.loads(x)",
                           "the bare parse, no validation"))
    return slots


# --- compiling a schema ----------------------------------------------------


def compile_slots(fam):
    import tessaron

    def ours_build(first_call):
        def build():
            our_validator(fam)  # raises Unavailable when the form is not built yet
            spec = fam.ours
            sample = next(v for _, v, ok in fam.corpus if ok)
            if first_call:
                stmt = "V(spec()).is_valid(sample)"
            else:
                stmt = "V(spec())"
            return Entry(stmt, {"V": _as_validator(tessaron), "spec": spec, "sample": sample})

        return build

    def pydantic_build():
        hint = fam.hint_for("pydantic")
        pydantic_adapter(hint)
        return Entry("adapter(hint)", {"adapter": pydantic_adapter, "hint": hint})

    def fastjsonschema_build():
        import fastjsonschema
        from cases import draft4

        schema = draft4(fam.schema)
        return Entry("compile(schema)", {"compile": fastjsonschema.compile, "schema": schema})

    def jsonschema_build():
        import jsonschema

        return Entry("D4(schema)", {"D4": jsonschema.Draft4Validator, "schema": fam.schema})

    def none(reason):
        def build():
            raise NotApplicable(reason)

        return build

    return [
        _slot("tessaron", OURS, "ours", ours_build(True), "Validator(T), then one is_valid call",
              "ready to run: includes the lookup tables the first call fills"),
        _slot("tessaron build only", OURS, "ours-extra", ours_build(False), "Validator(T)"),
        _slot("msgspec", "msgspec", "peer", none("compiles on first use and caches per type"), ""),
        _slot("pydantic", "pydantic", "peer", pydantic_build, "TypeAdapter(T, strict)"),
        _slot("fastjsonschema", "fastjsonschema", "peer", fastjsonschema_build, "fastjsonschema.compile(schema)"),
        _slot("jsonschema", "jsonschema", "reference", jsonschema_build, "Draft4Validator(schema)",
              "builds lazily: the constructor compiles nothing"),
        _slot("typeguard", "typeguard", "peer", none("reads the hint on every call"), ""),
        _slot("beartype*", "beartype", "peer", none("reads the hint on every call"), ""),
    ]


# --- compiling a union of many literals -----------------------------------


def literal_compile_slots(fam):
    """Compiling `Literal[v1, ..., vk]`, timed per call on a fresh hint.

    msgspec builds its type information on each `convert` of a hint that is
    not a class, and every library may cache by the hint object: each call
    gets a new but equal Literal object (a shallow copy, 0.4 µs), and
    checks one member with it."""
    import typing

    import tessaron

    hint = typing.get_args(fam.hint)[0]
    sample = typing.get_args(hint)[0]

    def fresh(hint=hint):
        alias = object.__new__(type(hint))
        alias.__dict__.update(hint.__dict__)
        return alias

    def ours_build():
        return Entry("V(fresh()).is_valid(sample)", {"V": tessaron.Validator, "fresh": fresh, "sample": sample})

    def msgspec_build():
        import msgspec

        return Entry("convert(sample, fresh(), strict=True)",
                     {"convert": msgspec.convert, "fresh": fresh, "sample": sample})

    def pydantic_build():
        pydantic_adapter(hint)
        return Entry("adapter(fresh()).validate_python(sample)",
                     {"adapter": pydantic_adapter, "fresh": fresh, "sample": sample})

    return [
        _slot("tessaron", OURS, "ours", ours_build, "Validator(L).is_valid(v)"),
        _slot("msgspec", "msgspec", "peer", msgspec_build, "msgspec.convert(v, L, strict=True)",
              "builds its type information on every call of a Literal"),
        _slot("pydantic", "pydantic", "peer", pydantic_build, "TypeAdapter(L, strict).validate_python(v)"),
    ]


def _as_validator(tessaron):
    def build(spec):
        return spec if isinstance(spec, tessaron.Validator) else tessaron.Validator(spec)

    return build


# --- imports ----------------------------------------------------------------

IMPORTS = [
    ("tessaron", OURS, "import tessaron"),
    ("msgspec", "msgspec", "import msgspec"),
    ("pydantic", "pydantic", "from pydantic import TypeAdapter, ConfigDict"),
    ("fastjsonschema", "fastjsonschema", "import fastjsonschema"),
    ("jsonschema", "jsonschema", "from jsonschema import Draft4Validator"),
    ("typeguard", "typeguard", "from typeguard import check_type"),
    ("beartype*", "beartype", "from beartype.door import is_bearable"),
    ("orjson", "orjson", "import orjson"),
]
