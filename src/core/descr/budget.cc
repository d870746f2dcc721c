// The per-thread work budget (see budget.h).
#include "core/descr/budget.h"

namespace tessaron::descr {

namespace {
thread_local WorkBudget t_budget;
}  // namespace

std::uint64_t work_budget() { return t_budget.units; }
void set_work_budget(std::uint64_t units) { t_budget.units = units; }

WorkBudget swap_work_budget(WorkBudget budget) {
    const WorkBudget held = t_budget;
    t_budget = budget;
    return held;
}

bool take_unit() {
    if (t_budget.units == 0) return false;
    --t_budget.units;
    return true;
}

void take_saturating_unit() {
    if (t_budget.units != 0) --t_budget.units;
}

bool take_units(std::uint64_t n) {
    if (t_budget.units < n) {
        t_budget.units = 0;
        return false;
    }
    t_budget.units -= n;
    return true;
}

namespace {

// Whether this small step completes a batch.
bool completes_batch() {
    if (++t_budget.small_steps < kSmallStepsPerUnit) return false;
    t_budget.small_steps = 0;
    return true;
}

}  // namespace

bool take_small_step() {
    if (t_budget.units == 0) return false;
    if (completes_batch()) --t_budget.units;
    return true;
}

void take_saturating_small_step() {
    if (completes_batch()) take_saturating_unit();
}

std::uint64_t text_work_allowance() {
    const std::uint64_t units = t_budget.units;
    if (units >= kUnboundedWork / kTextCellsPerUnit) return kUnboundedWork;
    return (units + 1) * kTextCellsPerUnit - 1;
}

bool charge_text_work(std::uint64_t cells) { return take_units(cells / kTextCellsPerUnit); }

std::uint64_t pattern_work_allowance() {
    const std::uint64_t units = t_budget.units;
    if (units >= kUnboundedWork / kPatternWorkPerUnit) return kUnboundedWork;
    return units * kPatternWorkPerUnit;
}

bool charge_pattern_work(std::uint64_t work) {
    return take_units((work + kPatternWorkPerUnit - 1) / kPatternWorkPerUnit);
}

}  // namespace tessaron::descr
