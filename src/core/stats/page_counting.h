// What the statistics pages' accumulators share: distinct texts numbered in
// order of first sight, a record's crawler as a small number, the crawler
// filter as that number, and the tally's place of each crawler. Internal to
// the page builds (page_builds.cpp, seo_pages.cpp).
#pragma once

#include "core/base/platform.h"
#include "core/base/text_hash.h"
#include "core/logimport/crawler_registry.h"
#include "core/logimport/record_consumer.h"
#include "core/logimport/spider_catalogue.h"
#include "page_builds.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace logdesk {

// Distinct texts in order of first occurrence, each numbered from 0 in that
// order. Open addressing over copies of the texts kept together, each behind
// its length: a look-up touches its slot and one kept copy, a few megabytes
// in all, instead of a cell's scattered place in the log's buffers.
class FirstSeen {
public:
    FirstSeen() : slots_(16) {}

    static std::uint32_t Hash(std::string_view text) {
        return static_cast<std::uint32_t>(HashShortText(text));
    }
    // Starts fetching the slot a text of this hash is looked up in.
    void prefetch(std::uint32_t hash) const {
        __builtin_prefetch(&slots_[hash & (slots_.size() - 1)]);
    }
    std::uint32_t add(std::string_view text) { return add(text, Hash(text)); }
    // `hash` is Hash(text).
    std::uint32_t add(std::string_view text, std::uint32_t hash) {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.kept == nullptr) {
                const auto id = static_cast<std::uint32_t>(texts_.size());
                slot = {hash, id, keep(text)};
                texts_.push_back(Kept(slot.kept));
                if (texts_.size() * 2 > slots_.size()) {
                    grow();
                }
                return id;
            }
            if (slot.hash == hash && Kept(slot.kept) == text) {
                return slot.id;
            }
        }
    }
    std::size_t size() const { return texts_.size(); }
    std::string_view text(std::size_t id) const { return texts_[id]; }
    // Adds every text of `later` in its order, as a join does: result[id]
    // is this set's id of later's text `id`.
    std::vector<std::uint32_t> addAll(const FirstSeen& later) {
        std::vector<std::uint32_t> ids(later.size());
        for (std::size_t id = 0; id < ids.size(); ++id) {
            ids[id] = add(later.text(id));
        }
        return ids;
    }

private:
    struct Slot {
        std::uint32_t hash = 0;
        std::uint32_t id = 0;
        const char* kept = nullptr; // null: free
    };
    static constexpr std::size_t kBlockBytes = std::size_t{1} << 16;
    static constexpr std::size_t kLengthBytes = sizeof(std::uint32_t);

    static std::string_view Kept(const char* kept) {
        std::uint32_t length = 0;
        std::memcpy(&length, kept, kLengthBytes);
        return {kept + kLengthBytes, length};
    }

    const char* keep(std::string_view text) {
        const std::size_t bytes = kLengthBytes + text.size();
        if (bytes > blockFree_) {
            blockFree_ = std::max(kBlockBytes, bytes);
            blocks_.push_back(std::make_unique_for_overwrite<char[]>(blockFree_));
            blockNext_ = blocks_.back().get();
        }
        char* kept = blockNext_;
        const auto length = static_cast<std::uint32_t>(text.size());
        std::memcpy(kept, &length, kLengthBytes);
        std::copy(text.begin(), text.end(), kept + kLengthBytes);
        blockNext_ += bytes;
        blockFree_ -= bytes;
        return kept;
    }

    void grow() {
        std::vector<Slot, BigBufferAllocator<Slot>> old(slots_.size() * 2);
        old.swap(slots_);
        const std::size_t mask = slots_.size() - 1;
        for (const Slot& slot : old) {
            if (slot.kept != nullptr) {
                std::size_t i = slot.hash & mask;
                while (slots_[i].kept != nullptr) {
                    i = (i + 1) & mask;
                }
                slots_[i] = slot;
            }
        }
    }

    std::vector<Slot, BigBufferAllocator<Slot>> slots_;
    std::vector<std::string_view> texts_;
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* blockNext_ = nullptr;
    std::size_t blockFree_ = 0;
};

// What the pages count a record's crawler as: the SpiderId its user-agent
// cell names (PageRecord::crawler), or kNoCrawler for a cell that names
// none (empty, or another field's text under another header), which no
// tally entry counts.
using CrawlerSlot = std::uint8_t;
constexpr CrawlerSlot kNoCrawler = kSpiderCount;
constexpr std::size_t kCrawlerSlots = kSpiderCount + 1;

inline CrawlerSlot SlotOf(const PageRecord& record) {
    const std::optional<SpiderId> crawler = record.crawler();
    return crawler ? static_cast<CrawlerSlot>(*crawler) : kNoCrawler;
}

inline std::string_view SlotText(CrawlerSlot slot) {
    return slot == kNoCrawler ? std::string_view()
                              : std::string_view(SpiderDisplayName(static_cast<SpiderId>(slot)));
}

// The filter as the slot of the records it lets through: a display name
// outside the catalogue lets none through, the empty one the records whose
// user-agent cell is empty.
class CrawlerMatch {
public:
    explicit CrawlerMatch(const SpiderFilter& filter) {
        if (!filter.displayName) {
            return;
        }
        all_ = false;
        if (filter.displayName->empty()) {
            emptyCell_ = true;
        } else if (const SpiderInfo* spider = FindSpiderByDisplayName(*filter.displayName)) {
            slot_ = static_cast<CrawlerSlot>(spider->id);
        }
    }
    bool counts(const PageRecord& record) const {
        return all_ || (emptyCell_ ? record.agent.empty() : SlotOf(record) == slot_);
    }
    bool allTraffic() const { return all_; }

private:
    bool all_ = true;
    bool emptyCell_ = false;
    int slot_ = -1; // none
};

// The tally position of each crawler; the first of equal names counts, and
// a name outside the catalogue has no records.
inline std::array<int, kCrawlerSlots> TallyPositions(const SpiderTally& tally) {
    std::array<int, kCrawlerSlots> positions;
    positions.fill(-1);
    for (std::size_t i = 0; i < tally.entries().size(); ++i) {
        if (const SpiderInfo* spider = FindSpiderByDisplayName(tally.entries()[i].name)) {
            int& position = positions[static_cast<std::size_t>(spider->id)];
            if (position < 0) {
                position = static_cast<int>(i);
            }
        }
    }
    return positions;
}

} // namespace logdesk
