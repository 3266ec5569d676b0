#include "core/stats/list_sort.h"
#include "core/text/gbk_codec.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>

namespace logdesk {
namespace {

std::vector<std::uint32_t> Sort(const std::vector<std::string>& cells, SortKind kind,
                                bool ascending = true) {
    return SortOrder(
        static_cast<std::uint32_t>(cells.size()),
        [&](std::uint32_t r) -> std::string_view { return cells[r]; }, kind, ascending);
}

using Order = std::vector<std::uint32_t>;

TEST(ListSortTest, EqualKeysGoWhereTheInsertionPutsThem) {
    EXPECT_EQ(Sort({"5", "5"}, SortKind::Number), (Order{0, 1}));
    EXPECT_EQ(Sort({"5", "7", "5"}, SortKind::Number), (Order{2, 0, 1}));
    EXPECT_EQ(Sort({"5", "7", "5"}, SortKind::Number, false), (Order{1, 0, 2}));
    // A key equal to a middle key goes right after the one the bisection meets.
    EXPECT_EQ(Sort({"1", "9", "5", "3", "5"}, SortKind::Number), (Order{0, 3, 2, 4, 1}));
    EXPECT_EQ(Sort({}, SortKind::Text), Order{});
}

TEST(ListSortTest, KeysAndNumbers) {
    EXPECT_EQ(Sort({"10", "2", "1"}, SortKind::Text), (Order{2, 0, 1}));
    EXPECT_EQ(Sort({Gbk("10时"), Gbk("9时"), Gbk("23时")}, SortKind::Number), (Order{1, 0, 2}));
    EXPECT_DOUBLE_EQ(SortNumber("192.0.2.1"), 192.0);
    EXPECT_DOUBLE_EQ(SortNumber("10.1.2.3"), 10.1);
    EXPECT_DOUBLE_EQ(SortNumber("200|0"), 200.0);
    EXPECT_DOUBLE_EQ(SortNumber(Gbk("１２．５")), 12.5);
    EXPECT_DOUBLE_EQ(SortNumber("-"), 0.0);
    // Blanks, full-width ones too, do not take part in the key; tabs do.
    EXPECT_EQ(SortKey(" \xA1\xA1"
                      "ab \xA1\xA1"),
              "ab");
    EXPECT_EQ(Sort({"  b", "a ", "\tc"}, SortKind::Text), (Order{2, 1, 0}));
    // Within 1e-7 counts as equal.
    EXPECT_EQ(Sort({"1.00000001", "1"}, SortKind::Number), (Order{0, 1}));
    EXPECT_EQ(Sort({"1.00000001", "1", "0.5", "1.00000001"}, SortKind::Number),
              SortOrderByInsertion({"1.00000001", "1", "0.5", "1.00000001"}, SortKind::Number));
}

TEST(ListSortTest, NumbersAreReadInDecimalNotationOnly) {
    // What atof would read if it knew decimal notation alone: never NaN.
    const std::vector<std::string> zeros = {"nan",      "NaN(1)", "inf",   "-inf",
                                            "infinity", "0x1A",   "0X1p3", ".",
                                            "+",        "-.",     "e5",    Gbk("ｎａｎ")};
    for (const std::string& zero : zeros) {
        EXPECT_EQ(SortNumber(zero), 0.0) << zero;
    }
    EXPECT_DOUBLE_EQ(SortNumber("\t\n 12"), 12.0);
    EXPECT_DOUBLE_EQ(SortNumber("+5x"), 5.0);
    EXPECT_DOUBLE_EQ(SortNumber("-.5e1"), -5.0);
    EXPECT_DOUBLE_EQ(SortNumber("5."), 5.0);
    EXPECT_DOUBLE_EQ(SortNumber("2e"), 2.0);
    EXPECT_DOUBLE_EQ(SortNumber("2E+"), 2.0);
    EXPECT_DOUBLE_EQ(SortNumber("2e-x"), 2.0);
    EXPECT_DOUBLE_EQ(SortNumber("2E+2h"), 200.0);
    EXPECT_DOUBLE_EQ(SortNumber("1.5e-3"), 0.0015);
    EXPECT_EQ(SortNumber("1e999"), HUGE_VAL);
    EXPECT_EQ(SortNumber("-1e999"), -HUGE_VAL);
    EXPECT_EQ(SortNumber("1e-999"), 0.0);
    EXPECT_DOUBLE_EQ(SortNumber(std::string(100, '0') + "7"), 7.0);

    // An infinity equals itself and exceeds every finite number, with or
    // without near-equal neighbours.
    for (const std::vector<std::string>& keys :
         {std::vector<std::string>{"1e999", "5", "1e999", "-1e999", "nan", "1e400", "-1e999"},
          std::vector<std::string>{"1e999", "0.00000005", "-1e999", "0", "1e999", "0.0000001",
                                   "-1e999", "inf"}}) {
        for (bool ascending : {true, false}) {
            EXPECT_EQ(Sort(keys, SortKind::Number, ascending),
                      SortOrderByInsertion(keys, SortKind::Number, ascending));
        }
    }
    EXPECT_EQ(Sort({"1e999", "1e400", "7"}, SortKind::Number), (Order{2, 0, 1}));
}

TEST(ListSortTest, TextComparesDoubleByteCharactersAsUnits) {
    // 0x81 before 0x7F is a lone byte; 0x81 0x40 is one character. As units,
    // "\x81" < "\x81\x40" although byte 0x7F is above 0x40.
    EXPECT_LT(CompareSortText("\x81\x7F", "\x81\x40"), 0);
    EXPECT_GT(CompareSortText("b", "a"), 0);
    EXPECT_LT(CompareSortText("a", "ab"), 0);
    EXPECT_EQ(CompareSortText(Gbk("百度"), Gbk("百度")), 0);
}

// The fast order against the literal insertion on many random small lists
// with plenty of equal keys.
TEST(ListSortTest, MatchesTheInsertionOnRandomLists) {
    std::mt19937 random(12345);
    const std::vector<std::string> alphabet = {"1", "2", "10",  "2.5", " 3", "a",    "B",
                                               "",  "-", "7时", "0",   "-1", "10.1", "\xB0\xA1"};
    for (int round = 0; round < 4000; ++round) {
        const std::size_t rows = random() % 40;
        std::vector<std::string> keys;
        for (std::size_t r = 0; r < rows; ++r) {
            keys.push_back(alphabet[random() % alphabet.size()]);
        }
        for (SortKind kind : {SortKind::Number, SortKind::Text}) {
            for (bool ascending : {true, false}) {
                std::vector<std::string> trimmed;
                for (const std::string& k : keys) {
                    trimmed.emplace_back(SortKey(k));
                }
                ASSERT_EQ(Sort(keys, kind, ascending),
                          SortOrderByInsertion(trimmed, kind, ascending))
                    << "round " << round;
            }
        }
    }
}

// Numbers in chains of steps below 1e-7, where "equal" is not transitive, so
// the order depends on which keys each bisection meets; with duplicates.
std::string NearEqualKey(int step) {
    char text[32];
    std::snprintf(text, sizeof text, "%.12g", step * 0.6e-7);
    return text;
}

void ExpectInsertionOrder(const std::vector<std::string>& keys, const std::string& what) {
    for (bool ascending : {true, false}) {
        ASSERT_EQ(Sort(keys, SortKind::Number, ascending),
                  SortOrderByInsertion(keys, SortKind::Number, ascending))
            << what << (ascending ? " ascending" : " descending");
    }
}

TEST(ListSortTest, NearEqualNumbersMatchTheInsertion) {
    std::mt19937 random(2024);
    for (int round = 0; round < 3000; ++round) {
        const std::size_t rows = random() % 60;
        const int spread = 1 + static_cast<int>(random() % 40);
        std::vector<std::string> keys;
        for (std::size_t r = 0; r < rows; ++r) {
            // Now and then a key far from the chain, or one already drawn.
            if (random() % 8 == 0) {
                keys.push_back(std::to_string(static_cast<int>(random() % 5) - 2));
            } else if (random() % 4 == 0 && !keys.empty()) {
                keys.push_back(keys[random() % keys.size()]);
            } else {
                keys.push_back(NearEqualKey(static_cast<int>(random() % spread)));
            }
        }
        ExpectInsertionOrder(keys, "round " + std::to_string(round));
    }

    // Lists large enough for the tree to split its leaves and inner nodes
    // many times, in random order.
    for (int size : {1000, 4000, 10000}) {
        std::vector<std::string> keys;
        for (int k = 0; k < size; ++k) {
            keys.push_back(NearEqualKey(k % (size / 2)));
        }
        std::shuffle(keys.begin(), keys.end(), random);
        ExpectInsertionOrder(keys, "shuffled " + std::to_string(size));
    }
    // Nearly ascending keys are cheap for the literal insertion, so a list
    // deep enough for several inner levels can be checked against it.
    std::vector<std::string> keys;
    for (int k = 0; k < 100000; ++k) {
        keys.push_back(NearEqualKey(k + static_cast<int>(random() % 50)));
    }
    ExpectInsertionOrder(keys, "nearly ascending");
}

// Lists of thousands of rows against the literal insertion: runs of equal
// keys long and short, empty cells, double-byte text with and without the
// bytes where unit order differs from byte order, numbers that order
// totally and chains that do not.
TEST(ListSortTest, LongListsMatchTheInsertion) {
    std::mt19937 random(99);
    auto gbkText = [&] {
        std::string text(random() % 3 == 0 ? "/" : "");
        for (std::size_t n = random() % 4; n > 0; --n) {
            text += static_cast<char>(0x81 + random() % 0x7E);
            text += static_cast<char>(0x40 + random() % 0xBF);
        }
        return text + std::to_string(random() % 4);
    };
    for (int round = 0; round < 12; ++round) {
        const bool special = round % 2 == 1;    // keys with 0x7F or 0xFF
        const bool nearEqual = round % 3 == 2;  // numbers that do not order totally
        const std::size_t poolSize = round % 4 == 0 ? 4 : 40 + random() % 400;
        std::vector<std::string> pool = {"", " ", "-0", "0", "1e999", Gbk("１２"), "12 "};
        if (special) {
            pool.insert(pool.end(), {"\x81\x7F", "\x81\x40", "\xFF", "a\x7F"});
        }
        while (pool.size() < poolSize) {
            pool.push_back(random() % 2 == 0 ? gbkText() : std::to_string(random() % 1000));
        }
        std::vector<std::string> keys(2000 + random() % 4000);
        for (std::string& key : keys) {
            key = nearEqual && random() % 2 == 0 ? NearEqualKey(static_cast<int>(random() % 3000))
                                                 : pool[random() % pool.size()];
        }
        std::vector<std::string> trimmed;
        for (const std::string& key : keys) {
            trimmed.emplace_back(SortKey(key));
        }
        for (SortKind kind : {SortKind::Number, SortKind::Text}) {
            for (bool ascending : {true, false}) {
                ASSERT_EQ(Sort(keys, kind, ascending),
                          SortOrderByInsertion(trimmed, kind, ascending))
                    << "round " << round << (kind == SortKind::Text ? " text" : " number")
                    << (ascending ? " ascending" : " descending");
            }
        }
    }
}

} // namespace
} // namespace logdesk

