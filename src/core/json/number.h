// Reading JSON number texts exactly.
//
// The parser hands over each number's text (it has checked the grammar).
// A text with a fraction or an exponent is a float, read here with
// correct rounding; an integer text that does not fit in 64 bits is kept as
// text by the sinks (a "big int").
#pragma once

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

}  // namespace tessaron::json
