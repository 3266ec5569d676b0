// The spider share chart window.
#pragma once

#include <QWidget>

namespace logdesk {

struct ImportedLog;
class ConfigFile;

class ChartWindow : public QWidget {
    Q_OBJECT
public:
    // `log` and `config` must outlive the window; it deletes itself on close.
    ChartWindow(const ImportedLog& log, ConfigFile& config, QWidget* parent);
};

} // namespace logdesk
