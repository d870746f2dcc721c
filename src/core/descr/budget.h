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
// Small steps (the values shape searches weigh, the comparisons that walk
// nested descriptors) are charged one unit per `kSmallStepsPerUnit`; a
// failing small step is refused whenever the counter is 0.
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

// Small steps per unit: a value whose emptiness a shape search weighs, a
// comparison that walks two distinct shared descriptors.  Each is bounded
// work of about a microsecond or less, done by the hundreds where a meet
// does one pair, so they are charged in batches.
inline constexpr std::uint64_t kSmallStepsPerUnit = 64;

// The step counter of one thread.  Each thread has its own, which only the
// functions below read and change.  `small_steps` counts the small steps
// taken since the last one that took a unit.
struct WorkBudget {
    std::uint64_t units = kUnboundedWork;
    std::uint64_t small_steps = 0;
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

// A small step: false (nothing taken) when the counter is 0; every
// `kSmallStepsPerUnit`-th one takes a failing unit.
bool take_small_step();
// A small step that never fails: every `kSmallStepsPerUnit`-th one takes a
// saturating unit.
void take_saturating_small_step();

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

// Replaces the thread's whole budget (units and small steps), answering
// the one it held.
WorkBudget swap_work_budget(WorkBudget budget);

// A window starts with no small step taken, so what a window charges does
// not depend on what ran before it.
class WorkWindow {
public:
    explicit WorkWindow(std::uint64_t units) : saved_(swap_work_budget(WorkBudget{units, 0})) {}
    ~WorkWindow() { swap_work_budget(saved_); }
    WorkWindow(const WorkWindow&) = delete;
    WorkWindow& operator=(const WorkWindow&) = delete;

private:
    WorkBudget saved_;
};

}  // namespace tessaron::descr
