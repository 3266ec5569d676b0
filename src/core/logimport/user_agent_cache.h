// The crawler of each user agent an import meets, identified once per
// distinct agent.
#pragma once

#include "core/base/text_hash.h"
#include "spider_catalogue.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace logdesk {

// Crawler identification costs up to 30 case-folding searches; a log repeats
// few distinct agents, so each distinct agent is identified once. The keys
// view into the import's buffers, which outlive the cache; an empty agent (a
// line that stops before the field) is a key like any other.
class UserAgentCache {
public:
    // With `ownKeys` the cache keeps copies of the agents it stores, for an
    // import whose buffers are reused as soon as their lines are taken.
    explicit UserAgentCache(bool ownKeys = false, Crawlers crawlers = Crawlers::Classic)
        : slots_(kFirstSlots), ownKeys_(ownKeys), crawlers_(crawlers) {}

    SpiderId identify(std::string_view agent) {
        const std::uint64_t h = HashShortText(agent);
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = h & mask;
        for (;;) {
            Slot& slot = slots_[i];
            if (!slot.used) {
                const SpiderId id = IdentifySpider(agent, crawlers_);
                ++identifications_;
                if (used_ < kMostSlots / 2) {
                    const char* key = agent.data();
                    if (ownKeys_ && !agent.empty()) {
                        kept_.push_back(std::make_unique_for_overwrite<char[]>(agent.size()));
                        std::memcpy(kept_.back().get(), agent.data(), agent.size());
                        key = kept_.back().get();
                    }
                    slot = {key, agent.size(), h, id, true};
                    if (++used_ >= slots_.size() / 2 && slots_.size() < kMostSlots) {
                        grow();
                    }
                }
                return id;
            }
            if (slot.hash == h && slot.size == agent.size() &&
                (agent.empty() || std::memcmp(slot.data, agent.data(), agent.size()) == 0)) {
                return slot.id;
            }
            i = (i + 1) & mask;
        }
    }

    std::uint64_t identifications() const { return identifications_; }

private:
    // The table starts small (a log repeats few distinct agents, and every
    // thread of an import has a cache) and doubles while half full, up to
    // kMostSlots; past half of that, agents are identified without a slot.
    static constexpr std::size_t kFirstSlots = std::size_t{1} << 10;
    static constexpr std::size_t kMostSlots = std::size_t{1} << 16;
    struct Slot {
        const char* data = nullptr;
        std::size_t size = 0;
        std::uint64_t hash = 0;
        SpiderId id = SpiderId::Unknown;
        bool used = false;
    };
    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        const std::size_t mask = slots_.size() - 1;
        for (const Slot& slot : old) {
            if (slot.used) {
                std::size_t i = slot.hash & mask;
                while (slots_[i].used) {
                    i = (i + 1) & mask;
                }
                slots_[i] = slot;
            }
        }
    }

    std::vector<Slot> slots_;
    bool ownKeys_;
    Crawlers crawlers_;
    std::vector<std::unique_ptr<char[]>> kept_;
    std::size_t used_ = 0;
    std::uint64_t identifications_ = 0;
};

} // namespace logdesk
