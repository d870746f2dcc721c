"""The schema families the benchmarks measure, in every library's spelling.

A family is one set of values written once per library: the typing hint
(msgspec, pydantic and typeguard read it; pydantic in strict mode), our spec,
the equivalent JSON Schema (draft 4, whose "integer" excludes 1.0 as ours
does), and where a library needs its own spelling (a pattern, beartype's
validators) that spelling.  Each family also carries:

- a generator of the timed input, seeded, scaled by the run's size;
- the verdict corpus: values labelled member or not, on which a library must
  give our verdict before it is timed.  The corpus holds values whose
  membership the typing reading and the strict readings agree on (wrong
  kinds, 1.0 for an int, a missing key, a bad item deep inside, an item that
  only a full check of every element finds);
- the edge probes: values where the libraries read the same hint differently
  (bool for int, int for float, a tuple for a list, an extra key, ...).  They
  are reported, never held against a library: they change what a set
  contains, not how much work a check does.

Nothing here imports a peer: the library-specific spellings are built on
demand, so the import and memory probes load only the library they measure.
"""

import json
import random
import re
import string
from dataclasses import dataclass, field
from typing import Annotated, Any, Callable, Literal, Optional

from typing_extensions import NotRequired, TypedDict

# --- the hints -------------------------------------------------------------

Status = Literal["active", "pending", "closed"]


class Record(TypedDict):
    id: int
    name: str
    email: str
    age: int
    score: float
    active: bool
    tags: list[str]
    parent: Optional[int]
    status: Status
    created: str


class Tree(TypedDict):
    value: int
    children: list["Tree"]


# The forward reference resolved in place: typeguard does not resolve a string
# naming a class of another module, and every other reader accepts either.
Tree.__annotations__["children"] = list[Tree]


# pydantic reads its configuration from the TypedDict itself (a TypeAdapter
# of a TypedDict refuses a config); the other libraries ignore the attribute.
for _td in (Record, Tree):
    _td.__pydantic_config__ = {"strict": True}

# --- the nested order payload ------------------------------------------------
# An order as a shop's API hands it over: a customer, a billing and a shipping
# address, one to eight line items, `Literal` enums, optional (None) values
# and keys that may be absent (`NotRequired`).

OrderStatus = Literal["pending", "paid", "packed", "shipped", "delivered", "cancelled", "refunded"]
Country = Literal["US", "CA", "MX", "GB", "IE", "FR", "DE", "NL", "ES", "IT", "SE", "PL", "JP", "AU", "NZ", "BR"]
Currency = Literal["USD", "EUR", "GBP", "JPY", "CAD", "AUD"]


class Address(TypedDict):
    street: str
    city: str
    postcode: str
    country: Country
    line2: NotRequired[Optional[str]]


class Customer(TypedDict):
    id: int
    name: str
    email: str
    phone: Optional[str]
    vip: bool
    since: str


class LineItem(TypedDict):
    sku: str
    name: str
    quantity: int
    unit_price: float
    tags: list[str]
    discount: NotRequired[float]
    gift: NotRequired[bool]


class Order(TypedDict):
    id: int
    status: OrderStatus
    currency: Currency
    customer: Customer
    billing: Address
    shipping: Address
    items: list[LineItem]
    total: float
    created: str
    coupon: Optional[str]
    note: NotRequired[Optional[str]]
    channel: NotRequired[Literal["web", "app", "phone"]]


for _td in (Address, Customer, LineItem, Order):
    _td.__pydantic_config__ = {"strict": True}


def _enum(hint):
    return {"enum": list(hint.__args__)}


ADDRESS_SCHEMA = {
    "type": "object",
    "properties": {
        "street": {"type": "string"},
        "city": {"type": "string"},
        "postcode": {"type": "string"},
        "country": _enum(Country),
        "line2": {"type": ["string", "null"]},
    },
    "required": ["street", "city", "postcode", "country"],
}