namespace logdesk {
namespace {

TEST(ListSortTest, SameOrderOnAnyNumberOfThreads) {
    // Lists long enough to be sorted in pieces: many equal keys, full-width
    // and double-byte text, numbers with ties.
    std::mt19937 rng(17);
    const std::vector<std::string> pieces = {"a",  "b", "\xA3\xB1", "\x81\x7F", "1",
                                             "10", " ", "\xFF",     "x"};
    for (int round = 0; round < 6; ++round) {
        std::vector<std::string> keys(100000 + rng() % 50000);
        for (std::string& key : keys) {
            const int n = static_cast<int>(rng() % 4);
            for (int i = 0; i < n; ++i) {
                key += pieces[rng() % pieces.size()];
            }
        }
        auto cellOf = [&](std::uint32_t r) { return std::string_view(keys[r]); };
        const auto rows = static_cast<std::uint32_t>(keys.size());
        for (SortKind kind : {SortKind::Text, SortKind::Number}) {
            const bool up = round % 2 == 0;
            EXPECT_EQ(SortOrder(rows, cellOf, kind, up, {}, {1, 0}),
                      SortOrder(rows, cellOf, kind, up, {}, {3, 0}))
                << "round " << round;
        }
    }
}

} // namespace
} // namespace logdesk
