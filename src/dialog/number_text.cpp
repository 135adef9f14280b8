#include "dialog/number_text.h"

namespace quarvel {

namespace {

NumberText format(uint32_t magnitude, bool negative) {
    wchar_t digits[10];
    size_t n = 0;
    do {
        digits[n++] = static_cast<wchar_t>(L'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);

    NumberText out{};
    size_t i = 0;
    if (negative) out.text[i++] = L'-';
    while (n > 0) out.text[i++] = digits[--n];
    out.text[i] = L'\0';
    return out;
}

bool is_blank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}
bool is_digit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

}  // namespace

NumberText format_signed_decimal(int32_t value) {
    // Negate in unsigned arithmetic so that the smallest value keeps all ten digits.
    const uint32_t bits = static_cast<uint32_t>(value);
    return value < 0 ? format(0u - bits, true) : format(bits, false);
}

NumberText format_unsigned_decimal(uint32_t value) {
    return format(value, false);
}

std::optional<int32_t> parse_field_number(const wchar_t* text) {
    const wchar_t* p = text;
    while (is_blank(*p)) ++p;
    const bool negative = *p == L'-';
    if (negative) ++p;

    constexpr uint64_t largest = 2147483647u;
    uint64_t value = 0;
    bool any_digit = false;
    bool above = false;
    for (; is_digit(*p); ++p) {
        any_digit = true;
        value = value * 10 + static_cast<uint64_t>(*p - L'0');
        if (value > largest) {
            above = true;
            value = largest;  // keep the arithmetic bounded; the verdict is made
        }
    }
    if (!any_digit) return 0;
    if (above) return std::nullopt;
    if (negative && value != 0) return std::nullopt;
    return static_cast<int32_t>(value);
}

}  // namespace quarvel
