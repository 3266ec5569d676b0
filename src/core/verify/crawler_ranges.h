// The address ranges search engines publish for their crawlers, fetched when
// the user asks, kept in the settings folder with their date and source, and
// asked by the verifier before DNS: an address inside the claimed crawler's
// published range is 真 whatever DNS says; one outside still needs the DNS
// check.
//
// Storage: one file per source, "crawler-ranges-ID.txt" in the folder given,
// ASCII with CR LF: "# source URL", "# fetched YYYY-MM-DD HH:MM:SS UTC", then
// one range a line ("66.249.64.0/27", "2001:4860:4801:10::/64"). A file is
// replaced whole, and only by a download that parsed with at least one
// range, so a damaged download keeps the previous copy.
//
// Threads: nothing here is shared; UpdatePublishedRanges waits for the
// network and belongs on a worker.
#pragma once

#include "core/base/cancel_token.h"
#include "core/base/result.h"
#include "core/logimport/spider_catalogue.h"
#include "core/verify/dns_resolver.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace logdesk {

// An address block: the base address and how many leading bits count.
struct IpRange {
    IpAddress base{};
    int prefixLength = 32;

    // "a.b.c.d/n" (n 0-32), "x::y/n" (n 0-128), or a bare address (the whole
    // address). Bits of the base beyond the prefix are ignored. Nothing for
    // anything else.
    static std::optional<IpRange> Parse(std::string_view text);
    bool contains(const IpAddress& address) const;
    std::string text() const;
};

enum class RangeFormat : std::uint8_t {
    // {"creationTime": ..., "prefixes": [{"ipv4Prefix": "..."}, {"ipv6Prefix":
    // "..."}]}, as Google, Bing, Apple and OpenAI publish them.
    PrefixJson,
    // A help page listing the addresses as items ("<li>a.b.c.d</li>", or "- a.b.c.d"
    // lines), as DuckDuckGo publishes them.
    AddressList,
};

struct RangeSource {
    std::string_view id;  // the file's name part, ASCII
    std::string_view url; // where the owner documents it
    SpiderId spider;      // the catalogue crawler whose claims it settles
    RangeFormat format;
};

// Every source, Google's first. Program-wide constant.
std::span<const RangeSource> RangeSources();

// The ranges of a downloaded body; an Error (GBK cause) for a body that is
// not of the format, holds an entry that is no range, or holds none.
Result<std::vector<IpRange>> ParseRangeBody(RangeFormat format, std::string_view body);

// One source's stored copy.
struct StoredRanges {
    std::string id;
    std::string source;  // the URL it came from
    std::string fetched; // "YYYY-MM-DD HH:MM:SS UTC"
    SpiderId spider = SpiderId::Unknown;
    std::vector<IpRange> ranges;
};

class PublishedRanges {
public:
    PublishedRanges() = default;
    // The stored copies of every source in `folder`; a missing or damaged
    // file is left out (damaged() names the latter).
    static PublishedRanges Load(const std::string& folder);

    // The stored copy one of whose ranges for `spider` holds address; null
    // when none does.
    const StoredRanges* find(SpiderId spider, const IpAddress& address) const;
    bool empty() const { return stored_.empty(); }
    const std::vector<StoredRanges>& stored() const { return stored_; }
    const std::vector<std::string>& damaged() const { return damaged_; }

private:
    std::vector<StoredRanges> stored_;
    std::vector<std::string> damaged_;
};

// The file of a source in folder.
std::string RangeFilePath(const std::string& folder, std::string_view id);

struct RangeUpdate {
    std::string id;
    bool stored = false;    // a new copy replaced the file
    std::size_t ranges = 0; // in the new copy
    std::string error{};    // GBK; the previous copy stays when set
};

// Downloads every source (through HttpExchange, urlFor(source) when given,
// else its own URL) and stores what parsed; one result per source, in order.
// `now` is the UTC date text written as "fetched".
std::vector<RangeUpdate>
UpdatePublishedRanges(const std::string& folder, std::span<const RangeSource> sources,
                      const std::string& now,
                      const std::function<std::string(const RangeSource&)>& urlFor = {},
                      const CancelToken& cancel = {});

// The current UTC time as the files write it.
std::string UtcNowText();

// Whole days from the date of `fetched` to that of `now` (both as the files
// write them); -1 when either has no date.
int RangeAgeDays(std::string_view fetched, std::string_view now);

} // namespace logdesk
