// The value universe and the generator of flat descriptors (see
// descr_fixture.h).
#include "descr/descr_fixture.h"

#include <cmath>
#include <limits>

namespace tessaron::descr::testing {

namespace {

constexpr std::uint32_t exact_id(Kind k) { return 0xFFFFFF00u + static_cast<std::uint32_t>(ir::kind_slot(k)); }

std::shared_ptr<const Value> share(Value v) { return std::make_shared<const Value>(std::move(v)); }

Value none_value() { return Value{Kind::None, false, 0, 0.0, {}, {}, {}, "None"}; }
Value bool_value(bool b) { return Value{Kind::Bool, b, 0, 0.0, {}, {}, {}, b ? "True" : "False"}; }
Value int_value(std::int64_t n, std::vector<std::uint32_t> classes, std::string name) {
    return Value{Kind::Int, false, n, 0.0, {}, std::move(classes), {}, std::move(name)};
}
Value float_value(double x, std::vector<std::uint32_t> classes, std::string name) {
    return Value{Kind::Float, false, 0, x, {}, std::move(classes), {}, std::move(name)};
}
Value text_value(Kind kind, std::string bytes, std::vector<std::uint32_t> classes, std::string name) {
    return Value{kind, false, 0, 0.0, std::move(bytes), std::move(classes), {}, std::move(name)};
}
Value other_value(std::vector<std::uint32_t> classes, std::string name) {
    return Value{Kind::Other, false, 0, 0.0, {}, std::move(classes), {}, std::move(name)};
}
Value with_attribute(Value v, const std::string& attr, Value value) {
    v.name += "{" + attr + "=" + value.name + "}";
    v.attributes[attr] = share(std::move(value));
    return v;
}

Atom random_atom(std::mt19937& rng, Kind kind) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    switch (kind) {
        case Kind::None:
        case Kind::Other: return Presence{pick(5) != 0};
        case Kind::Bool: return TruthMask{static_cast<std::uint8_t>(pick(4))};
        case Kind::Int: {
            switch (pick(10)) {
                case 0: return int_set_singleton(0);
                case 1: return int_set_singleton(1);
                case 2: return int_set_singleton(5);
                case 3: return ints(0, 5);
                case 4: return ints(std::nullopt, 1);
                case 5: return ints(2, std::nullopt);
                case 6: return multiples(2);
                case 7: return multiples(3);
                case 8: return int_set_all();
                default: return int_set_complement(ints(0, 5));
            }
        }
        case Kind::Float: {
            const double inf = std::numeric_limits<double>::infinity();
            switch (pick(9)) {
                case 0: return floats(0.0, 0.0);
                case 1: return floats(-inf, 0.0, true, false);
                case 2: return floats(0.0, inf, false, true);
                case 3: return floats(1.0, 1.0);
                case 4: return FloatSet{{}, true};
                case 5: return float_set_all();
                case 6: return floats(-5e-324, 5e-324);
                case 7: return floats(1.0, inf, false, false);
                default: return float_set_complement(floats(-1.0, 1.0));
            }
        }
        case Kind::Str: {
            switch (pick(7)) {
                case 0: return text("a");
                case 1: return text("");
                case 2: return text("\xC3\xA9");
                case 3: return str_pattern("a*");
                case 4: return str_pattern("[ab]");
                case 5: return str_pattern("(?s).");
                default: return str_universe();
            }
        }
        default: {
            switch (pick(5)) {
                case 0: return text("a");
                case 1: return text("");
                case 2: return text("\xFF");
                case 3: return bytes_pattern("a*");
                default: return bytes_universe();
            }
        }
    }
}

Condition random_condition(std::mt19937& rng, int nesting) {
    const std::vector<ClassRecord> classes = all_classes();
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    Condition c;
    const int required = pick(4) == 0 ? 2 : pick(2);
    for (int i = 0; i < required; ++i) insert_class(c.classes, classes[static_cast<std::size_t>(pick(static_cast<int>(classes.size())))]);
    if (pick(3) == 0) insert_class(c.excluded_classes, classes[static_cast<std::size_t>(pick(static_cast<int>(classes.size())))]);
    if (pick(3) == 0) {
        // Attribute values: any, a random descriptor, or one of a few whose
        // emptiness is known, undecided or empty.
        SharedDescr value;
        switch (pick(9)) {
            case 0: break;
            case 1: value = empty_descr(); break;
            case 2: value = SharedDescr::make(with_slot(Kind::Int, {line(int_set_all(), conditions({requiring({cls_A()})}))})); break;
            case 3: value = SharedDescr::make(with_slot(Kind::Str, {line(str_universe(), conditions({requiring({cls_S()})}))})); break;
            case 4: value = SharedDescr::make(with_slot(Kind::Other, {line(Presence{true}, conditions({requiring({cls_B()})}))})); break;
            case 5: value = SharedDescr::make(with_slot(Kind::Int, {line(int_set_singleton(5), conditions({requiring({exact_type_record(Kind::Int)})}))})); break;
            case 6: value = SharedDescr::make(descr_of_kind(static_cast<Kind>(pick(6)))); break;
            default:
                value = SharedDescr::make(nesting > 0 ? random_flat_descr(rng, nesting - 1) : descr_of_kind(static_cast<Kind>(pick(6))));
        }
        c.attributes.push_back(AttributeEntry{pick(2) ? "p" : "q", AttributeRequirement{value, pick(2) != 0}});
    }
    return c;
}

}  // namespace

