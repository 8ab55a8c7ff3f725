// Numbers as text that reads back the same in any locale: the data files' and the command
// line's words. The same text on every platform and toolchain (the C++ library of some, such as
// the WebAssembly build's, formats no floating-point value with std::to_chars).
#pragma once

#include <string>

namespace quillet {

// The shortest text that reads back as value, with '.' as the decimal point: the nearest of
// the fewest digits, written plainly (12.5, 100, 0.001) or with an exponent (1e+21, 1e-07),
// whichever is shorter, plainly when both are as long.
std::string ShortestText(double value);

// value with `decimals` digits after a '.' (rounded to nearest), as printf's %.Nf writes it.
std::string FixedText(double value, int decimals);

}  // namespace quillet