ORDER_SCHEMA = {
    "type": "object",
    "properties": {
        "id": {"type": "integer"},
        "status": _enum(OrderStatus),
        "currency": _enum(Currency),
        "customer": {
            "type": "object",
            "properties": {
                "id": {"type": "integer"},
                "name": {"type": "string"},
                "email": {"type": "string"},
                "phone": {"type": ["string", "null"]},
                "vip": {"type": "boolean"},
                "since": {"type": "string"},
            },
            "required": ["id", "name", "email", "phone", "vip", "since"],
        },
        "billing": ADDRESS_SCHEMA,
        "shipping": ADDRESS_SCHEMA,
        "items": {
            "type": "array",
            "items": {
                "type": "object",
                "properties": {
                    "sku": {"type": "string"},
                    "name": {"type": "string"},
                    "quantity": {"type": "integer"},
                    "unit_price": {"type": "number"},
                    "tags": {"type": "array", "items": {"type": "string"}},
                    "discount": {"type": "number"},
                    "gift": {"type": "boolean"},
                },
                "required": ["sku", "name", "quantity", "unit_price", "tags"],
            },
        },
        "total": {"type": "number"},
        "created": {"type": "string"},
        "coupon": {"type": ["string", "null"]},
        "note": {"type": ["string", "null"]},
        "channel": {"enum": ["web", "app", "phone"]},
    },
    "required": ["id", "status", "currency", "customer", "billing", "shipping", "items", "total", "created", "coupon"],
}


def _struct(name, of_list=False):
    """The Struct spelling `name` of structs.py (imports msgspec)."""

    def make():
        import structs

        t = getattr(structs, name)
        return list[t] if of_list else t

    return make


Colour = Literal["red", "green", "blue", "cyan", "magenta", "yellow", "black", "white", 0, 1, 2, 3]
COLOURS = ["red", "green", "blue", "cyan", "magenta", "yellow", "black", "white", 0, 1, 2, 3]

EMAIL = r"[a-z0-9._%+-]+@[a-z0-9-]+(?:\.[a-z0-9-]+)*\.[a-z]{2,}"
EMAIL_PY = rf"\A(?:{EMAIL})\Z"  # re.search readers: msgspec, jsonschema, fastjsonschema
EMAIL_RUST = rf"^(?:{EMAIL})$"  # pydantic-core's Rust regex: $ is the end of the text
_EMAIL_RE = re.compile(EMAIL_PY)


@dataclass(frozen=True)
class Pattern:
    """The marker our builder reads: any object with a `pattern` attribute."""

    pattern: str


RECORD_SCHEMA = {
    "type": "object",
    "properties": {
        "id": {"type": "integer"},
        "name": {"type": "string"},
        "email": {"type": "string"},
        "age": {"type": "integer"},
        "score": {"type": "number"},
        "active": {"type": "boolean"},
        "tags": {"type": "array", "items": {"type": "string"}},
        "parent": {"type": ["integer", "null"]},
        "status": {"enum": ["active", "pending", "closed"]},
        "created": {"type": "string"},
    },
    "required": ["id", "name", "email", "age", "score", "active", "tags", "parent", "status", "created"],
}

TREE_SCHEMA = {
    "definitions": {
        "tree": {
            "type": "object",
            "properties": {
                "value": {"type": "integer"},
                "children": {"type": "array", "items": {"$ref": "#/definitions/tree"}},
            },
            "required": ["value", "children"],
        }
    },
    "$ref": "#/definitions/tree",
}


def draft4(schema):
    return {"$schema": "http://json-schema.org/draft-04/schema#", **schema}


# --- our spellings ---------------------------------------------------------


def _ours_tree():
    import tessaron

    # Open like a TypedDict: keys other than the declared ones are allowed.
    return tessaron.recursive(lambda t: {"value": int, "children": list[t], str: tessaron.anything})


# --- beartype and the pattern spellings (imported on demand) ---------------


