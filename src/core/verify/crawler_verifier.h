// Whether the addresses that visited as a search-engine crawler belong to
// that engine: a verdict per (address, claimed crawler) from a forward-
// confirmed reverse DNS lookup under the engine's published rule.
//
// Use, from a worker thread (never the GUI thread; verify() waits for the
// network):
//
//     CrawlerVerifier verifier(settings);         // keep it: it holds the cache
//     Cancellation cancel;                        // the window's stop button calls cancel.cancel()
//     VerifyRun run = verifier.verify(claims, progress, &cancel);
//
// progress(done, total) runs on the worker inside cancel's guard, so once
// cancel.cancel() has returned on the GUI thread no progress call is running
// or will start; verify() itself returns within about 10 ms of the cancel.
// A progress callback must not wait for the GUI thread (post to it instead).
// The helpers in verification_report.h turn a run into the table, the crawler
// shares and the block rules.
#pragma once

#include "core/base/cancellation.h"
#include "core/logimport/spider_catalogue.h"
#include "core/verify/crawler_ranges.h"
#include "core/verify/crawler_rules.h"
#include "core/verify/dns_resolver.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace logdesk {

// One address as the log shows it, the crawler its user-agent named, and how
// often it came.
struct CrawlerClaim {
    std::string ip; // as logged (ASCII); parsed by IpAddress::Parse
    // The catalogue crawler the agent was identified as; Unknown when the
    // claim is given by token instead.
    SpiderId spider = SpiderId::Unknown;
    // A user-agent token ("YandexBot") for crawlers outside the catalogue;
    // looked at only when spider is Unknown.
    std::string token{};
    std::int64_t visits = 0;
    // Some visit's user-agent held one of the rule's documented tokens as a
    // whole token (AgentHasToken); a claim without is not judged by the rule.
    bool documented = true;
    // Visits of the same address whose agent named no crawler: people or
    // programs behind the same address (a proxy, a NAT, a shared host).
    std::int64_t unclaimedVisits = 0;
};

enum class Verdict : std::uint8_t {
    Genuine,      // 真
    Fake,         // 假
    Unverifiable, // 无法验证
};

enum class VerdictReason : std::uint8_t {
    // Genuine: the reverse name lies in a published domain and its forward
    // lookup holds the address.
    Confirmed,
    // Fake: no PTR record (NXDOMAIN or NODATA).
    NoReverseName,
    // Fake: the reverse names lie outside every published domain.
    OtherDomain,
    // Fake: the reverse name in the domain does not lead back to the address
    // (no such name, no address records, or other addresses only).
    ForwardMismatch,
    // Unverifiable: the crawler's owner publishes no check (or no crawler is
    // named). No query is sent.
    NoRule,
    // Unverifiable: the logged text is not an IPv4 or IPv6 address.
    NotAnAddress,
    // Unverifiable: a lookup went unanswered within its attempts.
    TimedOut,
    // Unverifiable: a server failed or refused, an answer was malformed, or
    // the resolver could not be set up.
    ServerFailure,
    // Unverifiable: the run was cancelled before this claim was settled.
    Cancelled,
    // Fake: every PTR name of the answer is no host name (odd bytes).
    UnusableReverseName,
    // Unverifiable: the agent holds none of the tokens the engine documents
    // for the crawlers its check covers (it only contains the engine's name).
    NoDocumentedToken,
    // Unverifiable: the run showed that its DNS server does not answer reverse
    // lookups (VerifyRun::problem), so a missing or foreign name proves
    // nothing.
    ResolverUnusable,
    // Unverifiable: the server had answered nothing for a while, and the run
    // stopped asking it.
    ServerSilent,
    // Genuine: the address lies in a range the crawler's owner publishes
    // (PublishedRanges); no DNS query is sent.
    InPublishedRange,
};

struct CrawlerVerdict {
    Verdict verdict = Verdict::Unverifiable;
    VerdictReason reason = VerdictReason::Cancelled;
    // The reverse name the verdict rests on: the one in the published domain
    // when there is one, else the first PTR name; lower case, no trailing
    // dot; empty when no PTR name was found or none was looked for. It comes
    // from whoever runs the address's reverse zone: show it, never trust it.
    std::string reverseHost{};
    bool operator==(const CrawlerVerdict&) const = default;
};

// What a run learnt about its DNS server as a whole.
enum class ResolverProblem : std::uint8_t {
    None,
    // It answered no query at all within the give-up time.
    Silent,
    // Every reverse lookup timed out or failed.
    NoAnswers,
    // It failed the control query (NXDOMAIN, no records, SERVFAIL, REFUSED
    // for the NS records of in-addr.arpa).
    ControlFailed,
    // No address of the run has a reverse name.
    NoReverseNames,
};

// The rule that keeps a resolver from blocking anyone: a run with a problem
// other than None judges no claim 假 (ResolverUnusable instead), as neither a
// missing nor a foreign reverse name can be told from what such a server
// gives. A run without claims that need DNS has no problem.
struct VerifyRun {
    // False when cancelled: the claims not settled by then have the reason
    // Cancelled.
    bool completed = false;
    // The resolver's set-up failure (DnsResolver::error()); none otherwise.
    // The claims that needed a lookup then end as ServerFailure.
    std::optional<Error> error{};
    ResolverProblem problem = ResolverProblem::None;
    // One per claim, in the claims' order.
    std::vector<CrawlerVerdict> verdicts{};
};

// done claims of total settled; called once per settled claim.
using VerifyProgress = std::function<void(std::size_t done, std::size_t total)>;

// The rule a claim is judged by; null when it has none.
const CrawlerRule* RuleForClaim(const CrawlerClaim& claim);

// Why a run's DNS server could not be relied on, in a sentence (GBK) that
// says the server does not answer reverse lookups; empty for None.
std::string ResolverProblemText(ResolverProblem problem);

class CrawlerVerifier {
public:
    // With ranges, a claim whose address lies in its crawler's published
    // ranges is 真 before any lookup.
    explicit CrawlerVerifier(const ResolverSettings& settings = {}, PublishedRanges ranges = {})
        : resolver_(settings), ranges_(std::move(ranges)) {}

    // Settles every claim. Claims of one address share its lookups, and
    // lookups already answered for this verifier are not sent again.
    VerifyRun verify(std::span<const CrawlerClaim> claims, const VerifyProgress& progress = {},
                     Cancellation* cancel = nullptr);

    const DnsResolver& resolver() const { return resolver_; }

private:
    DnsResolver resolver_;
    PublishedRanges ranges_;
};

} // namespace logdesk
