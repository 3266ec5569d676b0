// Which host names a search engine says its crawlers' addresses resolve to,
// and whether a reverse-lookup name lies in one of those domains.
//
// A crawler is checked by a forward-confirmed reverse lookup: the PTR name of
// the visiting address must lie in a domain the engine publishes, and that
// name's own A (IPv4) or AAAA (IPv6) records must hold the address again. Only
// crawlers whose owners publish such domains have a rule; any other crawler
// cannot be checked, and no domain is made up for it. The rules are the
// checks of the crawler registry's entries.
#pragma once

#include "core/logimport/spider_catalogue.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace logdesk {

struct CrawlerRule {
    // The product tokens (ASCII) the engine documents for the agents of the
    // crawlers the check covers. A visit is judged by the rule only when its
    // user-agent holds one of them as a whole token (AgentHasToken), so an
    // agent that merely contains the engine's name is no claim.
    std::span<const std::string_view> tokens;
    // The catalogue entries the rule checks.
    std::span<const SpiderId> spiders;
    // Domains, lower case, without leading or trailing dot.
    std::span<const std::string_view> domains;
    // Where the engine documents the check.
    std::string_view documentation;
};

// Every rule, in no particular order. Program-wide constant:
// CrawlerRulesOf(CrawlerRegistry()).
std::span<const CrawlerRule> CrawlerRules();
// The rules of a registry's entries whose check is a reverse lookup; their
// spans point into the registry, which must outlive them.
std::vector<CrawlerRule> CrawlerRulesOf(std::span<const CrawlerEntry> registry);

// The rule for a catalogue entry; null when its owner documents no check (and
// for SpiderId::Unknown).
const CrawlerRule* RuleForSpider(SpiderId id);

// True when one of the rule's tokens stands in agent as a whole token,
// ignoring ASCII case: bounded by the text's ends or by bytes other than
// ASCII letters, digits, '-' and '_' ("Googlebot/2.1", "(compatible;
// bingbot/2.0;" hold theirs; "Bingo-Blitz/2.1" holds no "Bing").
bool AgentHasToken(const CrawlerRule& rule, std::string_view agent);

// The rule one of whose tokens equals token, ignoring ASCII case; null when
// there is none.
const CrawlerRule* RuleForToken(std::string_view token);

// A host name as DNS answers compare: ASCII letters in lower case, one
// trailing dot removed.
std::string NormaliseHostName(std::string_view host);

// True when host (normalised as above) is domain itself or a name under it,
// label by label: "crawl.baidu.com" and "baidu.com" lie in "baidu.com",
// "fakebaidu.com" and "baidu.com.evil.example" do not. A host with an empty
// label or an escaped character ('\', as a resolver writes a dot or an odd
// byte inside a label) lies in no domain.
bool HostInDomain(std::string_view host, std::string_view domain);

// The first of the rule's domains host lies in; empty when none.
std::string_view MatchingDomain(const CrawlerRule& rule, std::string_view host);

} // namespace logdesk
