// Universes of the kinds (see universe.h).
#include "core/descr/lines/universe.h"

#include <cassert>

namespace tessaron::descr {

Atom kind_top(KindCode code) {
    assert(code <= 10);
    switch (code) {
        case 0: return Presence{1};
        case 1: return TruthMask{3};
        case 2: return int_set_all();
        case 3: return float_set_all();
        case 4: return str_universe();
        case 5: return bytes_universe();
        case 6:
        case 7: return sequence_universe();
        case 8:
        case 9: return set_items_universe();
        default: return shapes_universe();
    }
}

Atom universe_atom(KindCode code) { return code == kOtherCode ? Atom(Presence{1}) : kind_top(code); }

Line line_of_atom(Atom atom) { return Line{std::move(atom), unrestricted()}; }

Line universe_line(KindCode code) { return line_of_atom(universe_atom(code)); }

Descr descr_top() {
    Descr d;
    for (std::size_t s = 0; s < kSlotCount; ++s) d.slots[s].lines.push_back(universe_line(slot_code(s)));
    return d;
}

Descr descr_of_kind(KindCode code) {
    assert(code <= 10);
    Descr d;
    d.slot(code).lines.push_back(universe_line(code));
    return d;
}

}  // namespace tessaron::descr
