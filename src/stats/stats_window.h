// The detailed statistics window: four pages of statistics built from the
// imported records, sorted by header clicks, exported and copied.
#pragma once

#include "stats/stats_table.h"

#include <QWidget>
#include <memory>
#include <thread>

namespace logdesk {

struct ImportedLog;
class ConfigFile;
class CellColours;
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
    // `log` and `config` must outlive the window; it deletes itself on close.
    StatsWindow(const ImportedLog& log, ConfigFile& config, QWidget* parent);
    ~StatsWindow() override;

    // Recomputes the current page (what a page change does).
    void refresh();
    bool building() const { return worker_.joinable(); }
    const StatsTable& page() const;

    // The overlay every statistics list is painted through; lives for the
    // whole run.
    static CellColours& Colours();

signals:
    // After a page was built and shown.
    void pageShown();
    // After one of the exports ended; `written` false when it failed.
    void exportEnded(bool written);

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void build(int page, const SpiderFilter& filter);
    void showPage(StatsTable page, std::vector<int> longest);
    void rebuildFilterTabs();
    void headerClicked(int column);
    void doubleClicked();
    void copyRow();
    void exportList();
    void exportUrlList();
    void layoutControls();
    void openUrl(const QString& url);

    const ImportedLog& log_;
    ConfigFile& config_;
    TabStrip* tabs_ = nullptr;
    TabStrip* filterTabs_ = nullptr;
    ReportList* list_ = nullptr;
    ListBox* urlList_ = nullptr;
    EditBox* prefix_ = nullptr;
    EditBox* prefix1_ = nullptr;
    StatsTableModel* model_ = nullptr;
    std::unique_ptr<FileDialog> exportDialog_;
    std::thread worker_;
    bool activated_ = false;
    int generation_ = 0; // of the build whose result is awaited
    int shownPage_ = 0;
};

} // namespace logdesk
