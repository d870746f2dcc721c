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
#include <span>
#include <string>
#include <vector>

#include "core/ir/node.h"

namespace tessaron::decide {

// Answers of the yes/no questions.
inline constexpr std::uint8_t kNo = 0;
inline constexpr std::uint8_t kYes = 1;
inline constexpr std::uint8_t kDeclined = 2;
// `compare` answers -1, 0 or 1, or this (the byte 0xFE).
inline constexpr std::int8_t kCompareDeclined = -2;
// `constant_kind` answers a kind code 0..5, or this.
inline constexpr std::uint8_t kNoKind = 255;

// Kind codes: the builtin kinds that the kind questions talk about.
enum KindCode : std::uint8_t {
    kKindNone = 0,
    kKindBool = 1,
    kKindInt = 2,
    kKindFloat = 3,
    kKindStr = 4,
    kKindBytes = 5,
    kKindList = 6,
    kKindTuple = 7,
    kKindSet = 8,
    kKindFrozenset = 9,
    kKindDict = 10,
};

// What the oracle knows of one pooled object.  The tag says which payload
// fields are meaningful:
//   11 bool (`bool_value`), 12 int (`int_value`), 13 float (`float_value`),
//   14 text (`text`: UTF-8 of a str or the bytes of a bytes; `text_kind` 4
//   str or 5 bytes), 15 None, 254 declined;
//   2..10 or 255: a class (only from `class_info`), the tag being the kind
//   code of the builtin type it derives from (255: none), with
//   `ancestor_ids` (its own id and those of its whole MRO), `class_id` and
//   `base_position` (0, or the 1-based position of the builtin base in the
//   test order int, str, bytes, float, tuple, frozenset, list, set, dict).
struct LeafInfo {
    static constexpr std::uint8_t kBool = 11;
    static constexpr std::uint8_t kInt = 12;
    static constexpr std::uint8_t kFloat = 13;
    static constexpr std::uint8_t kText = 14;
    static constexpr std::uint8_t kNone = 15;
    static constexpr std::uint8_t kDeclinedTag = 254;

    std::uint8_t tag = kDeclinedTag;
    bool bool_value = false;
    std::int64_t int_value = 0;
    double float_value = 0.0;
    std::string text;
    std::uint8_t text_kind = 0;
    std::vector<std::uint32_t> ancestor_ids;
    std::uint32_t class_id = 0;
    std::uint32_t base_position = 0;

    static LeafInfo declined() { return LeafInfo{}; }
    bool is_declined() const { return tag == kDeclinedTag; }
    bool is_class() const { return (tag >= 2 && tag <= 10) || tag == 255; }
    // For a class answer: the builtin kind it derives from, or 255.
    std::uint8_t builtin_kind() const { return tag; }
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
    virtual std::uint8_t leaf_relation(const ir::Node& leaf, const ir::Node& node) = 0;
    // 4: the order of object i against object j: -1, 0, 1, or
    // kCompareDeclined.
    virtual std::int8_t compare(std::uint64_t i, std::uint64_t j) = 0;
    // 5: yes when no object of one list equals an object of the other.
    virtual std::uint8_t literal_sets_disjoint(std::span<const std::uint64_t> a,
                                               std::span<const std::uint64_t> b) = 0;
    // 6: yes when no integer lies between the two bounds.
    virtual std::uint8_t integer_interval_empty(std::uint64_t lower, bool lower_exclusive, std::uint64_t upper,
                                                bool upper_exclusive) = 0;
    // 7: yes when object `dividend` modulo object `divisor` is 0.
    virtual std::uint8_t divides(std::uint64_t divisor, std::uint64_t dividend) = 0;
    // 8: yes when the class of an instance node keeps the builtin instance
    // and subclass checks of `type`, no when its metaclass overrides either.
    virtual std::uint8_t class_atom_is_plain(const ir::Node& instance) = 0;
    // 9: the kind code 0..5 of a constant by its exact type, or kNoKind.
    virtual std::uint8_t constant_kind(std::uint64_t pool_index) = 0;
    // 10: yes when instances of the class may be values of that kind.
    virtual std::uint8_t class_overlaps_kind(std::uint64_t class_index, std::uint8_t kind) = 0;
    // 11: as 10, but a class deriving from no builtin type answers no.
    virtual std::uint8_t class_produces_kind(std::uint64_t class_index, std::uint8_t kind) = 0;
    // 12: yes when every value of that kind is an instance of the class.
    virtual std::uint8_t kind_within_class(std::uint8_t kind, std::uint64_t class_index) = 0;
    // 13: yes when the two constants are unequal.
    virtual std::uint8_t literals_distinct(std::uint64_t i, std::uint64_t j) = 0;
};

// The oracle with nothing behind it: every question is declined.
class NullOracle : public Oracle {
public:
    LeafInfo bound_info(std::uint64_t) override;
    LeafInfo literal_info(std::uint64_t) override;
    LeafInfo class_info(std::uint64_t) override;
    std::uint8_t leaf_relation(const ir::Node&, const ir::Node&) override;
    std::int8_t compare(std::uint64_t, std::uint64_t) override;
    std::uint8_t literal_sets_disjoint(std::span<const std::uint64_t>, std::span<const std::uint64_t>) override;
    std::uint8_t integer_interval_empty(std::uint64_t, bool, std::uint64_t, bool) override;
    std::uint8_t divides(std::uint64_t, std::uint64_t) override;
    std::uint8_t class_atom_is_plain(const ir::Node&) override;
    std::uint8_t constant_kind(std::uint64_t) override;
    std::uint8_t class_overlaps_kind(std::uint64_t, std::uint8_t) override;
    std::uint8_t class_produces_kind(std::uint64_t, std::uint8_t) override;
    std::uint8_t kind_within_class(std::uint8_t, std::uint64_t) override;
    std::uint8_t literals_distinct(std::uint64_t, std::uint64_t) override;
};

}  // namespace tessaron::decide
