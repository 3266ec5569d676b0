// Marker and alternatives searches shared by the windows and the page decoding.
#pragma once

#include <string>
#include <string_view>

namespace logdesk {

// Separator of an alternatives list such as "日期[fg]时间[fg]URL".
inline constexpr std::string_view kAlternativesSeparator = "[fg]";

// The text between the first `left` marker and the first `right` marker after
// it, both found ignoring ASCII case; empty when either is missing.
std::string TextBetween(std::string_view text, std::string_view left, std::string_view right);

// Whether text contains (ignoring ASCII case) any (any = true) or all
// (any = false) of the "[fg]"-separated alternatives. An empty list gives
// false in any mode and true in all mode.
bool MatchAlternatives(std::string_view text, std::string_view alternatives, bool any);

} // namespace logdesk
