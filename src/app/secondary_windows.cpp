#include "secondary_windows.h"

#include "app/window_descriptions.h"

namespace logdesk {

namespace {

void Prepare(QWidget* window, const WindowDescription& description) {
    window->setAttribute(Qt::WA_DeleteOnClose);
    BuildWindow(window, description);
}

} // namespace

ChartWindow::ChartWindow(const ImportedLog&, ConfigFile&, QWidget* parent) : QWidget(parent) {
    Prepare(this, ChartWindowDescription());
}

CsvExportWindow::CsvExportWindow(const ImportedLog&, ConfigFile&, QWidget* parent)
    : QWidget(parent) {
    Prepare(this, CsvExportWindowDescription());
}

StatsWindow::StatsWindow(const ImportedLog&, ConfigFile&, QWidget* parent) : QWidget(parent) {
    Prepare(this, StatsWindowDescription());
}

} // namespace logdesk
