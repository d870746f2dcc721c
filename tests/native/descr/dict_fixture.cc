// Dicts for the shape tests (see dict_fixture.h).
#include "descr/dict_fixture.h"

#include <algorithm>

#include "core/descr/lines/complement.h"

namespace tessaron::descr::testing {

namespace {

constexpr std::uint32_t exact_id(Kind k) { return 0xFFFFFF00u + static_cast<std::uint32_t>(ir::kind_slot(k)); }

std::shared_ptr<const Value> share(Value v) { return std::make_shared<const Value>(std::move(v)); }

Value scalar(Kind kind, std::string name) {
    Value v;
    v.kind = kind;
    v.name = std::move(name);
    return v;
}

// The literal key a dict key stands for, if it is one.
std::optional<LiteralKey> literal_of(const Value& key) {
    switch (key.kind) {
        case Kind::None: return none_key();
        case Kind::Bool: return bool_key(key.truth);
        case Kind::Int: return int_key(key.integer);
        case Kind::Str: return str_key(key.bytes);
        case Kind::Bytes: return bytes_key(key.bytes);
        default: return std::nullopt;
    }
}

bool value_in(const SharedDescr& bound, const Value& v) { return !bound || contains(*bound, v); }

bool one_dict_key(const Value& a, const Value& b) {
    auto x = literal_of(a), y = literal_of(b);
    if (x && y) return literal_key_equal(*x, *y) || literal_keys_alias(*x, *y);
    return a.name == b.name;
}

}  // namespace

LiteralKey none_key() { return LiteralKey{}; }
LiteralKey bool_key(bool b) {
    LiteralKey k;
    k.tag = LiteralKey::Tag::Bool;
    k.number = b ? 1 : 0;
    return k;
}
LiteralKey int_key(std::int64_t n) {
    LiteralKey k;
    k.tag = LiteralKey::Tag::Int;
    k.number = n;
    return k;
}
LiteralKey str_key(std::string s) { return str_literal_key(s); }
LiteralKey bytes_key(std::string s) {
    LiteralKey k = str_literal_key(s);
    k.kind = Kind::Bytes;
    return k;
}

Value float_key_value(double x) {
    Value v = scalar(Kind::Float, "float " + std::to_string(x));
    v.number = x;
    v.classes = {exact_id(Kind::Float)};
    return v;
}
Value tuple_key_value() { return scalar(Kind::Tuple, "()"); }
Value object_key_value() { return scalar(Kind::Other, "object()"); }

Value key_value(const LiteralKey& k) {
    switch (k.tag) {
        case LiteralKey::Tag::None: return none_item();
        case LiteralKey::Tag::Bool: return bool_item(k.number != 0);
        case LiteralKey::Tag::Int: return int_item(k.number);
        case LiteralKey::Tag::Text: {
            Value v = scalar(k.kind, (k.kind == Kind::Str ? "'" : "b'") + k.bytes + "'");
            v.bytes = k.bytes;
            v.classes = {exact_id(k.kind)};
            return v;
        }
    }
    return none_item();
}

Value none_item() { return scalar(Kind::None, "None"); }
Value int_item(std::int64_t n) {
    Value v = scalar(Kind::Int, std::to_string(n));
    v.integer = n;
    v.classes = {exact_id(Kind::Int)};
    return v;
}
Value str_item(std::string s) { return key_value(str_key(std::move(s))); }
Value bool_item(bool b) {
    Value v = scalar(Kind::Bool, b ? "True" : "False");
    v.truth = b;
    return v;
}

Value dict_of(std::vector<std::pair<Value, Value>> items) {
    Value d = scalar(Kind::Dict, "{");
    for (auto& [k, v] : items) {
        if (d.name.size() > 1) d.name += ", ";
        d.name += k.name + ": " + v.name;
        d.items.push_back({share(std::move(k)), share(std::move(v))});
    }
    d.name += "}";
    return d;
}

bool shape_contains(const Shape& s, const Value& dict) {
    for (const auto& [key, requirement] : s.declared_keys) {
        const Value* found = nullptr;
        for (const auto& [k, v] : dict.items) {
            auto lit = literal_of(*k);
            if (lit && literal_key_equal(*lit, key)) found = v.get();
        }
        if (!found) {
            if (!requirement.optional) return false;
        } else if (!value_in(requirement.value, *found)) {
            return false;
        }
    }
    for (const auto& [k, v] : dict.items) {
        auto lit = literal_of(*k);
        if (lit && find_declared_key(s, *lit)) continue;
        if (!value_in(s.class_requirement(*key_class_of_kind(k->kind)).value, *v)) return false;
    }
    for (const ExistentialEntry& e : s.existentials) {
        const bool held = std::any_of(dict.items.begin(), dict.items.end(), [&](const auto& item) {
            auto lit = literal_of(*item.first);
            if (*key_class_of_kind(item.first->kind) != e.key_class) return false;
            if (lit && key_set_holds(e.excluded_keys, *lit)) return false;
            return value_in(e.value, *item.second);
        });
        if (!held) return false;
    }
    return true;
}

bool shape_list_contains(const std::vector<Shape>& shapes, const Value& dict) {
    return std::any_of(shapes.begin(), shapes.end(), [&](const Shape& s) { return shape_contains(s, dict); });
}

bool shapes_contain(const Shapes& a, const Value& dict) { return shape_list_contains(a.shapes, dict) != a.negated; }

std::vector<Value> dicts_over(const std::vector<Value>& keys, const std::vector<Value>& values, int max_keys) {
    std::vector<Value> out;
    std::vector<std::pair<Value, Value>> items;
    auto grow = [&](auto& self, std::size_t from) -> void {
        out.push_back(dict_of(items));
        if (static_cast<int>(items.size()) == max_keys) return;
        for (std::size_t i = from; i < keys.size(); ++i) {
            const bool clash = std::any_of(items.begin(), items.end(),
                                           [&](const auto& item) { return one_dict_key(item.first, keys[i]); });
            if (clash) continue;
            for (const Value& v : values) {
                items.push_back({keys[i], v});
                self(self, i + 1);
                items.pop_back();
            }
        }
    };
    grow(grow, 0);
    return out;
}

std::vector<SharedDescr> value_pool(bool with_dicts) {
    std::vector<SharedDescr> pool;
    pool.push_back(SharedDescr{});
    pool.push_back(empty_descr());
    for (Kind k : {Kind::None, Kind::Bool, Kind::Int, Kind::Str}) pool.push_back(SharedDescr::make(descr_of_kind(k)));
    const Descr zero = with_slot(Kind::Int, {line(int_set_singleton(0), conditions({requiring({exact_type_record(Kind::Int)})}))});
    pool.push_back(SharedDescr::make(zero));
    Descr int_or_str = descr_of_kind(Kind::Int);
    int_or_str.slot(Kind::Str) = descr_of_kind(Kind::Str).slot(Kind::Str);
    pool.push_back(SharedDescr::make(int_or_str));
    pool.push_back(SharedDescr::make(descr_complement(descr_of_kind(Kind::Int))));
    pool.push_back(SharedDescr::make(descr_complement(zero)));
    if (with_dicts) {
        Shape closed;
        for (KeyRequirement& r : closed.key_classes) r = KeyRequirement{empty_descr(), true};
        Descr empty_dict;
        empty_dict.slot(Kind::Dict).lines.push_back(line(Shapes{{closed}, false}));
        pool.push_back(SharedDescr::make(empty_dict));
        pool.push_back(SharedDescr::make(descr_of_kind(Kind::Dict)));
    }
    return pool;
}

Shape random_shape(std::mt19937& rng, const std::vector<SharedDescr>& pool, const ShapeLimits& limits) {
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    // In key order, so that excluded keys come out as an ordered set.
    const std::vector<LiteralKey> keys = {none_key(), bool_key(false), bool_key(true), int_key(0), int_key(1),
                                          str_key("a"), bytes_key("a"), str_key("b")};
    Shape s;
    const int declared = static_cast<int>(pick(static_cast<std::size_t>(limits.declared) + 1));
    for (int i = 0; i < declared; ++i)
        declare_key(s, keys[pick(keys.size())],
                    KeyRequirement{pool[pick(pool.size())], pick(3) != 0});
    for (KeyRequirement& r : s.key_classes) {
        switch (pick(4)) {
            case 0: r.value = SharedDescr{}; break;
            case 1: r.value = pool[pick(pool.size())]; break;
            default: r.value = empty_descr();
        }
    }
    const int entries = static_cast<int>(pick(static_cast<std::size_t>(limits.existentials) + 1));
    for (int i = 0; i < entries; ++i) {
        ExistentialEntry e;
        e.key_class = limits.entry_classes[pick(limits.entry_classes.size())];
        e.value = pool[pick(pool.size())];
        for (const LiteralKey& k : keys)
            if (pick(4) == 0) e.excluded_keys.push_back(k);
        s.existentials.push_back(std::move(e));
    }
    std::sort(s.existentials.begin(), s.existentials.end(),
              [](const ExistentialEntry& a, const ExistentialEntry& b) { return cmp_shape_entry(a, b) < 0; });
    return s;
}

Shape shape_of(std::vector<std::pair<LiteralKey, KeyRequirement>> declared, std::vector<ExistentialEntry> entries,
               const SharedDescr& every_class) {
    Shape s;
    for (KeyRequirement& r : s.key_classes) r = KeyRequirement{every_class, true};
    for (auto& [k, r] : declared) declare_key(s, k, std::move(r));
    s.existentials = std::move(entries);
    return s;
}

Descr random_dict_descr(std::mt19937& rng, const std::vector<SharedDescr>& pool) {
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    Descr d = pick(3) == 0 ? random_flat_descr(rng, 0) : Descr{};
    KindSlot& slot = d.slot(Kind::Dict);
    const std::size_t lines = pick(3);
    for (std::size_t i = 0; i < lines; ++i) {
        Shapes atom;
        atom.shapes.push_back(random_shape(rng, pool, {1, 1, {KeyClass::None, KeyClass::Bool, KeyClass::Int, KeyClass::Str}}));
        atom.negated = pick(3) == 0;
        slot.lines.push_back(line(std::move(atom), pick(4) == 0 ? conditions({requiring({cls_A()})}, pick(2) == 0)
                                                              : unrestricted()));
    }
    // A negated slot of several lines multiplies out past the caps.
    slot.negated = lines <= 1 && pick(4) == 0;
    return d;
}

}  // namespace tessaron::descr::testing