def _email_hint(lib):
    if lib == "msgspec":
        import msgspec

        return Annotated[str, msgspec.Meta(pattern=EMAIL_PY)]
    if lib == "pydantic":
        from pydantic import StringConstraints

        return Annotated[str, StringConstraints(pattern=EMAIL_RUST)]
    if lib == "beartype":
        from beartype.vale import Is

        return Annotated[str, Is[lambda s: _EMAIL_RE.search(s) is not None]]
    # ours; typeguard reads the same hint and ignores the marker
    return Annotated[str, Pattern(EMAIL)]


# --- inputs ----------------------------------------------------------------

_WORDS = ["alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf", "hotel", "india", "juliet"]


def make_email(rng):
    local = "".join(rng.choice(string.ascii_lowercase + string.digits + "._") for _ in range(rng.randint(3, 12)))
    domain = rng.choice(_WORDS) + rng.choice(["", "-mail", "-" + rng.choice(_WORDS)])
    return f"{local}@{domain}.{rng.choice(['com', 'org', 'net', 'co.uk', 'io'])}"


def make_record(rng, i):
    return {
        "id": i,
        "name": f"{rng.choice(_WORDS).title()} {rng.choice(_WORDS).title()}",
        "email": make_email(rng),
        "age": rng.randint(18, 90),
        "score": round(rng.uniform(0, 100), 3),
        "active": rng.random() < 0.5,
        "tags": rng.sample(_WORDS, rng.randint(0, 4)),
        "parent": None if rng.random() < 0.3 else rng.randint(0, 10**6),
        "status": rng.choice(["active", "pending", "closed"]),
        "created": f"2024-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d}T12:00:00Z",
    }


def make_records(n, seed=2):
    rng = random.Random(seed)
    return [make_record(rng, i) for i in range(n)]


def make_bad_records(n, seed=3):
    """n records where every hundredth one (from index 99) has one fault."""
    rng = random.Random(seed)
    rows = [make_record(rng, i) for i in range(n)]
    faults = [
        lambda r: r.__setitem__("age", str(r["age"])),
        lambda r: r.__delitem__("email"),
        lambda r: r["tags"].append(7),
        lambda r: r.__setitem__("status", "archived"),
        lambda r: r.__setitem__("score", None),
    ]
    for k, i in enumerate(range(99, n, 100)):
        faults[k % len(faults)](rows[i])
    return rows


def make_tree(n, seed=4, fanout=4):
    """A tree of n nodes, breadth first, each node with 1 to `fanout` children."""
    rng = random.Random(seed)
    root = {"value": 0, "children": []}
    frontier, made = [root], 1
    while made < n:
        nxt = []
        for node in frontier:
            for _ in range(rng.randint(1, fanout)):
                if made == n:
                    break
                child = {"value": made, "children": []}
                node["children"].append(child)
                nxt.append(child)
                made += 1
        frontier = nxt
    return root


def tree_with(depth, leaf):
    node = leaf
    for i in range(depth):
        node = {"value": i, "children": [{"value": -1, "children": []}, node]}
    return node


# --- the order payload's values ------------------------------------------------

_STREETS = ["Main St", "High Street", "Rue de la Paix", "Hauptstrasse", "Calle Mayor", "Via Roma", "Elm Avenue"]
_CITIES = ["Springfield", "London", "Paris", "Berlin", "Madrid", "Rome", "Osaka", "Toronto", "Sydney"]


def _pick(rng, hint):
    return rng.choice(hint.__args__)


def make_address(rng):
    a = {
        "street": f"{rng.randint(1, 999)} {rng.choice(_STREETS)}",
        "city": rng.choice(_CITIES),
        "postcode": f"{rng.randint(10000, 99999)}",
        "country": _pick(rng, Country),
    }
    if rng.random() < 0.4:
        a["line2"] = None if rng.random() < 0.5 else f"Apt {rng.randint(1, 99)}"
    return a


