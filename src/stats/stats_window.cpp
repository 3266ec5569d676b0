#include "stats_window.h"

#include "app/window_descriptions.h"

namespace logdesk {

StatsWindow::StatsWindow(const ImportedLog&, ConfigFile&, QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    BuildWindow(this, StatsWindowDescription());
}

} // namespace logdesk
