#include "cell_colours.h"

namespace logdesk {

void CellColours::set(int row, int column, std::int32_t text, std::int32_t background,
                      std::int32_t listText, std::int32_t listBackground) {
    const auto key = std::make_pair(row, column);
    if (auto it = entries_.find(key); it != entries_.end()) {
        it->second = {text, background};
        return;
    }
    if (text == listText && background == listBackground) {
        return;
    }
    entries_.emplace(key, Colours{text, background});
}

std::optional<CellColours::Colours> CellColours::at(int row, int column) const {
    const auto it = entries_.find({row, column});
    if (it == entries_.end()) {
        return std::nullopt;
    }
    return it->second;
}

void CellColours::apply(const StatsTable& page, std::int32_t listText,
                        std::int32_t listBackground) {
    if (page.clearColours) {
        clear();
    }
    for (const auto& [row, column] : page.redCells) {
        set(row, column, kSummaryTextColour, listBackground, listText, listBackground);
    }
    for (const auto& [row, column] : page.plainCells) {
        set(row, column, kPlainTextColour, listBackground, listText, listBackground);
    }
}

} // namespace logdesk