def make_line_item(rng):
    item = {
        "sku": f"SKU-{rng.randint(0, 99999):05d}",
        "name": f"{rng.choice(_WORDS).title()} {rng.choice(['mug', 'lamp', 'chair', 'book', 'shirt', 'kettle'])}",
        "quantity": rng.randint(1, 12),
        "unit_price": round(rng.uniform(1, 500), 2),
        "tags": rng.sample(_WORDS, rng.randint(0, 3)),
    }
    if rng.random() < 0.3:
        item["discount"] = round(rng.uniform(0, 0.5), 2)
    if rng.random() < 0.1:
        item["gift"] = True
    return item


def make_order(rng, i):
    billing = make_address(rng)
    order = {
        "id": 100000 + i,
        "status": _pick(rng, OrderStatus),
        "currency": _pick(rng, Currency),
        "customer": {
            "id": rng.randint(1, 10**6),
            "name": f"{rng.choice(_WORDS).title()} {rng.choice(_WORDS).title()}",
            "email": make_email(rng),
            "phone": None if rng.random() < 0.3 else f"+1-555-{rng.randint(0, 9999):04d}",
            "vip": rng.random() < 0.1,
            "since": f"20{rng.randint(10, 24)}-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d}",
        },
        "billing": billing,
        "shipping": billing if rng.random() < 0.5 else make_address(rng),
        "items": [make_line_item(rng) for _ in range(rng.randint(1, 8))],
        "total": round(rng.uniform(5, 3000), 2),
        "created": f"2024-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d}T{rng.randint(0, 23):02d}:00:00Z",
        "coupon": None if rng.random() < 0.8 else f"SAVE{rng.randint(5, 50)}",
    }
    if order["shipping"] is billing:
        order["shipping"] = dict(billing)  # an equal copy, as a parser would give
    if rng.random() < 0.3:
        order["note"] = None if rng.random() < 0.3 else "leave at the door"
    if rng.random() < 0.5:
        order["channel"] = rng.choice(["web", "app", "phone"])
    return order


def make_orders(n, seed=8):
    rng = random.Random(seed)
    return [make_order(rng, i) for i in range(n)]


# One fault each, deep inside an order: a wrong scalar type, an enum value
# outside its literal, a missing key, a None where none is allowed, a wrong
# type under a NotRequired key.
ORDER_FAULTS = [
    lambda o: o["items"][-1].__setitem__("quantity", str(o["items"][-1]["quantity"])),
    lambda o: o["shipping"].__setitem__("country", "XX"),
    lambda o: o["customer"].__delitem__("email"),
    lambda o: o.__setitem__("status", "lost"),
    lambda o: o["items"][0].__setitem__("discount", None),
    lambda o: o["billing"].__setitem__("line2", 5),
    lambda o: o.__setitem__("total", "12.50"),
    lambda o: o["items"][0]["tags"].append(3),
]


def make_bad_orders(n, seed=9):
    """n orders where every hundredth one (from index 99) has one fault."""
    rng = random.Random(seed)
    rows = [make_order(rng, i) for i in range(n)]
    for k, i in enumerate(range(99, n, 100)):
        ORDER_FAULTS[k % len(ORDER_FAULTS)](rows[i])
    return rows


def _order_with(fault):
    o = make_order(random.Random(11), 1)
    fault(o)
    return o


# --- literal unions of many members ---------------------------------------------

LITERAL_SIZES = (4, 64, 4096)


def literal_values(k):
    """k distinct short texts, like the codes an enum of that size holds."""
    return tuple(f"{_WORDS[i % len(_WORDS)]}-{i:04d}" for i in range(k))


def literal_hint(k):
    return Literal[literal_values(k)]


def make_literal_items(k, n, seed=12):
    """n members of the union of k literals: equal texts, other objects (as a
    parser would make them), not the constants themselves."""
    rng = random.Random(seed)
    values = literal_values(k)
    return [rng.choice(values).encode().decode() for _ in range(n)]


class IntSub(int):
    pass


class StrSub(str):
    pass


# --- families --------------------------------------------------------------


