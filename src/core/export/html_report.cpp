#include "html_report.h"

#include "core/text/gbk_codec.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <numbers>

// The charts are a handful of SVG shapes (arcs, polylines, rectangles)
// placed from the page's cells, so they are drawn here: Debian's SVG
// libraries render SVG rather than write it, and the Qt picture code of the
// chart window has no place in the core.

namespace logdesk {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD in UTF-8

// The text of an already UTF-8 string for HTML: see HtmlText.
void AppendEscapedUtf8(std::string& out, std::string_view utf8) {
    for (const char c : utf8) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default: {
            const auto byte = static_cast<unsigned char>(c);
            if ((byte < 0x20 && c != '\t' && c != '\n' && c != '\r') || byte == 0x7F) {
                out += kReplacement;
            } else {
                out += c;
            }
        }
        }
    }
}

void AppendText(std::string& out, std::string_view gbk) {
    AppendEscapedUtf8(out, GbkToUtf8(gbk));
}

// A decimal cell as a number; 0 for anything else (an empty timing cell).
std::int64_t CountOf(std::string_view cell) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(cell.data(), cell.data() + cell.size(), value);
    return error == std::errc() && end == cell.data() + cell.size() ? value : 0;
}

std::string Cell(const StatsTable& table, std::size_t row, std::size_t column) {
    return row < table.rows.size() && column < table.rows[row].size() ? table.rows[row][column]
                                                                      : std::string();
}

// A coordinate or a share with at most `decimals` places; never "-0".
std::string Fixed(double value, int decimals = 2) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string out = text;
    if (out.find_first_not_of("-0.") == std::string::npos) {
        out = decimals > 0 ? "0." + std::string(static_cast<std::size_t>(decimals), '0') : "0";
    }
    return out;
}

std::string ColourText(std::int32_t rgb) {
    if (rgb == kNoColour) {
        return "#999999";
    }
    char text[8];
    std::snprintf(text, sizeof text, "#%06x", static_cast<unsigned>(rgb) & 0xFFFFFFu);
    return text;
}

// Whether a line or a swatch of the colour would vanish on the white page.
bool IsPale(std::int32_t rgb) {
    if (rgb == kNoColour) {
        return false;
    }
    const double r = (rgb >> 16) & 0xFF;
    const double g = (rgb >> 8) & 0xFF;
    const double b = rgb & 0xFF;
    return 0.299 * r + 0.587 * g + 0.114 * b > 215;
}

// A cell that reads as a figure ("12", "12.50%") is set right-aligned.
bool IsFigure(std::string_view cell) {
    return cell.find_first_of("0123456789") != std::string_view::npos &&
           cell.find_first_not_of("0123456789.%") == std::string_view::npos;
}

// Cells of at most this many bytes (a date, a status key, a crawler's name)
// never wrap; longer ones (URLs, descriptions) wrap anywhere, so that a wide
// page still fits the window.
constexpr std::size_t kShortCell = 24;

// What a status key's first digit says: its colour in the status bars and
// its name in their legend.
struct StatusClass {
    char digit;
    const char* colour;
    const char* name;
};
constexpr StatusClass kStatusClasses[] = {
    {'1', "#8e7cc3", "1xx"},
    {'2', "#2e9d52", "2xx 成功"},
    {'3', "#3b7dd8", "3xx 跳转"},
    {'4', "#e8a33d", "4xx 客户端错误"},
    {'5', "#d64541", "5xx 服务器错误"},
};
constexpr const char* kOtherStatusColour = "#9e9e9e";

// The class of a status key ("404|2"); std::size(kStatusClasses) for none.
std::size_t StatusClassOf(std::string_view key) {
    for (std::size_t c = 0; c < std::size(kStatusClasses); ++c) {
        if (!key.empty() && key.front() == kStatusClasses[c].digit) {
            return c;
        }
    }
    return std::size(kStatusClasses);
}

class HtmlWriter {
public:
    explicit HtmlWriter(const HtmlReportPages& pages) : pages_(pages) {}

    std::string write() {
        head();
        out_ += "<body>\n";
        header();
        out_ += "<main>\n";
        shareSection();
        daysSection();
        statusSection();
        crawlerSections();
        timingSection();
        if (pages_.coverage) {
            coverageSection(*pages_.coverage);
        }
        if (pages_.verification) {
            verificationSection(*pages_.verification);
        }
        out_ += "</main>\n<footer>由 LogDesk 的 logdesk-report 生成";
        if (!pages_.generated.empty()) {
            out_ += "，";
            text(pages_.generated);
        }
        out_ += "。</footer>\n</body>\n</html>\n";
        return std::move(out_);
    }

private:
    void text(std::string_view gbk) { AppendText(out_, gbk); }

