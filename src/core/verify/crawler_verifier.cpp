#include "crawler_verifier.h"

#include "core/verify/crawler_rules.h"
#include "core/text/gbk_codec.h"

#include <algorithm>
#include <memory>

namespace logdesk {
namespace {

// The most forward lookups one address costs: one per name kept.
static_assert(kMaxReverseNames == 8);

// The state of one verify() call, shared by the lookups' callbacks.
class Settling {
public:
    Settling(DnsResolver& resolver, const PublishedRanges& ranges,
             std::span<const CrawlerClaim> claims, const VerifyProgress& progress,
             Cancellation* cancel)
        : resolver_(resolver), ranges_(ranges), claims_(claims), progress_(progress),
          cancel_(cancel) {
        run_.verdicts.resize(claims.size());
    }

    VerifyRun settle() {
        bool control = false;
        for (std::size_t i = 0; i < claims_.size(); ++i) {
            if (!control && NeedsDns(claims_[i]) && !inRange(claims_[i])) {
                // Asked first, so that it stands before the claims' queries.
                control = true;
                resolver_.lookupControl([this](DnsStatus status) { control_ = status; });
            }
            start(i);
        }
        run_.completed = resolver_.run(cancel_);
        if (!resolver_.ok()) {
            run_.error = resolver_.error();
        } else if (run_.completed) {
            judgeResolver();
        }
        return std::move(run_);
    }

private:
    bool inRange(const CrawlerClaim& claim) const {
        const std::optional<IpAddress> address = IpAddress::Parse(claim.ip);
        return address && claim.spider != SpiderId::Unknown &&
               ranges_.find(claim.spider, *address) != nullptr;
    }

    static bool NeedsDns(const CrawlerClaim& claim) {
        return RuleForClaim(claim) != nullptr && claim.documented &&
               IpAddress::Parse(claim.ip).has_value();
    }

    static VerdictReason FailureReason(DnsStatus status) {
        switch (status) {
        case DnsStatus::TimedOut:
            return VerdictReason::TimedOut;
        case DnsStatus::Abandoned:
            return VerdictReason::ServerSilent;
        default:
            return VerdictReason::ServerFailure;
        }
    }

    void judgeResolver() {
        if (reverseAsked_ == 0) {
            return;
        }
        ResolverProblem problem = ResolverProblem::None;
        if (reverseHeard_ == 0) {
            problem = resolver_.gaveUp() ? ResolverProblem::Silent : ResolverProblem::NoAnswers;
        } else if (control_ == DnsStatus::NoSuchName || control_ == DnsStatus::NoRecords ||
                   control_ == DnsStatus::ServerFailed) {
            problem = ResolverProblem::ControlFailed;
        } else if (reverseNamed_ == 0) {
            problem = ResolverProblem::NoReverseNames;
        }
        run_.problem = problem;
        if (problem == ResolverProblem::None) {
            return;
        }
        for (CrawlerVerdict& verdict : run_.verdicts) {
            if (verdict.verdict == Verdict::Fake) {
                verdict.verdict = Verdict::Unverifiable;
                verdict.reason = VerdictReason::ResolverUnusable;
            }
        }
    }

    void start(std::size_t index) {
        const CrawlerClaim& claim = claims_[index];
        if (inRange(claim)) {
            finish(index, {Verdict::Genuine, VerdictReason::InPublishedRange, {}});
            return;
        }
        const CrawlerRule* rule = RuleForClaim(claim);
        if (rule == nullptr) {
            finish(index, {Verdict::Unverifiable, VerdictReason::NoRule, {}});
            return;
        }
        if (!claim.documented) {
            finish(index, {Verdict::Unverifiable, VerdictReason::NoDocumentedToken, {}});
            return;
        }
        const std::optional<IpAddress> address = IpAddress::Parse(claim.ip);
        if (!address) {
            finish(index, {Verdict::Unverifiable, VerdictReason::NotAnAddress, {}});
            return;
        }
        resolver_.lookupReverse(
            *address, [this, index, rule, address = *address](const ReverseLookup& reverse) {
                reversed(index, *rule, address, reverse);
            });
    }