@dataclass
class Family:
    key: str
    hint: Any  # the typing hint, read by msgspec, pydantic, typeguard, beartype
    ours: Callable[[], Any]  # our spec (or validator), built on demand
    schema: dict | None  # JSON Schema, draft 4
    make: Callable[[], Any]  # the timed input (at the run's size)
    corpus: list  # (description, value, member?)
    edges: list = field(default_factory=list)  # (description, value)
    spellings: dict = field(default_factory=dict)  # lib -> callable giving its hint
    json_corpus_extra: list = field(default_factory=list)  # (description, bytes, member?)
    json_edges: list = field(default_factory=list)  # (description, bytes)
    # The schema as msgspec Structs (structs.py), built on demand; None where
    # it cannot be written as one.
    struct: Callable[[], Any] | None = None

    def hint_for(self, lib):
        make = self.spellings.get(lib)
        return make() if make else self.hint

    def json_corpus(self):
        items = []
        for desc, value, ok in self.corpus:
            try:
                items.append((desc, json.dumps(value).encode(), ok))
            except (TypeError, ValueError):
                pass
        items += MALFORMED + self.json_corpus_extra
        return items


MALFORMED = [
    ("malformed: empty document", b"", False),
    ("malformed: unclosed array", b"[1, 2", False),
    ("malformed: trailing comma", b'{"value": 1,}', False),
    ("malformed: trailing text", b"[] x", False),
    ("malformed: bare word", b"nul", False),
]


def _one_record():
    return make_record(random.Random(7), 1)


def _record_with(**changes):
    r = _one_record()
    for k, v in changes.items():
        if v is _DROP:
            del r[k]
        else:
            r[k] = v
    return r


_DROP = object()


