#include "crawler_rules.h"

#include "core/text/gbk_text.h"

#include <algorithm>

namespace logdesk {
namespace {

const std::vector<CrawlerRule>& Rules() {
    static const std::vector<CrawlerRule> rules = CrawlerRulesOf(CrawlerRegistry());
    return rules;
}

bool TokenByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

} // namespace

std::span<const CrawlerRule> CrawlerRules() {
    return Rules();
}

std::vector<CrawlerRule> CrawlerRulesOf(std::span<const CrawlerEntry> registry) {
    std::vector<CrawlerRule> rules;
    for (const CrawlerEntry& entry : registry) {
        if (entry.check.kind == CrawlerCheck::Kind::ReverseDns) {
            // The entry's id is the one crawler the rule checks.
            rules.push_back({entry.check.tokens, std::span<const SpiderId>(&entry.id, 1),
                             entry.check.domains, entry.check.documentation});
        }
    }
    return rules;
}

const CrawlerRule* RuleForToken(std::string_view token) {
    if (token.empty()) {
        return nullptr;
    }
    for (const CrawlerRule& rule : Rules()) {
        for (std::string_view own : rule.tokens) {
            if (EqualsIgnoreAsciiCase(own, token)) {
                return &rule;
            }
        }
    }
    return nullptr;
}

const CrawlerRule* RuleForSpider(SpiderId id) {
    if (id == SpiderId::Unknown) {
        return nullptr;
    }
    for (const CrawlerRule& rule : Rules()) {
        if (std::find(rule.spiders.begin(), rule.spiders.end(), id) != rule.spiders.end()) {
            return &rule;
        }
    }
    return nullptr;
}

bool AgentHasToken(const CrawlerRule& rule, std::string_view agent) {
    std::size_t start = 0;
    while (start < agent.size()) {
        while (start < agent.size() && !TokenByte(agent[start])) {
            ++start;
        }
        std::size_t end = start;
        while (end < agent.size() && TokenByte(agent[end])) {
            ++end;
        }
        const std::string_view word = agent.substr(start, end - start);
        for (std::string_view token : rule.tokens) {
            if (EqualsIgnoreAsciiCase(word, token)) {
                return true;
            }
        }
        start = end;
    }
    return false;
}

std::string NormaliseHostName(std::string_view host) {
    if (host.ends_with('.')) {
        host.remove_suffix(1);
    }
    return AsciiLower(host);
}

bool HostInDomain(std::string_view host, std::string_view domain) {
    const std::string name = NormaliseHostName(host);
    if (name.empty() || domain.empty() || name.find('\\') != std::string::npos ||
        name.front() == '.' || name.find("..") != std::string::npos) {
        return false;
    }
    if (name == domain) {
        return true;
    }
    return name.size() > domain.size() && name.ends_with(domain) &&
           name[name.size() - domain.size() - 1] == '.';
}

std::string_view MatchingDomain(const CrawlerRule& rule, std::string_view host) {
    for (std::string_view domain : rule.domains) {
        if (HostInDomain(host, domain)) {
            return domain;
        }
    }
    return {};
}

} // namespace logdesk
