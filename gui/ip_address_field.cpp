#include "gui/ip_address_field.h"

#include <algorithm>

namespace tw::gui {
namespace {

std::u16string Decimal(unsigned v) {
  const std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

bool IpAddressField::IsBlank() const {
  return std::all_of(parts_.begin(), parts_.end(), [](const std::u16string& p) { return p.empty(); });
}

std::u16string IpAddressField::Text() const {
  if (IsBlank()) return {};
  std::u16string text;
  for (int i = 0; i < 4; ++i) {
    if (i) text += u'.';
    text += parts_[i].empty() ? u"0" : parts_[i];
  }
  return text;
}

void IpAddressField::Clear() {
  for (auto& p : parts_) p.clear();
}

void IpAddressField::SetAddress(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  const std::uint8_t v[4] = {a, b, c, d};
  for (int i = 0; i < 4; ++i) parts_[i] = Decimal(v[i]);
}

void IpAddressField::SetText(const std::u16string& text) {
  if (text.empty()) {
    Clear();
    return;
  }
  const auto v = ParseAddressRow(text);
  SetAddress(v[0], v[1], v[2], v[3]);
}

std::u16string IpAddressField::EditPart(int index, const std::u16string& typed) {
  if (index < 0 || index > 3) return {};
  std::u16string digits;
  for (char16_t c : typed) {
    if (IsDigit(c) && digits.size() < 3) digits.push_back(c);
  }
  if (!digits.empty()) {
    unsigned v = 0;
    for (char16_t c : digits) v = v * 10 + static_cast<unsigned>(c - u'0');
    // Leading zeros are dropped the way the number is shown everywhere else.
    digits = Decimal(std::min(v, 255u));
  }
  parts_[index] = digits;
  return digits;
}

std::array<std::uint8_t, 4> ParseAddressRow(const std::u16string& row) {
  std::array<std::uint8_t, 4> out{};
  std::size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (pos >= row.size() || row[pos] != u'.') break;
      ++pos;
    }
    // %u skips leading white space and takes an optional sign.
    while (pos < row.size() && (row[pos] == u' ' || row[pos] == u'\t')) ++pos;
    if (pos < row.size() && row[pos] == u'+') ++pos;
    if (pos >= row.size() || !IsDigit(row[pos])) break;
    unsigned long long v = 0;
    while (pos < row.size() && IsDigit(row[pos])) {
      v = std::min<unsigned long long>(v * 10 + static_cast<unsigned>(row[pos] - u'0'), 1000);
      ++pos;
    }
    out[i] = static_cast<std::uint8_t>(std::min<unsigned long long>(v, 255));
  }
  return out;
}

}  // namespace tw::gui
