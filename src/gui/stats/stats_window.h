// The detailed statistics window: four pages of statistics built from the
// imported records, sorted by header clicks, exported and copied.
#pragma once

#include "stats/stats_table.h"

#include <QWidget>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace logdesk {

struct WindowDescription;

struct ImportedLog;
class ConfigFile;
class CellColours;
class CookieJar;
class EditBox;
class ListBox;
class ReportList;
class StatsTableModel;
class TabStrip;
struct FileDialog;
struct SpiderFilter;

class StatsWindow : public QWidget {
    Q_OBJECT
public:
    // `log`, `config` and `cookies` must outlive the window; it deletes
    // itself on close. The IP lookups send and keep the search site's
    // cookies in `cookies`, so they last beyond the window.
    StatsWindow(const ImportedLog& log, ConfigFile& config, CookieJar& cookies, QWidget* parent);
    ~StatsWindow() override;

    // Recomputes the current page (what a page change does).
    void refresh();
    bool building() const { return worker_.joinable(); }
    // A header click's sort runs on a worker; meanwhile the window is
    // disabled and header clicks and double-clicks are ignored.
    bool sorting() const { return sorter_.joinable(); }
    const StatsTable& page() const;

    // The overlay every statistics list is painted through; lives for the
    // whole run.
    static CellColours& Colours();

    // The IP page's lookups: the selected row, or every row without a
    // location, paced; a second click on "查询全部IP" asks the run to stop.
    void locateSelectedIp();
    void locateAllIps();
    void openIpSearchPage();
    // Asked for by the stop request of the run over all IPs.
    static bool& StopLookup();

signals:
    // After a page was built and shown.
    void pageShown();
    // After one of the exports ended; `written` false when it failed.
    void exportEnded(bool written);
    // After a lookup wrote its row's location (or found the row gone).
    void lookupEnded();
    // After a header click's sort was applied, or dropped because the page
    // was replaced meanwhile.
    void sortEnded();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void build(int page, const SpiderFilter& filter);
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
    // Looks up the IP of `row` of the IP page and writes its location into
    // the row that holds that IP when the answer comes (a sort may have moved
    // it meanwhile). False when there was no such row, or when the window
    // went away or the page was rebuilt meanwhile: then nothing is written.
    bool locateRow(int row);
    // The row of the shown page whose IP is `ip`, tried at `likely` first;
    // -1 for none.
    int rowOfIp(const std::string& ip, int likely) const;
    std::string ipQueryUrl(const std::string& ip);

    // Which page the list shows and in which order its rows are.
    struct RowsMark {
        int page = 0;
        int order = 0;
        bool operator==(const RowsMark&) const = default;
    };
    RowsMark rowsMark() const { return {pageGeneration_, orderGeneration_}; }

    const ImportedLog& log_;
    ConfigFile& config_;
    CookieJar& cookies_;
    TabStrip* tabs_ = nullptr;
    TabStrip* filterTabs_ = nullptr;
    ReportList* list_ = nullptr;
    ListBox* urlList_ = nullptr;
    EditBox* prefix_ = nullptr;
    EditBox* prefix1_ = nullptr;
    StatsTableModel* model_ = nullptr;
    std::unique_ptr<FileDialog> exportDialog_;
    std::thread worker_;
    std::thread sorter_;
    bool activated_ = false;
    // Set when the window closes: a fetch in flight gives up. Shared with the
    // fetch, which may outlive the window by the moment it takes to notice.
    std::shared_ptr<std::atomic<bool>> closing_ = std::make_shared<std::atomic<bool>>(false);
    int pageGeneration_ = 0;  // bumped whenever the list shows a new page
    int orderGeneration_ = 0; // bumped whenever a sort moved the shown rows
    int generation_ = 0;      // of the build whose result is awaited
    int shownPage_ = 0;
};

// Its layout, as BuildWindow takes it.
const WindowDescription& StatsWindowDescription();

} // namespace logdesk
