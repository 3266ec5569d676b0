// The detailed statistics window: four pages of statistics built from the
// imported records (the first by hour or by date), sorted by header clicks,
// exported and copied, and the IP page's location lookups.
#pragma once

#include "core/base/cancel_token.h"
#include "core/base/result.h"
#include "core/settings/window_settings.h"
#include "core/stats/stats_table.h"
#include "gui/toolkit/background_task.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace logdesk {

struct WindowDescription;

struct StatsSession;
struct ImportedLog;
class Button;
class ConfigFile;
class DropDown;
class EditBox;
class ListBox;
class RecordData;
class ReportList;
class StatsTableModel;
class TabStrip;
struct FileDialog;
struct SpiderFilter;

class StatsWindow : public QWidget {
    Q_OBJECT
public:
    // `log`, `config` and `session` must outlive the window; it deletes
    // itself on close. The sort direction, the cell marks, the lookups' stop
    // flag and cookies are `session`'s, so they last beyond the window.
    StatsWindow(const ImportedLog& log, ConfigFile& config, StatsSession& session, QWidget* parent);
    // Cancels and joins whatever still runs.
    ~StatsWindow() override;

    // Recomputes the current page (what a page change does).
    void refresh();
    bool building() const { return build_.running(); }
    // A header click's sort runs on a worker; meanwhile the window is
    // disabled and header clicks and double-clicks are ignored.
    bool sorting() const { return sort_.running(); }
    // A list export runs on a worker; another one is refused meanwhile.
    bool exporting() const { return export_.running(); }
    // A lookup's fetch (or database read) runs or waits to run.
    bool locating() const {
        return lookup_.running() || !lookups_.empty() || databaseWalk_.running();
    }
    // The run over all IPs goes on, its pauses included.
    bool locatingAll() const { return walk_.has_value() || databaseWalk_.running(); }
    const StatsTable& page() const;
    // The order a header click's sort computes on its worker (StatsSortOrder
    // unless set); tests put a slower one in to act while it runs.
    using SortOrder = std::function<std::vector<std::uint32_t>(
        const StatsTable& page, int column, bool ascending, const CancelToken& cancel)>;
    void setSortOrder(SortOrder order) { sortOrder_ = std::move(order); }

    // The IP page's lookups, one fetch at a time: the selected row, or every
    // row without a location, paced; a second click on "查询全部IP" asks the
    // run to stop. With a local database named in the settings both read it
    // instead of fetching: the run fills every row at once on a worker.
    void locateSelectedIp();
    void locateAllIps();
    void openIpSearchPage();
    // The IP page's 按钮验证蜘蛛: opens the window 蜘蛛真伪 over the log, or
    // brings the open one forward. It is this window's child and goes with it.
    void openVerifyWindow();
    QWidget* verifyWindow() const { return verifyWindow_; }
    // The URL page's 抓取分析: opens the window 抓取分析 over the log, or
    // brings the open one forward; this window's child, like 蜘蛛真伪.
    void openSeoWindow();
    QWidget* seoWindow() const { return seoWindow_; }

signals:
    // After a page was built and shown.
    void pageShown();
    // After one of the exports ended; `written` false when it failed.
    void exportEnded(bool written);
    // After a lookup wrote its row's location (or found its page gone).
    void lookupEnded();
    // After the run over all IPs ended and its button reads "查询全部IP".
    void lookupRunEnded();
    // After a header click's sort was applied, or dropped because the page
    // was replaced meanwhile.
    void sortEnded();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // Cancels every piece of work at once; their results are dropped.
    void closeEvent(QCloseEvent* event) override;

private:
    // One IP to look up, with where its answer goes.
    struct Lookup {
        std::string ip;
        int row = -1;      // where the IP was; a sort may move it meanwhile
        int page = 0;      // pageGeneration_ when it was asked for
        bool walk = false; // a step of the run over all IPs
    };
    // The run over all IPs: the rows of the page it began on, in their
    // order then.
    struct Walk {
        int page = 0;
        int order = 0;
        std::weak_ptr<const RecordData> records;
        int rows = 0;
        int next = 0;
    };

