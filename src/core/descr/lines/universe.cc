// Universes of the kinds (see universe.h).
#include "core/descr/lines/universe.h"

#include <cassert>

namespace tessaron::descr {

Atom kind_top(Kind kind) {
    assert(kind != Kind::Other);
    switch (kind) {
        case Kind::None: return Presence{true};
        case Kind::Bool: return TruthMask{3};
        case Kind::Int: return int_set_all();
        case Kind::Float: return float_set_all();
        case Kind::Str: return str_universe();
        case Kind::Bytes: return bytes_universe();
        case Kind::List:
        case Kind::Tuple: return sequence_universe();
        case Kind::Set:
        case Kind::Frozenset: return set_items_universe();
        case Kind::Dict:
        case Kind::Other: break;
    }
    return shapes_universe();
}

Atom universe_atom(Kind kind) { return kind == Kind::Other ? Atom(Presence{true}) : kind_top(kind); }

Line line_of_atom(Atom atom) { return Line{std::move(atom), unrestricted()}; }

Line universe_line(Kind kind) { return line_of_atom(universe_atom(kind)); }

Descr descr_top() {
    Descr d;
    for (const Kind k : ir::kKinds) d.slot(k).lines.push_back(universe_line(k));
    return d;
}

Descr descr_of_kind(Kind kind) {
    assert(kind != Kind::Other);
    Descr d;
    d.slot(kind).lines.push_back(universe_line(kind));
    return d;
}

}  // namespace tessaron::descr
