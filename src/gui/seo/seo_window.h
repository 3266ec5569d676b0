// The window 抓取分析: what a site owner asks of the crawlers' visits, one
// page at a time in one list, chosen by the tabs: 覆盖率 (the site's own URL
// list against what the crawlers fetched), 响应时间, 目录 (by first- or
// second-level directory) and 状态不一致 (URLs whose status changed). Each
// counts every crawler or the one chosen on the strip below the list, which
// keeps its choice from page to page. A page the log cannot give (no
// time-taken, say) shows why in place of the list.
//
// Records: the log the main window imported, read afresh by every build
// (a snapshot: a new import meanwhile does not change a build that runs),
// as the statistics window reads it.
//
// Threads: a build runs on a BackgroundTask with its progress in the bar;
// a new request while one runs (another page, crawler or depth) cancels it
// and starts afresh; 停止统计 cancels it and leaves the list empty, never
// half filled. Either waits for the cancelled build's worker, which the
// core stops within a few thousand records. A URL list is read on a task
// of its own, the coverage page built from it afterwards; its reader takes
// no cancel, so a stopped read runs to its end and is dropped. The list
// export runs on a third task.
#pragma once

#include "core/stats/stats_table.h"
#include "gui/stats/cell_marks.h"
#include "gui/toolkit/background_task.h"

#include <QStringList>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QProgressBar;

namespace logdesk {

struct FileDialog;
struct ImportedLog;
struct SiteUrlList;
struct WindowDescription;
class Button;
class DropDown;
class Label;
class ReportList;
class StatsTableModel;
class TabStrip;

// The pages of the window's tabs, in tab order (their entries'
// crawlAnalysisTab).
const std::vector<StatsPage>& SeoPages();

// The tab of a page; -1 for a page the window does not show.
int SeoTabOf(StatsPage page);

class SeoWindow : public QWidget {
    Q_OBJECT
public:
    // `log` must outlive the window, which deletes itself on close.
    // `siteHost` (GBK; empty: none) is the host a URL list of several hosts
    // is read for, as the setting 站点主机 names it.
    SeoWindow(const ImportedLog& log, std::string siteHost, QWidget* parent);
    // Cancels and joins whatever still runs.
    ~SeoWindow() override;

    // Builds the current tab's page anew (what a tab change does).
    void refresh();
    // The button 停止统计 / 重新统计: stops the build (and a list being
    // read), or builds the page again.
    void stopOrRebuild();
    // The button 选择URL清单: the files of the site's URL list through the
    // open dialog, read on a worker; the coverage page is then built from
    // them. A list that cannot be read is shown in a message, and the one
    // read before stays.
    void chooseUrlList();
    // 导出列表 (also a right click on the tabs or the column titles): the
    // shown list through the save dialog, as the statistics window writes
    // its lists.
    void exportList();
    // A right click on a row: that row onto the clipboard.
    void copyRow();

    // A page is being built, or a URL list read.
    bool building() const { return build_.running() || reading_; }
    bool exporting() const { return export_.running(); }
    // What the list shows (empty while nothing was built, and after a stop);
    // its notice, when it has one, is shown instead of the rows.
    const StatsTable& page() const;
    // The page the list shows, as the tab that asked for it.
    StatsPage shownPage() const { return shownPage_; }
    // The site's URL list read last; nullptr before one was.
    const SiteUrlList* siteUrls() const { return siteUrls_.get(); }

signals:
    // After a build was shown (its rows or its notice).
    void pageShown();
    // After a build was stopped by 停止统计.
    void buildStopped();
    // After a URL list was read (`read`) or could not be (its message shown).
    void urlListRead(bool read);
    // After an export ended; `written` false when it failed or was refused.
    void exportEnded(bool written);

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // Cancels all work at once; its results are dropped.
    void closeEvent(QCloseEvent* event) override;

private:
    struct BuiltPage {
        StatsTable page;
        std::vector<int> longest;
    };

    StatsPage currentPage() const;
    void build(StatsPage page);
    void showPage(StatsPage page, BuiltPage built);
    // Shows `text` where the list is, the list hidden; an empty text shows
    // the list again.
    void showNotice(const QString& text);
    // The line above the list: what it shows, and the URL list it was
    // counted against.
    void showStatus();
    // The controls as no build runs: the stop button reads 重新统计.
    void endBuild();
    // Refills the crawler strip when the log's crawlers changed since it
    // was filled, keeping the chosen crawler where the log still has it.
    void rebuildFilterTabs();
    void layoutControls();

    const ImportedLog& log_;
    std::string siteHost_;
    CellMarks marks_; // the pages here mark no cells; the model reads them
    TabStrip* tabs_ = nullptr;
    TabStrip* filterTabs_ = nullptr;
    DropDown* depth_ = nullptr;
    Button* chooseListButton_ = nullptr;
    Button* stopButton_ = nullptr;
    Button* exportButton_ = nullptr;
    QProgressBar* progress_ = nullptr;
    Label* status_ = nullptr;
    Label* notice_ = nullptr;
    ReportList* list_ = nullptr;
    StatsTableModel* model_ = nullptr;
    std::unique_ptr<FileDialog> exportDialog_;
    std::unique_ptr<FileDialog> listDialog_;
    bool activated_ = false;
    // The display name (GBK) each tab of the crawler strip counts, none for
    // every crawler; the chosen one.
    std::vector<std::optional<std::string>> filterNames_;
    std::optional<std::string> crawler_;
    StatsPage shownPage_ = SeoPages().front();
    bool stopped_ = false; // the list is empty because a build was stopped
    bool reading_ = false; // a URL list is read and was not stopped
    std::shared_ptr<const SiteUrlList> siteUrls_;
    // The controls that keep their distance from the window's right edge,
    // with that distance as laid out.
    std::vector<std::pair<QWidget*, int>> rightAnchored_;
    // Last, so that they are cancelled and joined first.
    BackgroundTask build_{*this};
    BackgroundTask listRead_{*this};
    BackgroundTask export_{*this};
};

// Its layout, as BuildWindow takes it.
const WindowDescription& SeoWindowDescription();

} // namespace logdesk
