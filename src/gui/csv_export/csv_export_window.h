// The CSV export window: the column chooser and the export of the record
// table to a CSV or text file.
#pragma once

#include <QWidget>
#include <memory>
#include <thread>

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
    ~CsvExportWindow() override;

    // Writes the record table with the ticked columns to `path` (a file
    // system path) in the background, as "导出保存" does after its dialog.
    void exportTo(const QString& path);
    bool exporting() const { return worker_.joinable(); }

signals:
    void exportEnded(bool written);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void fill(bool defaults);
    void setAllChecks(int mode); // 0 all, 1 none, 2 invert
    void move(int by);
    void chooseAndExport();

    const ImportedLog& log_;
    ConfigFile& config_;
    CheckList* list_ = nullptr;
    QWidget* progress_ = nullptr;
    std::unique_ptr<FileDialog> dialog_;
    std::thread worker_;
};

// Its layout, as BuildWindow takes it.
const WindowDescription& CsvExportWindowDescription();

} // namespace logdesk
