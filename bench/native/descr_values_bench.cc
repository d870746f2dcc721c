// Costs of the descriptor algebra's value sets: building the automaton of
// a typical pattern, products and unions of two of them, complements,
// literal chains, and integer and float set combinations.
//
// Run by `make bench-native` (a Release build); prints the median of many
// repetitions per operation.  Not a test: nothing here asserts a time.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "core/descr/values/integers.h"
#include "core/descr/values/float_set.h"
#include "core/descr/values/text_automaton.h"
#include "core/descr/values/text_product.h"

using namespace tessaron::descr;

namespace {

// Median wall time of one call, in microseconds.
template <class F>
double median_us(F&& f, int reps = 200) {
    std::vector<double> t;
    t.reserve(reps);
    for (int i = 0; i < reps; ++i) {
        const auto a = std::chrono::steady_clock::now();
        f();
        const auto b = std::chrono::steady_clock::now();
        t.push_back(std::chrono::duration<double, std::micro>(b - a).count());
    }
    std::nth_element(t.begin(), t.begin() + reps / 2, t.end());
    return t[reps / 2];
}

volatile std::size_t sink = 0;

struct Pattern {
    const char* name;
    const char* text;
};

const Pattern kPatterns[] = {
    {"email", "[a-z0-9._%+-]+@[a-z0-9.-]+\\.[a-z]{2,}"},
    {"iso date", "[0-9]{4}-[0-9]{2}-[0-9]{2}"},
    {"uuid", "[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}"},
    {"url", "https?://[^\\s/]+(/\\S*)?"},
    {"words", "[A-Z][a-z]*( [A-Z][a-z]*)*"},
    {"unicode digits", "\\d{4}-\\d{2}-\\d{2}"},
    {"unicode word", "\\w+"},
};

}  // namespace

int main() {
    std::printf("%-16s %8s %8s %12s %14s\n", "pattern", "states", "classes", "build (us)", "complement (us)");
    std::vector<SharedTextAutomaton> built;
    for (const Pattern& p : kPatterns) {
        SharedTextAutomaton a = pattern_automaton(p.text, TextKind::Str);
        if (!a) {
            std::printf("%-16s (not representable)\n", p.name);
            continue;
        }
        const double build = median_us([&] { sink = sink + pattern_automaton(p.text, TextKind::Str)->state_count(); });
        const double comp = median_us([&] { sink = sink + text_automaton_complement(a)->state_count(); });
        std::printf("%-16s %8zu %8u %12.1f %14.1f\n", p.name, a->state_count(), a->class_count, build, comp);
        built.push_back(a);
    }

    std::printf("\n%-34s %8s %10s %10s %10s\n", "product", "states", "work", "meet (us)", "join (us)");
    auto product_row = [&](const char* name, const SharedTextAutomaton& a, const SharedTextAutomaton& b) {
        const TextProduct m = combine_text_automata(a, b);
        const double meet = median_us([&] { sink = sink + combine_text_automata(a, b).work; });
        const double join = median_us([&] { sink = sink + text_automaton_union(a, b).work; });
        std::printf("%-34s %8zu %10llu %10.1f %10.1f\n", name, m.automaton ? m.automaton->state_count() : 0,
                    static_cast<unsigned long long>(m.work), meet, join);
    };
    product_row("email & url", built[0], built[3]);
    product_row("iso date & uuid", built[1], built[2]);
    product_row("words & email", built[4], built[0]);
    product_row("email & str universe", built[0], str_universe());
    product_row("email & not email", built[0], text_automaton_complement(built[0]));
    product_row("unicode digits & iso date", built[5], built[1]);
    product_row("unicode word & words", built[6], built[4]);
    product_row("max 64 str & min 8 str", max_length_automaton(64, TextKind::Str),
                min_length_automaton(8, TextKind::Str));

    std::printf("\n%-34s %10s\n", "other", "time (us)");
    const std::string text(64, 'x');
    std::printf("%-34s %10.1f\n", "literal, 64 bytes",
                median_us([&] { sink = sink + literal_text_automaton(text)->state_count(); }));
    const std::string long_text(4000, 'y');
    std::printf("%-34s %10.1f\n", "literal, 4000 bytes",
                median_us([&] { sink = sink + literal_text_automaton(long_text)->state_count(); }, 50));
    std::printf("%-34s %10.1f\n", "emptiness of email & url", median_us([&] {
                    sink = sink + text_automaton_is_empty(*combine_text_automata(built[0], built[3]).automaton);
                }));
    const IntSet m64 = *int_set_multiple_of(64);
    const IntSet m96 = *int_set_multiple_of(96);
    const IntSet range = int_set_from_bounds(-1000, 1000);
    std::printf("%-34s %10.1f\n", "int: mult 64 & mult 96",
                median_us([&] { sink = sink + int_set_intersection(m64, m96)->modulus; }));
    std::printf("%-34s %10.1f\n", "int: [-1000, 1000] | mult 96",
                median_us([&] { sink = sink + int_set_union(range, m96)->modulus; }));
    const FloatSet f = float_set_union(float_set_from_float_bound(BoundKind::Gt, 0.5),
                                       float_set_from_float_bound(BoundKind::Lt, -0.5));
    std::printf("%-34s %10.1f\n", "float: complement and meet",
                median_us([&] {
                    sink = sink + intersect_float_intervals(float_set_complement(f), f).intervals.size();
                }));
    return 0;
}
