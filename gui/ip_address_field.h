#pragma once
// The IP address field's rules: four parts, each blank or a decimal number of
// at most three digits up to 255. The view only draws the parts and reports
// what the user typed; what a part may hold, what the field's text is and
// when it counts as blank are decided here.

#include <array>
#include <cstdint>
#include <string>

namespace tw::gui {

class IpAddressField {
 public:
  using Parts = std::array<std::u16string, 4>;

  // All four parts blank.
  bool IsBlank() const;
  // "" when blank; else "a.b.c.d", a blank part written as 0.
  std::u16string Text() const;
  const Parts& GetParts() const { return parts_; }

  void Clear();
  void SetAddress(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d);
  // Reads "a.b.c.d" as the list rows are read (ParseAddressRow); "" clears.
  void SetText(const std::u16string& text);
  // The user typed into part `index`: digits are kept (at most three), a value
  // above 255 becomes 255. The part as the field now holds it.
  std::u16string EditPart(int index, const std::u16string& typed);

 private:
  Parts parts_;
};

// Reads four unsigned decimal numbers "%u.%u.%u.%u" from a row of the found
// printers' list: reading stops at the first number that cannot be read, and
// it and the numbers after it count as 0; each value is limited to 255.
std::array<std::uint8_t, 4> ParseAddressRow(const std::u16string& row);

}  // namespace tw::gui
