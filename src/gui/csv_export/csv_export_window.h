// The CSV export window: the column chooser and the export of the record
// table to a CSV or text file.
#pragma once

#include "gui/toolkit/background_task.h"

#include <QWidget>
#include <memory>

class QProgressBar;

namespace logdesk {

struct WindowDescription;

struct ImportedLog;
class ConfigFile;
class CheckList;
class Button;
struct FileDialog;

class CsvExportWindow : public QWidget {
    Q_OBJECT
public:
    // `log` and `config` must outlive the window; it deletes itself on close.
    CsvExportWindow(const ImportedLog& log, ConfigFile& config, QWidget* parent);
    // Cancels and joins an export that still runs.
    ~CsvExportWindow() override;

    // Writes the record table with the ticked columns to `path` (a file
    // system path) in the background, as "导出保存" does after its dialog.
    void exportTo(const QString& path);
    bool exporting() const { return export_.running(); }

signals:
    // After an export ended; not after one that closing the window cancelled.
    void exportEnded(bool written);

protected:
    // Cancels an export at once: the file it would have replaced stays as
    // it was, and no part of the new one is left.
    void closeEvent(QCloseEvent* event) override;

private:
    // What the three tick buttons do to every entry.
    enum class Ticks { All, None, Invert };

    void fill(bool defaults);
    void setAllChecks(Ticks ticks);
    void move(int by);
    void chooseAndExport();

    const ImportedLog& log_;
    ConfigFile& config_;
    CheckList* list_ = nullptr;
    QProgressBar* progress_ = nullptr;
    std::unique_ptr<FileDialog> dialog_;
    BackgroundTask export_{*this};
};

// Its layout, as BuildWindow takes it.
const WindowDescription& CsvExportWindowDescription();

} // namespace logdesk