    void head() {
        out_ += "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n";
        // Nothing may be fetched: no script, no image, font or frame from
        // anywhere; only the style element and attributes of this file.
        out_ += "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                "style-src 'unsafe-inline'; img-src data:; base-uri 'none'; form-action "
                "'none'\">\n";
        out_ += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
        out_ += "<title>蜘蛛访问报告";
        if (!pages_.title.empty()) {
            out_ += " - ";
            text(pages_.title);
        }
        out_ += "</title>\n<style>\n";
        out_ +=
            R"css(body{margin:0;background:#f4f5f7;color:#222;font:14px/1.5 "Microsoft YaHei","PingFang SC","Noto Sans CJK SC","WenQuanYi Micro Hei",sans-serif}
header,main,footer{max-width:1000px;margin:0 auto;padding:0 16px}
header{padding-top:16px}
h1{font-size:24px;margin:8px 0}
h2{font-size:19px;margin:0 0 12px;border-bottom:2px solid #dde1e6;padding-bottom:4px}
h3{font-size:16px;margin:16px 0 8px}
h4{font-size:14px;margin:12px 0 6px;color:#444}
.meta{color:#555;margin:4px 0}
nav a{display:inline-block;margin:4px 12px 4px 0;color:#2b5fb4;text-decoration:none}
section.page{background:#fff;border:1px solid #dde1e6;border-radius:6px;margin:16px 0;padding:16px}
section.crawler{border-top:1px solid #e6e8eb;margin-top:12px}
.chart{display:flex;flex-wrap:wrap;align-items:center;gap:24px}
svg{display:block;max-width:100%;height:auto}
svg text{font-size:11px;fill:#444}
ul.legend{list-style:none;margin:8px 0;padding:0;display:flex;flex-wrap:wrap;gap:4px 16px}
ul.legend.column{flex-direction:column}
.swatch{display:inline-block;width:12px;height:12px;margin-right:6px;border:1px solid #888;vertical-align:-1px}
.scroll{overflow-x:auto;margin:8px 0}
table{border-collapse:collapse;font-size:13px}
th,td{border:1px solid #dde1e6;padding:3px 8px;text-align:left;vertical-align:top}
th{background:#eef1f5;white-space:nowrap}
td{overflow-wrap:anywhere}
td.s{white-space:nowrap}
td.n{text-align:right;white-space:nowrap;font-variant-numeric:tabular-nums}
tr.sum td{font-weight:bold;background:#fafbe8}
tbody tr:nth-child(even):not(.sum) td{background:#f9fafb}
.notice{background:#fff6e0;border-left:4px solid #e8a33d;padding:6px 10px}
.empty{color:#777}
details summary{cursor:pointer;color:#2b5fb4;margin:8px 0}
footer{color:#777;font-size:12px;padding-bottom:24px}
@media print{body{background:#fff}section.page{border:none;padding:0}nav{display:none}}
)css";
        out_ += "</style>\n</head>\n";
    }

    void header() {
        out_ += "<header>\n<h1>蜘蛛访问报告</h1>\n";
        if (!pages_.title.empty()) {
            out_ += "<p class=\"meta\">日志：";
            text(pages_.title);
            out_ += "</p>\n";
        }
        out_ += "<nav><a href=\"#share\">蜘蛛占比</a><a href=\"#days\">每日趋势</a>"
                "<a href=\"#status\">访问状态</a><a href=\"#crawlers\">各蜘蛛</a>"
                "<a href=\"#timing\">响应时间</a>";
        if (pages_.coverage) {
            out_ += "<a href=\"#coverage\">清单覆盖</a>";
        }
        if (pages_.verification) {
            out_ += "<a href=\"#verify\">蜘蛛真伪</a>";
        }
        out_ += "</nav>\n</header>\n";
    }

    void openSection(const char* id, const char* title) {
        out_ += "<section class=\"page\" id=\"";
        out_ += id;
        out_ += "\">\n<h2>";
        out_ += title;
        out_ += "</h2>\n";
    }

    void swatch(std::int32_t rgb) {
        out_ += "<span class=\"swatch\" style=\"background:" + ColourText(rgb) + "\"></span>";
    }

    // The page as a table: its captions, its rows (the summary row marked),
    // figures right-aligned; the notice above it, "无" for no rows.
    void table(const StatsTable& page, std::string_view pageName, std::string_view spider = {},
               std::size_t rows = SIZE_MAX) {
        if (!page.notice.empty()) {
            out_ += "<p class=\"notice\">";
            text(page.notice);
            out_ += "</p>\n";
        }
        out_ += "<div class=\"scroll\"><table";
        if (!pageName.empty()) {
            out_ += " data-page=\"";
            out_ += pageName;
            out_ += "\"";
        }
        if (!spider.empty()) {
            out_ += " data-spider=\"";
            text(spider);
            out_ += "\"";
        }
        out_ += ">\n<thead><tr>";
        for (const std::string& caption : page.headers) {
            out_ += "<th>";
            text(caption);
            out_ += "</th>";
        }
        out_ += "</tr></thead>\n<tbody>\n";
        const std::size_t shown = std::min(rows, page.rows.size());
        for (std::size_t r = 0; r < shown; ++r) {
            out_ += r == 0 && page.summaryRow ? "<tr class=\"sum\">" : "<tr>";
            for (const std::string& cell : page.rows[r]) {
                out_ += IsFigure(cell)              ? "<td class=\"n\">"
                        : cell.size() <= kShortCell ? "<td class=\"s\">"
                                                    : "<td>";
                text(cell);
                out_ += "</td>";
            }
            out_ += "</tr>\n";
        }
        out_ += "</tbody></table></div>\n";
        if (shown == 0 && page.notice.empty()) {
            out_ += "<p class=\"empty\">无</p>\n";
        }
    }

    void shareSection() {
        openSection("share", "蜘蛛占比");
        const StatsTable& spiders = pages_.spiders;
        std::int64_t total = 0;
        for (std::size_t r = 0; r < spiders.rows.size(); ++r) {
            total += std::max<std::int64_t>(0, CountOf(Cell(spiders, r, 1)));
        }
        if (total > 0) {
            out_ += "<div class=\"chart\">\n";
            pie(total);
            out_ += "<ul class=\"legend column\">\n";
            for (std::size_t r = 0; r < spiders.rows.size(); ++r) {
                const std::int64_t visits = CountOf(Cell(spiders, r, 1));
                out_ += "<li>";
                swatch(r < pages_.crawlers.size() ? pages_.crawlers[r].rgb : kNoColour);
                text(Cell(spiders, r, 0));
                out_ += " " + std::to_string(visits) + " 次（" +
                        Fixed(100.0 * static_cast<double>(visits) / static_cast<double>(total), 1) +
                        "%）</li>\n";
            }
            out_ += "</ul>\n</div>\n";
        }
        table(spiders, "spiders");
        out_ += "</section>\n";
    }

    // Slices clockwise from the top in tally order; a crawler that has
    // every visit fills the circle.
    void pie(std::int64_t total) {
        constexpr double kCentre = 110;
        constexpr double kRadius = 104;
        const StatsTable& spiders = pages_.spiders;
        out_ += "<svg class=\"pie\" width=\"220\" height=\"220\" viewBox=\"0 0 220 220\" "
                "role=\"img\" aria-label=\"蜘蛛占比\">\n";
        std::int64_t before = 0;
        for (std::size_t r = 0; r < spiders.rows.size(); ++r) {
            const std::int64_t visits = CountOf(Cell(spiders, r, 1));
            if (visits <= 0) {
                continue;
            }
            const std::string fill =
                ColourText(r < pages_.crawlers.size() ? pages_.crawlers[r].rgb : kNoColour);
            if (visits == total) {
                out_ += "<circle cx=\"110\" cy=\"110\" r=\"" + Fixed(kRadius) + "\" fill=\"" +
                        fill + "\" stroke=\"#ffffff\" stroke-width=\"1\">";
            } else {
                const double from = 2 * std::numbers::pi * static_cast<double>(before) /
                                        static_cast<double>(total) -
                                    std::numbers::pi / 2;
                const double to = 2 * std::numbers::pi * static_cast<double>(before + visits) /
                                      static_cast<double>(total) -
                                  std::numbers::pi / 2;
                const bool large = to - from > std::numbers::pi;
                out_ += "<path d=\"M110,110 L" + Fixed(kCentre + kRadius * std::cos(from)) + "," +
                        Fixed(kCentre + kRadius * std::sin(from)) + " A" + Fixed(kRadius) + "," +
                        Fixed(kRadius) + " 0 " + (large ? "1" : "0") + ",1 " +
                        Fixed(kCentre + kRadius * std::cos(to)) + "," +
                        Fixed(kCentre + kRadius * std::sin(to)) + " Z\" fill=\"" + fill +
                        "\" stroke=\"#ffffff\" stroke-width=\"1\">";
            }
            out_ += "<title>";
            text(Cell(spiders, r, 0));
            out_ += " " + std::to_string(visits) + "</title>";
            out_ += visits == total ? "</circle>\n" : "</path>\n";
            before += visits;
        }
        // The rim, so that a white slice (其他流量) still shows its edge.
        out_ += "<circle cx=\"110\" cy=\"110\" r=\"" + Fixed(kRadius) +
                "\" fill=\"none\" stroke=\"#888888\" stroke-width=\"1\"/>\n</svg>\n";
    }

    void daysSection() {
        openSection("days", "每日趋势");
        const StatsTable& days = pages_.spiderDays;
        // Row 0 sums the dates; the crawler columns follow the date column.
        const std::size_t dates = days.rows.size() > 1 ? days.rows.size() - 1 : 0;
        std::vector<std::size_t> drawn;
        for (std::size_t i = 0; i < pages_.crawlers.size(); ++i) {
            if (pages_.crawlers[i].crawler && CountOf(Cell(days, 0, i + 1)) > 0) {
                drawn.push_back(i);
            }
        }
        if (dates > 0 && !drawn.empty()) {
            lines(days, dates, drawn);
            out_ += "<ul class=\"legend\">\n";
            for (const std::size_t i : drawn) {
                out_ += "<li>";
                swatch(pages_.crawlers[i].rgb);
                text(pages_.crawlers[i].shortName);
                out_ += "</li>\n";
            }
            out_ += "</ul>\n";
        } else if (dates == 0) {
            out_ += "<p class=\"empty\">日志没有日期，或没有记录。</p>\n";
        } else {
            out_ += "<p class=\"empty\">没有蜘蛛访问。</p>\n";
        }
        // A year of dates is a long table: folded, unless it is a month.
        out_ += dates <= 31 ? "<details open>" : "<details>";
        out_ += "<summary>按日期明细</summary>\n";
        table(days, "spider-days");
        out_ += "</details>\n</section>\n";
    }

    // One line per crawler over the dates, on a scale from 0 to a round
    // number at or above the largest count.
    void lines(const StatsTable& days, std::size_t dates, const std::vector<std::size_t>& drawn) {
        constexpr double kWidth = 940, kHeight = 300;
        constexpr double kLeft = 56, kRight = 16, kTop = 12, kBottom = 44;
        constexpr double kPlotWidth = kWidth - kLeft - kRight,
                         kPlotHeight = kHeight - kTop - kBottom;
        std::int64_t largest = 0;
        for (std::size_t d = 1; d <= dates; ++d) {
            for (const std::size_t i : drawn) {
                largest = std::max(largest, CountOf(Cell(days, d, i + 1)));
            }
        }
        const Scale scale = ScaleFor(largest);
        const double top = scale.top;
        const auto x = [&](std::size_t d) {
            return dates == 1 ? kLeft + kPlotWidth / 2
                              : kLeft + kPlotWidth * static_cast<double>(d - 1) /
                                            static_cast<double>(dates - 1);
        };
        const auto y = [&](std::int64_t v) {
            return kTop + kPlotHeight * (1 - static_cast<double>(v) / top);
        };
        out_ += "<svg class=\"lines\" width=\"940\" height=\"300\" viewBox=\"0 0 940 300\" "
                "role=\"img\" aria-label=\"每日趋势\">\n";
        for (int tick = 0; tick <= scale.ticks; ++tick) {
            const double value = top * tick / scale.ticks;
            const double at = kTop + kPlotHeight * (1 - static_cast<double>(tick) / scale.ticks);
            out_ += "<line x1=\"" + Fixed(kLeft) + "\" y1=\"" + Fixed(at) + "\" x2=\"" +
                    Fixed(kWidth - kRight) + "\" y2=\"" + Fixed(at) +
                    "\" stroke=\"#e3e6ea\" stroke-width=\"1\"/>";
            out_ += "<text x=\"" + Fixed(kLeft - 6) + "\" y=\"" + Fixed(at + 4) +
                    "\" text-anchor=\"end\">" + Fixed(value, 0) + "</text>\n";
        }
        // About ten date labels, the last date always among them.
        const std::size_t every = std::max<std::size_t>(1, (dates + 9) / 10);
        for (std::size_t d = 1; d <= dates; ++d) {
            if ((d - 1) % every != 0 && d != dates) {
                continue;
            }
            if (d != dates && dates - d < every) {
                continue; // would overlap the last label
            }
            // The first and the last label end at the plot's edges.
            const char* anchor = dates == 1   ? "middle"
                                 : d == 1     ? "start"
                                 : d == dates ? "end"
                                              : "middle";
            out_ += "<text x=\"" + Fixed(x(d)) + "\" y=\"" + Fixed(kHeight - kBottom + 18) +
                    "\" text-anchor=\"" + anchor + "\">";
            text(Cell(days, d, 0));
            out_ += "</text>\n";
        }
        out_ += "<line x1=\"" + Fixed(kLeft) + "\" y1=\"" + Fixed(kTop + kPlotHeight) + "\" x2=\"" +
                Fixed(kWidth - kRight) + "\" y2=\"" + Fixed(kTop + kPlotHeight) +
                "\" stroke=\"#888888\" stroke-width=\"1\"/>\n";
        for (const std::size_t i : drawn) {
            const HtmlCrawler& crawler = pages_.crawlers[i];
            std::string points;
            for (std::size_t d = 1; d <= dates; ++d) {
                points += (d == 1 ? "" : " ") + Fixed(x(d)) + "," +
                          Fixed(y(CountOf(Cell(days, d, i + 1))));
            }
            const std::string colour = ColourText(crawler.rgb);
            out_ += "<g>";
            out_ += "<title>";
            text(crawler.shortName);
            out_ += "</title>";
            if (IsPale(crawler.rgb)) {
                out_ += "<polyline points=\"" + points +
                        "\" fill=\"none\" stroke=\"#777777\" stroke-width=\"4\"/>";
            }
            out_ += "<polyline points=\"" + points + "\" fill=\"none\" stroke=\"" + colour +
                    "\" stroke-width=\"2\" stroke-linejoin=\"round\"/>";
            if (dates <= 62) {
                for (std::size_t d = 1; d <= dates; ++d) {
                    out_ += "<circle cx=\"" + Fixed(x(d)) + "\" cy=\"" +
                            Fixed(y(CountOf(Cell(days, d, i + 1)))) + "\" r=\"3\" fill=\"" +
                            colour + "\" stroke=\"#555555\" stroke-width=\"0.5\"/>";
                }
            }
            out_ += "</g>\n";
        }
        out_ += "</svg>\n";
    }

    // The top of the scale, 1, 2 or 5 times a power of ten at or above
    // `largest` and at least 5, and the ticks that cut it into whole steps.
    struct Scale {
        double top;
        int ticks;
    };
    static Scale ScaleFor(std::int64_t largest) {
        for (double power = 1;; power *= 10) {
            for (const double m : {1.0, 2.0, 5.0}) {
                if (m * power >= static_cast<double>(std::max<std::int64_t>(largest, 5))) {
                    return {m * power, m == 2.0 ? 4 : 5};
                }
            }
        }
    }

    // The page's statuses as one bar: each class's part of the visits
    // (the sum of its rows), in class order.
    void statusBar(const StatsTable& status) {
        std::vector<std::int64_t> perClass(std::size(kStatusClasses) + 1);
        std::int64_t total = 0;
        for (std::size_t r = 0; r < status.rows.size(); ++r) {
            const std::int64_t visits = std::max<std::int64_t>(0, CountOf(Cell(status, r, 1)));
            perClass[StatusClassOf(Cell(status, r, 0))] += visits;
            total += visits;
        }
        if (total == 0) {
            return;
        }
        out_ += "<svg class=\"bar\" width=\"940\" height=\"18\" viewBox=\"0 0 940 18\" "
                "preserveAspectRatio=\"none\" role=\"img\" aria-label=\"访问状态\">";
        std::int64_t before = 0;
        for (std::size_t c = 0; c < perClass.size(); ++c) {
            if (perClass[c] == 0) {
                continue;
            }
            const double from = 940.0 * static_cast<double>(before) / static_cast<double>(total);
            const double width =
                940.0 * static_cast<double>(perClass[c]) / static_cast<double>(total);
            const bool other = c == std::size(kStatusClasses);
            out_ += "<rect x=\"" + Fixed(from) + "\" y=\"0\" width=\"" + Fixed(width) +
                    "\" height=\"18\" fill=\"";
            out_ += other ? kOtherStatusColour : kStatusClasses[c].colour;
            out_ += "\"><title>";
            out_ += other ? "其他" : kStatusClasses[c].name;
            out_ += " " + std::to_string(perClass[c]) + "</title></rect>";
            before += perClass[c];
        }
        out_ += "</svg>\n";
    }

    void statusSection() {
        openSection("status", "访问状态");
        out_ += "<ul class=\"legend\">";
        for (const StatusClass& c : kStatusClasses) {
            out_ += "<li><span class=\"swatch\" style=\"background:";
            out_ += c.colour;
            out_ += "\"></span>";
            out_ += c.name;
            out_ += "</li>";
        }
        out_ += "<li><span class=\"swatch\" style=\"background:";
        out_ += kOtherStatusColour;
        out_ += "\"></span>其他</li></ul>\n<h3>所有流量</h3>\n";
        statusBar(pages_.status);
        table(pages_.status, "status");
        out_ += "</section>\n";
    }

    void crawlerSections() {
        openSection("crawlers", "各蜘蛛");
        if (pages_.crawlers.empty()) {
            out_ += "<p class=\"empty\">无</p>\n";
        }
        for (std::size_t i = 0; i < pages_.crawlers.size(); ++i) {
            const HtmlCrawler& crawler = pages_.crawlers[i];
            out_ +=
                "<section class=\"crawler\" id=\"crawler-" + std::to_string(i + 1) + "\">\n<h3>";
            swatch(crawler.rgb);
            text(crawler.shortName);
            if (i < pages_.spiders.rows.size()) {
                out_ += "：";
                text(Cell(pages_.spiders, i, 1));
                out_ += " 次访问";
            }
            out_ += "</h3>\n<h4>访问状态</h4>\n";
            statusBar(crawler.status);
            table(crawler.status, "status", crawler.shortName);
            const std::size_t listed =
                crawler.topUrls.rows.size() - (crawler.topUrls.summaryRow ? 1 : 0);
            out_ += "<h4>访问最多的URL";
            if (crawler.urlCount > listed) {
                out_ += "（前 " + std::to_string(listed) + " 个，共 " +
                        std::to_string(crawler.urlCount) + " 个）";
            }
            out_ += "</h4>\n";
            table(crawler.topUrls, "urls", crawler.shortName);
            out_ += "</section>\n";
        }
        out_ += "</section>\n";
    }

    void timingSection() {
        openSection("timing", "响应时间");
        table(pages_.timing, "timing");
        out_ += "</section>\n";
    }

    void coverageSection(const StatsTable& coverage) {
        openSection("coverage", "清单覆盖");
        table(coverage, "coverage");
        out_ += "</section>\n";
    }

    void verificationSection(const HtmlVerification& verification) {
        openSection("verify", "蜘蛛真伪");
        if (!verification.problem.empty()) {
            out_ += "<p class=\"notice\">";
            text(verification.problem);
            out_ += "；没有判为假的地址。</p>\n";
        }
        out_ += "<h3>各蜘蛛的访问</h3>\n";
        table(verification.shares, {});
        out_ += "<h3>访问地址";
        const std::size_t shown = std::min(kHtmlVerifyRows, verification.addresses.rows.size());
        if (verification.addressCount > shown) {
            out_ += "（前 " + std::to_string(shown) + " 行，共 " +
                    std::to_string(verification.addressCount) + " 行）";
        }
        out_ += "</h3>\n";
        table(verification.addresses, "verify", {}, kHtmlVerifyRows);
        out_ += "</section>\n";
    }

    const HtmlReportPages& pages_;
    std::string out_;
};

} // namespace

std::string HtmlText(std::string_view gbk) {
    std::string out;
    AppendText(out, gbk);
    return out;
}

Result<void> WriteHtmlReport(const HtmlReportPages& pages, LineSink& sink) {
    if (!sink.write(HtmlWriter(pages).write())) {
        return FailureOf(sink);
    }
    return {};
}

} // namespace logdesk
