// Reading JSON number texts exactly.
//
// The parser hands over each number's text (it has checked the grammar).
// A text with a fraction or an exponent is a float, read here with
// correct rounding; an integer text that does not fit in 64 bits is kept as
// text by the sinks (a "big int").
#pragma once

#include <string>
#include <string_view>

namespace tessaron::json {

// Whether a number text is written with a fraction or an exponent.
inline bool is_float_text(std::string_view text) {
    return text.find_first_of(".eE") != std::string_view::npos;
}

enum class FloatRead : unsigned char { Ok, Overflow };

// The double nearest to `text` (a JSON number).  A value too small for a
// double reads as a zero of the text's sign; one too large is `Overflow`.
FloatRead read_float(std::string_view text, double& out);

// The parser holds a number's exponent in an int and refuses a longer one
// ("0e2147483648"), though the value of such a number is plain: zero when
// its digits are all zeros or the exponent is negative, too large for a
// double otherwise.  This answers `input` with every number whose exponent
// has more than nine significant digits replaced by a number of the same
// length and the same value class ("0e000000000" or "-0e00000000" for a
// zero of its sign, "1e00000999" for one too large), so a second parse reads
// the values and reports every position as in the original.  Strings are
// left alone.
std::string rewrite_long_exponents(std::string_view input);

}  // namespace tessaron::json
