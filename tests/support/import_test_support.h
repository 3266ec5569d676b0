// Helpers for tests that import small logs.
#pragma once

#include "file_test_support.h"
#include "logimport/log_importer.h"
#include "text/gbk_codec.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace logdesk::testing {

// What an import read; a failed import fails the test and gives an empty
// table.
inline LogImport Imported(Result<LogImport> result) {
    EXPECT_TRUE(result) << (result ? std::string() : result.error().line());
    return result ? std::move(result).value() : LogImport{};
}

// The table's rows as UTF-8 texts, one vector per row, columns in order.
inline std::vector<std::vector<std::string>> Rows(const RecordTable& table) {
    std::vector<std::vector<std::string>> rows;
    for (std::uint32_t r = 0; r < table.rowCount(); ++r) {
        std::vector<std::string> row;
        for (int c = 0; c < table.columnCount(); ++c) {
            row.push_back(GbkToUtf8(table.cell(RowIndex{r}, ColumnIndex{c})));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

inline std::vector<std::string> Titles(const RecordTable& table) {
    std::vector<std::string> titles;
    for (int c = 0; c < table.columnCount(); ++c) {
        titles.push_back(GbkToUtf8(table.columnTitle(ColumnIndex{c})));
    }
    return titles;
}

inline std::vector<std::pair<std::string, int>> Tally(const SpiderTally& tally) {
    std::vector<std::pair<std::string, int>> out;
    for (const SpiderTally::Entry& e : tally.entries()) {
        out.emplace_back(GbkToUtf8(e.name), e.count);
    }
    return out;
}

} // namespace logdesk::testing
