// The main window: imports logs into the record list (chosen in its dialog
// or dropped on it), opens the other windows, the publisher's links and the
// help text.
#pragma once

#include "core/input/import_inputs.h"
#include "core/logimport/imported_log.h"
#include "core/settings/config_file.h"
#include "gui/stats/stats_session.h"
#include "gui/toolkit/background_task.h"

#include <QPointer>
#include <QWidget>
#include <memory>

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
    // Cancels the import and the sort, then destroys the windows it opened
    // (and any other child window) while the log they were lent still lives.
    ~MainWindow() override;

    // Starts importing a file in the background; does nothing while an
    // import runs. `path` is a file system path.
    void importFile(const QString& path);
    // The same for files and folders read as one log, in the order of their
    // names (see input/log_inputs.h); one file imports as importFile does.
    // Inputs that cannot be read are named in one message at the end.
    void importFiles(const QStringList& paths);
    bool importing() const { return import_.running(); }
    // Sorts the list by a column as a header click does (text, ascending),
    // in the background; does nothing while a sort runs.
    void sortByColumn(int column);
    bool sorting() const { return sort_.running(); }

    // Lent to the child windows; replaced whole when an import finishes.
    const ImportedLog& imported() const { return imported_; }
    ConfigFile& config() { return config_; }
    // The state the statistics windows share for the whole run.
    StatsSession& statsSession() { return statsSession_; }

signals:
    // After an import ended, whatever its outcome; not after one that
    // closing the window cancelled.
    void importEnded();
    // After a sort was applied (or dropped because the table changed).
    void sortEnded();

protected:
    void resizeEvent(QResizeEvent* event) override;
    // Files and folders dropped on the window are imported as the ones
    // chosen in the dialog are.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // Cancels the import and the sort at once; the previous table stays.
    void closeEvent(QCloseEvent* event) override;

private:
    struct Finished;
    void chooseAndImport();
    // Remembers the first of `paths` for the dialog, then imports them all.
    void rememberAndImport(const QStringList& paths);
    void finishImport(Finished finished);
    void fitColumns(const std::vector<RecordIndex>& longest);
    void layoutControls();
    // Shows the window in `slot`, or the one `make` creates when there is none.
    template <typename Make> void openOnce(QPointer<QWidget>& slot, Make make);

    ConfigFile& config_;
    ImportedLog imported_;
    StatsSession statsSession_;
    RecordTableModel* model_ = nullptr;
    ReportList* list_ = nullptr;
    Button* importButton_ = nullptr;
    QProgressBar* progress_ = nullptr;
    std::unique_ptr<FileDialog> logDialog_;
    QPointer<QWidget> chartWindow_;
    QPointer<QWidget> statsWindow_;
    QPointer<QWidget> exportWindow_;
    BackgroundTask import_{*this};
    BackgroundTask sort_{*this};
};

// Where the program's links lead.
QUrl HomePageUrl();
QUrl ChatContactUrl();
QUrl SoftwarePageUrl();
QUrl ReleasePageUrl();

// Its layout, as BuildWindow takes it.
const WindowDescription& MainWindowDescription();

} // namespace logdesk
