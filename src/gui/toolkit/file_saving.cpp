#include "file_saving.h"

#include "background_task.h"
#include "ui_seam.h"

#include <QDir>
#include <QFile>

namespace logdesk {

namespace {

QString CannotSave(SavedFile file) {
    return file == SavedFile::ChartPicture ? QStringLiteral("无法保存图表图片：%1\r\n%2")
                                           : QStringLiteral("无法保存文件：%1\r\n%2");
}

QString Saved(SavedFile file, const QString& path) {
    switch (file) {
    case SavedFile::Table:
        return QStringLiteral("保存完毕！") + QDir::toNativeSeparators(path);
    case SavedFile::UrlList:
        return QStringLiteral("已导出URL列表");
    case SavedFile::ChartPicture:
        return QStringLiteral("已保存图表为图片！");
    }
    return {};
}

} // namespace

WriteOutcome
WriteFileUnlessCancelled(const std::string& path, const TaskControl& control,
                         const std::function<bool(LineSink&, const std::atomic<bool>*)>& write) {
    FileSink file(path);
    const bool filled = file.ok() && write(file, control.cancelFlag());
    if (control.cancelled()) {
        return {}; // not closed: the sink's destructor drops its temporary file
    }
    const bool closed = file.close();
    return {filled && closed, file.error()};
}

void TellSaveOutcome(QWidget* parent, SavedFile file, const QString& path, bool written,
                     const QString& reason) {
    Ui().showMessage(parent, written
                                 ? Saved(file, path)
                                 : CannotSave(file).arg(QDir::toNativeSeparators(path), reason));
}

void TellSaveOutcome(QWidget* parent, SavedFile file, const QString& path,
                     const WriteOutcome& outcome) {
    TellSaveOutcome(parent, file, path, outcome.written,
                    QString::fromLocal8Bit(outcome.error.c_str()));
}

bool RefuseImportedLog(QWidget* parent, SavedFile file, const QString& path,
                       const std::string& importedPath) {
    if (importedPath.empty() || !SameFile(QFile::encodeName(path).toStdString(), importedPath)) {
        return false;
    }
    TellSaveOutcome(parent, file, path, false, QStringLiteral("这是已导入的日志文件，不能覆盖它"));
    return true;
}

} // namespace logdesk
