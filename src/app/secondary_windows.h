// The spider share chart, CSV export and detailed statistics windows, built
// from their descriptions in their initial state. Each is created afresh
// when opened and deletes itself when closed.
#pragma once

#include <QWidget>

namespace logdesk {

struct ImportedLog;
class ConfigFile;

class ChartWindow : public QWidget {
    Q_OBJECT
public:
    ChartWindow(const ImportedLog& log, ConfigFile& config, QWidget* parent);
};

class CsvExportWindow : public QWidget {
    Q_OBJECT
public:
    CsvExportWindow(const ImportedLog& log, ConfigFile& config, QWidget* parent);
};

class StatsWindow : public QWidget {
    Q_OBJECT
public:
    StatsWindow(const ImportedLog& log, ConfigFile& config, QWidget* parent);
};

} // namespace logdesk
