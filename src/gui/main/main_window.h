// The main window: imports a log into the record list, opens the other
// windows, the publisher's links and the help text.
#pragma once

#include "logimport/imported_log.h"
#include "logimport/log_importer.h"
#include "net/http_fetch.h"
#include "settings/config_file.h"

#include <QPointer>
#include <QWidget>
#include <atomic>
#include <memory>
#include <thread>

class QProgressBar;

namespace logdesk {

struct WindowDescription;

class Button;
class RecordTableModel;
class ReportList;
struct FileDialog;

class MainWindow : public QWidget {
    Q_OBJECT
public:
    // `config` must outlive the window.
    explicit MainWindow(ConfigFile& config, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Starts importing a file in the background; does nothing while an
    // import runs. `path` is a file system path.
    void importFile(const QString& path);
    bool importing() const { return worker_.joinable(); }
    // Sorts the list by a column as a header click does (text, ascending),
    // in the background; does nothing while a sort runs.
    void sortByColumn(int column);
    bool sorting() const { return sorter_.joinable(); }

    const ImportedLog& imported() const { return imported_; }
    ConfigFile& config() { return config_; }
    // The search site's cookies, kept from one IP lookup to the next for the
    // whole run, whichever statistics window asks.
    CookieJar& lookupCookies() { return lookupCookies_; }

signals:
    // After an import ended, whatever its outcome.
    void importEnded();
    // After a sort was applied (or dropped because the table changed).
    void sortEnded();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Finished;
    void chooseAndImport();
    void finishImport(std::shared_ptr<Finished> finished);
    void fitColumns(const std::vector<RecordIndex>& longest);
    void layoutControls();
    // Shows the window in `slot`, or the one `make` creates when there is none.
    template <typename Make> void openOnce(QPointer<QWidget>& slot, Make make);

    ConfigFile& config_;
    ImportedLog imported_;
    CookieJar lookupCookies_;
    RecordTableModel* model_ = nullptr;
    ReportList* list_ = nullptr;
    Button* importButton_ = nullptr;
    QProgressBar* progress_ = nullptr;
    std::unique_ptr<FileDialog> logDialog_;
    std::thread worker_;
    std::thread sorter_;
    std::atomic<bool> cancel_{false};
    QPointer<QWidget> chartWindow_;
    QPointer<QWidget> statsWindow_;
    QPointer<QWidget> exportWindow_;
};

// Where the program's links lead.
QUrl HomePageUrl();
QUrl ChatContactUrl();
QUrl SoftwarePageUrl();
QUrl ReleasePageUrl();

// Its layout, as BuildWindow takes it.
const WindowDescription& MainWindowDescription();

} // namespace logdesk