    // The page the tabs and the drop-down beside them ask for.
    StatsPage currentPage() const;
    void build(StatsPage page, const SpiderFilter& filter);
    void showPage(StatsTable page, std::vector<int> longest);
    void rebuildFilterTabs();
    void headerClicked(int column);
    void finishSort(const std::vector<std::uint32_t>& order, int pageGeneration);
    // Enables the window again once neither a build nor a sort runs.
    void enableWhenIdle();
    void doubleClicked();
    void copyRow();
    void exportList();
    void exportUrlList();
    void layoutControls();
    void openUrl(const QString& url);
    // Asks for the location of `row` of the IP page: the row shows
    // "正在查询中.." and the lookup waits for the ones before it. False when
    // there is no such row, or its IP is being looked up already.
    bool locateRow(int row, bool walk);
    void startNextLookup();
    // The next lookup, read from the local database on the lookup worker.
    void startDatabaseLookup(const Lookup& next);
    // The run over all IPs with a local database: every row without a text,
    // on one worker, written when all are read.
    void locateAllFromDatabase();
    // Shows why the database cannot be read.
    void tellDatabaseError(const Error& error);
    void finishLookup(const Lookup& lookup, const std::string& location);
    // The run's next row without a text, or its end.
    void walkOn();
    void endWalk();
    // Whether the run's page is still shown in its order, over the records
    // it began with, and no build or sort is about to replace it.
    bool walkPageShown() const;
    void stopLookups();
    // The row of the shown page whose IP is `ip`, tried at `likely` first;
    // -1 for none.
    int rowOfIp(const std::string& ip, int likely) const;
    std::string ipQueryUrl(const std::string& ip);
    // The local database the settings name, in file system bytes; empty for
    // the web lookup.
    std::string ipDatabasePath() const;

    // The column of the client-address field the settings name; 0 for none.
    std::int32_t clientIpColumn() const;

    const ImportedLog& log_;
    ConfigFile& config_;
    StatsSession& session_;
    // Read as the window opens. The prefixes are the edit boxes' from then
    // on, stored back when the window closes.
    StatsWindowSettings settings_;
    VerifySettings verify_;
    TabStrip* tabs_ = nullptr;
    TabStrip* filterTabs_ = nullptr;
    DropDown* trafficSpan_ = nullptr; // tab 0: by hour or by date
    ReportList* list_ = nullptr;
    ListBox* urlList_ = nullptr;
    EditBox* prefix_ = nullptr;
    EditBox* prefix1_ = nullptr;
    Button* locateAllButton_ = nullptr;
    StatsTableModel* model_ = nullptr;
    std::unique_ptr<FileDialog> exportDialog_;
    bool activated_ = false;
    SortOrder sortOrder_;
    int pageGeneration_ = 0;  // bumped whenever the list shows a new page
    int orderGeneration_ = 0; // bumped whenever a sort moved the shown rows
    StatsPage shownPage_ = StatsPage::SpiderTraffic;
    // The crawler the shown page counts (its display name), none for all.
    std::optional<std::string> shownCrawler_;
    std::deque<Lookup> lookups_; // waiting for the fetch before them
    std::optional<Walk> walk_;
    QTimer walkPause_; // the pause after each of the run's lookups
    QPointer<QWidget> verifyWindow_;
    QPointer<QWidget> seoWindow_;
    // Last, so that they are cancelled and joined first.
    BackgroundTask build_{*this};
    BackgroundTask sort_{*this};
    BackgroundTask export_{*this};
    BackgroundTask lookup_{*this};
    BackgroundTask databaseWalk_{*this};
};

// Its layout, as BuildWindow takes it.
const WindowDescription& StatsWindowDescription();

} // namespace logdesk
