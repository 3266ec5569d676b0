#include "report.h"

#include "core/base/platform.h"
#include "core/coverage/site_url_list.h"
#include "core/export/csv_format.h"
#include "core/export/html_report.h"
#include "core/input/import_inputs.h"
#include "core/logimport/client_address.h"
#include "core/logimport/log_importer.h"
#include "core/net/ip_database.h"
#include "core/verify/crawler_claims.h"
#include "core/verify/crawler_ranges.h"
#include "core/verify/crawler_verifier.h"
#include "core/verify/verification_report.h"
#include "core/stats/page_builds.h"
#include "core/stats/record_sort.h"
#include "core/stats/stats_sort.h"
#include "core/text/gbk_codec.h"
#include "core/text/gbk_text.h"
#include "core/settings/config_file.h"
#include "core/settings/settings_keys.h"
#include "core/warehouse/clickhouse_client.h"
#include "core/warehouse/record_rows.h"
#include "core/warehouse/warehouse_loader.h"
#include "core/warehouse/warehouse_pages.h"
#include "core/warehouse/warehouse_schema.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string_view>

namespace logdesk {

namespace {

// The pages of logdesk-report: the records, the crawler tally, the
// statistics pages (StatsPages(), named by their entries), the verdicts and
// the HTML report, which holds several of them.
enum class Page { Records, Spiders, Stats, Verify, Html };

struct ReportArgs {
    Page page = Page::Records;
    const StatsPageEntry* stats = nullptr; // with Page::Stats
    bool defaultColumns = false;
    std::optional<std::string> output;
    // --html: the report file, instead of one page.
    std::optional<std::string> html;
    bool utf8 = false;
    std::optional<int> sortColumn;
    bool descending = false;
    std::optional<std::string> spider; // short name, UTF-8 as given
    std::optional<int> depth;          // --depth of the sections page
    // --urls: the files of the site's URL list, in the order given, and the
    // list read from them before any log.
    std::vector<std::string> urlFiles;
    std::optional<std::string> siteHost; // --host: which host of a list that names several
    std::shared_ptr<const SiteUrlList> siteUrls;
    std::vector<std::string> inputs;   // files, folders and "-", as given
    Parallelism parallel;              // --threads: 0 for every hardware thread
    bool pageGiven = false;
    // The verification's lookups: --dns-timeout per query and attempt,
    // --dns-server instead of the system's name servers.
    ResolverSettings resolver;
    // What --block-rules writes instead of the verification table.
    std::optional<BlockFormat> blockRules;
    bool blockShared = false; // --block-shared: also addresses with other visits
    // The published crawler ranges: --update-ranges fetches them into
    // rangesDir (the settings folder unless --ranges-dir), which verification
    // reads; --ranges-source fetches a source from another URL.
    bool updateRanges = false;
    // --client-ip-field: the log field naming the client behind a proxy.
    std::optional<std::string> clientIpField;
    std::optional<std::string> rangesDir;
    std::vector<std::pair<std::string, std::string>> rangeUrls;
    // --stream; then, once the inputs are known, whether the run counts the
    // page while reading, keeping no records.
    bool stream = false;
    Crawlers crawlers = Crawlers::Classic;
    // --locate: the local IP database that fills the ips page's locations.
    std::optional<std::string> locate;
    // --to clickhouse URL loads the logs into the server's records table;
    // --from clickhouse URL writes a page from it. --table names the table,
    // --since and --until (YYYY-MM-DD) the dates a page from it counts.
    std::optional<std::string> toServer;
    std::optional<std::string> fromServer;
    std::optional<std::string>* serverUrl = nullptr; // the URL the next argument is
    std::optional<std::string> table;
    std::optional<std::string> since;
    std::optional<std::string> until;
};

// The ips page's columns that --locate reads and fills ("IP", "IP 所在地").
constexpr std::size_t kIpColumn = 0;
constexpr std::size_t kLocationColumn = 3;

// A whole number from `low` to `high`, in decimal digits only.
std::optional<long> NumberIn(const std::string& text, long low, long high) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const long number = std::strtol(text.c_str(), nullptr, 10);
    if (number < low || number > high) {
        return std::nullopt;
    }
    return number;
}

// Appends the line "logdesk-report: `text`" to messages; false, for an
// option's setter to return.
bool Complain(std::string& messages, const std::string& text) {
    messages += "logdesk-report: " + text + "\n";
    return false;
}

// The option's value as one of two words: true for `first`; nullopt after
// saying what the option takes.
std::optional<bool> Either(std::string_view option, const std::string& value, const char* first,
                           const char* second, std::string& messages) {
    if (value != first && value != second) {
        Complain(messages, std::string(option) + " takes " + first + " or " + second);
        return std::nullopt;
    }
    return value == first;
}

// The option's value as a number from `low` to `high`; nullopt after saying
// that the option takes `what`.
std::optional<long> Number(std::string_view option, const std::string& value, long low, long high,
                           const char* what, std::string& messages) {
    const std::optional<long> n = NumberIn(value, low, high);
    if (!n) {
        Complain(messages, std::string(option) + " takes " + what);
    }
    return n;
}

// One option of the command line: what it takes, what it sets and how the
// usage text shows it. The usage text is made from the table, in its order.
struct ReportOption {
    std::string_view name;
    bool takesValue;
    // Takes the option into `parsed`, with its value (empty for an option
    // that takes none); false after writing to messages what is wrong.
    bool (*set)(ReportArgs& parsed, std::string_view option, const std::string& value,
                std::string& messages);
    // The option in the usage of a report ("" for none); newUsageLine
    // starts a line of the usage with it.
    std::string_view reportUsage;
    bool newUsageLine;
    // The option in the usage of --update-ranges ("" for none).
    std::string_view updateUsage;
};

// Stands in the usage for the page names, which come from the pages' entries.
constexpr std::string_view kPageUsage = "[--page PAGES]";

std::string PageUsage() {
    std::string names = "records|spiders";
    for (const StatsPageEntry& entry : StatsPages()) {
        names += "|" + std::string(entry.cliName);
    }
    return "[--page " + names + "|verify]";
}

// "urls, ips and status": the pages a crawler filter applies to.
std::string FilteredPageNames() {
    std::vector<std::string_view> names;
    for (const StatsPageEntry& entry : StatsPages()) {
        if (entry.crawlerFilter) {
            names.push_back(entry.cliName);
        }
    }
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += i == 0 ? "" : i + 1 == names.size() ? " and " : ", ";
        text += names[i];
    }
    return text;
}

// "spiders|spider-traffic|...": the pages --from clickhouse writes.
std::string ServerPageNames() {
    std::string names = "spiders";
    for (const StatsPageEntry& entry : StatsPages()) {
        if (!entry.warehouseQuery.empty()) {
            names += "|" + std::string(entry.cliName);
        }
    }
    return names;
}

// --help: the usage alone, so the parse ends without a message.
bool AskForUsage(ReportArgs&, std::string_view, const std::string&, std::string&) {
    return false;
}

