// LogDesk's desktop program. Optional arguments name logs (files or
// folders) to import at start-up, as one log.
#include "core/base/platform.h"
#include "gui/main/main_window.h"
#include "resources.h"
#include "core/settings/config_file.h"
#include "gui/toolkit/qt_text.h"

#include <QApplication>
#include <QFile>

int main(int argc, char** argv) {
    logdesk::KeepWritingPastFileSizeLimit();
    QApplication app(argc, argv);
    logdesk::UseChineseQtTexts();
    logdesk::RegisterResources();
    QApplication::setApplicationName(QStringLiteral("LogDesk"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/logdesk.svg")));

    logdesk::ConfigFile config(logdesk::ConfigFilePath(
        QFile::encodeName(QApplication::applicationDirPath()).toStdString()));
    logdesk::MainWindow window(config);
    window.show();
    const QStringList args = QApplication::arguments();
    if (args.size() > 1) {
        window.importFiles(args.mid(1));
    }
    return QApplication::exec();
}
