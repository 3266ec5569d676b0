// The detailed statistics window.
#pragma once

#include <QWidget>

namespace logdesk {

struct ImportedLog;
class ConfigFile;

class StatsWindow : public QWidget {
    Q_OBJECT
public:
    // `log` and `config` must outlive the window; it deletes itself on close.
    StatsWindow(const ImportedLog& log, ConfigFile& config, QWidget* parent);
};

} // namespace logdesk