    void reversed(std::size_t index, const CrawlerRule& rule, const IpAddress& address,
                  const ReverseLookup& reverse) {
        ++reverseAsked_;
        switch (reverse.status) {
        case DnsStatus::NoSuchName:
        case DnsStatus::NoRecords:
            ++reverseHeard_;
            finish(index, {Verdict::Fake, VerdictReason::NoReverseName, {}});
            return;
        case DnsStatus::TimedOut:
        case DnsStatus::ServerFailed:
        case DnsStatus::Abandoned:
            finish(index, {Verdict::Unverifiable, FailureReason(reverse.status), {}});
            return;
        case DnsStatus::Answered:
            ++reverseHeard_;
            ++reverseNamed_;
            break;
        }
        if (reverse.names.empty()) {
            finish(index, {Verdict::Fake, VerdictReason::UnusableReverseName, {}});
            return;
        }
        auto candidates = std::make_shared<std::vector<std::string>>();
        for (const std::string& name : reverse.names) {
            if (!MatchingDomain(rule, name).empty()) {
                candidates->push_back(name);
            }
        }
        if (candidates->empty()) {
            finish(index, {Verdict::Fake, VerdictReason::OtherDomain, reverse.names.front()});
            return;
        }
        confirm(index, address, std::move(candidates), 0);
    }

    // Forward-checks the candidate names in turn until one leads back to the
    // address.
    void confirm(std::size_t index, const IpAddress& address,
                 std::shared_ptr<std::vector<std::string>> candidates, std::size_t next) {
        const std::string& name = (*candidates)[next];
        resolver_.lookupForward(
            name, address.family,
            [this, index, address, candidates, next](const ForwardLookup& forward) {
                const std::string& host = (*candidates)[next];
                if (forward.status == DnsStatus::TimedOut ||
                    forward.status == DnsStatus::ServerFailed ||
                    forward.status == DnsStatus::Abandoned) {
                    finish(index, {Verdict::Unverifiable, FailureReason(forward.status), host});
                    return;
                }
                if (std::find(forward.addresses.begin(), forward.addresses.end(), address) !=
                    forward.addresses.end()) {
                    finish(index, {Verdict::Genuine, VerdictReason::Confirmed, host});
                    return;
                }
                if (next + 1 < candidates->size()) {
                    confirm(index, address, candidates, next + 1);
                    return;
                }
                finish(index, {Verdict::Fake, VerdictReason::ForwardMismatch, (*candidates)[0]});
            });
    }

    void finish(std::size_t index, CrawlerVerdict verdict) {
        run_.verdicts[index] = std::move(verdict);
        ++done_;
        if (!progress_) {
            return;
        }
        if (cancel_ == nullptr) {
            progress_(done_, claims_.size());
        } else {
            cancel_->guard([this] { progress_(done_, claims_.size()); });
        }
    }

    DnsResolver& resolver_;
    const PublishedRanges& ranges_;
    std::span<const CrawlerClaim> claims_;
    const VerifyProgress& progress_;
    Cancellation* cancel_;
    VerifyRun run_;
    std::size_t done_ = 0;
    // The control query's answer; TimedOut (inconclusive) until it comes.
    DnsStatus control_ = DnsStatus::TimedOut;
    // Claims whose reverse lookup ended; of them, those a server answered
    // (names, none, no such name), and those with PTR records.
    std::size_t reverseAsked_ = 0;
    std::size_t reverseHeard_ = 0;
    std::size_t reverseNamed_ = 0;
};

} // namespace

const CrawlerRule* RuleForClaim(const CrawlerClaim& claim) {
    return claim.spider != SpiderId::Unknown ? RuleForSpider(claim.spider)
                                             : RuleForToken(claim.token);
}

std::string ResolverProblemText(ResolverProblem problem) {
    switch (problem) {
    case ResolverProblem::None:
        break;
    case ResolverProblem::Silent:
        return Gbk("DNS服务器不回答反查：它对任何查询都没有回应");
    case ResolverProblem::NoAnswers:
        return Gbk("DNS服务器不回答反查：所有反查都超时或出错");
    case ResolverProblem::ControlFailed:
        return Gbk("DNS服务器不回答反查：它对 in-addr.arpa 的对照查询答不出");
    case ResolverProblem::NoReverseNames:
        return Gbk("DNS服务器不回答反查：没有一个IP查到反查主机名");
    }
    return {};
}

VerifyRun CrawlerVerifier::verify(std::span<const CrawlerClaim> claims,
                                  const VerifyProgress& progress, Cancellation* cancel) {
    Settling settling(resolver_, ranges_, claims, progress, cancel);
    return settling.settle();
}

} // namespace logdesk
