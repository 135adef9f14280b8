// Numbers as the dialog's fields show and read them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace quarvel {

// Room for "-2147483648" and its terminating NUL.
struct NumberText {
    wchar_t text[12];
    const wchar_t* c_str() const { return text; }
};

// Decimal digits of the magnitude, "-" in front of a negative value, no padding.
NumberText format_signed_decimal(int32_t value);
NumberText format_unsigned_decimal(uint32_t value);

// The number a field holds: leading blanks are skipped and the digits up to the first other
// character count; no digits read as 0. Returns std::nullopt for a number above 2147483647,
// including a negative one (which the player's own reading takes as a wrapped, huge value).
std::optional<int32_t> parse_field_number(const wchar_t* text);

}  // namespace quarvel