constexpr ReportOption kOptions[] = {
    {"--page", true,
     [](ReportArgs& parsed, std::string_view, const std::string& v, std::string& messages) {
         parsed.stats = StatsPageNamed(v);
         if (parsed.stats != nullptr) {
             parsed.page = Page::Stats;
         } else if (v == "records") {
             parsed.page = Page::Records;
         } else if (v == "spiders") {
             parsed.page = Page::Spiders;
         } else if (v == "verify") {
             parsed.page = Page::Verify;
         } else {
             return Complain(messages, "unknown page '" + ForTerminal(v) + "'");
         }
         parsed.pageGiven = true;
         return true;
     },
     kPageUsage, false, ""},
    {"--columns", true,
     [](ReportArgs& parsed, std::string_view option, const std::string& v, std::string& messages) {
         const std::optional<bool> all = Either(option, v, "all", "default", messages);
         if (all) {
             parsed.defaultColumns = !*all;
         }
         return all.has_value();
     },
     "[--columns all|default]", true, ""},
    {"--spider", true,
     [](ReportArgs& parsed, std::string_view, const std::string& v, std::string&) {
         parsed.spider = v;
         return true;
     },
     "[--spider SHORTNAME]", false, ""},
    {"--sort", true,
     [](ReportArgs& parsed, std::string_view option, const std::string& v, std::string& messages) {
         const std::optional<long> column =
             Number(option, v, 0, 100000, "a column number (0 = record number)", messages);
         if (column) {
             parsed.sortColumn = static_cast<int>(*column);
         }
         return column.has_value();
     },
     "[--sort COLUMN]", false, ""},
    {"--desc", false,
     [](ReportArgs& parsed, std::string_view, const std::string&, std::string&) {
         parsed.descending = true;
         return true;
     },
     "[--desc]", false, ""},
    {"--depth", true,
     [](ReportArgs& parsed, std::string_view option, const std::string& v, std::string& messages) {
         const std::optional<bool> one = Either(option, v, "1", "2", messages);
         if (one) {
             parsed.depth = *one ? 1 : 2;
         }
         return one.has_value();
     },
     "[--depth 1|2]", true, ""},
    {"--urls", true,
     [](ReportArgs& parsed, std::string_view, const std::string& v, std::string&) {
         parsed.urlFiles.push_back(v);
         return true;
     },
     "[--urls FILE]", false, ""},
    {"--host", true,
     [](ReportArgs& parsed, std::string_view, const std::string& v, std::string& messages) {
         if (v.empty()) {
             return Complain(messages, "--host needs a host name");
         }
         parsed.siteHost = v;
         return true;
     },
     "[--host HOST]", false, ""},
    {"--dns-timeout", true,
     [](ReportArgs& parsed, std::string_view option, const std::string& v, std::string& messages) {
         const std::optional<long> ms =
             Number(option, v, 1, 600000, "milliseconds from 1 to 600000", messages);
         if (ms) {
             parsed.resolver.timeoutMs = static_cast<int>(*ms);
         }
         return ms.has_value();
     },
     "[--dns-timeout MS]", true, ""},
    {"--dns-server", true,
     [](ReportArgs& parsed, std::string_view, const std::string& v, std::string& messages) {
         // An explicit list is used as given or not at all: never the
         // system's resolver in its place.
         const Result<std::string> servers = CheckedDnsServers(v);
         if (!servers) {
             return Complain(messages, "--dns-server: " + GbkToUtf8(servers.error().cause) +
                                           "; it takes IPv4 or IPv6 addresses with an optional "
                                           "port, 127.0.0.1:5353,[::1]:53");
         }
         parsed.resolver.servers = v;
         return true;
     },
     "[--dns-server HOST[:PORT],...]", false, ""},
    {"--block-rules", true,
     [](ReportArgs& parsed, std::string_view, const std::string& v, std::string& messages) {
         static const std::pair<const char*, BlockFormat> formats[] = {
             {"iis", BlockFormat::WebConfig},
             {"powershell", BlockFormat::PowerShell},
             {"appcmd", BlockFormat::Appcmd},
             {"list", BlockFormat::List}};
         const auto it = std::find_if(std::begin(formats), std::end(formats),
                                      [&](const auto& f) { return v == f.first; });
         if (it == std::end(formats)) {
             return Complain(messages, "--block-rules takes iis, powershell, appcmd or list");
         }
         parsed.blockRules = it->second;
         return true;
     },
     "[--block-rules iis|powershell|appcmd|list]", true, ""},
    {"--block-shared", false,
     [](ReportArgs& parsed, std::string_view, const std::string&, std::string&) {
         parsed.blockShared = true;
         return true;
     },
     "[--block-shared]", false, ""},
    {"--update-ranges", false,
     [](ReportArgs& parsed, std::string_view, const std::string&, std::string&) {
         parsed.updateRanges = true;
         return true;
     },
     "", false, "--update-ranges"},
    {"--ranges-dir", true,
     [](ReportArgs& parsed, std::string_view, const std::string& v, std::string&) {
         parsed.rangesDir = v;
         return true;
     },
     "[--ranges-dir DIR]", true, "[--ranges-dir DIR]"},
    {"--ranges-source", true,
     [](ReportArgs& parsed, std::string_view, const std::string& v, std::string& messages) {
         const std::size_t equals = v.find('=');
         const std::string id = v.substr(0, equals);
         const auto sources = RangeSources();
         if (equals == std::string::npos ||
             std::none_of(sources.begin(), sources.end(),
                          [&](const RangeSource& source) { return source.id == id; })) {
             std::string ids;
             for (const RangeSource& source : sources) {
                 ids += " " + std::string(source.id);
             }
             return Complain(messages, "--ranges-source takes ID=URL, ID one of:" + ids);
         }
         parsed.rangeUrls.emplace_back(id, v.substr(equals + 1));
         return true;
     },
     "[--ranges-source ID=URL]", false, "[--ranges-source ID=URL]"},
    {"--client-ip-field", true,
     [](ReportArgs& parsed, std::string_view, const std::string& v, std::string& messages) {
         if (v.empty()) {
             return Complain(messages, "--client-ip-field needs a field name");
         }
         parsed.clientIpField = v;
         return true;
     },
     "[--client-ip-field NAME]", false, ""},
    {"--output", true,
     [](ReportArgs& parsed, std::string_view, const std::string& v, std::string&) {
         parsed.output = v;
         return true;
     },
     "[--output FILE]", true, ""},
    {"--html", true,
     [](ReportArgs& parsed, std::string_view, const std::string& v, std::string& messages) {
         if (v.empty()) {
             return Complain(messages, "--html needs a file name");
         }
         parsed.html = v;
         return true;
     },
     "[--html FILE]", false, ""},
    {"--utf8", false,
     [](ReportArgs& parsed, std::string_view, const std::string&, std::string&) {
         parsed.utf8 = true;
         return true;
     },
     "[--utf8]", false, ""},
    {"--threads", true,
     [](ReportArgs& parsed, std::string_view option, const std::string& v, std::string& messages) {
         const std::optional<long> threads =
             Number(option, v, 1, 1024, "a number from 1 to 1024", messages);
         if (threads) {
             parsed.parallel.threads = static_cast<unsigned>(*threads);
         }
         return threads.has_value();
     },
     "[--threads N]", false, ""},
    {"--stream", false,
     [](ReportArgs& parsed, std::string_view, const std::string&, std::string&) {
         parsed.stream = true;
         return true;
     },
     "[--stream]", false, ""},
    {"--crawlers", true,
     [](ReportArgs& parsed, std::string_view option, const std::string& v, std::string& messages) {
         const std::optional<bool> classic = Either(option, v, "classic", "all", messages);
         if (classic) {
             parsed.crawlers = *classic ? Crawlers::Classic : Crawlers::All;
         }
         return classic.has_value();
     },
     "[--crawlers classic|all]", true, ""},
    {"--locate", true,
     [](ReportArgs& parsed, std::string_view, const std::string& v, std::string& messages) {
         if (v.empty()) {
             return Complain(messages, "--locate needs a database file");
         }
         parsed.locate = v;
         return true;
     },
     "[--locate FILE.mmdb]", false, ""},
    {"--to", true,
     [](ReportArgs& parsed, std::string_view, const std::string& v, std::string& messages) {
         if (v != "clickhouse") {
             return Complain(messages, "--to takes clickhouse and the server's URL");
         }
         parsed.serverUrl = &parsed.toServer;
         return true;
     },
     "", false, ""},
    {"--from", true,
     [](ReportArgs& parsed, std::string_view, const std::string& v, std::string& messages) {
         if (v != "clickhouse") {
             return Complain(messages, "--from takes clickhouse and the server's URL");
         }
         parsed.serverUrl = &parsed.fromServer;
         return true;
     },
     "", false, ""},
    {"--table", true,
     [](ReportArgs& parsed, std::string_view, const std::string& v, std::string& messages) {
         if (!TablesNamed(v)) {
             return Complain(messages, "--table takes [DATABASE.]NAME of letters, digits and _");
         }
         parsed.table = v;
         return true;
     },
     "", false, ""},
    {"--since", true,
     [](ReportArgs& parsed, std::string_view option, const std::string& v, std::string& messages) {
         if (!TypedValue(CellType::Date, v)) {
             return Complain(messages, std::string(option) + " takes a date, YYYY-MM-DD");
         }
         parsed.since = v;
         return true;
     },
     "", false, ""},
    {"--until", true,
     [](ReportArgs& parsed, std::string_view option, const std::string& v, std::string& messages) {
         if (!TypedValue(CellType::Date, v)) {
             return Complain(messages, std::string(option) + " takes a date, YYYY-MM-DD");
         }
         parsed.until = v;
         return true;
     },
     "", false, ""},
    {"--help", false, AskForUsage, "", false, ""},
    {"-h", false, AskForUsage, "", false, ""},
};

