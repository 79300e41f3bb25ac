#pragma once
// Small text steps shared by the two driver-software backends.

#include <string>
#include <string_view>

#include "shared/port_settings.h"

namespace tw::portwire {

// Stores `text` in a record field, cut to 259 characters.
void SetBounded(PortText& field, std::u16string_view text);
// Copies `text` with a terminator into `out` of `units` units, cut to fit.
void CopyBounded(std::u16string_view text, char16_t* out, size_t units);
// ASCII case-insensitive search; `needle` is given in lower case.
bool ContainsIgnoringCase(std::u16string_view text, std::u16string_view lowerNeedle);
// Position of `lowerNeedle` in `text` ignoring ASCII case, from `from`.
size_t FindIgnoringCase(std::u16string_view text, std::u16string_view lowerNeedle, size_t from = 0);
// "%03d".
std::u16string FormatNumber3(int number);

}  // namespace tw::portwire