namespace {

bool is_number(const Value& v) { return v.kind == Kind::Bool || v.kind == Kind::Int || v.kind == Kind::Float; }
double number_of(const Value& v) {
    if (v.kind == Kind::Bool) return v.truth ? 1.0 : 0.0;
    if (v.kind == Kind::Int) return static_cast<double>(v.integer);
    return v.number;
}
bool is_set_kind(Kind k) { return k == Kind::Set || k == Kind::Frozenset; }

bool contains_equal(const Value& set, const Value& x) {
    for (const auto& e : set.elements)
        if (python_equal(*e, x)) return true;
    return false;
}

std::string joined_names(const std::vector<Value>& vs) {
    std::string out;
    for (const Value& v : vs) out += (out.empty() ? "" : ", ") + v.name;
    return out;
}

}  // namespace

bool python_equal(const Value& a, const Value& b) {
    if (is_number(a) && is_number(b)) {
        if (a.kind == Kind::Int && b.kind == Kind::Int) return a.integer == b.integer;
        return number_of(a) == number_of(b);
    }
    if (is_set_kind(a.kind) && is_set_kind(b.kind)) {
        if (a.elements.size() != b.elements.size()) return false;
        for (const auto& e : a.elements)
            if (!contains_equal(b, *e)) return false;
        return true;
    }
    if (a.kind != b.kind) return false;
    switch (a.kind) {
        case Kind::None: return true;
        case Kind::Str:
        case Kind::Bytes: return a.bytes == b.bytes;
        case Kind::List:
        case Kind::Tuple:
            if (a.elements.size() != b.elements.size()) return false;
            for (std::size_t i = 0; i < a.elements.size(); ++i)
                if (!python_equal(*a.elements[i], *b.elements[i])) return false;
            return true;
        default: return a.name == b.name;
    }
}

Value sequence_value(Kind kind, const std::vector<Value>& items) {
    Value v;
    v.kind = kind;
    for (const Value& x : items) v.elements.push_back(share(x));
    v.name = (kind == Kind::List ? "[" : "(") + joined_names(items) + (kind == Kind::List ? "]" : ")");
    return v;
}

Value set_value(Kind kind, const std::vector<Value>& elements) {
    Value v;
    v.kind = kind;
    std::vector<Value> kept;
    for (const Value& x : elements) {
        if (contains_equal(v, x)) continue;
        v.elements.push_back(share(x));
        kept.push_back(x);
    }
    v.name = (kind == Kind::Set ? "{" : "frozenset({") + joined_names(kept) + (kind == Kind::Set ? "}" : "})");
    return v;
}