// Parses the arguments; nullopt after writing what is wrong to messages.
std::optional<ReportArgs> ParseArgs(const std::vector<std::string>& args, std::string& messages) {
    ReportArgs parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto option = std::find_if(std::begin(kOptions), std::end(kOptions),
                                         [&](const ReportOption& o) { return arg == o.name; });
        if (option == std::end(kOptions)) {
            if (arg.size() > 1 && arg[0] == '-') {
                Complain(messages, "unknown option '" + ForTerminal(arg) + "'");
                return std::nullopt;
            }
            parsed.inputs.push_back(arg);
            continue;
        }
        if (option->takesValue && i + 1 >= args.size()) {
            Complain(messages, arg + " needs a value");
            return std::nullopt;
        }
        static const std::string none;
        if (!option->set(parsed, option->name, option->takesValue ? args[++i] : none, messages)) {
            return std::nullopt;
        }
        if (parsed.serverUrl != nullptr) {
            // --to and --from take the server's URL after their word.
            if (i + 1 >= args.size()) {
                Complain(messages, arg + " clickhouse needs the server's URL");
                return std::nullopt;
            }
            const Result<ServerUrl> url = ParseServerUrl(args[++i]);
            if (!url) {
                Complain(messages, arg + " clickhouse: " + url.error().reason());
                return std::nullopt;
            }
            *parsed.serverUrl = args[i];
            parsed.serverUrl = nullptr;
        }
    }
    if (parsed.toServer && parsed.fromServer) {
        messages += "logdesk-report: --to clickhouse and --from clickhouse do not go together\n";
        return std::nullopt;
    }
    if (!parsed.toServer && !parsed.fromServer && (parsed.table || parsed.since || parsed.until)) {
        messages += "logdesk-report: --table, --since and --until go with --to clickhouse or "
                    "--from clickhouse\n";
        return std::nullopt;
    }
    const bool otherOptions = parsed.blockRules || parsed.locate || parsed.clientIpField ||
                              parsed.stream || parsed.updateRanges || parsed.depth ||
                              !parsed.urlFiles.empty() || parsed.defaultColumns ||
                              !parsed.rangeUrls.empty() || parsed.html.has_value();
    if (parsed.toServer) {
        if (otherOptions || parsed.pageGiven || parsed.output || parsed.sortColumn ||
            parsed.descending || parsed.spider || parsed.since || parsed.until || parsed.utf8) {
            messages += "logdesk-report: --to clickhouse loads the logs and writes no page; it "
                        "takes --table, --crawlers and --threads\n";
            return std::nullopt;
        }
        if (parsed.inputs.empty()) {
            messages += "logdesk-report: no LOGFILE given\n";
            return std::nullopt;
        }
        return parsed;
    }
    if (parsed.fromServer) {
        const bool served = parsed.page == Page::Spiders ||
                            (parsed.page == Page::Stats && !parsed.stats->warehouseQuery.empty());
        if (!parsed.inputs.empty()) {
            messages += "logdesk-report: --from clickhouse reads no log\n";
            return std::nullopt;
        }
        if (otherOptions || !parsed.pageGiven || !served) {
            messages += "logdesk-report: --from clickhouse writes --page " + ServerPageNames() +
                        ", with --spider, --since, --until, --sort, --output and --utf8\n";
            return std::nullopt;
        }
        if (parsed.spider && !parsed.stats->crawlerFilter) {
            messages += "logdesk-report: --spider filters the " + FilteredPageNames() + " pages\n";
            return std::nullopt;
        }
        if (parsed.descending && !parsed.sortColumn) {
            messages += "logdesk-report: --desc goes with --sort\n";
            return std::nullopt;
        }
        return parsed;
    }
    if (parsed.updateRanges) {
        if (!parsed.inputs.empty() || parsed.pageGiven || parsed.blockRules || parsed.locate ||
            parsed.html) {
            messages += "logdesk-report: --update-ranges reads no log\n";
            return std::nullopt;
        }
        return parsed;
    }
    if (parsed.inputs.empty()) {
        messages += "logdesk-report: no LOGFILE given\n";
        return std::nullopt;
    }
    if (parsed.descending && !parsed.sortColumn) {
        messages += "logdesk-report: --desc goes with --sort\n";
        return std::nullopt;
    }
    if (parsed.blockShared && !parsed.blockRules) {
        messages += "logdesk-report: --block-shared goes with --block-rules\n";
        return std::nullopt;
    }
    if (parsed.html) {
        // The report holds its own pages, each whole, in a file of its own.
        if (parsed.pageGiven || parsed.output || parsed.sortColumn || parsed.spider ||
            parsed.depth || parsed.blockRules || parsed.locate) {
            messages += "logdesk-report: --html writes pages of its own and goes without --page, "
                        "--output, --sort, --spider, --depth, --block-rules and --locate\n";
            return std::nullopt;
        }
        parsed.page = Page::Html;
    }
    if (parsed.blockRules) {
        // The rules come from the verification: no other page has them.
        if (parsed.pageGiven && parsed.page != Page::Verify) {
            messages += "logdesk-report: --block-rules goes with --page verify\n";
            return std::nullopt;
        }
        if (parsed.sortColumn) {
            messages += "logdesk-report: --block-rules writes no table to sort\n";
            return std::nullopt;
        }
        parsed.page = Page::Verify;
    }
    if (parsed.clientIpField &&
        (parsed.stream || parsed.page == Page::Records || parsed.page == Page::Spiders)) {
        messages += "logdesk-report: --client-ip-field goes with the urls, ips, status, "
                    "spider-traffic, spider-days and verify pages, without --stream\n";
        return std::nullopt;
    }
    if (parsed.stream && parsed.page == Page::Records) {
        messages += "logdesk-report: --page records lists every record and cannot --stream\n";
        return std::nullopt;
    }
    if (parsed.depth && (parsed.page != Page::Stats || parsed.stats->page != StatsPage::Sections)) {
        messages += "logdesk-report: --depth goes with --page sections\n";
        return std::nullopt;
    }
    const bool coverage = parsed.page == Page::Stats && parsed.stats->page == StatsPage::Coverage;
    if (coverage && parsed.urlFiles.empty()) {
        messages += "logdesk-report: --page coverage needs the site's URL list: --urls FILE\n";
        return std::nullopt;
    }
    if (!coverage && !parsed.html && !parsed.urlFiles.empty()) {
        messages += "logdesk-report: --urls goes with --page coverage\n";
        return std::nullopt;
    }
    if (parsed.siteHost && parsed.urlFiles.empty()) {
        messages += "logdesk-report: --host chooses the host of the --urls list\n";
        return std::nullopt;
    }
    if (parsed.spider && (parsed.page != Page::Stats || !parsed.stats->crawlerFilter)) {
        messages += "logdesk-report: --spider filters the " + FilteredPageNames() + " pages\n";
        return std::nullopt;
    }
    if (parsed.locate && (parsed.page != Page::Stats || parsed.stats->page != StatsPage::Ip)) {
        messages += "logdesk-report: --locate goes with --page ips\n";
        return std::nullopt;
    }
    return parsed;
}

} // namespace

