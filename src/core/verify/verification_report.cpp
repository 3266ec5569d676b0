#include "verification_report.h"

#include "core/verify/crawler_rules.h"
#include "core/text/gbk_codec.h"
#include "core/text/gbk_text.h"

#include <algorithm>
#include <unordered_set>

namespace logdesk {

std::array<std::string, kVerifyColumns> VerifyColumnTitles() {
    return {"IP",        Gbk("声称蜘蛛"),      Gbk("访问次数"), Gbk("反查主机名"),
            Gbk("结论"), Gbk("非蜘蛛访问次数")};
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
    case VerdictReason::UnusableReverseName:
        return Gbk("反查主机名无效");
    case VerdictReason::NoDocumentedToken:
        return Gbk("用户代理不含该蜘蛛公布的标识");
    case VerdictReason::ResolverUnusable:
        return Gbk("DNS服务器不回答反查");
    case VerdictReason::ServerSilent:
        return Gbk("DNS服务器没有回应");
    case VerdictReason::InPublishedRange:
        return Gbk("在该蜘蛛公布的IP段内");
    case VerdictReason::Cancelled:
        break;
    }
    return Gbk("验证已取消");
}

std::string ConclusionText(const CrawlerVerdict& verdict) {
    if (verdict.verdict == Verdict::Genuine && verdict.reason == VerdictReason::Confirmed) {
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
    return {claim.ip,
            ClaimedCrawlerName(claim),
            std::to_string(claim.visits),
            verdict.reverseHost,
            ConclusionText(verdict),
            std::to_string(claim.unclaimedVisits)};
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
                                        std::span<const CrawlerVerdict> verdicts, bool blockShared,
                                        std::size_t* sharedLeftOut) {
    const std::size_t count = std::min(claims.size(), verdicts.size());
    auto key = [](const IpAddress& address) {
        return std::string(reinterpret_cast<const char*>(address.bytes.data()), address.size());
    };
    std::unordered_set<std::string> spared;
    for (std::size_t i = 0; i < count; ++i) {
        if (verdicts[i].verdict == Verdict::Genuine) {
            if (const std::optional<IpAddress> address = IpAddress::Parse(claims[i].ip)) {
                spared.insert(key(*address));
            }
        }
    }
    std::unordered_set<std::string> shared;
    for (std::size_t i = 0; i < count; ++i) {
        if (claims[i].unclaimedVisits > 0) {
            if (const std::optional<IpAddress> address = IpAddress::Parse(claims[i].ip)) {
                shared.insert(key(*address));
            }
        }
    }
    std::unordered_set<std::string> listed;
    std::vector<IpAddress> fake;
    std::size_t leftOut = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (verdicts[i].verdict != Verdict::Fake) {
            continue;
        }
        const std::optional<IpAddress> address = IpAddress::Parse(claims[i].ip);
        if (!address || spared.contains(key(*address)) || !listed.insert(key(*address)).second) {
            continue;
        }
        if (!blockShared && shared.contains(key(*address))) {
            ++leftOut;
            continue;
        }
        fake.push_back(*address);
    }
    if (sharedLeftOut != nullptr) {
        *sharedLeftOut = leftOut;
    }
    return fake;
}

namespace {

constexpr std::string_view kSection = "system.webServer/security/ipSecurity";

// What every deployable export says first, each line after `lead`.
std::string Requirements(std::string_view lead, std::size_t sharedLeftOut) {
    std::string text;
    auto line = [&](std::string_view words) {
        text += lead;
        text += words;
        text += "\r\n";
    };
    line("Addresses that claimed to be a search-engine crawler and failed its check.");
    line("Needs the IIS role service \"IP and Domain Restrictions\" (Server Manager: Web Server");
    line("> Security > IP and Domain Restrictions; PowerShell: Install-WindowsFeature");
    line("Web-IP-Security). Without it IIS does not know the ipSecurity section.");
    if (sharedLeftOut > 0) {
        line(std::to_string(sharedLeftOut) +
             " address(es) judged fake are left out: they also sent visits that named no");
        line("crawler, so blocking them would shut out those visitors too.");
    }
    return text;
}

} // namespace

