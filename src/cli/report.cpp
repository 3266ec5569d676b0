#include "report.h"

#include "base/platform.h"
#include "export/csv_format.h"
#include "input/import_inputs.h"
#include "logimport/client_address.h"
#include "logimport/log_importer.h"
#include "net/crawler_claims.h"
#include "net/crawler_ranges.h"
#include "net/crawler_verifier.h"
#include "net/verification_report.h"
#include "stats/page_builds.h"
#include "stats/record_sort.h"
#include "stats/stats_sort.h"
#include "text/gbk_codec.h"
#include "text/gbk_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <new>
#include <optional>

namespace logdesk {

const char* const kReportUsage =
    "usage: logdesk-report [--page "
    "records|spiders|spider-traffic|spider-days|urls|ips|status|verify]\n"
    "                      [--columns all|default] [--spider SHORTNAME] [--sort COLUMN] [--desc]\n"
    "                      [--dns-timeout MS] [--dns-server HOST[:PORT],...]\n"
    "                      [--block-rules iis|powershell|appcmd|list] [--block-shared]\n"
    "                      [--ranges-dir DIR] [--ranges-source ID=URL] [--client-ip-field NAME]\n"
    "                      [--output FILE] [--utf8] [--threads N] [--stream]\n"
    "                      [--crawlers classic|all] LOGFILE|DIR|- ...\n"
    "       logdesk-report --update-ranges [--ranges-dir DIR] [--ranges-source ID=URL]\n";

namespace {

enum class Page { Records, Spiders, SpiderTraffic, SpiderDays, Urls, Ips, Status, Verify };

struct ReportArgs {
    Page page = Page::Records;
    bool defaultColumns = false;
    std::optional<std::string> output;
    bool utf8 = false;
    std::optional<int> sortColumn;
    bool descending = false;
    std::optional<std::string> spider; // short name, UTF-8 as given
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
};

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

// Parses the arguments; nullopt after writing what is wrong to messages.
std::optional<ReportArgs> ParseArgs(const std::vector<std::string>& args, std::string& messages) {
    ReportArgs parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> const std::string* {
            if (i + 1 >= args.size()) {
                messages += "logdesk-report: " + arg + " needs a value\n";
                return nullptr;
            }
            return &args[++i];
        };
        // The option's value as one of two words: true for `first`; nullopt
        // after saying what it takes.
        auto either = [&](const char* first, const char* second) -> std::optional<bool> {
            const std::string* v = value();
            if (v == nullptr) {
                return std::nullopt;
            }
            if (*v != first && *v != second) {
                messages += "logdesk-report: " + arg + " takes " + first + " or " + second + "\n";
                return std::nullopt;
            }
            return *v == first;
        };
        // The option's value as a number from `low` to `high`; nullopt after
        // saying that it takes `what`.
        auto number = [&](long low, long high, const char* what) -> std::optional<long> {
            const std::string* v = value();
            if (v == nullptr) {
                return std::nullopt;
            }
            const std::optional<long> n = NumberIn(*v, low, high);
            if (!n) {
                messages += "logdesk-report: " + arg + " takes " + what + "\n";
            }
            return n;
        };
        if (arg == "--page") {
            const std::string* v = value();
            if (v == nullptr) {
                return std::nullopt;
            }
            static const std::pair<const char*, Page> pages[] = {
                {"records", Page::Records},
                {"spiders", Page::Spiders},
                {"spider-traffic", Page::SpiderTraffic},
                {"spider-days", Page::SpiderDays},
                {"urls", Page::Urls},
                {"ips", Page::Ips},
                {"status", Page::Status},
                {"verify", Page::Verify}};
            const auto it = std::find_if(std::begin(pages), std::end(pages),
                                         [&](const auto& p) { return *v == p.first; });
            if (it != std::end(pages)) {
                parsed.page = it->second;
                parsed.pageGiven = true;
            } else {
                messages += "logdesk-report: unknown page '" + ForTerminal(*v) + "'\n";
                return std::nullopt;
            }
        } else if (arg == "--columns") {
            const std::optional<bool> all = either("all", "default");
            if (!all) {
                return std::nullopt;
            }
            parsed.defaultColumns = !*all;
        } else if (arg == "--output") {
            const std::string* v = value();
            if (v == nullptr) {
                return std::nullopt;
            }
            parsed.output = *v;
        } else if (arg == "--sort") {
            const std::optional<long> column =
                number(0, 100000, "a column number (0 = record number)");
            if (!column) {
                return std::nullopt;
            }
            parsed.sortColumn = static_cast<int>(*column);
        } else if (arg == "--threads") {
            const std::optional<long> threads = number(1, 1024, "a number from 1 to 1024");
            if (!threads) {
                return std::nullopt;
            }
            parsed.parallel.threads = static_cast<unsigned>(*threads);
        } else if (arg == "--dns-timeout") {
            const std::optional<long> ms = number(1, 600000, "milliseconds from 1 to 600000");
            if (!ms) {
                return std::nullopt;
            }
            parsed.resolver.timeoutMs = static_cast<int>(*ms);
        } else if (arg == "--dns-server") {
            const std::string* v = value();
            if (v == nullptr) {
                return std::nullopt;
            }
            // An explicit list is used as given or not at all: never the
            // system's resolver in its place.
            const Result<std::string> servers = CheckedDnsServers(*v);
            if (!servers) {
                messages += "logdesk-report: --dns-server: " + GbkToUtf8(servers.error().cause) +
                            "; it takes IPv4 or IPv6 addresses with an optional port, "
                            "127.0.0.1:5353,[::1]:53\n";
                return std::nullopt;
            }
            parsed.resolver.servers = *v;
        } else if (arg == "--block-rules") {
            const std::string* v = value();
            if (v == nullptr) {
                return std::nullopt;
            }
            static const std::pair<const char*, BlockFormat> formats[] = {
                {"iis", BlockFormat::WebConfig},
                {"powershell", BlockFormat::PowerShell},
                {"appcmd", BlockFormat::Appcmd},
                {"list", BlockFormat::List}};
            const auto it = std::find_if(std::begin(formats), std::end(formats),
                                         [&](const auto& f) { return *v == f.first; });
            if (it == std::end(formats)) {
                messages += "logdesk-report: --block-rules takes iis, powershell, appcmd or list\n";
                return std::nullopt;
            }
            parsed.blockRules = it->second;
        } else if (arg == "--block-shared") {
            parsed.blockShared = true;
        } else if (arg == "--client-ip-field") {
            const std::string* v = value();
            if (v == nullptr) {
                return std::nullopt;
            }
            if (v->empty()) {
                messages += "logdesk-report: --client-ip-field needs a field name\n";
                return std::nullopt;
            }
            parsed.clientIpField = *v;
        } else if (arg == "--update-ranges") {
            parsed.updateRanges = true;
        } else if (arg == "--ranges-dir") {
            const std::string* v = value();
            if (v == nullptr) {
                return std::nullopt;
            }
            parsed.rangesDir = *v;
        } else if (arg == "--ranges-source") {
            const std::string* v = value();
            if (v == nullptr) {
                return std::nullopt;
            }
            const std::size_t equals = v->find('=');
            const std::string id = v->substr(0, equals);
            const auto sources = RangeSources();
            if (equals == std::string::npos ||
                std::none_of(sources.begin(), sources.end(),
                             [&](const RangeSource& source) { return source.id == id; })) {
                messages += "logdesk-report: --ranges-source takes ID=URL, ID one of:";
                for (const RangeSource& source : sources) {
                    messages += " " + std::string(source.id);
                }
                messages += "\n";
                return std::nullopt;
            }
            parsed.rangeUrls.emplace_back(id, v->substr(equals + 1));
        } else if (arg == "--stream") {
            parsed.stream = true;
        } else if (arg == "--crawlers") {
            const std::optional<bool> classic = either("classic", "all");
            if (!classic) {
                return std::nullopt;
            }
            parsed.crawlers = *classic ? Crawlers::Classic : Crawlers::All;
        } else if (arg == "--desc") {
            parsed.descending = true;
        } else if (arg == "--spider") {
            const std::string* v = value();
            if (v == nullptr) {
                return std::nullopt;
            }
            parsed.spider = *v;
        } else if (arg == "--utf8") {
            parsed.utf8 = true;
        } else if (arg == "--help" || arg == "-h") {
            return std::nullopt;
        } else if (arg.size() > 1 && arg[0] == '-') {
            messages += "logdesk-report: unknown option '" + ForTerminal(arg) + "'\n";
            return std::nullopt;
        } else {
            parsed.inputs.push_back(arg);
        }
    }
    if (parsed.updateRanges) {
        if (!parsed.inputs.empty() || parsed.pageGiven || parsed.blockRules) {
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
    if (parsed.spider && parsed.page != Page::Urls && parsed.page != Page::Ips &&
        parsed.page != Page::Status) {
        messages += "logdesk-report: --spider filters the urls, ips and status pages\n";
        return std::nullopt;
    }
    return parsed;
}

// The message for a --sort column the page does not have, with the usage.
std::string NoColumn(int column) {
    return "logdesk-report: the page has no column " + std::to_string(column) + "\n" + kReportUsage;
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

StatsPage StatsPageOf(Page page) {
    static const std::pair<Page, StatsPage> pages[] = {
        {Page::SpiderTraffic, StatsPage::SpiderTraffic},
        {Page::SpiderDays, StatsPage::SpiderDays},
        {Page::Urls, StatsPage::Url},
        {Page::Ips, StatsPage::Ip},
        {Page::Status, StatsPage::Status}};
    return std::find_if(std::begin(pages), std::end(pages),
                        [&](const auto& p) { return p.first == page; })
        ->second;
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
    for (int s = 0; s < kSpiderCount; ++s) {
        SpiderTally one;
        one.count(SpiderDisplayName(static_cast<SpiderId>(s)), 1);
        if (SpiderShortNames(one).front() == wanted) {
            return {one.entry(1).name};
        }
    }
    return {wanted};
}

// The message for a --spider short name the log has no crawler of: the ones
// it has, and the usage.
std::string NoCrawler(const std::string& shortName, const std::vector<std::string>& captions) {
    std::string known;
    for (auto it = captions.begin() + 1; it != captions.end(); ++it) {
        known += (known.empty() ? "" : ", ") + ForTerminal(GbkToUtf8(*it));
    }
    return "logdesk-report: no crawler '" + ForTerminal(shortName) + "' in this log; --spider takes " +
           (known.empty() ? "none here" : "one of: " + known) + "\n" + kReportUsage;
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
        SortStatsPage(table, *a.sortColumn, true, -1, a.parallel);
        if (a.descending) {
            SortStatsPage(table, *a.sortColumn, false, -1, a.parallel);
        }
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
                    "' (--client-ip-field)\n" + kReportUsage;
        return -1;
    }
    return column;
}

// Writes one page of the statistics window in the list export format.
int WriteStatsPage(const ReportArgs& a, const LogImport& imported, LineSink& standardOutput,
                   std::string& messages) {
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
    const StatsPage page = StatsPageOf(a.page);
    StatsTable table =
        a.stream ? FinishStreamedPage(static_cast<const PageAccumulator&>(*imported.consumers[0]),
                                      page, filter, imported.header.fieldMap, imported.tally)
                 : BuildStatsPage(page, imported.table, imported.header.fieldMap, imported.tally,
                                  filter, nullptr, a.parallel, clientIp);
    return WriteSortedList(a, table, standardOutput, messages);
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
    const std::vector<CrawlerClaim> claims =
        a.stream
            ? static_cast<const CrawlerClaimCollector&>(*imported.consumers[0]).claims()
            : CollectCrawlerClaims(imported.table, imported.header.fieldMap, nullptr, clientIp);
    CrawlerVerifier verifier(a.resolver,
                             a.rangesDir ? PublishedRanges::Load(*a.rangesDir) : PublishedRanges{});
    const VerifyRun run = verifier.verify(claims);
    if (!run.error.empty()) {
        messages += "logdesk-report: DNS: " + ForTerminal(GbkToUtf8(run.error)) + "\n";
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
        const SpiderFilter filter = StreamFilter(a);
        options.makeConsumers = [&a, filter] {
            std::vector<std::unique_ptr<RecordConsumer>> consumers;
            if (a.page == Page::Verify) {
                consumers.push_back(std::make_unique<CrawlerClaimCollector>());
            } else if (a.page != Page::Spiders) {
                consumers.push_back(MakePageAccumulator(StatsPageOf(a.page), filter));
            }
            return consumers;
        };
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
// exit code.
int WritePage(const ReportArgs& a, LogImport& imported, LineSink& standardOutput,
              std::string& messages) {
    if (a.page == Page::Verify) {
        return WriteVerifyPage(a, imported, standardOutput, messages);
    }
    if (a.page == Page::Spiders) {
        // Sorted as the window's lists are; unsorted, in the tally's order.
        const TextTable tally = SpiderPage(imported.tally);
        StatsTable table;
        table.headers = tally.headers;
        table.rows = tally.rows;
        return WriteSortedList(a, table, standardOutput, messages);
    }
    if (a.page != Page::Records) {
        return WriteStatsPage(a, imported, standardOutput, messages);
    }
    if (a.sortColumn && a.page == Page::Records) {
        // As a header click on the main window's list: text order, ascending.
        RecordTable& table = imported.table;
        if (*a.sortColumn >= table.columnCount()) {
            messages += NoColumn(*a.sortColumn);
            return 2;
        }
        table.setRowOrder(
            SortRecordsByText(table, ColumnIndex{*a.sortColumn}, nullptr, a.parallel));
    }

    return WriteOutput(a, standardOutput, messages, [&](LineSink& sink) {
        const bool header = !a.output || HasCsvExtension(*a.output);
        const std::vector<ColumnIndex> columns =
            a.defaultColumns ? DefaultExportColumns(imported.table) : AllColumns(imported.table);
        return WriteRecordTable(imported.table, columns, header, sink, nullptr, a.parallel);
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
    if (a.page == Page::Records || reading.keepRecords || a.clientIpField) {
        return false;
    }
    const auto& files = inputs.files();
    return std::none_of(files.begin(), files.end(), [](const InputFile& file) {
        return file.kind == InputKind::StandardInput;
    });
}

int RunReportUnguarded(const std::vector<std::string>& args, LineSink& standardOutput,
                       std::string& messages, int standardInput,
                       const std::string& settingsFolder, ReportReading& reading) {
    std::optional<ReportArgs> parsed = ParseArgs(args, messages);
    if (!parsed) {
        messages += kReportUsage;
        return 2;
    }
    if (!parsed->rangesDir && !settingsFolder.empty()) {
        parsed->rangesDir = settingsFolder;
    }
    ReportArgs& a = *parsed;
    if (a.updateRanges) {
        return UpdateRanges(a, messages);
    }
    LogInputsOptions inputOptions;
    inputOptions.standardInput = standardInput;
    inputOptions.readAhead = a.parallel.threads != 1;
    LogInputs inputs(a.inputs, inputOptions);
    a.stream = Streams(a, inputs, reading);
    // The table is written only after every log was read, but what a log
    // held would still be gone.
    if (a.output) {
        for (const InputFile& file : inputs.files()) {
            if (file.kind == InputKind::StandardInput ? OutputIsStandardInput(*a.output, standardInput)
                                                      : SameFile(*a.output, file.path)) {
                messages += "logdesk-report: " + ForTerminal(*a.output) +
                            " is the log being read; not writing over it\n";
                return 1;
            }
        }
    }
    std::optional<GatheredLog> gathered =
        GatherRecords(a, inputs, inputOptions, messages, reading);
    if (!gathered) {
        return 1;
    }
    const int written = WritePage(a, gathered->log, standardOutput, messages);
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
