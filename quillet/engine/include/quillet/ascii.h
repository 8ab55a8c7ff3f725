// Letter case of ASCII only, as option names and the ".bmp" ending compare: no locale.
#pragma once

namespace quillet {

inline char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace quillet
