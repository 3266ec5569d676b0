// Helpers for tests that import small logs.
#pragma once

#include "file_test_support.h"
#include "core/logimport/log_importer.h"
#include "core/text/gbk_codec.h"

#include <cstring>
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

// Imports the texts as the inputs of one LogImporter; each read result
// goes to `reads` when given.
inline Result<LogImport> ImportAll(const std::vector<std::string>& inputs,
                                   const ImportOptions& options,
                                   std::vector<InputRead>* reads = nullptr) {
    LogImporter importer({}, options);
    for (const std::string& input : inputs) {
        std::size_t at = 0;
        const Result<InputRead> read = importer.add(
            [&](char* buffer, std::size_t size) -> Result<std::size_t> {
                const std::size_t n = std::min(size, input.size() - at);
                std::memcpy(buffer, input.data() + at, n);
                at += n;
                return n;
            },
            input.size());
        if (!read) {
            return read.error();
        }
        if (reads != nullptr) {
            reads->push_back(*read);
        }
    }
    return importer.finish();
}

} // namespace logdesk::testing
