#include "file_saving.h"

#include "background_task.h"
#include "qt_text.h"
#include "ui_seam.h"

#include <QDir>
#include <QFile>

namespace logdesk {

namespace {

QString CannotSaveHeading(SavedFile file) {
    return file == SavedFile::ChartPicture ? QStringLiteral("无法保存图表图片：")
                                           : QStringLiteral("无法保存文件：");
}

QString CannotSave(SavedFile file) {
    return CannotSaveHeading(file) + QStringLiteral("%1\r\n%2");
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
                         const std::function<Result<void>(LineSink&, const CancelToken&)>& write) {
    Result<FileSink> file = FileSink::Open(path);
    if (!file) {
        return {false, file.error()};
    }
    const Result<void> filled = write(*file, control.cancelToken());
    if (control.cancelled()) {
        return {true, {}}; // not closed: the sink's destructor drops its temporary file
    }
    if (!filled) {
        return {false, filled}; // abandoned, as the cancel above
    }
    return {false, file->close()};
}

void TellSaveOutcome(QWidget* parent, SavedFile file, const QString& path, bool written,
                     const QString& reason) {
    Ui().showMessage(parent, written
                                 ? Saved(file, path)
                                 : CannotSave(file).arg(QDir::toNativeSeparators(path), reason));
}

void TellSaveOutcome(QWidget* parent, SavedFile file, const QString& path,
                     const Result<void>& written) {
    if (written) {
        Ui().showMessage(parent, Saved(file, path));
    } else {
        Ui().showMessage(parent, ErrorText(CannotSaveHeading(file), written.error()));
    }
}

bool RefuseImportedLog(QWidget* parent, SavedFile file, const QString& path,
                       const std::string& importedPath) {
    if (importedPath.empty() || !SameFile(QFile::encodeName(path).toStdString(), importedPath)) {
        return false;
    }
    TellSaveOutcome(parent, file, path, false, QStringLiteral("这是已导入的日志文件，不能覆盖它"));
    return true;
}

bool RefuseImportedLog(QWidget* parent, SavedFile file, const QString& path,
                       const ImportedLog& imported) {
    const std::string target = QFile::encodeName(path).toStdString();
    for (const std::string& log : imported.files) {
        if (log != imported.path && SameFile(target, log)) {
            return RefuseImportedLog(parent, file, path, log);
        }
    }
    return RefuseImportedLog(parent, file, path, imported.path);
}

} // namespace logdesk
