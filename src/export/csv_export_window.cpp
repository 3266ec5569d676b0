#include "csv_export_window.h"

#include "app/window_descriptions.h"

namespace logdesk {

CsvExportWindow::CsvExportWindow(const ImportedLog&, ConfigFile&, QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    BuildWindow(this, CsvExportWindowDescription());
}

} // namespace logdesk
