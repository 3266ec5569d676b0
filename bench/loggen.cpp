// logdesk-loggen: writes synthetic IIS 7.5 W3C extended access logs for benchmarking LogDesk.
//
//   logdesk-loggen [--lines N] [--seed S] [--start YYYY-MM-DD] [--utf8] OUTFILE
//
// The output is a pure function of the arguments: every random choice comes from a seeded
// xoshiro256** generator and all arithmetic is integer (no floating point, no std
// distributions), so the same arguments give byte-identical files with any compiler or
// standard library.
//
// The simulated site has 50,000 URLs with Zipf-like popularity, a few hundred browser
// user-agents, some twenty search-engine crawlers fetching from their own address ranges,
// and traffic with a day/night rhythm spread over seven days.

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace logdesk {
namespace {

// ---------------------------------------------------------------------------------------------
// Random numbers

constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ULL;

// The splitmix64 finaliser: a cheap, well-mixing stateless 64-bit hash.
constexpr std::uint64_t mix64(std::uint64_t x) {
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

// Seed of an independent stream. The site layout, the agent tables and the traffic each draw
// from their own stream, so a change in how one consumes numbers does not reshuffle the others.
constexpr std::uint64_t streamSeed(std::uint64_t seed, std::uint64_t tag) {
    return mix64(seed + kGolden * (tag + 1));
}

// xoshiro256** (Blackman and Vigna), seeded through splitmix64.
class Rng {
public:
    explicit Rng(std::uint64_t seed) {
        for (auto& word : state_) {
            seed += kGolden;
            word = mix64(seed);
        }
    }

    std::uint64_t next() {
        const std::uint64_t result = std::rotl(state_[1] * 5, 7) * 9;
        const std::uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = std::rotl(state_[3], 45);
        return result;
    }

    // Uniform in [0, bound), bound > 0. The modulo bias is below bound / 2^64, invisible in
    // synthetic data, and one draw per call keeps the stream easy to reason about.
    std::uint64_t below(std::uint64_t bound) { return next() % bound; }

    // Uniform in [low, high].
    std::uint64_t between(std::uint64_t low, std::uint64_t high) {
        return low + below(high - low + 1);
    }

    // In [low, high], small values much more likely (the upper limit is itself drawn first).
    // Good enough for sizes and durations, which are heavy towards the low end.
    std::uint64_t skewed(std::uint64_t low, std::uint64_t high) {
        return low + below(below(high - low + 1) + 1);
    }

    // True with probability perTenThousand / 10000.
    bool chance(std::uint64_t perTenThousand) { return below(10000) < perTenThousand; }

    template <typename Container> const auto& pick(const Container& items) {
        return items[below(std::size(items))];
    }

private:
    std::array<std::uint64_t, 4> state_{};
};

// Discrete distribution over 0..size()-1 given by integer weights; a draw is a binary search
// in the running sums.
class WeightedTable {
public:
    void add(std::uint64_t weight) {
        total_ += weight;
        cumulative_.push_back(total_);
    }

    std::size_t size() const { return cumulative_.size(); }

    std::size_t pick(Rng& rng) const {
        const std::uint64_t r = rng.below(total_);
        return static_cast<std::size_t>(
            std::upper_bound(cumulative_.begin(), cumulative_.end(), r) - cumulative_.begin());
    }

    // Weight of rank k proportional to 1 / (k + offset), i.e. Zipf with exponent 1. The offset
    // flattens the head so that the first ranks do not take all the traffic. The weights are
    // integers so the table is the same everywhere (no pow()).
    static WeightedTable zipf(std::size_t count, std::uint64_t offset) {
        WeightedTable table;
        table.cumulative_.reserve(count);
        for (std::size_t rank = 0; rank < count; ++rank) {
            table.add((std::uint64_t{1} << 40) / (rank + offset));
        }
        return table;
    }

private:
    std::vector<std::uint64_t> cumulative_;
    std::uint64_t total_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Calendar (proleptic Gregorian, days counted from 1970-01-01; H. Hinnant's algorithms)

struct CivilDate {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

constexpr std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

constexpr CivilDate civilFromDays(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const unsigned month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    return {static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

constexpr bool isLeapYear(std::int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

constexpr unsigned daysInMonth(std::int64_t year, unsigned month) {
    constexpr std::array<unsigned, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

static_assert(daysFromCivil(2013, 5, 1) == 15826);
static_assert(civilFromDays(15826).year == 2013 && civilFromDays(15826).month == 5 &&
              civilFromDays(15826).day == 1);
static_assert(civilFromDays(daysFromCivil(2012, 2, 29)).day == 29);

// ---------------------------------------------------------------------------------------------
// Text helpers

std::string concat(std::initializer_list<std::string_view> parts) {
    std::string text;
    for (const auto part : parts) {
        text += part;
    }
    return text;
}

void appendUInt(std::string& out, std::uint64_t value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

void appendPadded(std::string& out, std::uint64_t value, std::size_t width) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    const auto length = static_cast<std::size_t>(result.ptr - digits);
    if (length < width) {
        out.append(width - length, '0');
    }
    out.append(digits, result.ptr);
}

void appendHex(std::string& out, std::uint64_t value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value, 16);
    out.append(digits, result.ptr);
}

std::string toString(std::uint64_t value) {
    std::string text;
    appendUInt(text, value);
    return text;
}

// Browsers send every byte outside printable ASCII percent-encoded in query strings and in the
// Referer header, so that is how such bytes reach those two fields.
void appendPercentEncoded(std::string& out, std::string_view text) {
    constexpr std::string_view kHexDigits = "0123456789ABCDEF";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F) {
            out += '%';
            out += kHexDigits[byte >> 4];
            out += kHexDigits[byte & 0x0F];
        } else {
            out += c;
        }
    }
}

// IIS writes the blanks inside a logged value as '+'.
std::string logToken(std::string_view text) {
    std::string token(text);
    std::replace(token.begin(), token.end(), ' ', '+');
    return token;
}

void appendDate(std::string& out, std::int64_t days) {
    const CivilDate date = civilFromDays(days);
    appendPadded(out, static_cast<std::uint64_t>(date.year), 4);
    out += '-';
    appendPadded(out, date.month, 2);
    out += '-';
    appendPadded(out, date.day, 2);
}

// ---------------------------------------------------------------------------------------------
// Chinese words for URLs and search keywords: GBK, what a zh-CN Windows server of the time
// wrote raw into its logs, and UTF-8 for --utf8 and for the engines that send UTF-8.

struct ChineseWord {
    std::string_view gbk;
    std::string_view utf8;
};

constexpr std::array<ChineseWord, 16> kChineseWords{{
    {"\xD0\xC2\xCE\xC5", "\xE6\x96\xB0\xE9\x97\xBB"}, // 新闻 news
    {"\xCC\xE5\xD3\xFD", "\xE4\xBD\x93\xE8\x82\xB2"}, // 体育 sports
    {"\xBF\xC6\xBC\xBC", "\xE7\xA7\x91\xE6\x8A\x80"}, // 科技 technology
    {"\xB2\xC6\xBE\xAD", "\xE8\xB4\xA2\xE7\xBB\x8F"}, // 财经 finance
    {"\xD3\xE9\xC0\xD6", "\xE5\xA8\xB1\xE4\xB9\x90"}, // 娱乐 entertainment
    {"\xC6\xFB\xB3\xB5", "\xE6\xB1\xBD\xE8\xBD\xA6"}, // 汽车 cars
    {"\xB7\xBF\xB2\xFA", "\xE6\x88\xBF\xE4\xBA\xA7"}, // 房产 real estate
    {"\xBD\xCC\xD3\xFD", "\xE6\x95\x99\xE8\x82\xB2"}, // 教育 education
    {"\xC2\xC3\xD3\xCE", "\xE6\x97\x85\xE6\xB8\xB8"}, // 旅游 travel
    {"\xBD\xA1\xBF\xB5", "\xE5\x81\xA5\xE5\xBA\xB7"}, // 健康 health
    {"\xD7\xA8\xCC\xE2", "\xE4\xB8\x93\xE9\xA2\x98"}, // 专题 feature topic
    {"\xCD\xBC\xC6\xAC", "\xE5\x9B\xBE\xE7\x89\x87"}, // 图片 pictures
    {"\xCA\xD3\xC6\xB5", "\xE8\xA7\x86\xE9\xA2\x91"}, // 视频 video
    {"\xCF\xC2\xD4\xD8", "\xE4\xB8\x8B\xE8\xBD\xBD"}, // 下载 download
    {"\xB1\xB1\xBE\xA9", "\xE5\x8C\x97\xE4\xBA\xAC"}, // 北京 Beijing
    {"\xC9\xCF\xBA\xA3", "\xE4\xB8\x8A\xE6\xB5\xB7"}, // 上海 Shanghai
}};

// ---------------------------------------------------------------------------------------------
// Browser and tool user-agents

// Appends an ordered random subset of up to maxCount of the tokens, as installed frameworks
// and browser shells extend an IE agent.
template <std::size_t N>
void appendTokens(std::string& agent, Rng& rng, const std::array<std::string_view, N>& tokens,
                  std::uint64_t maxCount) {
    std::uint64_t wanted = rng.below(maxCount + 1);
    for (std::size_t i = 0; i < N && wanted > 0; ++i) {
        if (rng.below(N - i) < wanted) {
            agent += tokens[i];
            --wanted;
        }
    }
}

struct ChromeBuild {
    std::string_view chrome;
    std::string_view webkit;
};

constexpr std::array<ChromeBuild, 10> kChromeBuilds{{
    {"26.0.1410.64", "537.31"},
    {"26.0.1410.43", "537.31"},
    {"25.0.1364.172", "537.22"},
    {"25.0.1364.152", "537.22"},
    {"25.0.1364.97", "537.22"},
    {"24.0.1312.57", "537.17"},
    {"23.0.1271.97", "537.11"},
    {"22.0.1229.94", "537.4"},
    {"21.0.1180.89", "537.1"},
    {"27.0.1453.47", "537.36"},
}};

constexpr std::array<std::string_view, 6> kWindowsVersions{
    "Windows NT 6.1", "Windows NT 6.1", "Windows NT 5.1",
    "Windows NT 5.1", "Windows NT 6.2", "Windows NT 6.0",
};

std::string chromeWindowsAgent(Rng& rng) {
    const ChromeBuild& build = rng.pick(kChromeBuilds);
    const std::string_view system = rng.pick(kWindowsVersions);
    const std::string_view wow = rng.chance(5000) ? "; WOW64" : "";
    // Chinese browsers built on Chrome append their own name.
    static constexpr std::array<std::string_view, 8> shells{"",
                                                            "",
                                                            "",
                                                            "",
                                                            " SE 2.X MetaSr 1.0",
                                                            " LBBROWSER",
                                                            " QQBrowser/7.3.9825.400",
                                                            " Maxthon/4.0.6.2000"};
    return concat({"Mozilla/5.0 (", system, wow, ") AppleWebKit/", build.webkit,
                   " (KHTML, like Gecko) Chrome/", build.chrome, " Safari/", build.webkit,
                   rng.pick(shells)});
}

std::string classicIeAgent(Rng& rng) {
    static constexpr std::array<std::string_view, 3> versions{"6.0", "7.0", "8.0"};
    static constexpr std::array<std::string_view, 4> systems{"Windows NT 5.1", "Windows NT 5.1",
                                                             "Windows NT 6.1", "Windows NT 6.0"};
    // The Chinese shells (360SE, Sogou's MetaSr, QQ, Maxthon, TT) identify themselves only
    // through such a token.
    static constexpr std::array<std::string_view, 16> tokens{"; .NET CLR 1.1.4322",
                                                             "; .NET CLR 2.0.50727",
                                                             "; SLCC2",
                                                             "; .NET CLR 3.0.4506.2152",
                                                             "; .NET CLR 3.5.30729",
                                                             "; Media Center PC 6.0",
                                                             "; .NET4.0C",
                                                             "; InfoPath.2",
                                                             "; 360SE",
                                                             "; QQDownload 734",
                                                             "; SE 2.X MetaSr 1.0",
                                                             "; Maxthon 2.0",
                                                             "; TencentTraveler 4.0",
                                                             "; Tablet PC 2.0",
                                                             "; QQBrowser/7.3.9825.400",
                                                             "; MALN"};
    const std::string_view version = rng.pick(versions);
    std::string agent =
        concat({"Mozilla/4.0 (compatible; MSIE ", version, "; ", rng.pick(systems)});
    if (version == "6.0") {
        agent += "; SV1";
    } else if (version == "8.0") {
        agent += "; Trident/4.0";
    }
    appendTokens(agent, rng, tokens, 7);
    agent += ')';
    return agent;
}

std::string modernIeAgent(Rng& rng) {
    static constexpr std::array<std::string_view, 9> tokens{
        "; SLCC2", "; .NET CLR 2.0.50727",     "; .NET4.0C", "; .NET4.0E", "; BOIE9;ZHCN",
        "; 360SE", "; QQBrowser/7.3.9825.400", "; MALNJS",   "; Touch"};
    const bool ie10 = rng.chance(3500);
    const std::string_view system = ie10 && rng.chance(5000) ? "Windows NT 6.2" : "Windows NT 6.1";
    std::string agent =
        concat({"Mozilla/5.0 (compatible; MSIE ", ie10 ? "10.0" : "9.0", "; ", system,
                rng.chance(5000) ? "; WOW64" : "", ie10 ? "; Trident/6.0" : "; Trident/5.0"});
    appendTokens(agent, rng, tokens, 5);
    agent += ')';
    return agent;
}

std::string firefoxAgent(Rng& rng) {
    if (rng.chance(1200)) {
        static constexpr std::array<std::string_view, 4> old{"1.9.2.28", "1.9.2.24", "1.9.2.13",
                                                             "1.9.2.3"};
        const std::string_view gecko = rng.pick(old);
        return concat({"Mozilla/5.0 (Windows; U; Windows NT 5.1; zh-CN; rv:", gecko,
                       ") Gecko/20120306 Firefox/3.6.", gecko.substr(6)});
    }
    const std::string version = toString(rng.between(10, 21));
    const std::string_view system = rng.pick(kWindowsVersions);
    return concat({"Mozilla/5.0 (", system, rng.chance(4500) ? "; WOW64" : "", "; rv:", version,
                   ".0) Gecko/20100101 Firefox/", version, ".0"});
}

std::string macAgent(Rng& rng) {
    struct SafariBuild {
        std::string_view system;
        std::string_view webkit;
        std::string_view version;
    };
    static constexpr std::array<SafariBuild, 5> safari{{
        {"10_8_3", "536.28.10", "6.0.3"},
        {"10_8_3", "536.29.13", "6.0.4"},
        {"10_8_2", "536.26.17", "6.0.2"},
        {"10_7_5", "536.26.17", "6.0.2"},
        {"10_6_8", "534.58.2", "5.1.8"},
    }};
    const SafariBuild& build = rng.pick(safari);
    if (rng.chance(4000)) {
        const ChromeBuild& chrome = rng.pick(kChromeBuilds);
        return concat({"Mozilla/5.0 (Macintosh; Intel Mac OS X ", build.system, ") AppleWebKit/",
                       chrome.webkit, " (KHTML, like Gecko) Chrome/", chrome.chrome, " Safari/",
                       chrome.webkit});
    }
    return concat({"Mozilla/5.0 (Macintosh; Intel Mac OS X ", build.system, ") AppleWebKit/",
                   build.webkit, " (KHTML, like Gecko) Version/", build.version, " Safari/",
                   build.webkit});
}

std::string iosAgent(Rng& rng) {
    struct IosBuild {
        std::string_view system;
        std::string_view webkit;
        std::string_view version;
        std::string_view mobile;
        std::string_view safari;
    };
    static constexpr std::array<IosBuild, 6> builds{{
        {"6_1_3", "536.26", "6.0", "10B329", "8536.25"},
        {"6_1_2", "536.26", "6.0", "10B146", "8536.25"},
        {"6_1", "536.26", "6.0", "10B141", "8536.25"},
        {"6_0_1", "536.26", "6.0", "10A523", "8536.25"},
        {"6_0", "536.26", "6.0", "10A403", "8536.25"},
        {"5_1_1", "534.46", "5.1", "9B206", "7534.48.3"},
    }};
    static constexpr std::array<std::string_view, 4> devices{
        "iPhone; CPU iPhone OS ", "iPhone; CPU iPhone OS ", "iPad; CPU OS ",
        "iPod touch; CPU iPhone OS "};
    const IosBuild& build = rng.pick(builds);
    std::string agent =
        concat({"Mozilla/5.0 (", rng.pick(devices), build.system, " like Mac OS X) AppleWebKit/",
                build.webkit, " (KHTML, like Gecko) "});
    if (rng.chance(1500)) { // WeChat's built-in browser drops the Safari part
        return concat({agent, "Mobile/", build.mobile, " MicroMessenger/4.5.1"});
    }
    return concat(
        {agent, "Version/", build.version, " Mobile/", build.mobile, " Safari/", build.safari});
}

constexpr std::array<std::string_view, 12> kAndroidDevices{
    "GT-I9300", "MI 2",     "MI-ONE Plus",  "HTC One X", "Lenovo A789", "HUAWEI U9508",
    "GT-N7100", "ZTE U930", "Coolpad 7295", "SCH-I939",  "HTC Desire",  "GT-S5830"};

std::string androidAgent(Rng& rng) {
    struct AndroidBuild {
        std::string_view version;
        std::string_view build;
    };
    static constexpr std::array<AndroidBuild, 6> builds{{
        {"2.3.6", "GRK39F"},
        {"2.3.5", "GRJ90"},
        {"4.0.4", "IMM76D"},
        {"4.1.1", "JRO03L"},
        {"4.1.2", "JZO54K"},
        {"4.2.1", "JOP40D"},
    }};
    // The stock browser, UC's U3 engine dressed up as it, and WeChat's built-in view.
    static constexpr std::array<std::string_view, 6> engines{"",
                                                             "",
                                                             "",
                                                             " UCBrowser/9.0.2.299 U3/0.8.0",
                                                             " UCBrowser/8.9.2.373 U3/0.8.0",
                                                             " baidubrowser/4.0.15.10"};
    const AndroidBuild& build = rng.pick(builds);
    const std::string_view engine = rng.pick(engines);
    const std::string_view wechat = rng.chance(1200) ? " MicroMessenger/5.0.1.352" : "";
    return concat({"Mozilla/5.0 (Linux; U; Android ", build.version, "; zh-cn; ",
                   rng.pick(kAndroidDevices), " Build/", build.build,
                   ") AppleWebKit/534.30 (KHTML, like Gecko) Version/4.0", engine,
                   " Mobile Safari/534.30", wechat});
}

std::string otherMobileAgent(Rng& rng) {
    const auto kind = rng.below(10);
    if (kind < 6) {
        static constexpr std::array<std::string_view, 3> uc{
            "8.5.0.185/139/800", "8.7.1.234/145/444", "8.9.0.253/145/800"};
        static constexpr std::array<std::string_view, 3> android{"2.3.7", "4.0.4", "4.1.2"};
        return concat({"JUC (Linux; U; ", rng.pick(android), "; zh-cn; ", rng.pick(kAndroidDevices),
                       rng.chance(5000) ? "; 480*854) UCWEB" : "; 720*1280) UCWEB", rng.pick(uc)});
    }
    if (kind < 8) {
        static constexpr std::array<std::string_view, 3> mini{
            "7.5.33361/29.3594", "7.1.32052/29.3417", "6.5.29702/28.2647"};
        return concat({"Opera/9.80 (Android; Opera Mini/", rng.pick(mini),
                       "; U; zh) Presto/2.8.119 Version/11.10"});
    }
    static constexpr std::array<std::string_view, 3> nokia{
        "Nokia5230/21.0.004", "NokiaC5-03/21.0.004", "NokiaN8-00/012.002"};
    return concat({rng.pick(nokia),
                   " (SymbianOS/9.4; U; Series60/5.0 Mozilla/5.0; Profile/MIDP-2.1 "
                   "Configuration/CLDC-1.1) AppleWebKit/525 (KHTML, like Gecko) Safari/525"});
}

std::string operaAgent(Rng& rng) {
    static constexpr std::array<std::string_view, 4> versions{
        "Presto/2.10.289 Version/12.02", "Presto/2.12.388 Version/12.12",
        "Presto/2.12.388 Version/12.14", "Presto/2.12.388 Version/12.15"};
    return concat({"Opera/9.80 (", rng.pick(kWindowsVersions), "; U; ",
                   rng.chance(7000) ? "zh-cn" : "en", ") ", rng.pick(versions)});
}

std::string linuxAgent(Rng& rng) {
    if (rng.chance(5000)) {
        const ChromeBuild& build = rng.pick(kChromeBuilds);
        return concat({"Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/", build.webkit,
                       " (KHTML, like Gecko) Chrome/", build.chrome, " Safari/", build.webkit});
    }
    const std::string version = toString(rng.between(17, 21));
    return concat({"Mozilla/5.0 (X11; Ubuntu; Linux ", rng.chance(5000) ? "x86_64" : "i686",
                   "; rv:", version, ".0) Gecko/20100101 Firefox/", version, ".0"});
}

// Scripts, libraries and system components: not crawlers, not people either.
std::string toolAgent(Rng& rng) {
    static constexpr std::array<std::string_view, 12> tools{
        "curl/7.19.7 (x86_64-redhat-linux-gnu) libcurl/7.19.7 NSS/3.13.1.0 zlib/1.2.3 "
        "libidn/1.18 libssh2/1.2.2",
        "Wget/1.12 (linux-gnu)",
        "Java/1.6.0_26",
        "Java/1.7.0_17",
        "Python-urllib/2.7",
        "Python-urllib/2.6",
        "Apache-HttpClient/4.1.1 (java 1.5)",
        "Jakarta Commons-HttpClient/3.1",
        "Microsoft-CryptoAPI/6.1",
        "Microsoft-WebDAV-MiniRedir/6.1.7601",
        "libwww-perl/5.833",
        "Mozilla/4.0 (compatible;)"};
    return std::string(rng.pick(tools));
}

std::string noAgent(Rng&) {
    return "-";
}

struct FamilyRecipe {
    std::uint64_t weight; // relative share of browser traffic
    std::size_t variants; // distinct agent strings wanted
    std::string (*make)(Rng&);
};

// Shares roughly as a Chinese site saw them in 2013: old IE and its shells still everywhere.
constexpr std::array<FamilyRecipe, 12> kFamilyRecipes{{
    {190, 60, chromeWindowsAgent},
    {230, 90, classicIeAgent},
    {90, 40, modernIeAgent},
    {70, 40, firefoxAgent},
    {40, 20, macAgent},
    {85, 30, iosAgent},
    {120, 60, androidAgent},
    {40, 25, otherMobileAgent},
    {10, 10, operaAgent},
    {10, 10, linuxAgent},
    {35, 12, toolAgent},
    {20, 1, noAgent},
}};

// All browser-side agents, grouped in families; within a family the first-made variant is the
// most common one.
class BrowserAgents {
public:
    explicit BrowserAgents(std::uint64_t seed) {
        Rng rng(streamSeed(seed, 2));
        std::set<std::string> seen;
        for (const FamilyRecipe& recipe : kFamilyRecipes) {
            Family family;
            family.first = agents_.size();
            // Small template spaces may not hold the wanted number of variants; give up
            // after a bounded number of attempts.
            for (std::size_t attempt = 0;
                 attempt < recipe.variants * 50 && family.count < recipe.variants; ++attempt) {
                std::string agent = logToken(recipe.make(rng));
                if (seen.insert(agent).second) {
                    agents_.push_back(std::move(agent));
                    ++family.count;
                }
            }
            family.popularity = WeightedTable::zipf(family.count, 1);
            families_.push_back(std::move(family));
            familyTable_.add(recipe.weight);
        }
    }

    // Index into all() of a random agent.
    std::size_t pick(Rng& rng) const {
        const Family& family = families_[familyTable_.pick(rng)];
        return family.first + family.popularity.pick(rng);
    }

    const std::vector<std::string>& all() const { return agents_; }

private:
    struct Family {
        std::size_t first = 0;
        std::size_t count = 0;
        WeightedTable popularity;
    };

    std::vector<std::string> agents_;
    std::vector<Family> families_;
    WeightedTable familyTable_;
};

// ---------------------------------------------------------------------------------------------
// Crawlers

struct IpRange {
    unsigned first;
    unsigned second;
    unsigned thirdLow;
    unsigned thirdHigh;

    bool contains(unsigned a, unsigned b, unsigned c) const {
        return a == first && b == second && c >= thirdLow && c <= thirdHigh;
    }
};

struct Crawler {
    std::uint64_t weight;            // share of crawler requests, per ~10000
    std::vector<std::string> agents; // in log form; the first is the usual one
    std::vector<IpRange> ranges;
    bool conditionalGets = false; // sends If-Modified-Since and so gets many 304s
    bool readsSitemap = false;
    int imageAgent = -1; // index of an agent that only fetches images
};

std::vector<Crawler> makeCrawlers() {
    struct Recipe {
        std::uint64_t weight;
        std::vector<std::string_view> agents;
        std::vector<IpRange> ranges;
        bool conditionalGets;
        bool readsSitemap;
        int imageAgent;
    };
    // Old engines (AltaVista's scooter, Lycos, FAST, Gigablast, WebAlta) are long past their
    // prime but still show up now and then; the reader must know them as well.
    const std::vector<Recipe> recipes{
        {3600,
         {"Mozilla/5.0 (compatible; Baiduspider/2.0; +http://www.baidu.com/search/spider.html)",
          "Baiduspider+(+http://www.baidu.com/search/spider.htm)",
          "Baiduspider-image+(+http://www.baidu.com/search/spider.htm)",
          "Mozilla/5.0 (iPhone; CPU iPhone OS 6_1 like Mac OS X) AppleWebKit/536.26 (KHTML, like "
          "Gecko) Version/6.0 Mobile/10B142 Safari/8536.25 (compatible; Baiduspider/2.0; "
          "+http://www.baidu.com/search/spider.html)"},
         {{220, 181, 108, 108}, {123, 125, 71, 71}, {123, 125, 68, 68}, {180, 76, 5, 6}},
         false,
         true,
         2},
        {2000,
         {"Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)",
          "Googlebot/2.1 (+http://www.google.com/bot.html)",
          "Mozilla/5.0 (iPhone; CPU iPhone OS 6_0 like Mac OS X) AppleWebKit/536.26 (KHTML, like "
          "Gecko) Version/6.0 Mobile/10A5376e Safari/8536.25 (compatible; Googlebot/2.1; "
          "+http://www.google.com/bot.html)"},
         {{66, 249, 64, 75}},
         true,
         true,
         -1},
        {700,
         {"Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.1 (KHTML, like Gecko) "
          "Chrome/21.0.1180.89 Safari/537.1; 360Spider",
          "Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; Trident/5.0); 360Spider"},
         {{101, 226, 166, 169}, {182, 118, 20, 25}, {61, 55, 185, 186}},
         false,
         false,
         -1},
        {800,
         {"Sogou web spider/4.0(+http://www.sogou.com/docs/help/webmasters.htm#07)",
          "Sogou web spider/3.0(+http://www.sogou.com/docs/help/webmasters.htm#07)"},
         {{123, 126, 113, 113}, {220, 181, 125, 125}, {218, 30, 103, 103}},
         false,
         false,
         -1},
        {450,
         {"Sosospider+(+http://help.soso.com/webspider.htm)",
          "Mozilla/5.0(compatible; Sosospider/2.0; +http://help.soso.com/webspider.htm)"},
         {{124, 115, 0, 0}, {124, 115, 4, 4}, {113, 108, 12, 12}},
         false,
         false,
         -1},
        {450,
         {"Mozilla/5.0 (compatible; bingbot/2.0; +http://www.bing.com/bingbot.htm)",
          "Mozilla/5.0 (iPhone; CPU iPhone OS 6_1 like Mac OS X) AppleWebKit/536.26 (KHTML, like "
          "Gecko) Version/6.0 Mobile/10B142 Safari/8536.25 (compatible; bingbot/2.0; "
          "+http://www.bing.com/bingbot.htm)"},
         {{157, 55, 32, 36}, {65, 55, 52, 55}, {207, 46, 13, 13}, {65, 52, 104, 105}},
         true,
         true,
         -1},
        {200,
         {"msnbot/2.0b (+http://search.msn.com/msnbot.htm)",
          "msnbot-media/1.1 (+http://search.msn.com/msnbot.htm)"},
         {{65, 55, 213, 215}, {207, 46, 199, 199}, {157, 55, 16, 18}},
         true,
         false,
         1},
        {350,
         {"YisouSpider",
          "Mozilla/5.0 (Windows NT 6.1; rv:20.0) Gecko/20100101 Firefox/20.0 YisouSpider"},
         {{42, 120, 160, 161}, {42, 156, 138, 139}, {110, 75, 172, 174}},
         false,
         false,
         -1},
        {200,
         {"Mozilla/5.0 (compatible; EasouSpider; +http://www.easou.com/search/spider.html)"},
         {{183, 60, 212, 215}, {183, 60, 243, 243}},
         false,
         false,
         -1},
        {180,
         {"Mozilla/5.0 (compatible; Yahoo! Slurp; http://help.yahoo.com/help/us/ysearch/slurp)",
          "Mozilla/5.0 (compatible; Yahoo! Slurp China; http://misc.yahoo.com.cn/help.html)"},
         {{72, 30, 142, 145}, {68, 180, 228, 231}, {202, 160, 178, 179}},
         true,
         false,
         -1},
        {120,
         {"Mozilla/5.0 (compatible; YodaoBot/1.0; http://www.yodao.com/help/webmaster/spider/; )"},
         {{61, 135, 249, 250}},
         false,
         false,
         -1},
        {100,
         {"Mozilla/5.0 (compatible; JikeSpider; +http://shoulu.jike.com/spider.html)"},
         {{111, 13, 100, 103}, {218, 205, 65, 66}},
         false,
         false,
         -1},
        {250,
         {"Mozilla/5.0 (compatible; MJ12bot/v1.4.3; http://www.majestic12.co.uk/bot.php?+)",
          "Mozilla/5.0 (compatible; MJ12bot/v1.4.4; http://www.majestic12.co.uk/bot.php?+)"},
         // Majestic crawls from volunteers' machines, hence the wide spread.
         {{5, 9, 98, 99},
          {31, 184, 240, 247},
          {37, 59, 18, 19},
          {88, 198, 40, 47},
          {178, 63, 30, 31},
          {82, 80, 200, 203}},
         false,
         false,
         -1},
        {300,
         {"Mozilla/5.0 (compatible; AhrefsBot/4.0; +http://ahrefs.com/robot/)",
          "Mozilla/5.0 (compatible; AhrefsBot/5.0; +http://ahrefs.com/robot/)"},
         {{173, 199, 114, 120}, {5, 10, 83, 83}},
         false,
         false,
         -1},
        {60,
         {"ia_archiver (+http://www.alexa.com/site/help/webmasters; crawler@alexa.com)"},
         {{204, 236, 235, 235}, {209, 234, 171, 171}},
         false,
         false,
         -1},
        {40,
         {"Mozilla/5.0 (compatible; PangusoSpider/1.0; +http://www.panguso.com/help/spider.html)",
          "PangusoSpider"},
         {{218, 207, 208, 209}},
         false,
         false,
         -1},
        {8,
         {"Gigabot/3.0 (http://www.gigablast.com/spider.html)"},
         {{64, 62, 168, 168}},
         false,
         false,
         -1},
        {5,
         {"WebAlta Crawler/2.0 (http://www.webalta.net/ru/about_webmaster.html) (Windows; U; "
          "Windows NT 5.1; ru-RU)"},
         {{91, 205, 124, 124}},
         false,
         false,
         -1},
        {3,
         {"FAST-WebCrawler/3.8 (atw-crawler at fast dot no; http://fast.no/support/crawler.asp)"},
         {{66, 77, 73, 74}},
         false,
         false,
         -1},
        {2,
         {"scooter/3.3 (+http://www.altavista.com/help/search/scooter)"},
         {{209, 73, 164, 164}},
         false,
         false,
         -1},
        {2,
         {"lycos_spider_(modspider)", "Mozilla/4.0 (compatible; lycos_spider_(T-Rex))"},
         {{209, 202, 148, 148}},
         false,
         false,
         -1},
    };

    std::vector<Crawler> crawlers;
    crawlers.reserve(recipes.size());
    for (const Recipe& recipe : recipes) {
        Crawler crawler;
        crawler.weight = recipe.weight;
        for (const std::string_view agent : recipe.agents) {
            crawler.agents.push_back(logToken(agent));
        }
        crawler.ranges = recipe.ranges;
        crawler.conditionalGets = recipe.conditionalGets;
        crawler.readsSitemap = recipe.readsSitemap;
        crawler.imageAgent = recipe.imageAgent;
        crawlers.push_back(std::move(crawler));
    }
    return crawlers;
}

// ---------------------------------------------------------------------------------------------
// Client addresses of people and tools

constexpr std::size_t kIpv4PoolSize = 60000;
constexpr std::size_t kIpv6PoolSize = 3000;

// First octets of consumer ISP blocks (mostly Chinese, a few abroad).
constexpr std::array<unsigned, 36> kConsumerFirstOctets{
    1,   14,  27,  36,  58,  59,  60,  61,  106, 110, 111, 112, 113, 114, 115, 116, 117, 118,
    119, 120, 121, 122, 125, 175, 180, 182, 183, 202, 210, 211, 218, 219, 221, 222, 24,  86};

class ClientPool {
public:
    ClientPool(std::uint64_t seed, const std::vector<Crawler>& crawlers) {
        Rng rng(streamSeed(seed, 3));
        addresses_.reserve(kIpv4PoolSize + kIpv6PoolSize);
        std::set<std::string> seen;
        while (addresses_.size() < kIpv4PoolSize) {
            const unsigned a = rng.pick(kConsumerFirstOctets);
            const auto b = static_cast<unsigned>(rng.below(256));
            const auto c = static_cast<unsigned>(rng.below(256));
            // Keep people out of the crawlers' ranges, so an address tells who is asking.
            const bool crawlerRange =
                std::any_of(crawlers.begin(), crawlers.end(), [&](const Crawler& crawler) {
                    return std::any_of(
                        crawler.ranges.begin(), crawler.ranges.end(),
                        [&](const IpRange& range) { return range.contains(a, b, c); });
                });
            if (crawlerRange) {
                continue;
            }
            std::string address;
            appendUInt(address, a);
            address += '.';
            appendUInt(address, b);
            address += '.';
            appendUInt(address, c);
            address += '.';
            appendUInt(address, rng.between(1, 254));
            if (seen.insert(address).second) {
                addresses_.push_back(std::move(address));
            }
        }
        while (addresses_.size() < kIpv4PoolSize + kIpv6PoolSize) {
            std::string address = makeIpv6(rng);
            if (seen.insert(address).second) {
                addresses_.push_back(std::move(address));
            }
        }
        ipv4Popularity_ = WeightedTable::zipf(kIpv4PoolSize, 8);
        ipv6Popularity_ = WeightedTable::zipf(kIpv6PoolSize, 4);
    }

    // Index of a client address; heavy users and NAT gateways come back often.
    std::size_t pick(Rng& rng) const {
        if (rng.chance(150)) {
            return kIpv4PoolSize + ipv6Popularity_.pick(rng);
        }
        return ipv4Popularity_.pick(rng);
    }

    std::size_t size() const { return addresses_.size(); }
    const std::string& address(std::size_t index) const { return addresses_[index]; }

private:
    // Compressed lower-case notation, as IIS logs it.
    static std::string makeIpv6(Rng& rng) {
        std::string address;
        switch (rng.below(4)) {
        case 0: // documentation prefix
            address = "2001:db8::";
            appendHex(address, rng.between(1, 0xFFFF));
            break;
        case 1: // CERNET
            address = "2001:da8:";
            appendHex(address, rng.between(0x8000, 0x8FFF));
            address += ':';
            appendHex(address, rng.between(1, 0xFFFF));
            address += "::";
            appendHex(address, rng.between(1, 0xFFFF));
            break;
        case 2: // China Telecom
            address = "240e:";
            appendHex(address, rng.between(1, 0xFFF));
            address += ':';
            appendHex(address, rng.between(0x1000, 0xFFFF));
            address += ':';
            appendHex(address, rng.between(1, 0xFF));
            address += "::";
            appendHex(address, rng.between(1, 0xFFFF));
            break;
        default: // China Unicom
            address = "2408:";
            appendHex(address, rng.between(0x8000, 0x8FFF));
            address += ':';
            appendHex(address, rng.between(0x1000, 0xFFFF));
            address += ':';
            appendHex(address, rng.between(0x100, 0xFFF));
            address += "::";
            appendHex(address, rng.between(1, 0xF));
            break;
        }
        return address;
    }

    std::vector<std::string> addresses_;
    WeightedTable ipv4Popularity_;
    WeightedTable ipv6Popularity_;
};

// ---------------------------------------------------------------------------------------------
// The site

enum class UrlKind : std::uint8_t {
    Page,    // static or cached HTML
    Dynamic, // ASP.NET page or handler
    Search,
    Redirect, // directory without trailing slash: always 301
    Static,   // scripts and style sheets
    Image,
    Download,
    Robots,
    Sitemap,
    Favicon,
};

struct UrlEntry {
    std::string stem;
    UrlKind kind = UrlKind::Page;
    bool dead = false;           // removed but still linked from elsewhere: always 404
    std::uint32_t bodyBytes = 0; // body of a full 200 response
    std::uint32_t id = 0;        // record number used in query strings; 0 if there is none
};

constexpr std::size_t kUrlCount = 50000;
// Where robots.txt and the sitemap sit in popularity: people rarely ask for them; crawlers do
// so on their own schedule (see crawlerUrl()).
constexpr std::size_t kRobotsRank = 600;
constexpr std::size_t kSitemapRank = 2000;

constexpr std::array<std::string_view, 10> kSections{"news", "sports", "tech", "finance", "ent",
                                                     "auto", "house",  "edu",  "travel",  "health"};

class Site {
public:
    // Content is dated up to the day the log starts.
    Site(std::uint64_t seed, bool utf8, std::int64_t startDay)
        : utf8_(utf8), today_(civilFromDays(startDay)) {
        Rng rng(streamSeed(seed, 1));
        urls_.reserve(kUrlCount);
        addFixedUrls();
        while (urls_.size() < kUrlCount) {
            if (urls_.size() == kRobotsRank) {
                robots_ = urls_.size();
                add({"/robots.txt", UrlKind::Robots, false, 412, 0});
            } else if (urls_.size() == kSitemapRank) {
                sitemap_ = urls_.size();
                add({"/sitemap.xml", UrlKind::Sitemap, false, 186340, 0});
            } else {
                addGeneratedUrl(rng);
            }
        }
        taken_.clear();
        for (std::size_t i = 0; i < urls_.size(); ++i) {
            const UrlKind kind = urls_[i].kind;
            if (urls_[i].dead) {
                continue;
            }
            if (kind == UrlKind::Page || kind == UrlKind::Dynamic || kind == UrlKind::Search) {
                pages_.push_back(i);
            } else if (kind == UrlKind::Image) {
                images_.push_back(i);
            }
        }
        popularity_ = WeightedTable::zipf(urls_.size(), 2);
        pagePopularity_ = WeightedTable::zipf(pages_.size(), 2);
    }

    std::string_view word(const ChineseWord& word) const { return utf8_ ? word.utf8 : word.gbk; }

    const UrlEntry& byPopularity(Rng& rng) const { return urls_[popularity_.pick(rng)]; }
    const UrlEntry& anyUrl(Rng& rng) const { return urls_[rng.below(urls_.size())]; }
    const UrlEntry& page(Rng& rng) const { return urls_[pages_[pagePopularity_.pick(rng)]]; }
    const UrlEntry& image(Rng& rng) const { return urls_[images_[rng.below(images_.size())]]; }
    const UrlEntry& robots() const { return urls_[robots_]; }
    const UrlEntry& sitemap() const { return urls_[sitemap_]; }

private:
    void add(UrlEntry entry) {
        taken_.insert(entry.stem);
        urls_.push_back(std::move(entry));
    }

    // The entry pages and the resources every page pulls in lead the popularity ranking.
    void addFixedUrls() {
        const std::vector<UrlEntry> fixed{
            {"/", UrlKind::Page, false, 38416, 0},
            {"/index.html", UrlKind::Page, false, 38416, 0},
            {"/css/style.css", UrlKind::Static, false, 24530, 0},
            {"/js/jquery-1.8.3.min.js", UrlKind::Static, false, 93636, 0},
            {"/images/logo.gif", UrlKind::Image, false, 6830, 0},
            {"/favicon.ico", UrlKind::Favicon, false, 1150, 0},
            {"/js/common.js", UrlKind::Static, false, 12407, 0},
            {"/news/", UrlKind::Page, false, 45210, 0},
            {"/default.aspx", UrlKind::Dynamic, false, 52113, 0},
            {"/css/news.css", UrlKind::Static, false, 8412, 0},
            {"/images/bg.png", UrlKind::Image, false, 2207, 0},
            {"/search.aspx", UrlKind::Search, false, 28650, 0},
            {"/WebResource.axd", UrlKind::Static, false, 23040, 7},
            {"/ScriptResource.axd", UrlKind::Static, false, 85171, 11},
            {"/news/index.html", UrlKind::Page, false, 45210, 0},
            {"/bbs/", UrlKind::Page, false, 61844, 0},
            {"/bbs", UrlKind::Redirect, false, 0, 0},
            {"/login.aspx", UrlKind::Dynamic, false, 9833, 0},
            {"/member/index.aspx", UrlKind::Dynamic, false, 17210, 0},
            {"/about.html", UrlKind::Page, false, 11532, 0},
            {"/contact.aspx", UrlKind::Dynamic, false, 10346, 0},
            {"/products/", UrlKind::Page, false, 33028, 0},
            {"/download/", UrlKind::Page, false, 27431, 0},
            {"/video/", UrlKind::Page, false, 41170, 0},
            {"/news", UrlKind::Redirect, false, 0, 0},
            {"/rss.xml", UrlKind::Page, false, 64405, 0},
            {"/ajax/comments.ashx", UrlKind::Dynamic, false, 3120, 52817},
            {"/tags/", UrlKind::Page, false, 22981, 0},
        };
        for (const UrlEntry& entry : fixed) {
            add(entry);
        }
    }

    void addGeneratedUrl(Rng& rng) {
        UrlEntry entry;
        do {
            entry = makeUrl(rng);
        } while (taken_.count(entry.stem) != 0);
        entry.dead = rng.chance(250);
        add(std::move(entry));
    }

    UrlEntry makeUrl(Rng& rng) const {
        UrlEntry entry;
        entry.id = static_cast<std::uint32_t>(rng.between(100, 999999));
        std::string& stem = entry.stem;
        const std::string_view section = rng.pick(kSections);
        const auto thisYear = static_cast<std::uint64_t>(today_.year);
        const std::uint64_t year = thisYear - rng.skewed(0, 5);
        const std::uint64_t month = rng.between(1, year == thisYear ? today_.month : 12);
        const std::uint64_t day = rng.between(
            1, year == thisYear && month == today_.month ? std::min(today_.day, 28U) : 28);
        const auto category = rng.below(100);

        if (category < 38) { // article, e.g. /news/2013/05/12345.html
            entry.kind = UrlKind::Page;
            entry.bodyBytes = static_cast<std::uint32_t>(rng.skewed(9000, 95000));
            stem = concat({"/", section, "/"});
            appendUInt(stem, year);
            if (rng.chance(7000)) {
                stem += '/';
                appendPadded(stem, month, 2);
                stem += '/';
                appendUInt(stem, rng.between(10000, 99999));
                stem += ".html";
            } else {
                appendPadded(stem, month, 2);
                appendPadded(stem, day, 2);
                stem += '/';
                appendUInt(stem, rng.between(100000, 999999));
                stem += ".shtml";
            }
        } else if (category < 60) {
            entry.kind = UrlKind::Image;
            const auto form = rng.below(3);
            const auto extension = rng.below(20);
            const std::string_view suffix = extension < 14   ? ".jpg"
                                            : extension < 17 ? ".png"
                                                             : ".gif";
            entry.bodyBytes = static_cast<std::uint32_t>(extension < 14 ? rng.skewed(4000, 280000)
                                                                        : rng.skewed(300, 60000));
            if (form == 0) { // /images/2013/04/3fa2c9d1.jpg
                stem = "/images/";
                appendUInt(stem, year);
                stem += '/';
                appendPadded(stem, month, 2);
                stem += '/';
                appendHex(stem, rng.between(0x10000000, 0xFFFFFFFF));
            } else if (form == 1) { // /uploads/allimg/130412/1-130412093Q0.jpg style
                stem = "/uploads/allimg/";
                appendPadded(stem, year % 100, 2);
                appendPadded(stem, month, 2);
                appendPadded(stem, day, 2);
                stem += "/1-";
                appendUInt(stem, rng.between(100000, 999999));
                if (rng.chance(3000)) {
                    stem += "-lp";
                }
            } else { // /upload/image/20130412/20130412093512_4821.jpg
                stem = "/upload/image/";
                appendUInt(stem, year * 10000 + month * 100 + day);
                stem += '/';
                const std::uint64_t time =
                    rng.below(24) * 10000 + rng.below(60) * 100 + rng.below(60);
                appendUInt(stem, (year * 10000 + month * 100 + day) * 1000000 + time);
                stem += '_';
                appendUInt(stem, rng.between(1000, 9999));
            }
            stem += suffix;
        } else if (category < 67) { // list pages
            entry.kind = UrlKind::Page;
            entry.bodyBytes = static_cast<std::uint32_t>(rng.between(30000, 70000));
            stem = concat({"/", section, rng.chance(5000) ? "/list_" : "/index_"});
            appendUInt(stem, rng.between(2, 800));
            stem += ".html";
        } else if (category < 75) { // forum
            entry.kind = UrlKind::Page;
            entry.bodyBytes = static_cast<std::uint32_t>(rng.skewed(20000, 120000));
            if (rng.chance(8000)) {
                stem = "/bbs/thread-";
                appendUInt(stem, rng.between(1000, 299999));
                stem += '-';
                appendUInt(stem, rng.skewed(1, 12));
                stem += "-1.html";
            } else {
                stem = "/bbs/forum-";
                appendUInt(stem, rng.between(2, 60));
                stem += '-';
                appendUInt(stem, rng.between(1, 500));
                stem += ".html";
            }
        } else if (category < 81) {
            entry.kind = UrlKind::Dynamic;
            entry.bodyBytes = static_cast<std::uint32_t>(rng.skewed(6000, 120000));
            switch (rng.below(3)) {
            case 0:
                stem = concat({"/", section, "/detail_"});
                break;
            case 1:
                stem = "/product/show_";
                break;
            default:
                stem = "/user/";
                break;
            }
            appendUInt(stem, rng.between(1, 99999));
            stem += ".aspx";
        } else if (category < 85) {
            entry.kind = UrlKind::Download;
            entry.bodyBytes = static_cast<std::uint32_t>(rng.skewed(100000, 30000000));
            static constexpr std::array<std::string_view, 4> extensions{".zip", ".rar", ".exe",
                                                                        ".pdf"};
            const std::string_view extension = rng.pick(extensions);
            stem = extension == ".pdf" ? "/files/doc_" : "/download/soft_";
            appendUInt(stem, rng.between(1, 99999));
            stem += extension;
        } else if (category < 90) {
            static constexpr std::array<std::string_view, 10> names{
                "ad", "banner", "menu", "slide", "btn", "icon", "nav", "tab", "bg", "common"};
            const std::string_view name = rng.pick(names);
            const std::string number = toString(rng.between(1, 600));
            switch (rng.below(3)) {
            case 0:
                entry.kind = UrlKind::Static;
                stem = concat({"/js/", name, "_", number, ".js"});
                break;
            case 1:
                entry.kind = UrlKind::Static;
                stem = concat({"/css/", name, "_", number, ".css"});
                break;
            default:
                entry.kind = UrlKind::Image;
                stem = concat({"/skin/default/images/", name, "_", number, ".png"});
                break;
            }
            entry.bodyBytes = static_cast<std::uint32_t>(rng.skewed(300, 60000));
        } else if (category < 97) {
            entry.kind = UrlKind::Page;
            entry.bodyBytes = static_cast<std::uint32_t>(rng.skewed(15000, 60000));
            stem = "/video/";
            appendUInt(stem, year);
            stem += '/';
            appendUInt(stem, rng.between(100000, 999999));
            stem += ".shtml";
        } else { // raw double-byte characters in the path
            const std::string_view first = word(rng.pick(kChineseWords));
            const std::string_view second = word(rng.pick(kChineseWords));
            entry.kind = UrlKind::Page;
            entry.bodyBytes = static_cast<std::uint32_t>(rng.skewed(12000, 80000));
            switch (rng.below(4)) {
            case 0:
                stem = concat({"/tags/", first, second, ".html"});
                break;
            case 1:
                stem = concat(
                    {"/", section, "/", first, "/", toString(rng.between(1000, 99999)), ".html"});
                break;
            case 2:
                stem = concat({"/zt/", first, second, "/index.html"});
                break;
            default:
                entry.kind = UrlKind::Image;
                stem = concat({"/images/", first, "/", toString(rng.between(1000, 99999)), ".jpg"});
                break;
            }
        }
        return entry;
    }

    bool utf8_;
    CivilDate today_;
    std::vector<UrlEntry> urls_;
    std::set<std::string> taken_; // only while building
    std::vector<std::size_t> pages_;
    std::vector<std::size_t> images_;
    std::size_t robots_ = 0;
    std::size_t sitemap_ = 0;
    WeightedTable popularity_;
    WeightedTable pagePopularity_;
};

// ---------------------------------------------------------------------------------------------
// Traffic over time

constexpr std::int64_t kUsPerSecond = 1000000;
constexpr std::int64_t kUsPerHour = 3600 * kUsPerSecond;
constexpr std::int64_t kUsPerDay = 24 * kUsPerHour;
// IIS starts a new log file, and so writes its directives again, every six hours here (and
// therefore at midnight too).
constexpr std::int64_t kRolloverUs = 6 * kUsPerHour;
// Whatever the line count, the log covers this much time; the step between lines follows.
constexpr std::int64_t kSpanUs = 7 * kUsPerDay;

// Requests by people per hour of day; the values average 100.
constexpr std::array<std::uint64_t, 24> kBrowserWeightByHour{60,  40,  28,  22,  20,  24,  40,  70,
                                                             105, 135, 150, 148, 120, 130, 148, 152,
                                                             148, 130, 110, 120, 138, 145, 130, 87};
// Crawlers do not sleep. 54 against an average of 100 makes them about 35% of all requests.
constexpr std::uint64_t kCrawlerWeight = 54;
constexpr std::uint64_t kMeanHourWeight = kCrawlerWeight + 100;

constexpr std::uint64_t sum(const std::array<std::uint64_t, 24>& values) {
    std::uint64_t total = 0;
    for (const auto value : values) {
        total += value;
    }
    return total;
}
static_assert(sum(kBrowserWeightByHour) == 24 * 100);

// Below this many lines a forced visit by every crawler would distort the mix too much.
constexpr std::uint64_t kForcedVisitsMinLines = 1000;

constexpr std::string_view kSiteHost = "www.example.com";
constexpr std::array<std::string_view, 2> kServerAddresses{"61.155.142.227", "61.155.142.228"};

constexpr std::string_view kFieldsDirective =
    "#Fields: date time s-sitename s-ip cs-method cs-uri-stem cs-uri-query s-port cs-username "
    "c-ip cs(User-Agent) cs(Referer) sc-status sc-substatus sc-win32-status sc-bytes cs-bytes "
    "time-taken\r\n";

struct Options {
    std::uint64_t lines = 1000;
    std::uint64_t seed = 1;
    std::int64_t startDay = daysFromCivil(2013, 5, 1);
    bool utf8 = false;
    std::string output;
};

struct Outcome {
    unsigned status = 200;
    unsigned substatus = 0;
    unsigned win32 = 0;
};

// Shares of non-200 answers in 1/10000, by who asks for what; the rest is 200.
struct StatusShares {
    std::uint64_t notModified;
    std::uint64_t movedPermanently;
    std::uint64_t found;
    std::uint64_t forbidden;
    std::uint64_t notFound;
    std::uint64_t serverError;
    std::uint64_t unavailable;
};

constexpr StatusShares kBrowserPageShares{350, 120, 150, 40, 160, 40, 25};
constexpr StatusShares kBrowserDynamicShares{150, 60, 700, 40, 120, 220, 40};
constexpr StatusShares kBrowserResourceShares{2600, 30, 20, 20, 130, 5, 15};
constexpr StatusShares kCrawlerConditionalShares{1200, 200, 100, 30, 300, 40, 30};
constexpr StatusShares kCrawlerPlainShares{150, 200, 100, 30, 300, 40, 30};

// Writes the log into a memory buffer that the caller drains in large blocks.
class LogGenerator {
public:
    explicit LogGenerator(const Options& options)
        : options_(options), traffic_(streamSeed(options.seed, 0)),
          site_(options.seed, options.utf8, options.startDay), agents_(options.seed),
          crawlers_(makeCrawlers()), clients_(options.seed, crawlers_) {
        for (const Crawler& crawler : crawlers_) {
            crawlerTable_.add(crawler.weight);
        }
        // The agent a client address usually sends: one machine, one browser, except behind
        // NAT where the next request may come from anyone (see writeRequest()).
        Rng stickyRng(streamSeed(options.seed, 4));
        stickyAgents_.reserve(clients_.size());
        for (std::size_t i = 0; i < clients_.size(); ++i) {
            stickyAgents_.push_back(agents_.pick(stickyRng));
        }
        // Rare crawlers get one guaranteed visit each, spread evenly over the log.
        if (options.lines >= kForcedVisitsMinLines) {
            const std::uint64_t count = crawlers_.size();
            for (std::uint64_t i = 0; i < count; ++i) {
                forcedVisits_.push_back({(2 * i + 1) * options.lines / (2 * count), i});
            }
        }
        baseStepUs_ =
            kSpanUs / static_cast<std::int64_t>(std::max<std::uint64_t>(options.lines, 1));
        clientIp_.reserve(64);
        query_.reserve(256);
        referer_.reserve(512);
    }

    // Writes the header and all lines; sink(buffer) is called whenever the buffer is large and
    // once at the end, and must return false on failure.
    template <typename Sink> bool run(std::string& out, Sink&& sink) {
        constexpr std::size_t kBlockBytes = std::size_t{4} << 20;
        std::int64_t elapsedUs = 0;
        std::int64_t period = 0;
        writeHeader(out, 0);
        for (std::uint64_t line = 0; line < options_.lines; ++line) {
            if (elapsedUs / kRolloverUs != period) {
                period = elapsedUs / kRolloverUs;
                writeHeader(out, period * kRolloverUs);
            }
            writeRequest(out, line, elapsedUs);
            elapsedUs += nextStepUs(elapsedUs);
            if (out.size() >= kBlockBytes) {
                if (!sink(out)) {
                    return false;
                }
                out.clear();
            }
        }
        return sink(out);
    }

private:
    struct ForcedVisit {
        std::uint64_t line;
        std::size_t crawler;
    };

    // Time to the next request: busy hours have shorter gaps. On average over a day the gap is
    // baseStepUs_, so the lines fill kSpanUs.
    std::int64_t nextStepUs(std::int64_t elapsedUs) {
        const auto hour = static_cast<std::size_t>((elapsedUs / kUsPerHour) % 24);
        const std::uint64_t weight = kCrawlerWeight + kBrowserWeightByHour[hour];
        const auto jitter = traffic_.between(512, 1536); // 0.5 to 1.5 in 1/1024
        return static_cast<std::int64_t>(static_cast<std::uint64_t>(baseStepUs_) * kMeanHourWeight *
                                         jitter / (weight * 1024));
    }

    void appendTimestamp(std::string& out, std::int64_t elapsedUs, char separator) {
        const std::int64_t day = elapsedUs / kUsPerDay;
        if (day != cachedDay_) {
            cachedDay_ = day;
            cachedDate_.clear();
            appendDate(cachedDate_, options_.startDay + day);
        }
        out += cachedDate_;
        out += separator;
        const auto seconds = static_cast<std::uint64_t>((elapsedUs % kUsPerDay) / kUsPerSecond);
        appendPadded(out, seconds / 3600, 2);
        out += ':';
        appendPadded(out, seconds / 60 % 60, 2);
        out += ':';
        appendPadded(out, seconds % 60, 2);
    }

    void writeHeader(std::string& out, std::int64_t elapsedUs) {
        out += "#Software: Microsoft Internet Information Services 7.5\r\n#Version: 1.0\r\n#Date: ";
        appendTimestamp(out, elapsedUs, ' ');
        out += "\r\n";
        out += kFieldsDirective;
    }

    static std::string_view field(const std::string& value) {
        return value.empty() ? std::string_view("-") : std::string_view(value);
    }

    void writeRequest(std::string& out, std::uint64_t line, std::int64_t elapsedUs) {
        clientIp_.clear();
        query_.clear();
        referer_.clear();

        const Crawler* crawler = nullptr;
        bool forced = false;
        if (nextForced_ < forcedVisits_.size() && forcedVisits_[nextForced_].line == line) {
            crawler = &crawlers_[forcedVisits_[nextForced_].crawler];
            forced = true;
            ++nextForced_;
        } else {
            const auto hour = static_cast<std::size_t>((elapsedUs / kUsPerHour) % 24);
            if (traffic_.below(kCrawlerWeight + kBrowserWeightByHour[hour]) < kCrawlerWeight) {
                crawler = &crawlers_[crawlerTable_.pick(traffic_)];
            }
        }

        std::string_view agent;
        std::string_view method = "GET";
        const UrlEntry* url = nullptr;
        bool https = false;
        if (crawler != nullptr) {
            std::size_t agentIndex = 0;
            if (!forced && crawler->agents.size() > 1 && !traffic_.chance(7500)) {
                agentIndex = 1 + traffic_.below(crawler->agents.size() - 1);
            }
            agent = crawler->agents[agentIndex];
            appendCrawlerIp(*crawler);
            url = forced
                      ? &site_.robots()
                      : &crawlerUrl(*crawler, static_cast<int>(agentIndex) == crawler->imageAgent);
            if (traffic_.chance(150)) {
                method = "HEAD";
            }
            https = traffic_.chance(300);
        } else {
            const std::size_t client = clients_.pick(traffic_);
            clientIp_ = clients_.address(client);
            const std::size_t agentIndex =
                traffic_.chance(8500) ? stickyAgents_[client] : agents_.pick(traffic_);
            agent = agents_.all()[agentIndex];
            url = &site_.byPopularity(traffic_);
            if ((url->kind == UrlKind::Dynamic && traffic_.chance(2000)) ||
                (url->kind == UrlKind::Search && traffic_.chance(1000))) {
                method = "POST";
            } else if (traffic_.chance(30)) {
                method = "HEAD";
            }
            https = traffic_.chance(800);
            appendBrowserReferer(*url, https);
        }
        appendQuery(*url, method == "POST");

        const Outcome outcome = chooseOutcome(*url, crawler, method);
        const std::uint64_t scBytes = responseBytes(*url, outcome, method == "HEAD");
        std::uint64_t csBytes = (crawler != nullptr ? 140 : 330) + url->stem.size() +
                                query_.size() + agent.size() + referer_.size() + traffic_.below(60);
        if (crawler == nullptr && traffic_.chance(6000)) {
            csBytes += traffic_.skewed(60, 900); // cookies
        }
        if (method == "POST") {
            csBytes += traffic_.skewed(40, 4000);
        }
        const std::uint64_t timeTaken = timeTakenMs(*url, outcome, scBytes, crawler != nullptr);

        appendTimestamp(out, elapsedUs, ' ');
        out += " W3SVC1 ";
        out += traffic_.chance(1200) ? kServerAddresses[1] : kServerAddresses[0];
        out += ' ';
        out += method;
        out += ' ';
        out += url->stem;
        out += ' ';
        out += field(query_);
        out += https ? " 443 - " : " 80 - ";
        out += clientIp_;
        out += ' ';
        out += agent;
        out += ' ';
        out += field(referer_);
        out += ' ';
        appendUInt(out, outcome.status);
        out += ' ';
        appendUInt(out, outcome.substatus);
        out += ' ';
        appendUInt(out, outcome.win32);
        out += ' ';
        appendUInt(out, scBytes);
        out += ' ';
        appendUInt(out, csBytes);
        out += ' ';
        appendUInt(out, timeTaken);
        out += "\r\n";
    }

    void appendCrawlerIp(const Crawler& crawler) {
        const IpRange& range = traffic_.pick(crawler.ranges);
        appendUInt(clientIp_, range.first);
        clientIp_ += '.';
        appendUInt(clientIp_, range.second);
        clientIp_ += '.';
        appendUInt(clientIp_, traffic_.between(range.thirdLow, range.thirdHigh));
        clientIp_ += '.';
        appendUInt(clientIp_, traffic_.between(1, 254));
    }

    // Crawlers walk the whole site rather than following popularity, so they reach the deep,
    // rarely visited pages as well.
    const UrlEntry& crawlerUrl(const Crawler& crawler, bool imagesOnly) {
        if (imagesOnly) {
            return site_.image(traffic_);
        }
        const auto r = traffic_.below(10000);
        if (r < 200) {
            return site_.robots();
        }
        if (r < 250 && crawler.readsSitemap) {
            return site_.sitemap();
        }
        if (r < 5000) {
            return site_.anyUrl(traffic_);
        }
        return site_.byPopularity(traffic_);
    }

    void appendKeyword(std::string& out, bool utf8) {
        static constexpr std::array<std::string_view, 8> ascii{
            "news", "download", "iis+7.5", "2013", "mp3", "video", "bbs", "app"};
        const auto form = traffic_.below(10);
        if (form < 2) {
            out += traffic_.pick(ascii);
            return;
        }
        const ChineseWord& first = traffic_.pick(kChineseWords);
        appendPercentEncoded(out, utf8 ? first.utf8 : first.gbk);
        if (form < 6) {
            const ChineseWord& second = traffic_.pick(kChineseWords);
            appendPercentEncoded(out, utf8 ? second.utf8 : second.gbk);
        } else if (form < 7) {
            out += '+';
            out += traffic_.pick(ascii);
        }
    }

    // A few letters and digits of the opaque tokens search engines put in their URLs.
    void appendToken(std::string& out, std::size_t length) {
        constexpr std::string_view kAlphabet =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        for (std::size_t i = 0; i < length; ++i) {
            out += kAlphabet[traffic_.below(kAlphabet.size())];
        }
    }

    // Result pages as the engines linked them in 2013. Baidu, Sogou and Soso used GBK in their
    // query strings, the others UTF-8.
    void appendSearchReferer() {
        const auto engine = traffic_.below(10000);
        if (engine < 5500) {
            referer_ += "http://www.baidu.com/s?wd=";
            appendKeyword(referer_, false);
            referer_ += "&rsv_bp=0&ch=&tn=baidu&bar=&rsv_spt=3&ie=gbk&rsv_sug3=";
            appendUInt(referer_, traffic_.between(1, 12));
            referer_ += "&rsv_sug=0&rsv_sug1=";
            appendUInt(referer_, traffic_.between(1, 9));
            referer_ += "&inputT=";
            appendUInt(referer_, traffic_.between(400, 9000));
        } else if (engine < 7000) {
            referer_ += "http://www.google.com.hk/url?sa=t&rct=j&q=";
            appendKeyword(referer_, true);
            referer_ += "&source=web&cd=";
            appendUInt(referer_, traffic_.skewed(1, 30));
            referer_ += "&ved=0CC";
            appendToken(referer_, 5);
            referer_ += "&ei=";
            appendToken(referer_, 22);
            referer_ += "&usg=AFQjCN";
            appendToken(referer_, 28);
        } else if (engine < 8200) {
            referer_ += "http://www.so.com/s?ie=utf-8&src=360sou_home&q=";
            appendKeyword(referer_, true);
        } else if (engine < 9200) {
            referer_ += "http://www.sogou.com/web?query=";
            appendKeyword(referer_, false);
            referer_ += "&_asf=www.sogou.com&_ast=";
            appendUInt(referer_, traffic_.between(1367000000, 1368000000));
            referer_ += "&w=01019900&p=40040100&sut=";
            appendUInt(referer_, traffic_.between(300, 9000));
        } else if (engine < 9700) {
            referer_ += "http://cn.bing.com/search?q=";
            const std::size_t keywordStart = referer_.size();
            appendKeyword(referer_, true);
            const std::size_t keywordLength = referer_.size() - keywordStart;
            referer_ += "&go=&qs=n&form=QBLH&pq=";
            referer_.append(referer_, keywordStart, keywordLength); // what was typed
            referer_ += "&sc=8-";
            appendUInt(referer_, traffic_.between(2, 12));
        } else {
            referer_ += "http://www.soso.com/q?pid=s.idx&cid=s.idx.se&w=";
            appendKeyword(referer_, false);
        }
    }

    void appendInnerReferer(bool https) {
        referer_ += https ? "https://" : "http://";
        referer_ += kSiteHost;
        appendPercentEncoded(referer_, site_.page(traffic_).stem);
    }

    void appendExternalReferer() {
        switch (traffic_.below(4)) {
        case 0:
            referer_ += "http://weibo.com/u/";
            appendUInt(referer_, traffic_.between(1000000000, 3999999999));
            break;
        case 1:
            referer_ += "http://tieba.baidu.com/p/";
            appendUInt(referer_, traffic_.between(1000000000, 2399999999));
            break;
        case 2:
            referer_ += "http://www.hao123.com/";
            break;
        default:
            referer_ += "http://bbs.tianya.cn/post-free-";
            appendUInt(referer_, traffic_.between(1000000, 3999999));
            referer_ += "-1.shtml";
            break;
        }
    }

    void appendBrowserReferer(const UrlEntry& url, bool https) {
        const auto r = traffic_.below(100);
        switch (url.kind) {
        case UrlKind::Page:
        case UrlKind::Dynamic:
        case UrlKind::Search:
            if (r < 22) {
                return;
            }
            if (r < 52) {
                appendInnerReferer(https);
            } else if (r < 90) {
                appendSearchReferer();
            } else {
                appendExternalReferer();
            }
            return;
        case UrlKind::Static:
        case UrlKind::Image:
        case UrlKind::Favicon:
            if (r >= 10) {
                appendInnerReferer(https);
            }
            return;
        case UrlKind::Download:
            if (r >= 40) {
                appendInnerReferer(https);
            }
            return;
        case UrlKind::Redirect:
        case UrlKind::Robots:
        case UrlKind::Sitemap:
            return;
        }
    }

    void appendQuery(const UrlEntry& url, bool post) {
        const auto r = traffic_.below(100);
        switch (url.kind) {
        case UrlKind::Page:
            if (r < 3) {
                query_ += "from=timeline";
            } else if (r < 5) {
                query_ += "page=";
                appendUInt(query_, traffic_.between(2, 9));
            } else if (r < 6) {
                query_ += "utm_source=weibo&utm_medium=share";
            }
            return;
        case UrlKind::Dynamic:
            if (url.id == 0) { // entry pages: no record behind them
                if (r >= 90) {
                    query_ += "page=";
                    appendUInt(query_, traffic_.between(2, 9));
                }
                return;
            }
            if (post ? r < 60 : r < 20) {
                return;
            }
            query_ += "id=";
            appendUInt(query_, url.id);
            if (r < 65) {
                query_ += "&page=";
                appendUInt(query_, traffic_.skewed(1, 20));
            }
            return;
        case UrlKind::Search:
            if (r < 10) {
                return;
            }
            query_ += r < 70 ? "q=" : "keyword=";
            appendKeyword(query_, options_.utf8);
            query_ += "&page=";
            appendUInt(query_, traffic_.skewed(1, 10));
            return;
        case UrlKind::Static:
            if (url.stem.ends_with(".axd")) {
                appendResourceQuery(url);
            } else if (r < 25) {
                query_ += "v=201304";
                appendPadded(query_, traffic_.between(1, 30), 2);
            }
            return;
        case UrlKind::Image:
        case UrlKind::Download:
        case UrlKind::Redirect:
        case UrlKind::Robots:
        case UrlKind::Sitemap:
        case UrlKind::Favicon:
            return;
        }
    }

    // ASP.NET resource handlers: an opaque key and a build timestamp; a handful per handler.
    void appendResourceQuery(const UrlEntry& url) {
        constexpr std::string_view kAlphabet =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
        Rng resource(mix64(url.id * 64 + traffic_.below(6)));
        query_ += "d=";
        for (int i = 0; i < 22; ++i) {
            query_ += kAlphabet[resource.below(kAlphabet.size())];
        }
        query_ += "&t=634";
        appendUInt(query_, resource.between(900000000000000, 999999999999999));
    }

    unsigned drawStatus(const StatusShares& shares) {
        std::uint64_t r = traffic_.below(10000);
        const std::array<std::pair<std::uint64_t, unsigned>, 7> table{{
            {shares.notModified, 304},
            {shares.movedPermanently, 301},
            {shares.found, 302},
            {shares.forbidden, 403},
            {shares.notFound, 404},
            {shares.serverError, 500},
            {shares.unavailable, 503},
        }};
        for (const auto& [share, status] : table) {
            if (r < share) {
                return status;
            }
            r -= share;
        }
        return 200;
    }

    Outcome chooseOutcome(const UrlEntry& url, const Crawler* crawler, std::string_view method) {
        Outcome outcome;
        if (url.kind == UrlKind::Redirect) {
            outcome.status = 301;
        } else if (url.dead) {
            outcome.status = 404;
        } else if (url.kind == UrlKind::Robots || url.kind == UrlKind::Sitemap) {
            outcome.status =
                crawler != nullptr && crawler->conditionalGets && traffic_.chance(2000) ? 304 : 200;
        } else if (method == "POST") {
            const auto r = traffic_.below(1000);
            outcome.status = r < 300 ? 302 : r < 310 ? 500 : 200;
        } else if (crawler != nullptr) {
            outcome.status = drawStatus(crawler->conditionalGets ? kCrawlerConditionalShares
                                                                 : kCrawlerPlainShares);
        } else if (url.kind == UrlKind::Dynamic || url.kind == UrlKind::Search) {
            outcome.status = drawStatus(kBrowserDynamicShares);
        } else if (url.kind == UrlKind::Page || url.kind == UrlKind::Download) {
            outcome.status = drawStatus(kBrowserPageShares);
        } else {
            outcome.status = drawStatus(kBrowserResourceShares);
        }

        const auto r = traffic_.below(100);
        switch (outcome.status) {
        case 200:
            // Clients that hang up early: 64 "network name no longer available" and 1236
            // "connection aborted by the local system".
            if (r < 2) {
                outcome.win32 = 64;
            } else if (r < 3) {
                outcome.win32 = 1236;
            }
            break;
        case 404:
            outcome.win32 = 2; // file not found
            outcome.substatus = r < 92 ? 0 : r < 96 ? 3 : 11;
            break;
        case 403:
            outcome.win32 = 5; // access denied
            outcome.substatus = r < 50 ? 14 : r < 70 ? 4 : r < 85 ? 18 : 0;
            break;
        case 500:
            outcome.substatus = r < 70 ? 0 : r < 80 ? 19 : 50;
            outcome.win32 = r < 95 ? 0 : 1236;
            break;
        case 503:
            outcome.substatus = r < 50 ? 0 : 2;
            break;
        default:
            break;
        }
        return outcome;
    }

    std::uint64_t responseBytes(const UrlEntry& url, const Outcome& outcome, bool head) {
        const std::uint64_t header = 230 + traffic_.below(110);
        switch (outcome.status) {
        case 200: {
            if (head) {
                return header;
            }
            std::uint64_t body = url.bodyBytes;
            if (url.kind == UrlKind::Dynamic || url.kind == UrlKind::Search) {
                body = body * traffic_.between(85, 115) / 100; // rendered per request
            }
            if (outcome.win32 != 0) {
                body = body * traffic_.below(100) / 100; // cut off
            }
            return header + body;
        }
        case 304:
            return 180 + traffic_.below(60);
        case 301:
        case 302:
            return 150 + 2 * (kSiteHost.size() + url.stem.size()) + traffic_.below(40);
        case 404:
            return outcome.substatus == 0 ? 1405 : outcome.substatus == 3 ? 1397 : 1423;
        case 403:
            return outcome.substatus == 14 ? 1480 : 1367;
        case 500:
            // Half are ASP.NET's detailed error pages, which are much larger.
            return outcome.substatus == 0 && traffic_.chance(5000) ? traffic_.between(5200, 9800)
                                                                   : 1208 + traffic_.below(60);
        default:
            return 326;
        }
    }

    std::uint64_t timeTakenMs(const UrlEntry& url, const Outcome& outcome, std::uint64_t scBytes,
                              bool crawler) {
        if (outcome.win32 == 64 || outcome.win32 == 1236) {
            return traffic_.skewed(200, 60000);
        }
        std::uint64_t work = 0;
        switch (outcome.status) {
        case 200:
            switch (url.kind) {
            case UrlKind::Dynamic:
                work = traffic_.skewed(15, 900);
                break;
            case UrlKind::Search:
                work = traffic_.skewed(62, 2500);
                break;
            case UrlKind::Page:
                work = traffic_.skewed(0, 125);
                break;
            default:
                work = traffic_.skewed(0, 46);
                break;
            }
            break;
        case 500:
            work = traffic_.skewed(15, 5000);
            break;
        default:
            work = traffic_.skewed(0, 31);
            break;
        }
        // time-taken includes sending the response: bytes per millisecond of the client's link.
        const std::uint64_t rate =
            crawler ? traffic_.between(500, 5000) : traffic_.skewed(20, 2000);
        std::uint64_t total = work + scBytes / rate;
        if (traffic_.chance(30)) {
            total += traffic_.between(1000, 30000); // stalls
        }
        return total;
    }

    Options options_;
    Rng traffic_;
    Site site_;
    BrowserAgents agents_;
    std::vector<Crawler> crawlers_;
    ClientPool clients_;
    WeightedTable crawlerTable_;
    std::vector<std::size_t> stickyAgents_;
    std::vector<ForcedVisit> forcedVisits_;
    std::size_t nextForced_ = 0;
    std::int64_t baseStepUs_ = 0;
    std::int64_t cachedDay_ = -1;
    std::string cachedDate_;
    // Per-line scratch, kept to avoid reallocating.
    std::string clientIp_;
    std::string query_;
    std::string referer_;
};

// ---------------------------------------------------------------------------------------------
// Command line

constexpr std::string_view kUsage =
    "usage: logdesk-loggen [--lines N] [--seed S] [--start YYYY-MM-DD] [--utf8] OUTFILE\n";

// Far beyond any practical size; keeps the step between lines at a microsecond or more.
constexpr std::uint64_t kMaxLines = 100000000000ULL;

std::optional<std::uint64_t> parseUnsigned(std::string_view text) {
    std::uint64_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int64_t> parseDate(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') {
        return std::nullopt;
    }
    const auto year = parseUnsigned(text.substr(0, 4));
    const auto month = parseUnsigned(text.substr(5, 2));
    const auto day = parseUnsigned(text.substr(8, 2));
    // The last day must still have a four-digit year.
    if (!year || !month || !day || *year < 1970 || *year > 9998 || *month < 1 || *month > 12) {
        return std::nullopt;
    }
    const auto y = static_cast<std::int64_t>(*year);
    const auto m = static_cast<unsigned>(*month);
    if (*day < 1 || *day > daysInMonth(y, m)) {
        return std::nullopt;
    }
    return daysFromCivil(y, m, static_cast<unsigned>(*day));
}

void printError(std::string_view message) {
    std::fprintf(stderr, "logdesk-loggen: %.*s\n", static_cast<int>(message.size()),
                 message.data());
}

std::optional<Options> parseArguments(int argc, char** argv) {
    Options options;
    bool haveOutput = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const bool takesValue =
            argument == "--lines" || argument == "--seed" || argument == "--start";
        if (takesValue) {
            if (i + 1 >= argc) {
                printError(concat({"missing value for ", argument}));
                return std::nullopt;
            }
            const std::string_view value = argv[++i];
            bool valid = false;
            if (argument == "--lines") {
                const auto lines = parseUnsigned(value);
                valid = lines && *lines <= kMaxLines;
                options.lines = lines.value_or(0);
            } else if (argument == "--seed") {
                const auto seed = parseUnsigned(value);
                valid = seed.has_value();
                options.seed = seed.value_or(0);
            } else {
                const auto day = parseDate(value);
                valid = day.has_value();
                options.startDay = day.value_or(0);
            }
            if (!valid) {
                printError(concat({"invalid value for ", argument, ": '", value, "'"}));
                return std::nullopt;
            }
        } else if (argument == "--utf8") {
            options.utf8 = true;
        } else if (argument.size() > 1 && argument[0] == '-') {
            printError(concat({"unknown option '", argument, "'"}));
            return std::nullopt;
        } else if (haveOutput) {
            printError("more than one output file given");
            return std::nullopt;
        } else {
            options.output = argument;
            haveOutput = true;
        }
    }
    if (!haveOutput) {
        printError("no output file given");
        return std::nullopt;
    }
    return options;
}

int run(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
            return 0;
        }
    }
    const std::optional<Options> options = parseArguments(argc, argv);
    if (!options) {
        std::fwrite(kUsage.data(), 1, kUsage.size(), stderr);
        return 2;
    }

    const bool toStdout = options->output == "-";
    const std::string name = toStdout ? std::string("standard output") : options->output;
    std::FILE* file = toStdout ? stdout : std::fopen(options->output.c_str(), "wb");
    if (file == nullptr) {
        printError(concat({"cannot open ", name, ": ", std::strerror(errno)}));
        return 1;
    }

    LogGenerator generator(*options);
    std::string buffer;
    buffer.reserve(std::size_t{5} << 20);
    const bool written = generator.run(buffer, [file](const std::string& block) {
        return std::fwrite(block.data(), 1, block.size(), file) == block.size();
    });
    const int writeErrno = errno;
    const bool closed = toStdout ? std::fflush(file) == 0 : std::fclose(file) == 0;
    if (!written || !closed) {
        printError(
            concat({"cannot write ", name, ": ", std::strerror(written ? errno : writeErrno)}));
        return 1;
    }
    return 0;
}

} // namespace
} // namespace logdesk

int main(int argc, char** argv) {
    return logdesk::run(argc, argv);
}
