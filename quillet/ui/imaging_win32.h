// The name conversions and the encoder look-up of the GDI+ binding, for its checks.
#pragma once

#include <windows.h>

namespace quillet {

// Room for a file name in either form, terminator included.
inline constexpr int kNameUnits = 260;

// 8-bit name (ANSI code page) to 16-bit units; false, with out empty, when it does not
// convert or fit.
bool WidenBytes(const char* bytes, wchar_t (&out)[kNameUnits]);

// 16-bit units to an 8-bit name in the ANSI code page; false, with out empty, when a unit
// has no form there or the name does not fit.
bool NarrowUnits(const wchar_t* units, char (&out)[kNameUnits]);

// Index of the encoder for mimeType (exact match), its class identifier in clsid; -1 when
// the library is not available or has no such encoder.
int FindEncoderClsid(const wchar_t* mimeType, CLSID& clsid);

}  // namespace quillet