std::string BlockRules(BlockFormat format, std::span<const IpAddress> addresses,
                       std::size_t sharedLeftOut) {
    std::string text;
    switch (format) {
    case BlockFormat::List:
        for (const IpAddress& address : addresses) {
            text += address.text() + "\r\n";
        }
        return text;
    case BlockFormat::WebConfig:
        text =
            "<!--\r\n" + Requirements("  ", sharedLeftOut) +
            "  Goes into <system.webServer> of the site's web.config. IIS locks ipSecurity at\r\n"
            "  the server level (overrideModeDefault=\"Deny\"), and a web.config that sets\r\n"
            "  it then fails with HTTP Error 500.19. Unlock it once, as an administrator:\r\n"
            "    %windir%\\system32\\inetsrv\\appcmd.exe unlock config\r\n"
            "      -section:" +
            std::string(kSection) +
            "\r\n"
            "  or use the PowerShell or appcmd export, which need no unlocking.\r\n"
            "-->\r\n"
            "<security>\r\n"
            "  <ipSecurity allowUnlisted=\"true\">\r\n";
        for (const IpAddress& address : addresses) {
            text += "    <add ipAddress=\"" + address.text() + "\" allowed=\"false\" />\r\n";
        }
        text += "  </ipSecurity>\r\n"
                "</security>\r\n";
        return text;
    case BlockFormat::PowerShell:
        text = Requirements("# ", sharedLeftOut) +
               "# Run as an administrator: .\\block.ps1 -Site 'Default Web Site'\r\n"
               "# The entries go into applicationHost.config for that site (-Location), which\r\n"
               "# works while the section is locked for web.config files.\r\n"
               "param([Parameter(Mandatory = $true)][string]$Site)\r\n"
               "Import-Module WebAdministration\r\n"
               "$psPath = 'MACHINE/WEBROOT/APPHOST'\r\n"
               "$filter = '" +
               std::string(kSection) +
               "'\r\n"
               "$addresses = @(\r\n";
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            text += "    '" + addresses[i].text() + "'" + (i + 1 < addresses.size() ? "," : "") +
                    "\r\n";
        }
        text += ")\r\n"
                "$present = @(Get-WebConfigurationProperty -PSPath $psPath -Location $Site "
                "-Filter $filter -Name 'collection' | ForEach-Object { $_.ipAddress })\r\n"
                "foreach ($address in $addresses) {\r\n"
                "    if ($present -contains $address) { continue }\r\n"
                "    Add-WebConfigurationProperty -PSPath $psPath -Location $Site -Filter $filter "
                "-Name '.' -Value @{ ipAddress = $address; allowed = 'false' }\r\n"
                "}\r\n";
        return text;
    case BlockFormat::Appcmd:
        text = "@echo off\r\n" + Requirements("rem ", sharedLeftOut) +
               "rem Run as an administrator: block.cmd \"Default Web Site\"\r\n"
               "rem /commit:apphost writes the entries into applicationHost.config for that\r\n"
               "rem site, which works while the section is locked for web.config files. An\r\n"
               "rem address already listed makes appcmd report a duplicate; the others go on.\r\n"
               "if \"%~1\"==\"\" (\r\n"
               "    echo usage: %~nx0 \"SITE NAME\"\r\n"
               "    exit /b 2\r\n"
               ")\r\n"
               "set APPCMD=%windir%\\system32\\inetsrv\\appcmd.exe\r\n";
        for (const IpAddress& address : addresses) {
            text += "\"%APPCMD%\" set config \"%~1\" -section:" + std::string(kSection) +
                    " /+\"[ipAddress='" + address.text() +
                    "',allowed='false']\" /commit:apphost\r\n";
        }
        return text;
    }
    return text;
}

} // namespace logdesk
