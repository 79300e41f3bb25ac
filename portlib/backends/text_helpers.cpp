#include "portlib/backends/text_helpers.h"

#include <algorithm>
#include <cstdio>

namespace tw::portwire {
namespace {

char16_t Lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

}  // namespace

void SetBounded(PortText& field, std::u16string_view text) {
  SetText(field, text.substr(0, std::min(text.size(), kPortTextMaxChars)));
}

void CopyBounded(std::u16string_view text, char16_t* out, size_t units) {
  if (out == nullptr || units == 0) return;
  const size_t n = std::min(text.size(), units - 1);
  std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n), out);
  out[n] = u'\0';
}

size_t FindIgnoringCase(std::u16string_view text, std::u16string_view lowerNeedle, size_t from) {
  if (lowerNeedle.empty()) return from <= text.size() ? from : std::u16string_view::npos;
  for (size_t i = from; i + lowerNeedle.size() <= text.size(); ++i) {
    size_t k = 0;
    while (k < lowerNeedle.size() && Lower(text[i + k]) == lowerNeedle[k]) ++k;
    if (k == lowerNeedle.size()) return i;
  }
  return std::u16string_view::npos;
}

bool ContainsIgnoringCase(std::u16string_view text, std::u16string_view lowerNeedle) {
  return FindIgnoringCase(text, lowerNeedle) != std::u16string_view::npos;
}

std::u16string FormatNumber3(int number) {
  char text[16];
  std::snprintf(text, sizeof text, "%03d", number);
  return std::u16string(text, text + std::char_traits<char>::length(text));
}

}  // namespace tw::portwire