// Made once from the table, so that no option is missing from it.
const std::string& ReportUsage() {
    static const std::string usage = [] {
        const std::string indent(std::string_view("usage: logdesk-report ").size(), ' ');
        std::string text = "usage: logdesk-report";
        std::string update = "       logdesk-report";
        for (const ReportOption& option : kOptions) {
            if (!option.reportUsage.empty()) {
                text += option.newUsageLine ? "\n" + indent : std::string(" ");
                text += option.reportUsage == kPageUsage ? PageUsage()
                                                         : std::string(option.reportUsage);
            }
            if (!option.updateUsage.empty()) {
                update += " " + std::string(option.updateUsage);
            }
        }
        return text + " LOGFILE|DIR|- ...\n" + update + "\n" +
               "       logdesk-report --to clickhouse URL [--table NAME] [--crawlers classic|all]\n" +
               indent + "[--threads N] LOGFILE|DIR ...\n" +
               "       logdesk-report --from clickhouse URL [--table NAME] [--crawlers classic|all]\n" +
               indent + "--page " + ServerPageNames() + "\n" + indent +
               "[--spider SHORTNAME] [--since YYYY-MM-DD] [--until YYYY-MM-DD] [--sort COLUMN]\n" +
               indent + "[--desc] [--output FILE] [--utf8]\n";
    }();
    return usage;
}

