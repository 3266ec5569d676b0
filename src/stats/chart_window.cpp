#include "chart_window.h"

#include "app/window_descriptions.h"

namespace logdesk {

ChartWindow::ChartWindow(const ImportedLog&, ConfigFile&, QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    BuildWindow(this, ChartWindowDescription());
}

} // namespace logdesk
