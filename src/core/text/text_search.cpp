#include "text_search.h"

#include "gbk_text.h"

namespace logdesk {

std::string TextBetween(std::string_view text, std::string_view left, std::string_view right) {
    const TextPos leftPos = FindTextIgnoreCase(text, left, 1);
    if (leftPos == kNotFound) {
        return {};
    }
    const TextPos contentStart = leftPos + static_cast<TextPos>(left.size());
    const TextPos rightPos = FindTextIgnoreCase(text, right, contentStart);
    if (rightPos == kNotFound) {
        return {};
    }
    return std::string(text.substr(static_cast<std::size_t>(contentStart - 1),
                                   static_cast<std::size_t>(rightPos - contentStart)));
}

bool MatchAlternatives(std::string_view text, std::string_view alternatives, bool any) {
    for (std::string_view alternative : SplitText(alternatives, kAlternativesSeparator)) {
        const bool found = ContainsIgnoreCase(text, alternative);
        if (any && found) {
            return true;
        }
        if (!any && !found) {
            return false;
        }
    }
    return !any;
}

} // namespace logdesk
