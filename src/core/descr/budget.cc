// The per-thread work budget (see budget.h).
#include "core/descr/budget.h"

namespace tessaron::descr {

namespace {
thread_local std::uint64_t t_work_budget = kUnboundedWork;
}  // namespace

std::uint64_t work_budget() { return t_work_budget; }
void set_work_budget(std::uint64_t units) { t_work_budget = units; }

bool take_unit() {
    if (t_work_budget == 0) return false;
    --t_work_budget;
    return true;
}

void take_saturating_unit() {
    if (t_work_budget != 0) --t_work_budget;
}

bool take_units(std::uint64_t n) {
    if (t_work_budget < n) {
        t_work_budget = 0;
        return false;
    }
    t_work_budget -= n;
    return true;
}

std::uint64_t text_work_allowance() {
    const std::uint64_t units = t_work_budget;
    if (units >= kUnboundedWork / kTextCellsPerUnit) return kUnboundedWork;
    return (units + 1) * kTextCellsPerUnit - 1;
}

bool charge_text_work(std::uint64_t cells) { return take_units(cells / kTextCellsPerUnit); }

std::uint64_t pattern_work_allowance() {
    const std::uint64_t units = t_work_budget;
    if (units >= kUnboundedWork / kPatternWorkPerUnit) return kUnboundedWork;
    return units * kPatternWorkPerUnit;
}

bool charge_pattern_work(std::uint64_t work) {
    return take_units((work + kPatternWorkPerUnit - 1) / kPatternWorkPerUnit);
}

}  // namespace tessaron::descr
