// What a finished (or cancelled) verification is shown and exported as: the
// table rows, each crawler's visits as claimed beside those of addresses that
// passed, and block rules for the addresses that only pretended.
//
// claims and verdicts are the input and the result of one
// CrawlerVerifier::verify(), index for index; where their lengths differ
// only the common part is read. Texts are GBK.
#pragma once

#include "core/verify/crawler_verifier.h"
#include "core/verify/dns_resolver.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace logdesk {

inline constexpr int kVerifyColumns = 6;

// "IP", "声称蜘蛛", "访问次数", "反查主机名", "结论", "非蜘蛛访问次数".
std::array<std::string, kVerifyColumns> VerifyColumnTitles();

// "真", "假", "无法验证".
std::string VerdictText(Verdict verdict);
// Why, in a few words ("反查主机名不属于该蜘蛛的域名").
std::string ReasonText(VerdictReason reason);
// The 结论 cell: the verdict alone for 真 by DNS, else the verdict and the
// reason in full-width parentheses ("假（正查结果与IP不符）",
// "真（在该蜘蛛公布的IP段内）").
std::string ConclusionText(const CrawlerVerdict& verdict);
// The 声称蜘蛛 cell: the catalogue's display name, or the token as given.
std::string ClaimedCrawlerName(const CrawlerClaim& claim);
// One table row: the IP as logged, the claimed crawler, the visits in decimal,
// the reverse host, the conclusion, the address's visits that named no
// crawler in decimal.
std::array<std::string, kVerifyColumns> VerifyTableRow(const CrawlerClaim& claim,
                                                       const CrawlerVerdict& verdict);

struct CrawlerShare {
    std::string name;               // as ClaimedCrawlerName gives it
    bool verifiable = false;        // the crawler has a rule; without one nothing passes
    std::int64_t claimedVisits = 0; // every visit under the name
    std::int64_t genuineVisits = 0; // of addresses judged 真
    std::int64_t fakeVisits = 0;    // of addresses judged 假
    bool operator==(const CrawlerShare&) const = default;
};

inline constexpr int kShareColumns = 5;

// "蜘蛛", "声称访问次数", "声称占比", "验证为真访问次数", "验证为真占比".
std::array<std::string, kShareColumns> ShareColumnTitles();

// One row per share, in the shares' order: the name; its claimed visits and
// their part of every claimed visit; its visits judged 真 and their part of
// every visit judged 真. Parts are percentages with two decimals, rounded
// ("12.50%"), "0.00%" of nothing. A crawler without a rule shows "无法验证"
// in both of its 真 cells, as nothing of it can pass.
std::vector<std::array<std::string, kShareColumns>>
ShareTableRows(std::span<const CrawlerShare> shares);

// One entry per crawler claimed at least once: catalogue crawlers in the
// tally's order, then tokens (ASCII case ignored, the first spelling kept) in
// the order they first appear.
std::vector<CrawlerShare> CrawlerShares(std::span<const CrawlerClaim> claims,
                                        std::span<const CrawlerVerdict> verdicts);

// The addresses to refuse: judged 假 for some claim and 真 for none (an
// address that is one engine's real crawler and also named another one stays
// open), each once, in the order of its first 假 claim. An address with
// visits that named no crawler (CrawlerClaim::unclaimedVisits) is shared with
// people or other programs: it is left out unless blockShared, and counted
// in *sharedLeftOut when given.
std::vector<IpAddress> AddressesToBlock(std::span<const CrawlerClaim> claims,
                                        std::span<const CrawlerVerdict> verdicts,
                                        bool blockShared = false,
                                        std::size_t* sharedLeftOut = nullptr);

// The block exports. All are ASCII with CR LF line ends, and all but the
// plain list open with comments that say what IIS needs for them: the role
// service "IP and Domain Restrictions", and for the fragment the section
// unlocked (IIS locks ipSecurity at the server level).
enum class BlockFormat : std::uint8_t {
    // An IIS <security> element for the <system.webServer> section of a
    // web.config: every other address allowed, each given one refused. A
    // single address needs no subnetMask (IIS matches it whole by default).
    WebConfig,
    // A PowerShell script (module WebAdministration) that adds the entries
    // for one site (-Site NAME) in applicationHost.config, with -PSPath
    // MACHINE/WEBROOT/APPHOST and -Location, which a locked section allows;
    // entries already present are skipped.
    PowerShell,
    // A batch file of appcmd set config SITE ... /commit:apphost lines, one
    // per address, for the site named as its first argument.
    Appcmd,
    // One address a line, nothing else.
    List,
};

// The export of `addresses` in `format`; sharedLeftOut is said in the
// comments of the formats that have them.
std::string BlockRules(BlockFormat format, std::span<const IpAddress> addresses,
                       std::size_t sharedLeftOut = 0);

inline std::string IpSecurityRules(std::span<const IpAddress> addresses) {
    return BlockRules(BlockFormat::WebConfig, addresses);
}
inline std::string AddressLines(std::span<const IpAddress> addresses) {
    return BlockRules(BlockFormat::List, addresses);
}

} // namespace logdesk