namespace {

// The message for a --sort column the page does not have, with the usage.
std::string NoColumn(int column) {
    return "logdesk-report: the page has no column " + std::to_string(column) + "\n" +
           ReportUsage();
}

TextTable SpiderPage(const SpiderTally& tally) {
    TextTable page;
    page.headers = {Gbk("蜘蛛"), Gbk("访问次数")};
    for (const SpiderTally::Entry& entry : tally.entries()) {
        page.rows.push_back({entry.name, DecimalText(entry.count)});
    }
    return page;
}

// Fills the output (FILE, or standard output as given) with `write`,
// converting to UTF-8 with --utf8, and reports a failure; the exit code.
int WriteOutput(const ReportArgs& a, LineSink& standardOutput, std::string& messages,
                const std::function<Result<void>(LineSink&)>& write) {
    const auto convertedWrite = [&](LineSink& raw) {
        Utf8Sink converted(raw);
        return write(a.utf8 ? static_cast<LineSink&>(converted) : raw);
    };
    if (a.output) {
        if (const Result<void> written = ExportToFile(*a.output, convertedWrite); !written) {
            messages += "logdesk-report: " + written.error().line() + "\n";
            return 1;
        }
        return 0;
    }
    if (const Result<void> written = convertedWrite(standardOutput); !written) {
        messages += "logdesk-report: standard output: " + ForTerminal(written.error().reason()) + "\n";
        return 1;
    }
    return 0;
}

// The filter a streamed page counts with, chosen before the tally is known:
// the catalogue crawler of that short name (the tally names its entries by
// the catalogue's display names). A name the catalogue lacks counts nothing;
// the log's tally then lacks it too, which WriteStatsPage reports.
SpiderFilter StreamFilter(const ReportArgs& a) {
    if (!a.spider) {
        return {};
    }
    const std::string wanted = Utf8ToGbk(*a.spider);
    for (const SpiderInfo& spider : SpiderCatalogue()) {
        if (spider.shortName == wanted) {
            return {spider.displayName};
        }
    }
    return {wanted};
}

// What the page is asked to count, with the filter chosen for it.
PageRequest RequestOf(const ReportArgs& a, SpiderFilter filter) {
    PageRequest request(std::move(filter));
    request.depth = a.depth.value_or(1);
    request.siteUrls = a.siteUrls.get();
    return request;
}

// The message for a --spider short name the log has no crawler of: the ones
// it has, and the usage.
std::string NoCrawler(const std::string& shortName, const std::vector<std::string>& captions) {
    std::string known;
    for (auto it = captions.begin() + 1; it != captions.end(); ++it) {
        known += (known.empty() ? "" : ", ") + ForTerminal(GbkToUtf8(*it));
    }
    return "logdesk-report: no crawler '" + ForTerminal(shortName) + "' in this log; --spider takes " +
           (known.empty() ? "none here" : "one of: " + known) + "\n" + ReportUsage();
}

// The page for the request: finished from the accumulator that counted it
// while the logs streamed past (consumer `consumer` of the import, made for
// the same page and request), or built from the table.
StatsTable PageOf(const ReportArgs& a, const LogImport& imported, std::size_t consumer,
                  StatsPage page, const PageRequest& request, std::int32_t clientIp) {
    return a.stream ? FinishStreamedPage(
                          static_cast<const PageAccumulator&>(*imported.consumers[consumer]), page,
                          request, imported.header.fieldMap, imported.tally)
                    : BuildStatsPage(page, imported.table, imported.header.fieldMap,
                                     imported.tally, request, {}, a.parallel, clientIp);
}

// The rows as one header click on the column puts them, and a second one
// when descending, as on the window's lists.
void SortAsClicked(StatsTable& table, int column, bool descending, const Parallelism& parallel) {
    SortStatsPage(table, column, true, -1, parallel);
    if (descending) {
        SortStatsPage(table, column, false, -1, parallel);
    }
}

// Writes a list in the list export format, sorted first as --sort asks;
// the exit code.
int WriteSortedList(const ReportArgs& a, StatsTable& table, LineSink& standardOutput,
                    std::string& messages) {
    if (a.sortColumn) {
        if (static_cast<std::size_t>(*a.sortColumn) >= table.headers.size()) {
            messages += NoColumn(*a.sortColumn);
            return 2;
        }
        // One header click sorts ascending; a second one, on the list as the
        // first left it, descending.
        SortAsClicked(table, *a.sortColumn, a.descending, a.parallel);
    }
    const bool csv = !a.output || EndsWithCsv(*a.output);
    return WriteOutput(a, standardOutput, messages, [&](LineSink& sink) {
        return WriteTextTable({table.headers, table.rows}, csv, sink);
    });
}

// The column of --client-ip-field in the log, 0 without the option; -1
// after saying that the log has no such field.
std::int32_t ClientIpColumn(const ReportArgs& a, const LogImport& imported, std::string& messages) {
    if (!a.clientIpField) {
        return 0;
    }
    const std::int32_t column = FieldColumn(imported.header, *a.clientIpField);
    if (column == 0) {
        messages += "logdesk-report: the log has no field '" + *a.clientIpField +
                    "' (--client-ip-field)\n" + ReportUsage();
        return -1;
    }
    return column;
}

// Writes one page of the statistics window in the list export format; the
// ips page with the locations `locations` gives, when not null.
int WriteStatsPage(const ReportArgs& a, const LogImport& imported, const IpDatabase* locations,
                   LineSink& standardOutput, std::string& messages) {
    SpiderFilter filter;
    if (a.spider) {
        // Tab 0 ("所有流量") is no crawler.
        const std::vector<std::string> captions = SpiderFilterCaptions(imported.tally);
        const std::string wanted = Utf8ToGbk(*a.spider);
        const auto it = std::find(captions.begin() + 1, captions.end(), wanted);
        if (it == captions.end()) {
            messages += NoCrawler(*a.spider, captions);
            return 2;
        }
        filter = SpiderFilterOfTab(imported.tally, static_cast<int>(it - captions.begin()));
    }
    const std::int32_t clientIp = ClientIpColumn(a, imported, messages);
    if (clientIp < 0) {
        return 2;
    }
    StatsTable table = PageOf(a, imported, 0, a.stats->page, RequestOf(a, filter), clientIp);
    if (locations != nullptr) {
        // Before --sort, which orders the rows as they are then.
        for (std::vector<std::string>& row : table.rows) {
            row[kLocationColumn] = locations->locate(row[kIpColumn]);
        }
    }
    // Said beside the columns, which are still written for a script to read.
    if (!table.notice.empty()) {
        messages += "logdesk-report: " + GbkToUtf8(table.notice) + "\n";
    }
    return WriteSortedList(a, table, standardOutput, messages);
}

// The (address, crawler) claims of the log: counted while it streamed past
// (consumer `consumer` of the import, a CrawlerClaimCollector), or from the
// table.
std::vector<CrawlerClaim> ClaimsOf(const ReportArgs& a, const LogImport& imported,
                                   std::size_t consumer, std::int32_t clientIp) {
    return a.stream
               ? static_cast<const CrawlerClaimCollector&>(*imported.consumers[consumer]).claims()
               : CollectCrawlerClaims(imported.table, imported.header.fieldMap, {}, clientIp);
}

// The verdicts of the claims, looked up on this thread with the resolver
// and the published ranges the arguments name.
VerifyRun Verify(const ReportArgs& a, const std::vector<CrawlerClaim>& claims) {
    CrawlerVerifier verifier(a.resolver,
                             a.rangesDir ? PublishedRanges::Load(*a.rangesDir) : PublishedRanges{});
    return verifier.verify(claims);
}

// Verifies every address that visited as a catalogue crawler and writes the
// table of the window 蜘蛛真伪, or the block rules for the fake ones. The
// lookups run on this thread. A resolver that cannot be set up, or that the
// run shows does not answer reverse lookups (VerifyRun::problem), ends the
// run with exit 1 before any block rule is written, so that a script never
// takes an empty or a wrong rule list for a verdict; the table is still
// written, with what could not be judged as 无法验证.
int WriteVerifyPage(const ReportArgs& a, const LogImport& imported, LineSink& standardOutput,
                    std::string& messages) {
    const std::int32_t clientIp = ClientIpColumn(a, imported, messages);
    if (clientIp < 0) {
        return 2;
    }
    const std::vector<CrawlerClaim> claims = ClaimsOf(a, imported, 0, clientIp);
    const VerifyRun run = Verify(a, claims);
    if (run.error) {
        messages += "logdesk-report: DNS: " + ForTerminal(GbkToUtf8(run.error->reason())) + "\n";
        return 1;
    }
    const bool unusable = run.problem != ResolverProblem::None;
    if (unusable) {
        messages += "logdesk-report: DNS: " + GbkToUtf8(ResolverProblemText(run.problem)) +
                    "; no address is judged 假, and no block rule is written\n";
    }
    if (a.blockRules) {
        if (unusable) {
            return 1;
        }
        std::size_t shared = 0;
        const std::vector<IpAddress> fake =
            AddressesToBlock(claims, run.verdicts, a.blockShared, &shared);
        if (shared > 0) {
            messages += "logdesk-report: " + std::to_string(shared) +
                        " address(es) judged 假 also sent visits that named no crawler and are "
                        "left out of the block rules (--block-shared lists them)\n";
        }
        const std::string rules = BlockRules(*a.blockRules, fake, shared);
        return WriteOutput(a, standardOutput, messages, [&](LineSink& sink) -> Result<void> {
            if (!sink.write(rules)) {
                return FailureOf(sink);
            }
            return {};
        });
    }
    StatsTable table;
    const auto titles = VerifyColumnTitles();
    table.headers.assign(titles.begin(), titles.end());
    for (std::size_t i = 0; i < claims.size(); ++i) {
        const auto row = VerifyTableRow(claims[i], run.verdicts[i]);
        table.rows.emplace_back(row.begin(), row.end());
    }
    const int written = WriteSortedList(a, table, standardOutput, messages);
    return written == 0 && unusable ? 1 : written;
}

// The pages of the HTML report, each a build of its own, in this order. A
// streamed run counts all of them while the logs are read, page i in
// consumer i of the import and the verification's claims after them.
struct HtmlPlan {
    struct Item {
        StatsPage page;
        PageRequest request;
    };
    std::vector<Item> pages;
    bool verify = false;