def families(sizes):
    """Every family, keyed by name; `sizes` scales the timed inputs."""
    n_list, n_rec, n_tree, n_items = sizes["list_int"], sizes["records"], sizes["tree"], sizes["items"]
    long_ok = [1] * 9999
    rec = _one_record()
    fams = [
        Family(
            key="int",
            hint=int,
            ours=lambda: int,
            schema={"type": "integer"},
            make=lambda: 123456,
            corpus=[
                ("0", 0, True),
                ("123456", 123456, True),
                ("-7", -7, True),
                ("2**62", 2**62, True),
                ("the str '1'", "1", False),
                ("1.0", 1.0, False),
                ("1.5", 1.5, False),
                ("None", None, False),
                ("an empty list", [], False),
            ],
            edges=[("True (a bool)", True), ("2**70 (past 64 bits)", 2**70), ("an int subclass", IntSub(5))],
            json_edges=[("true", b"true"), ("1e3", b"1e3"), ("2**70", str(2**70).encode())],
        ),
        Family(
            key="int_bad",
            hint=int,
            ours=lambda: int,
            schema={"type": "integer"},
            make=lambda: "12345",
            corpus=[("1", 1, True), ("the str '12345'", "12345", False), ("None", None, False)],
        ),
        Family(
            key="list_int",
            hint=list[int],
            ours=lambda: list[int],
            schema={"type": "array", "items": {"type": "integer"}},
            make=lambda: (lambda rng: [rng.randrange(-(10**9), 10**9) for _ in range(n_list)])(random.Random(1)),
            corpus=[
                ("[]", [], True),
                ("[1, 2, 3]", [1, 2, 3], True),
                ("[0, 2**62]", [0, 2**62], True),
                ("None", None, False),
                ("a str", "123", False),
                ("a dict", {"a": 1}, False),
                ("[1, '2']", [1, "2"], False),
                ("[1, 2, None]", [1, 2, None], False),
                ("[1.0]", [1.0], False),
                ("9,999 ints then 'x'", long_ok + ["x"], False),
            ],
            edges=[("a tuple (1, 2)", (1, 2)), ("[True]", [True]), ("[2**70]", [2**70])],
            json_edges=[("[1, true]", b"[1, true]"), ("[1.0]", b"[1.0]")],
        ),
        Family(
            key="record",
            hint=Record,
            struct=_struct("Record"),
            ours=lambda: Record,
            schema=RECORD_SCHEMA,
            make=lambda: _one_record(),
            corpus=[
                ("a record", rec, True),
                ("parent None, no tags", _record_with(parent=None, tags=[]), True),
                ("email missing", _record_with(email=_DROP), False),
                ("age '30'", _record_with(age="30"), False),
                ("age 30.0", _record_with(age=30.0), False),
                ("active 1", _record_with(active=1), False),
                ("score None", _record_with(score=None), False),
                ("tags ['a', 1]", _record_with(tags=["a", 1]), False),
                ("parent 'x'", _record_with(parent="x"), False),
                ("status 'archived'", _record_with(status="archived"), False),
                ("a list", [rec], False),
                ("None", None, False),
            ],
            edges=[
                ("an extra key", _record_with(extra=1)),
                ("score 7 (an int)", _record_with(score=7)),
                ("age True (a bool)", _record_with(age=True)),
                ("name a str subclass", _record_with(name=StrSub("x"))),
            ],
            json_edges=[
                ("a duplicate key", b'{"id": "x", ' + json.dumps(rec).encode()[1:]),
                ("score 7", json.dumps(_record_with(score=7)).encode()),
            ],
        ),
        Family(
            key="records",
            hint=list[Record],
            struct=_struct("Record", of_list=True),
            ours=lambda: list[Record],
            schema={"type": "array", "items": RECORD_SCHEMA},
            make=lambda: make_records(n_rec),
            corpus=[
                ("[]", [], True),
                ("3 records", make_records(3), True),
                ("a bad age in the second", make_records(1) + [_record_with(age="1")], False),
                ("9,999 records then a bad one", make_records(9999) + [_record_with(status="x")], False),
                ("None", None, False),
            ],
            edges=[("a tuple of records", tuple(make_records(2)))],
        ),
        Family(
            key="records_bad",
            hint=list[Record],
            struct=_struct("Record", of_list=True),
            ours=lambda: list[Record],
            schema={"type": "array", "items": RECORD_SCHEMA},
            make=lambda: make_bad_records(n_rec),
            corpus=[
                ("3 records", make_records(3), True),
                ("1% of records bad", make_bad_records(300), False),
            ],
        ),
        Family(
            key="tree",
            hint=Tree,
            struct=_struct("Tree"),
            ours=_ours_tree,
            schema=TREE_SCHEMA,
            make=lambda: make_tree(n_tree),
            corpus=[
                ("a leaf", {"value": 1, "children": []}, True),
                ("a tree of 200 nodes", make_tree(200), True),
                ("a leaf with value '1'", {"value": "1", "children": []}, False),
                ("value 'x' 6 levels down", tree_with(6, {"value": "x", "children": []}), False),
                ("children missing 6 levels down", tree_with(6, {"value": 1}), False),
                ("children a dict 3 levels down", tree_with(3, {"value": 1, "children": {}}), False),
                ("None", None, False),
            ],
            edges=[("an extra key on a node", {"value": 1, "children": [], "label": "x"})],
        ),
        Family(
            key="literal",
            hint=Colour,
            ours=lambda: Colour,
            schema={"enum": COLOURS},
            make=lambda: "white",
            corpus=[
                ("'red'", "red", True),
                ("'white'", "white", True),
                ("3", 3, True),
                ("'purple'", "purple", False),
                ("'RED'", "RED", False),
                ("4", 4, False),
                ("None", None, False),
                ("b'red'", b"red", False),
            ],
            edges=[("True (== 1)", True), ("1.0 (== 1)", 1.0), ("a str subclass 'red'", StrSub("red"))],
        ),
        Family(
            key="literals",
            hint=list[Colour],
            ours=lambda: list[Colour],
            schema={"type": "array", "items": {"enum": COLOURS}},
            make=lambda: (lambda rng: [rng.choice(COLOURS) for _ in range(n_items)])(random.Random(5)),
            corpus=[
                ("[]", [], True),
                ("['red', 3]", ["red", 3], True),
                ("['red', 'purple']", ["red", "purple"], False),
                ("9,999 'red' then 4", ["red"] * 9999 + [4], False),
                ("None", None, False),
            ],
            edges=[("[True]", [True])],
        ),
        Family(
            key="emails",
            hint=list[Annotated[str, Pattern(EMAIL)]],
            ours=lambda: list[_email_hint("ours")],
            schema={"type": "array", "items": {"type": "string", "pattern": EMAIL_PY}},
            make=lambda: (lambda rng: [make_email(rng) for _ in range(n_items)])(random.Random(6)),
            spellings={lib: (lambda lib=lib: list[_email_hint(lib)]) for lib in ("msgspec", "pydantic", "beartype")},
            corpus=[
                ("[]", [], True),
                ("two addresses", ["a.b@example.com", "x_1@mail.co.uk"], True),
                ("an upper-case address", ["Bob@example.com"], False),
                ("a one-letter domain end", ["a@b.c"], False),
                ("a trailing newline", ["x@example.com\n"], False),
                ("a leading space", [" x@example.com"], False),
                ("no domain end", ["x@example"], False),
                ("an int", [5], False),
                ("9,999 addresses then a bad one", ["a@b.io"] * 9999 + ["a@b"], False),
            ],
            edges=[("a str subclass", [StrSub("a@b.io")])],
        ),
    ]
    fams += order_families(sizes) + literal_families(sizes)
    return {f.key: f for f in fams}


