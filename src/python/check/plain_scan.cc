// Plain element tests and plain roots.  See plain_scan.h.
#include "python/check/plain_scan.h"

#include "python/check/builtins.h"
#include "python/check/precompute.h"

namespace tessaron::python::check {

PlainTest plain_test(const ir::Node& node, const Precompute& tables) {
    PlainTest test;
    if (is_scalar_kind(node.kind)) {
        test.kind = PlainTest::Kind::Scalar;
        test.scalar = node.kind;
        test.mask = static_cast<std::uint8_t>(1u << static_cast<unsigned>(node.kind));
        return test;
    }
    if (node.kind != ir::NodeKind::Union) return test;
    const auto members = ir::as_span(node.members());
    std::uint8_t mask = 0;
    for (const ir::Node& member : members) {
        if (!is_scalar_kind(member.kind) || member.kind == ir::NodeKind::Anything ||
            member.kind == ir::NodeKind::Nothing) {
            mask = 0;
            break;
        }
        mask |= static_cast<std::uint8_t>(1u << static_cast<unsigned>(member.kind));
    }
    if (mask != 0) {
        test.kind = PlainTest::Kind::Scalars;
        test.mask = mask;
        return test;
    }
    if constexpr (py::kPyPy) return test;
    if (tables.literal_sets.empty()) return test;
    auto it = tables.literal_sets.find(Precompute::key_of(node.members()));
    if (it == tables.literal_sets.end()) return test;
    test.kind = PlainTest::Kind::Literals;
    test.sets = &it->second;
    return test;
}

PlainRoot plain_root(const ir::Node& root, const Precompute& tables) {
    PlainRoot out;
    if (root.kind != ir::NodeKind::Sequence || !ir::as_span(root.prefix()).empty() || !root.tail()) return out;
    out.items = plain_test(*root.tail(), tables);
    out.tuple = root.flavour() == ir::kFlavourTuple;
    return out;
}

}  // namespace tessaron::python::check
