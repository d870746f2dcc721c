// The leaf questions that core code asks about pooled Python objects.
//
// Nodes name classes, literals, bounds and divisors by pool index; whatever
// needs to know what those objects are asks an `Oracle`.  Every answer is a
// small code, and "declined" is an ordinary answer, never an error: the
// caller takes it as "no information".  Two implementations exist: the
// Python-backed pool oracle (in the Python layer), which declines when
// Python raises, and `NullOracle`, which declines everything so that the
// folds of the schema rewrites rely on structure alone.
//
// The operations, in their fixed slot order (0 to 13), are the virtual
// methods below, declared in that order.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/ir/answers.h"
#include "core/ir/kind.h"
#include "core/ir/node.h"

namespace tessaron::ir {

// What the oracle knows of one pooled object.  The tag says which payload
// fields are meaningful:
//   Bool `bool_value`; Int `int_value`; Float `float_value`; Text `text`
//   (UTF-8 of a str or the bytes of a bytes) and `text_kind` (Str or
//   Bytes); None and Declined nothing;
//   Class (only from `class_info`): `builtin_kind`, the kind of the builtin
//   type it derives from (Int to Dict, or Other: none), `ancestor_ids` (its
//   own id and those of its whole MRO), `class_id`, and which builtin
//   contents its instances have (`instances`, `members`).
struct LeafInfo {
    enum class Tag : std::uint8_t { Declined, None, Bool, Int, Float, Text, Class };

    // The builtin contents (the int, float, str or bytes a value of the
    // class's builtin kind holds) of a class's instances:
    //   Any      any content of its builtin kind (a class one instantiates
    //            with any value; every class deriving from no builtin type);
    //   Exactly  exactly those of `members` (an enumeration whose instances
    //            are its members);
    //   AtLeast  those of `members` and possibly others the oracle cannot
    //            tell (an enumeration that makes pseudo-members, or whose
    //            members are not all listed or describable).
    enum class Instances : std::uint8_t { Any, Exactly, AtLeast };

    Tag tag = Tag::Declined;
    bool bool_value = false;
    std::int64_t int_value = 0;
    double float_value = 0.0;
    std::string text;
    Kind text_kind = Kind::Str;
    Kind builtin_kind = Kind::Other;
    std::vector<std::uint32_t> ancestor_ids;
    std::uint32_t class_id = 0;
    Instances instances = Instances::Any;
    // Int, Float or Text answers (the text kind the builtin kind).
    std::vector<LeafInfo> members;

    static LeafInfo declined() { return LeafInfo{}; }
    bool is_declined() const { return tag == Tag::Declined; }
    bool is_class() const { return tag == Tag::Class; }
};

class Oracle {
public:
    virtual ~Oracle() = default;

    // 0: the constant a numeric bound or divisor names.
    virtual LeafInfo bound_info(std::uint64_t pool_index) = 0;
    // 1: a literal's constant.
    virtual LeafInfo literal_info(std::uint64_t pool_index) = 0;
    // 2: a pooled class; declined unless the object is a class.
    virtual LeafInfo class_info(std::uint64_t pool_index) = 0;
    // 3: whether every value of `leaf` (an instance or literal node) is a
    // value of `node`.
    virtual Answer leaf_relation(const Node& leaf, const Node& node) = 0;
    // 4: the order of object i against object j.
    virtual Order compare(std::uint64_t i, std::uint64_t j) = 0;
    // 5: yes when no object of one list equals an object of the other.
    virtual Answer literal_sets_disjoint(std::span<const std::uint64_t> a, std::span<const std::uint64_t> b) = 0;
    // 6: yes when no integer lies between the two bounds.
    virtual Answer integer_interval_empty(std::uint64_t lower, bool lower_exclusive, std::uint64_t upper,
                                          bool upper_exclusive) = 0;
    // 7: yes when object `dividend` modulo object `divisor` is 0.
    virtual Answer divides(std::uint64_t divisor, std::uint64_t dividend) = 0;
    // 8: yes when the class of an instance node keeps the builtin instance
    // and subclass checks of `type`, no when its metaclass overrides either.
    virtual Answer class_atom_is_plain(const Node& instance) = 0;
    // 9: the kind of a constant by its exact type (None to Bytes), or none.
    virtual std::optional<Kind> constant_kind(std::uint64_t pool_index) = 0;
    // 10: yes when instances of the class may be values of that builtin
    // kind (None to Dict).
    virtual Answer class_overlaps_kind(std::uint64_t class_index, Kind kind) = 0;
    // 11: as 10, but a class deriving from no builtin type answers no.
    virtual Answer class_produces_kind(std::uint64_t class_index, Kind kind) = 0;
    // 12: yes when every value of that builtin kind is an instance of the
    // class.
    virtual Answer kind_within_class(Kind kind, std::uint64_t class_index) = 0;
    // 13: yes when the two constants are unequal.
    virtual Answer literals_distinct(std::uint64_t i, std::uint64_t j) = 0;
};

// The oracle with nothing behind it: every question is declined.
class NullOracle : public Oracle {
public:
    LeafInfo bound_info(std::uint64_t) override;
    LeafInfo literal_info(std::uint64_t) override;
    LeafInfo class_info(std::uint64_t) override;
    Answer leaf_relation(const Node&, const Node&) override;
    Order compare(std::uint64_t, std::uint64_t) override;
    Answer literal_sets_disjoint(std::span<const std::uint64_t>, std::span<const std::uint64_t>) override;
    Answer integer_interval_empty(std::uint64_t, bool, std::uint64_t, bool) override;
    Answer divides(std::uint64_t, std::uint64_t) override;
    Answer class_atom_is_plain(const Node&) override;
    std::optional<Kind> constant_kind(std::uint64_t) override;
    Answer class_overlaps_kind(std::uint64_t, Kind) override;
    Answer class_produces_kind(std::uint64_t, Kind) override;
    Answer kind_within_class(Kind, std::uint64_t) override;
    Answer literals_distinct(std::uint64_t, std::uint64_t) override;
};

}  // namespace tessaron::ir
