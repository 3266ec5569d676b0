#include "crawler_verifier.h"

#include "net/crawler_rules.h"

#include <algorithm>
#include <memory>

namespace logdesk {
namespace {

VerdictReason FailureReason(DnsStatus status) {
    return status == DnsStatus::TimedOut ? VerdictReason::TimedOut : VerdictReason::ServerFailure;
}

// The state of one verify() call, shared by the lookups' callbacks.
class Settling {
public:
    Settling(DnsResolver& resolver, std::span<const CrawlerClaim> claims,
             const VerifyProgress& progress, Cancellation* cancel)
        : resolver_(resolver), claims_(claims), progress_(progress), cancel_(cancel) {
        run_.verdicts.resize(claims.size());
    }

    VerifyRun settle() {
        for (std::size_t i = 0; i < claims_.size(); ++i) {
            start(i);
        }
        run_.completed = resolver_.run(cancel_);
        if (!resolver_.ok()) {
            run_.error = resolver_.error();
        }
        return std::move(run_);
    }

private:
    void start(std::size_t index) {
        const CrawlerClaim& claim = claims_[index];
        const CrawlerRule* rule = RuleForClaim(claim);
        if (rule == nullptr) {
            finish(index, {Verdict::Unverifiable, VerdictReason::NoRule, {}});
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
        switch (reverse.status) {
        case DnsStatus::NoSuchName:
        case DnsStatus::NoRecords:
            finish(index, {Verdict::Fake, VerdictReason::NoReverseName, {}});
            return;
        case DnsStatus::TimedOut:
        case DnsStatus::ServerFailed:
            finish(index, {Verdict::Unverifiable, FailureReason(reverse.status), {}});
            return;
        case DnsStatus::Answered:
            break;
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
                    forward.status == DnsStatus::ServerFailed) {
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
    std::span<const CrawlerClaim> claims_;
    const VerifyProgress& progress_;
    Cancellation* cancel_;
    VerifyRun run_;
    std::size_t done_ = 0;
};

} // namespace

const CrawlerRule* RuleForClaim(const CrawlerClaim& claim) {
    return claim.spider != SpiderId::Unknown ? RuleForSpider(claim.spider)
                                             : RuleForToken(claim.token);
}

VerifyRun CrawlerVerifier::verify(std::span<const CrawlerClaim> claims,
                                  const VerifyProgress& progress, Cancellation* cancel) {
    Settling settling(resolver_, claims, progress, cancel);
    return settling.settle();
}

} // namespace logdesk
