// The CSV export window with its column chooser.
#pragma once

#include <QWidget>

namespace logdesk {

struct ImportedLog;
class ConfigFile;

class CsvExportWindow : public QWidget {
    Q_OBJECT
public:
    // `log` and `config` must outlive the window; it deletes itself on close.
    CsvExportWindow(const ImportedLog& log, ConfigFile& config, QWidget* parent);
};

} // namespace logdesk
