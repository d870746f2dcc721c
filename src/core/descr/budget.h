// The work budget of the descriptor algebra: one step counter per thread,
// the thread's `WorkBudget`, reached through the functions below.
//
// Operations that can grow without bound (products of lines, conditions
// and automata, explicit forms of negated parts) take units from it.  A
// failing unit ends the operation when the counter is 0 (no descriptor, or
// the answer undecided); a saturating unit only lowers a counter above 0.
// Units once taken stay taken: inside a window the counter never rises.
//
// The counter starts at the largest unsigned 64-bit value on every
// thread, so outside a window the algebra runs unbounded.  A `WorkWindow`
// saves the counter, sets it for the duration of a scope and puts the saved
// value back when the scope ends, however it ends; windows nest, so a
// decision asked from user code deep inside another one leaves the outer
// window as it found it.
//
// Text products are charged by their work as well: one unit per
// `kTextCellsPerUnit` table cells computed (product rows times joint byte
// classes, and the minimisation's units), and every pattern compiled by the work its automaton took (one
// unit per `kPatternWorkPerUnit` units of pattern::DfaWork), granted before
// the build starts and stopping it when spent, so that a window bounds the
// time its products and patterns take.
#pragma once

#include <cstdint>
#include <limits>

namespace tessaron::descr {

inline constexpr std::uint64_t kUnboundedWork = std::numeric_limits<std::uint64_t>::max();
// The units of each conversion window and of the meet-and-emptiness step.
inline constexpr std::uint64_t kWindowUnits = 4096;
// Table cells of a text product per unit.
inline constexpr std::uint64_t kTextCellsPerUnit = 4096;
// Units of pattern::DfaWork (about a machine step each, minimisation
// included) per unit: a window's `kWindowUnits` compile patterns for at
// most about four million steps.
inline constexpr std::uint64_t kPatternWorkPerUnit = 1024;

// The step counter of one thread.  Each thread has its own, which only the
// functions below read and change.
struct WorkBudget {
    std::uint64_t units = kUnboundedWork;
};

// The counter of the calling thread.
std::uint64_t work_budget();
void set_work_budget(std::uint64_t units);

// A failing unit: false (nothing taken) when the counter is 0.
bool take_unit();
// A saturating unit: lowers a counter above 0; never fails.
void take_saturating_unit();
// `n` failing units at once: false when fewer are left, the counter then
// falling to 0 (what was there is spent).
bool take_units(std::uint64_t n);

// The table cells a text product may still compute before its charge
// exceeds the counter.
std::uint64_t text_work_allowance();
// Charges the cells a text product computed; false when the counter could
// not pay them.
bool charge_text_work(std::uint64_t cells);
// The pattern work a build may still do before its charge exceeds the
// counter; and the charge of the work it did (false when the counter could
// not pay it, the counter then at 0).
std::uint64_t pattern_work_allowance();
bool charge_pattern_work(std::uint64_t work);

class WorkWindow {
public:
    explicit WorkWindow(std::uint64_t units) : saved_(work_budget()) { set_work_budget(units); }
    ~WorkWindow() { set_work_budget(saved_); }
    WorkWindow(const WorkWindow&) = delete;
    WorkWindow& operator=(const WorkWindow&) = delete;

private:
    std::uint64_t saved_;
};

}  // namespace tessaron::descr
