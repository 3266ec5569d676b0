#include "layout_set.h"

#include "core/text/gbk_codec.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <string_view>
#include <utility>

namespace logdesk {

namespace {

const std::string& RecordNumberTitle() {
    static const std::string title = Gbk("序号(ID)");
    return title;
}

} // namespace

std::int32_t FieldUnder(const HeaderLayout& header, const HeaderLayout& last, FieldSlot slot) {
    const std::int32_t column = last.fieldMap[slot];
    if (column <= 0 || column >= kMaxTableColumns) {
        return -1;
    }
    const auto at = last.fieldNames.begin() + (column - 1);
    auto occurrence = std::count(last.fieldNames.begin(), at, *at);
    for (std::size_t f = 0; f < header.fieldNames.size(); ++f) {
        if (header.fieldNames[f] == *at && occurrence-- == 0) {
            return static_cast<std::int32_t>(f);
        }
    }
    return -1;
}

std::array<std::int32_t, kPageFieldCount> PageFieldsUnder(const HeaderLayout& header,
                                                          const HeaderLayout& last) {
    std::array<std::int32_t, kPageFieldCount> fields{};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        fields[i] = FieldUnder(header, last, kPageRecordFields[i].slot);
    }
    return fields;
}

bool LayoutSet::streamedExactly(std::uint32_t lastLayout,
                                const std::vector<std::uint64_t>& rows) const {
    for (std::size_t l = 0; l < headers_.size() && l < rows.size(); ++l) {
        if (rows[l] > 0 &&
            PageFieldsUnder(headers_[l], headers_[lastLayout]) != data_.layouts_[l].pageFields) {
            return false;
        }
    }
    return true;
}

std::uint32_t LayoutSet::layoutFor(const HeaderLayout& header) {
    std::string key;
    for (const std::string& name : header.fieldNames) {
        key += name;
        key += '\0';
    }
    const auto [it, added] =
        index_.try_emplace(std::move(key), static_cast<std::uint32_t>(headers_.size()));
    if (!added) {
        return it->second;
    }
    RecordData::Layout layout;
    layout.fieldCount = header.fieldCount();
    layout.userAgentField = header.fieldMap[FieldSlot::UserAgent] - 1;
    layout.pageFields = PageFieldsUnder(header, streamHeader_ != nullptr ? *streamHeader_ : header);
    data_.layouts_.push_back(std::move(layout));
    headers_.push_back(header);
    return it->second;
}

std::uint32_t LayoutSet::buildColumns(std::uint32_t lastLayout,
                                      const std::vector<std::uint64_t>& rows) {
    // A field is known by its name and by which occurrence of that name it is.
    struct FieldKey {
        std::string_view name;
        int occurrence;
        bool operator==(const FieldKey&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const FieldKey& k) const {
            return std::hash<std::string_view>()(k.name) * 31 +
                   static_cast<std::size_t>(k.occurrence);
        }
    };
    auto keysOf = [](const HeaderLayout& header) {
        std::vector<FieldKey> keys;
        keys.reserve(header.fieldNames.size());
        std::unordered_map<std::string_view, int> seen;
        for (const std::string& name : header.fieldNames) {
            keys.push_back({name, seen[name]++});
        }
        return keys;
    };

    std::unordered_map<FieldKey, std::int32_t, KeyHash> columnOf;
    std::vector<std::string>& titles = data_.columnTitles_;
    titles.clear();
    titles.push_back(RecordNumberTitle());
    std::uint32_t dropped = 0;
    auto addColumn = [&](const FieldKey& key, const std::string& title) {
        if (columnOf.count(key) != 0) {
            return;
        }
        if (titles.size() >= static_cast<std::size_t>(kMaxTableColumns)) {
            columnOf.emplace(key, -1);
            ++dropped;
            return;
        }
        columnOf.emplace(key, static_cast<std::int32_t>(titles.size()));
        titles.push_back(title);
    };
    // The last header's fields first, then the fields only earlier headers
    // (with rows) had, in the order they appear.
    const HeaderLayout& last = headers_[lastLayout];
    {
        const std::vector<FieldKey> keys = keysOf(last);
        for (std::size_t f = 0; f < keys.size(); ++f) {
            addColumn(keys[f], last.fieldHeaders[f]);
        }
    }
    for (std::size_t l = 0; l < headers_.size(); ++l) {
        if (l == lastLayout || l >= rows.size() || rows[l] == 0) {
            continue;
        }
        const std::vector<FieldKey> keys = keysOf(headers_[l]);
        for (std::size_t f = 0; f < keys.size(); ++f) {
            addColumn(keys[f], headers_[l].fieldHeaders[f]);
        }
    }

    // Dense column maps cost layouts x columns; thousands of distinct
    // headers get sorted pairs instead.
    const bool dense = headers_.size() * titles.size() <= (std::size_t{1} << 22);
    for (std::size_t l = 0; l < headers_.size(); ++l) {
        RecordData::Layout& layout = data_.layouts_[l];
        const std::vector<FieldKey> keys = keysOf(headers_[l]);
        layout.fieldToColumn.assign(keys.size(), -1);
        layout.columnToField.clear();
        layout.sparseColumns.clear();
        if (dense) {
            layout.columnToField.assign(titles.size(), -1);
        }
        for (std::size_t f = 0; f < keys.size(); ++f) {
            const auto it = columnOf.find(keys[f]);
            const std::int32_t column = it == columnOf.end() ? -1 : it->second;
            layout.fieldToColumn[f] = column;
            if (column < 0) {
                continue;
            }
            if (dense) {
                layout.columnToField[static_cast<std::size_t>(column)] =
                    static_cast<std::int32_t>(f);
            } else {
                layout.sparseColumns.emplace_back(column, static_cast<std::int32_t>(f));
            }
        }
        std::sort(layout.sparseColumns.begin(), layout.sparseColumns.end());
    }
    return dropped;
}

void LayoutSet::finishTable(RecordData& data, LayoutSet& layouts,
                            std::optional<std::uint32_t> lastLayout,
                            const std::vector<std::uint64_t>& layoutRows,
                            const std::array<std::int64_t, kSpiderCount>& visits,
                            const std::vector<SpiderId>& firstSeen, LogImport& result) {
    if (lastLayout) {
        result.droppedFields = layouts.buildColumns(*lastLayout, layoutRows);
    }
    std::uint64_t records = 0;
    data.partFirst_.clear();
    for (RecordData::Part& part : data.parts_) {
        part.firstRecord = static_cast<std::uint32_t>(records);
        data.partFirst_.push_back(part.firstRecord);
        records += part.rows.size();
    }
    data.recordCount_ = static_cast<std::uint32_t>(records);

    std::string& digits = data.numberDigits_;
    digits.clear();
    char buf[16];
    for (std::uint64_t n = 1; n <= records; ++n) {
        const auto r = std::to_chars(buf, buf + sizeof buf, n);
        digits.append(buf, r.ptr);
    }
    for (SpiderId id : firstSeen) {
        result.tally.count(SpiderDisplayName(id),
                           static_cast<std::int32_t>(visits[static_cast<std::size_t>(id)]));
    }
    if (!result.rejected) {
        result.tally.finish();
    }
}

} // namespace logdesk
