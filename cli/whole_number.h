// Whole and decimal numbers from command lines and stream headers.
#pragma once

#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>
#include <system_error>

namespace zeverive::cli {

// The number `text` spells in `base`, all of it: no sign for unsigned
// types, no spaces, no "+", nothing left over, nothing out of range.
template <typename Integer>
std::optional<Integer> whole_number(std::string_view text, int base = 10) {
    Integer value{};
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, base);
    if (error != std::errc() || stop != end) return std::nullopt;
    return value;
}

// A decimal number as people write one, all of `text`: digits with at most
// one point and an optional leading "-"; no exponent, no hexadecimal, no
// spaces, and nothing that is not finite ("nan", "inf").
inline std::optional<double> decimal_number(std::string_view text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    if (error != std::errc() || stop != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace zeverive::cli
