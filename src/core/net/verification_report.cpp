#include "verification_report.h"

#include "net/crawler_rules.h"
#include "text/gbk_codec.h"
#include "text/gbk_text.h"

#include <algorithm>
#include <unordered_set>

namespace logdesk {

std::array<std::string, kVerifyColumns> VerifyColumnTitles() {
    return {"IP", Gbk("声称蜘蛛"), Gbk("访问次数"), Gbk("反查主机名"), Gbk("结论")};
}

std::string VerdictText(Verdict verdict) {
    switch (verdict) {
    case Verdict::Genuine:
        return Gbk("真");
    case Verdict::Fake:
        return Gbk("假");
    case Verdict::Unverifiable:
        break;
    }
    return Gbk("无法验证");
}

std::string ReasonText(VerdictReason reason) {
    switch (reason) {
    case VerdictReason::Confirmed:
        return Gbk("反查与正查一致");
    case VerdictReason::NoReverseName:
        return Gbk("没有反查记录");
    case VerdictReason::OtherDomain:
        return Gbk("反查主机名不属于该蜘蛛的域名");
    case VerdictReason::ForwardMismatch:
        return Gbk("正查结果与IP不符");
    case VerdictReason::NoRule:
        return Gbk("该蜘蛛没有公开的验证方法");
    case VerdictReason::NotAnAddress:
        return Gbk("不是有效的IP地址");
    case VerdictReason::TimedOut:
        return Gbk("DNS查询超时");
    case VerdictReason::ServerFailure:
        return Gbk("DNS服务器出错");
    case VerdictReason::Cancelled:
        break;
    }
    return Gbk("验证已取消");
}

std::string ConclusionText(const CrawlerVerdict& verdict) {
    if (verdict.verdict == Verdict::Genuine) {
        return VerdictText(verdict.verdict);
    }
    return VerdictText(verdict.verdict) + Gbk("（") + ReasonText(verdict.reason) + Gbk("）");
}

std::string ClaimedCrawlerName(const CrawlerClaim& claim) {
    if (claim.spider != SpiderId::Unknown) {
        return SpiderDisplayName(claim.spider);
    }
    return claim.token;
}

std::array<std::string, kVerifyColumns> VerifyTableRow(const CrawlerClaim& claim,
                                                       const CrawlerVerdict& verdict) {
    return {claim.ip, ClaimedCrawlerName(claim), std::to_string(claim.visits), verdict.reverseHost,
            ConclusionText(verdict)};
}

std::vector<CrawlerShare> CrawlerShares(std::span<const CrawlerClaim> claims,
                                        std::span<const CrawlerVerdict> verdicts) {
    const std::size_t count = std::min(claims.size(), verdicts.size());
    std::array<CrawlerShare, kSpiderCount> spiders{};
    std::array<bool, kSpiderCount> seen{};
    std::vector<CrawlerShare> tokens;
    for (std::size_t i = 0; i < count; ++i) {
        const CrawlerClaim& claim = claims[i];
        CrawlerShare* share = nullptr;
        if (claim.spider != SpiderId::Unknown) {
            const auto slot = static_cast<std::size_t>(claim.spider);
            share = &spiders[slot];
            if (!seen[slot]) {
                seen[slot] = true;
                *share = {ClaimedCrawlerName(claim), RuleForClaim(claim) != nullptr};
            }
        } else {
            const auto it = std::find_if(tokens.begin(), tokens.end(), [&](const CrawlerShare& s) {
                return EqualsIgnoreAsciiCase(s.name, claim.token);
            });
            if (it != tokens.end()) {
                share = &*it;
            } else {
                share =
                    &tokens.emplace_back(CrawlerShare{claim.token, RuleForClaim(claim) != nullptr});
            }
        }
        share->claimedVisits += claim.visits;
        if (verdicts[i].verdict == Verdict::Genuine) {
            share->genuineVisits += claim.visits;
        } else if (verdicts[i].verdict == Verdict::Fake) {
            share->fakeVisits += claim.visits;
        }
    }

    std::vector<CrawlerShare> shares;
    for (const std::string& shortName : SpiderTallyOrder()) {
        for (const SpiderInfo& spider : SpiderCatalogue()) {
            const auto slot = static_cast<std::size_t>(spider.id);
            if (spider.shortName == shortName && seen[slot]) {
                shares.push_back(spiders[slot]);
                seen[slot] = false;
            }
        }
    }
    // A catalogue crawler missing from the tally order still counts.
    for (const SpiderInfo& spider : SpiderCatalogue()) {
        if (seen[static_cast<std::size_t>(spider.id)]) {
            shares.push_back(spiders[static_cast<std::size_t>(spider.id)]);
        }
    }
    shares.insert(shares.end(), tokens.begin(), tokens.end());
    return shares;
}

std::array<std::string, kShareColumns> ShareColumnTitles() {
    return {Gbk("蜘蛛"), Gbk("声称访问次数"), Gbk("声称占比"), Gbk("验证为真访问次数"),
            Gbk("验证为真占比")};
}

namespace {

// part of whole in percent, two decimals, rounded half up; whole 0 gives 0.
std::string PercentText(std::int64_t part, std::int64_t whole) {
    if (whole <= 0) {
        return "0.00%";
    }
    // In hundredths of a percent; visits stay far below where this overflows.
    const std::int64_t hundredths = (part * 20000 + whole) / (2 * whole);
    std::string fraction = std::to_string(hundredths % 100);
    if (fraction.size() < 2) {
        fraction.insert(0, "0");
    }
    return std::to_string(hundredths / 100) + "." + fraction + "%";
}

} // namespace

std::vector<std::array<std::string, kShareColumns>>
ShareTableRows(std::span<const CrawlerShare> shares) {
    std::int64_t claimed = 0;
    std::int64_t genuine = 0;
    for (const CrawlerShare& share : shares) {
        claimed += share.claimedVisits;
        genuine += share.genuineVisits;
    }
    std::vector<std::array<std::string, kShareColumns>> rows;
    rows.reserve(shares.size());
    for (const CrawlerShare& share : shares) {
        std::array<std::string, kShareColumns> row = {
            share.name, std::to_string(share.claimedVisits),
            PercentText(share.claimedVisits, claimed), VerdictText(Verdict::Unverifiable),
            VerdictText(Verdict::Unverifiable)};
        if (share.verifiable) {
            row[3] = std::to_string(share.genuineVisits);
            row[4] = PercentText(share.genuineVisits, genuine);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<IpAddress> AddressesToBlock(std::span<const CrawlerClaim> claims,
                                        std::span<const CrawlerVerdict> verdicts) {
    const std::size_t count = std::min(claims.size(), verdicts.size());
    auto key = [](const IpAddress& address) {
        return std::string(reinterpret_cast<const char*>(address.bytes.data()), address.size());
    };
    std::unordered_set<std::string> genuine;
    for (std::size_t i = 0; i < count; ++i) {
        if (verdicts[i].verdict == Verdict::Genuine) {
            if (const std::optional<IpAddress> address = IpAddress::Parse(claims[i].ip)) {
                genuine.insert(key(*address));
            }
        }
    }
    std::unordered_set<std::string> listed;
    std::vector<IpAddress> fake;
    for (std::size_t i = 0; i < count; ++i) {
        if (verdicts[i].verdict != Verdict::Fake) {
            continue;
        }
        const std::optional<IpAddress> address = IpAddress::Parse(claims[i].ip);
        if (address && !genuine.contains(key(*address)) && listed.insert(key(*address)).second) {
            fake.push_back(*address);
        }
    }
    return fake;
}

std::string IpSecurityRules(std::span<const IpAddress> addresses) {
    std::string text = "<security>\r\n"
                       "  <ipSecurity allowUnlisted=\"true\">\r\n";
    for (const IpAddress& address : addresses) {
        text += "    <add ipAddress=\"" + address.text() + "\" allowed=\"false\" />\r\n";
    }
    text += "  </ipSecurity>\r\n"
            "</security>\r\n";
    return text;
}

std::string AddressLines(std::span<const IpAddress> addresses) {
    std::string text;
    for (const IpAddress& address : addresses) {
        text += address.text() + "\r\n";
    }
    return text;
}

} // namespace logdesk