std::vector<Value> value_universe() {
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::uint32_t> exact_int{exact_id(Kind::Int)}, exact_float{exact_id(Kind::Float)}, exact_str{exact_id(Kind::Str)},
        exact_bytes{exact_id(Kind::Bytes)};
    std::vector<Value> vs;
    vs.push_back(none_value());
    vs.push_back(bool_value(false));
    vs.push_back(bool_value(true));
    for (std::int64_t n : {-1, 0, 1, 2, 5, 6, 9, 1000003})
        vs.push_back(int_value(n, exact_int, "int " + std::to_string(n)));
    for (std::int64_t n : {0, 1, 5, -2}) vs.push_back(int_value(n, {2}, "I(" + std::to_string(n) + ")"));
    vs.push_back(int_value(2, {0, 2, 4}, "IA(2)"));
    vs.push_back(with_attribute(int_value(1, {2}, "I(1)"), "p", int_value(0, exact_int, "0")));
    vs.push_back(with_attribute(int_value(3, {0, 2, 4}, "IA(3)"), "q", none_value()));
    for (double x : {-0.0, 0.0, 5e-324, -5e-324, 1.0, std::nextafter(1.0, 2.0), inf, -inf, -1.5, 0.5})
        vs.push_back(float_value(x, exact_float, "float " + std::to_string(x)));
    vs.push_back(float_value(std::nan(""), exact_float, "float nan"));
    vs.push_back(float_value(0.0, {5}, "F(0.0)"));
    vs.push_back(float_value(std::nan(""), {5}, "F(nan)"));
    vs.push_back(with_attribute(float_value(1.0, {5}, "F(1.0)"), "p", bool_value(true)));
    for (const char* s : {"", "a", "b", "ab", "aa", "\xC3\xA9", "\xED\xA0\x80"})
        vs.push_back(text_value(Kind::Str, s, exact_str, std::string("str '") + s + "'"));
    vs.push_back(text_value(Kind::Str, "a", {3}, "S('a')"));
    vs.push_back(text_value(Kind::Str, "", {3}, "S('')"));
    vs.push_back(with_attribute(text_value(Kind::Str, "ab", {3}, "S('ab')"), "p", text_value(Kind::Str, "a", exact_str, "'a'")));
    for (const char* s : {"", "a", "\xFF", "ab"})
        vs.push_back(text_value(Kind::Bytes, s, exact_bytes, std::string("bytes '") + s + "'"));
    vs.push_back(other_value({}, "object()"));
    vs.push_back(other_value({0}, "A()"));
    vs.push_back(other_value({0, 1}, "B()"));
    vs.push_back(with_attribute(other_value({0}, "A()"), "p", int_value(0, exact_int, "0")));
    vs.push_back(with_attribute(other_value({0, 1}, "B()"), "p", text_value(Kind::Str, "a", exact_str, "'a'")));
    vs.push_back(with_attribute(other_value({0}, "A()"), "q", none_value()));
    vs.push_back(with_attribute(with_attribute(other_value({}, "object()"), "p", bool_value(true)), "q",
                                float_value(0.0, exact_float, "0.0")));
    // Attribute values of every sort, subclass instances among them.
    for (const Value& attr : {int_value(2, {0, 2, 4}, "IA(2)"), text_value(Kind::Str, "a", {3}, "S('a')"),
                              float_value(std::nan(""), {5}, "F(nan)"), other_value({0, 1}, "B()"),
                              int_value(5, exact_int, "5"), text_value(Kind::Bytes, "\xFF", exact_bytes, "b'\xff'")}) {
        vs.push_back(with_attribute(other_value({0}, "A()"), "p", attr));
        vs.push_back(with_attribute(int_value(7, {2}, "I(7)"), "q", attr));
        vs.push_back(with_attribute(text_value(Kind::Str, "b", {3}, "S('b')"), "p", attr));
    }
    return vs;
}

Descr random_flat_descr(std::mt19937& rng, int nesting) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    Descr d;
    for (Kind kind : {Kind::None, Kind::Bool, Kind::Int, Kind::Float, Kind::Str, Kind::Bytes, Kind::Other}) {
        if (pick(2) == 0) continue;
        KindSlot& slot = d.slot(kind);
        const int lines = pick(3);
        for (int i = 0; i < lines; ++i) {
            ConditionList list;
            if (pick(3) == 0) {
                list = unrestricted();
            } else {
                const int n = pick(3);
                for (int j = 0; j < n; ++j) list.conditions.push_back(random_condition(rng, nesting));
                list.negated = pick(4) == 0;
            }
            slot.lines.push_back(Line{random_atom(rng, kind), std::move(list)});
        }
        slot.negated = pick(5) == 0;
    }
    return d;
}

}  // namespace tessaron::descr::testing