def order_families(sizes):
    n = sizes["orders"]
    one = make_orders(1)
    lean = make_orders(1)
    for k in ("note", "channel"):
        lean[0].pop(k, None)
    for a in (lean[0]["billing"], lean[0]["shipping"]):
        a.pop("line2", None)
    for item in lean[0]["items"]:
        item.pop("discount", None)
        item.pop("gift", None)
    corpus_bad = [(f"an order with fault {i}", [_order_with(f)], False) for i, f in enumerate(ORDER_FAULTS)]
    common = dict(hint=list[Order], ours=lambda: list[Order], schema={"type": "array", "items": ORDER_SCHEMA},
                  struct=_struct("Order", of_list=True))
    return [
        Family(
            key="orders",
            make=lambda: make_orders(n),
            corpus=[
                ("[]", [], True),
                ("one order", one, True),
                ("an order without its NotRequired keys", lean, True),
                ("50 orders", make_orders(50), True),
                *corpus_bad,
                ("999 orders then a bad one", make_orders(999) + [_order_with(ORDER_FAULTS[1])], False),
                ("None", None, False),
            ],
            edges=[("an extra key on an order", [dict(one[0], extra=1)])],
            **common,
        ),
        Family(
            key="orders_bad",
            make=lambda: make_bad_orders(n),
            corpus=[("3 orders", make_orders(3), True), ("1% of orders bad", make_bad_orders(300), False)],
            **common,
        ),
    ]


def literal_families(sizes):
    n = sizes["items"]
    fams = []
    for k in LITERAL_SIZES:
        values = literal_values(k)
        hint = literal_hint(k)
        fams.append(Family(
            key=f"lit{k}",
            hint=list[hint],
            ours=lambda hint=hint: list[hint],
            schema={"type": "array", "items": {"enum": list(values)}},
            make=lambda k=k: make_literal_items(k, n),
            corpus=[
                ("[]", [], True),
                ("the first and last literal", [values[0], values[-1]], True),
                ("a text outside the union", [values[0], values[0] + "x"], False),
                ("a text differing in case", [values[-1].upper()], False),
                ("an int", [1], False),
                ("9,999 members then a bad one", [values[1]] * 9999 + ["zz"], False),
                ("None", None, False),
            ],
            edges=[("a str subclass", [StrSub(values[0])])],
        ))
    return fams