    // The position of the page with this filter; none when not planned.
    std::optional<std::size_t> find(StatsPage page, const SpiderFilter& filter) const {
        for (std::size_t i = 0; i < pages.size(); ++i) {
            if (pages[i].page == page &&
                pages[i].request.filter.displayName == filter.displayName) {
                return i;
            }
        }
        return std::nullopt;
    }
};

// The report's pages for the crawlers of these display names (GBK): every
// visit's days, statuses and times, the coverage when a URL list was given,
// each crawler's statuses and URLs. Verification when --dns-server was given:
// a report meant to be mailed never asks the system's name servers unasked.
HtmlPlan HtmlPlanOf(const ReportArgs& a, const std::vector<std::string>& crawlers) {
    HtmlPlan plan;
    const auto add = [&](StatsPage page, SpiderFilter filter) {
        plan.pages.push_back({page, RequestOf(a, std::move(filter))});
    };
    add(StatsPage::SpiderDays, {});
    add(StatsPage::Status, {});
    add(StatsPage::Timing, {});
    if (a.siteUrls) {
        add(StatsPage::Coverage, {});
    }
    for (const std::string& name : crawlers) {
        add(StatsPage::Status, {name});
        add(StatsPage::Url, {name});
    }
    plan.verify = !a.resolver.servers.empty();
    return plan;
}

// What a streamed run plans for, before the tally is known: every crawler
// the import can name, the fallback 其他流量 among them.
std::vector<std::string> CatalogueCrawlers(Crawlers crawlers) {
    std::vector<std::string> names;
    for (const SpiderInfo& spider : SpiderCatalogue()) {
        if (spider.classic || crawlers == Crawlers::All) {
            names.push_back(spider.displayName);
        }
    }
    return names;
}

std::vector<std::string> TallyCrawlers(const SpiderTally& tally) {
    std::vector<std::string> names;
    for (const SpiderTally::Entry& entry : tally.entries()) {
        names.push_back(entry.name);
    }
    return names;
}

HtmlPlan HtmlPlanFor(const ReportArgs& a, const LogImport& imported) {
    return HtmlPlanOf(a, a.stream ? CatalogueCrawlers(a.crawlers) : TallyCrawlers(imported.tally));
}

// The report's heading (GBK): the names of the logs without their folders,
// which are nobody's business where the report is mailed to.
std::string HtmlTitle(const std::vector<std::string>& inputs) {
    constexpr std::size_t kNamed = 5;
    std::string title;
    for (std::size_t i = 0; i < inputs.size() && i < kNamed; ++i) {
        const std::string& input = inputs[i];
        std::string_view name = input;
        while (name.size() > 1 && name.back() == '/') {
            name.remove_suffix(1);
        }
        if (const std::size_t slash = name.rfind('/');
            slash != std::string_view::npos && slash + 1 < name.size()) {
            name.remove_prefix(slash + 1);
        }
        title += (i == 0 ? "" : ", ") + (input == "-" ? Gbk("标准输入") : Utf8ToGbk(name));
    }
    if (inputs.size() > kNamed) {
        title += Gbk(" 等 ") + std::to_string(inputs.size()) + Gbk(" 项");
    }
    return title;
}

// Writes the HTML report of the log to the --html file; the exit code. The
// figures come from the same page builds as the CSV pages, so the report's
// tables are those pages cell for cell. A resolver that cannot be set up
// ends the run before anything is written, as on --page verify; one that
// does not answer reverse lookups gives a report that says so, and exit 1.
int WriteHtml(const ReportArgs& a, const LogImport& imported, std::string& messages) {
    const std::int32_t clientIp = ClientIpColumn(a, imported, messages);
    if (clientIp < 0) {
        return 2;
    }
    const HtmlPlan plan = HtmlPlanFor(a, imported);
    const auto page = [&](StatsPage kind, const SpiderFilter& filter) {
        if (const std::optional<std::size_t> i = plan.find(kind, filter)) {
            return PageOf(a, imported, *i, kind, plan.pages[*i].request, clientIp);
        }
        // A tally name outside the catalogue, which no streamed page counted:
        // the page of no records.
        return MakePageAccumulator(kind, RequestOf(a, filter))
            ->finish(PageFields::Of(imported.header.fieldMap), imported.tally);
    };

    HtmlReportPages pages;
    pages.title = HtmlTitle(a.inputs);
    pages.generated = UtcNowText();
    const TextTable tally = SpiderPage(imported.tally);
    pages.spiders.headers = tally.headers;
    pages.spiders.rows = tally.rows;
    const std::vector<std::string> shortNames = SpiderShortNames(imported.tally);
    for (int k = 1; k <= imported.tally.length(); ++k) {
        const SpiderFilter filter = SpiderFilterOfTab(imported.tally, k);
        HtmlCrawler crawler;
        crawler.shortName = shortNames[static_cast<std::size_t>(k - 1)];
        if (const SpiderInfo* spider = FindSpiderByDisplayName(*filter.displayName)) {
            crawler.rgb = spider->rgb;
            crawler.crawler = spider->id != SpiderId::Unknown;
        }
        crawler.status = page(StatsPage::Status, filter);
        // As --page urls --spider NAME --sort 1 --desc lists them.
        StatsTable urls = page(StatsPage::Url, filter);
        const std::size_t summary = urls.summaryRow && !urls.rows.empty() ? 1 : 0;
        crawler.urlCount = urls.rows.size() - summary;
        SortAsClicked(urls, 1, true, a.parallel);
        if (urls.rows.size() > summary + kHtmlTopUrls) {
            urls.rows.resize(summary + kHtmlTopUrls);
        }
        crawler.topUrls = std::move(urls);
        pages.crawlers.push_back(std::move(crawler));
    }
    pages.spiderDays = page(StatsPage::SpiderDays, {});
    pages.status = page(StatsPage::Status, {});
    pages.timing = page(StatsPage::Timing, {});
    if (a.siteUrls) {
        pages.coverage = page(StatsPage::Coverage, {});
    }

    int code = 0;
    if (plan.verify) {
        const std::vector<CrawlerClaim> claims = ClaimsOf(a, imported, plan.pages.size(), clientIp);
        const VerifyRun run = Verify(a, claims);
        if (run.error) {
            messages +=
                "logdesk-report: DNS: " + ForTerminal(GbkToUtf8(run.error->reason())) + "\n";
            return 1;
        }
        HtmlVerification verification;
        if (run.problem != ResolverProblem::None) {
            verification.problem = ResolverProblemText(run.problem);
            messages += "logdesk-report: DNS: " + GbkToUtf8(verification.problem) +
                        "; no address is judged 假\n";
            code = 1;
        }
        const auto shareTitles = ShareColumnTitles();
        verification.shares.headers.assign(shareTitles.begin(), shareTitles.end());
        for (const auto& row : ShareTableRows(CrawlerShares(claims, run.verdicts))) {
            verification.shares.rows.emplace_back(row.begin(), row.end());
        }
        const auto titles = VerifyColumnTitles();
        verification.addresses.headers.assign(titles.begin(), titles.end());
        for (std::size_t i = 0; i < claims.size() && i < kHtmlVerifyRows; ++i) {
            const auto row = VerifyTableRow(claims[i], run.verdicts[i]);
            verification.addresses.rows.emplace_back(row.begin(), row.end());
        }
        verification.addressCount = claims.size();
        pages.verification = std::move(verification);
    }
    const Result<void> written =
        ExportToFile(*a.html, [&](LineSink& sink) { return WriteHtmlReport(pages, sink); });
    if (!written) {
        messages += "logdesk-report: " + written.error().line() + "\n";
        return 1;
    }
    return code;
}

// Fetches every published range list into the ranges folder, one line on
// standard error per source; exit 1 when any could not be fetched or stored
// (its previous copy stays).
int UpdateRanges(const ReportArgs& a, std::string& messages) {
    if (!a.rangesDir) {
        messages += "logdesk-report: --update-ranges: no settings folder; name one with "
                    "--ranges-dir\n";
        return 2;
    }
    const std::vector<RangeUpdate> updates = UpdatePublishedRanges(
        *a.rangesDir, RangeSources(), UtcNowText(), [&a](const RangeSource& source) {
            for (const auto& [id, url] : a.rangeUrls) {
                if (id == source.id) {
                    return url;
                }
            }
            return std::string(source.url);
        });
    int code = 0;
    for (const RangeUpdate& update : updates) {
        if (update.stored) {
            messages += "logdesk-report: ranges " + update.id + ": " +
                        std::to_string(update.ranges) + " stored\n";
        } else {
            messages += "logdesk-report: ranges " + update.id + ": " + GbkToUtf8(update.error) +
                        "; the previous copy stays\n";
            code = 1;
        }
    }
    return code;
}

// The records of every input, gathered into one table in memory, and
// whether any input was left out or read only in part.
struct GatheredLog {
    LogImport log;
    bool inputsFailed = false;
};

// Reads the inputs as one log, writing a line to messages for each input
// that could not be read (or only in part). nullopt, after saying why, when
// there is nothing to report: the one log named could not be read or was
// rejected, no input could be read, or none was named.
std::optional<GatheredLog> GatherRecords(const ReportArgs& a, LogInputs& inputs,
                                         const LogInputsOptions& inputOptions,
                                         std::string& messages, ReportReading& reading) {
    ImportOptions options;
    options.threads = a.parallel.threads;
    if (a.stream) {
        const PageRequest request = RequestOf(a, StreamFilter(a));
        options.makeConsumers = [&a, request] {
            std::vector<std::unique_ptr<RecordConsumer>> consumers;
            if (a.page == Page::Verify) {
                consumers.push_back(std::make_unique<CrawlerClaimCollector>());
            } else if (a.page != Page::Spiders) {
                consumers.push_back(a.stats->makeAccumulator(request));
            }
            return consumers;
        };
        if (a.page == Page::Html) {
            options.makeConsumers = [plan = HtmlPlanOf(a, CatalogueCrawlers(a.crawlers))] {
                std::vector<std::unique_ptr<RecordConsumer>> consumers;
                for (const HtmlPlan::Item& item : plan.pages) {
                    consumers.push_back(MakePageAccumulator(item.page, item.request));
                }
                if (plan.verify) {
                    consumers.push_back(std::make_unique<CrawlerClaimCollector>());
                }
                return consumers;
            };
        }
    }
    options.crawlers = a.crawlers;
    Result<InputsImport> read = ImportLogInputs(inputs, {}, options);
    reading.streamed = a.stream;
    reading.passes = 1;
    if (read && !read->log.streamExact) {
        // The headers changed which fields the last header's columns stand
        // for: count again, knowing that header.
        const auto& files = inputs.files();
        if (std::any_of(files.begin(), files.end(), [](const InputFile& file) {
                return file.kind == InputKind::StandardInput;
            })) {
            messages += "logdesk-report: the headers of the logs change which fields the "
                        "pages count, and standard input cannot be read twice; run it "
                        "without --stream\n";
            return std::nullopt;
        }
        options.streamHeader = read->log.header;
        options.streamFirstHeader = read->log.firstHeader;
        LogInputs again(a.inputs, inputOptions);
        read = ImportLogInputs(again, {}, options);
        reading.passes = 2;
    }
    if (!read) {
        const Error& error = read.error();
        if (error.code == ENOMEM) {
            messages +=
                "logdesk-report: " + ForTerminal(error.path) + ": out of memory (" +
                ForTerminal(error.reason()) + ")\n";
        } else {
            messages += "logdesk-report: cannot read " + error.line() + "\n";
        }
        return std::nullopt;
    }
    InputsImport& all = *read;
    for (const SkippedInput& skipped : all.skipped) {
        messages += "logdesk-report: " + skipped.describe() + "\n";
    }
    // The one log named keeps the messages it always had.
    const std::string name =
        all.single ? ForTerminal(inputs.files().front().path) : std::string("the logs");
    if (all.log.rejected) {
        messages += name + ": 这个文件不是标准的IIS日志文件！\n";
        return std::nullopt;
    }
    if (all.sourcesRead == 0) {
        if (all.skipped.empty()) {
            messages += "logdesk-report: no log file among the inputs\n";
        }
        return std::nullopt;
    }
    if (all.log.droppedFields > 0) {
        messages += "logdesk-report: " + name + ": the log names more fields than a table holds; " +
                    std::to_string(all.log.droppedFields) + " fields after the first " +
                    std::to_string(kMaxTableColumns - 1) + " are left out\n";
    }
    return GatheredLog{std::move(all.log), !all.skipped.empty()};
}

// Writes the page the arguments ask for from the records in memory; the
// exit code. `locations`: the --locate database, opened; null without it.
int WritePage(const ReportArgs& a, LogImport& imported, const IpDatabase* locations,
              LineSink& standardOutput, std::string& messages) {
    if (a.page == Page::Verify) {
        return WriteVerifyPage(a, imported, standardOutput, messages);
    }
    if (a.page == Page::Html) {
        return WriteHtml(a, imported, messages);
    }
    if (a.page == Page::Spiders) {
        // Sorted as the window's lists are; unsorted, in the tally's order.
        const TextTable tally = SpiderPage(imported.tally);
        StatsTable table;
        table.headers = tally.headers;
        table.rows = tally.rows;
        return WriteSortedList(a, table, standardOutput, messages);
    }
    if (a.page == Page::Stats) {
        return WriteStatsPage(a, imported, locations, standardOutput, messages);
    }
    if (a.sortColumn && a.page == Page::Records) {
        // As a header click on the main window's list: text order, ascending.
        RecordTable& table = imported.table;
        if (*a.sortColumn >= table.columnCount()) {
            messages += NoColumn(*a.sortColumn);
            return 2;
        }
        table.setRowOrder(SortRecordsByText(table, ColumnIndex{*a.sortColumn}, {}, a.parallel));
    }

    return WriteOutput(a, standardOutput, messages, [&](LineSink& sink) {
        const bool header = !a.output || HasCsvExtension(*a.output);
        const std::vector<ColumnIndex> columns =
            a.defaultColumns ? DefaultExportColumns(imported.table) : AllColumns(imported.table);
        return WriteRecordTable(imported.table, columns, header, sink, {}, a.parallel);
    });
}

// Standard input redirected from a file (`- < x.log`) is that file: writing
// the table over it would lose the log. A terminal or a pipe has no bytes
// to lose.
bool OutputIsStandardInput(const std::string& output, int standardInput) {
    const Result<FileStatus> in = StatusOfOpen(standardInput);
    const Result<FileStatus> out = StatusOf(output);
    return in && out && in->kind == FileStatus::Regular && in->device == out->device &&
           in->inode == out->inode;
}

// Whether the page is counted while the logs are read: asked for, or chosen
// where the output is the same and a second pass could read the inputs again.
bool Streams(const ReportArgs& a, const LogInputs& inputs, const ReportReading& reading) {
    if (a.stream) {
        return true;
    }
    // The client behind a proxy is found in the table's cells.
    if (a.page == Page::Records || (a.page == Page::Stats && !a.stats->streams) ||
        reading.keepRecords || a.clientIpField) {
        return false;
    }
    const auto& files = inputs.files();
    return std::none_of(files.begin(), files.end(), [](const InputFile& file) {
        return file.kind == InputKind::StandardInput;
    });
}

// The server of --to or --from: the URL less its user, who that user is (the
// URL's, or the setting's) and the password (the environment's, or the
// setting's).
ClickHouseServer ServerOf(const std::string& urlText, const std::string& settingsFolder) {
    const ServerUrl url = *ParseServerUrl(urlText);
    ClickHouseServer server;
    server.url = url.url;
    server.user = url.user;
    std::optional<ConfigFile> settings;
    if (!settingsFolder.empty()) {
        settings.emplace(settingsFolder + "/logdesk.ini");
    }
    if (server.user.empty() && settings) {
        server.user = GbkToUtf8(settings::kClickHouseUser.read(*settings));
    }
    if (const char* password = std::getenv("LOGDESK_CLICKHOUSE_PASSWORD")) {
        server.password = password;
    } else if (settings) {
        server.password = GbkToUtf8(settings::kClickHousePassword.read(*settings));
    }
    return server;
}

WarehouseTables TablesOf(const ReportArgs& a) {
    return a.table ? *TablesNamed(*a.table) : WarehouseTables{};
}

// --to clickhouse: loads the logs, one line on standard error per file; exit
// 1 when the server failed or a file could not be loaded.
int LoadIntoServer(const ReportArgs& a, const std::string& settingsFolder,
                   const LogInputsOptions& inputOptions, std::string& messages) {
    LogInputs inputs(a.inputs, inputOptions);
    for (const InputFile& file : inputs.files()) {
        if (file.kind == InputKind::StandardInput) {
            messages += "logdesk-report: --to clickhouse loads files only: standard input has no "
                        "name to tell what of it was loaded\n";
            return 2;
        }
    }
    ClickHouseClient client(ServerOf(*a.toServer, settingsFolder));
    LoadOptions options;
    options.tables = TablesOf(a);
    options.crawlers = a.crawlers;
    options.threads = a.parallel.threads;
    const Result<LoadSummary> summary = LoadLogs(client, inputs, options);
    if (!summary) {
        messages += "logdesk-report: " + summary.error().line() + "\n";
        return 1;
    }
    for (const SourceLoad& source : summary->sources) {
        std::string line = "logdesk-report: " + ForTerminal(source.source) + ": ";
        if (!source.problem.empty()) {
            line += "not loaded: " + ForTerminal(source.problem);
        } else if (source.skipped) {
            line += std::to_string(source.records) + " records, loaded before";
        } else {
            line += std::to_string(source.records) + " records, " +
                    std::to_string(source.loaded) + " loaded";
        }
        messages += line + "\n";
    }
    messages += "logdesk-report: " + std::to_string(summary->rows) + " rows loaded into " +
                options.tables.records + "\n";
    return summary->problems ? 1 : 0;
}

// --from clickhouse: the page of the server's counted records.
int WriteServerPage(const ReportArgs& a, const std::string& settingsFolder,
                    LineSink& standardOutput, std::string& messages) {
    ClickHouseClient client(ServerOf(*a.fromServer, settingsFolder));
    ServerRecords records;
    records.tables = TablesOf(a);
    records.crawlers = a.crawlers;
    records.since = a.since;
    records.until = a.until;
    const auto failed = [&messages](const Error& error) {
        messages += "logdesk-report: " + error.line() + "\n";
        return 1;
    };
    const Result<SpiderTally> tally = ServerTally(client, records);
    if (!tally) {
        return failed(tally.error());
    }
    if (a.page == Page::Spiders) {
        const TextTable page = SpiderPage(*tally);
        StatsTable table;
        table.headers = page.headers;
        table.rows = page.rows;
        return WriteSortedList(a, table, standardOutput, messages);
    }
    SpiderFilter filter;
    if (a.spider) {
        const std::vector<std::string> captions = SpiderFilterCaptions(*tally);
        const auto it = std::find(captions.begin() + 1, captions.end(), Utf8ToGbk(*a.spider));
        if (it == captions.end()) {
            messages += NoCrawler(*a.spider, captions);
            return 2;
        }
        filter = SpiderFilterOfTab(*tally, static_cast<int>(it - captions.begin()));
    }
    const Result<FieldMap> fields = ServerFields(client, records);
    if (!fields) {
        return failed(fields.error());
    }
    Result<StatsTable> page =
        ServerPage(client, *a.stats, RequestOf(a, filter), records, *fields, *tally);
    if (!page) {
        return failed(page.error());
    }
    if (!page->notice.empty()) {
        messages += "logdesk-report: " + GbkToUtf8(page->notice) + "\n";
    }
    return WriteSortedList(a, *page, standardOutput, messages);
}

int RunReportUnguarded(const std::vector<std::string>& args, LineSink& standardOutput,
                       std::string& messages, int standardInput,
                       const std::string& settingsFolder, ReportReading& reading) {
    std::optional<ReportArgs> parsed = ParseArgs(args, messages);
    if (!parsed) {
        messages += ReportUsage();
        return 2;
    }
    if (!parsed->rangesDir && !settingsFolder.empty()) {
        parsed->rangesDir = settingsFolder;
    }
    ReportArgs& a = *parsed;
    if (a.fromServer) {
        return WriteServerPage(a, settingsFolder, standardOutput, messages);
    }
    if (a.updateRanges) {
        return UpdateRanges(a, messages);
    }
    LogInputsOptions inputOptions;
    inputOptions.standardInput = standardInput;
    inputOptions.readAhead = a.parallel.threads != 1;
    if (a.toServer) {
        return LoadIntoServer(a, settingsFolder, inputOptions, messages);
    }
    LogInputs inputs(a.inputs, inputOptions);
    a.stream = Streams(a, inputs, reading);
    // The table is written only after every log was read, but what a log
    // held would still be gone.
    if (const std::optional<std::string>& output = a.html ? a.html : a.output) {
        for (const InputFile& file : inputs.files()) {
            if (file.kind == InputKind::StandardInput ? OutputIsStandardInput(*output, standardInput)
                                                      : SameFile(*output, file.path)) {
                messages += "logdesk-report: " + ForTerminal(*output) +
                            " is the log being read; not writing over it\n";
                return 1;
            }
        }
    }
    // Opened before the logs are read: a database that cannot be used ends
    // the run as an unreadable log does, without the wait for the page.
    std::optional<IpDatabase> locations;
    if (a.locate) {
        Result<IpDatabase> opened = IpDatabase::open(*a.locate);
        if (!opened) {
            messages += "logdesk-report: " + opened.error().line() + "\n";
            return 1;
        }
        locations = std::move(*opened);
    }
    if (!a.urlFiles.empty()) {
        SiteUrlOptions listOptions;
        listOptions.host = a.siteHost.value_or("");
        Result<SiteUrlList> list = ReadSiteUrls(a.urlFiles, listOptions);
        if (!list) {
            messages += "logdesk-report: " + list.error().line() + "\n";
            return 1;
        }
        a.siteUrls = std::make_shared<const SiteUrlList>(std::move(*list));
    }
    std::optional<GatheredLog> gathered =
        GatherRecords(a, inputs, inputOptions, messages, reading);
    if (!gathered) {
        return 1;
    }
    const int written =
        WritePage(a, gathered->log, locations ? &*locations : nullptr, standardOutput, messages);
    if (written != 0) {
        return written;
    }
    // Written from the inputs that could be read; the others were named.
    return gathered->inputsFailed ? 1 : 0;
}

} // namespace

int RunReport(const std::vector<std::string>& args, LineSink& standardOutput, std::string& messages,
              int standardInput, const std::string& settingsFolder,
              ReportReading* reading) {
    ReportReading ignored;
    // Memory running out in a page build or the output ends the run with one
    // line, as an unreadable log does.
    try {
        return RunReportUnguarded(args, standardOutput, messages, standardInput, settingsFolder,
                                  reading != nullptr ? *reading : ignored);
    } catch (const std::bad_alloc&) {
        messages += "logdesk-report: out of memory\n";
        return 1;
    }
}

} // namespace logdesk
