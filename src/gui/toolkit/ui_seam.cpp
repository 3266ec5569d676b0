#include "ui_seam.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>

namespace logdesk {

namespace {

class DesktopSeam final : public UiSeam {
public:
    std::optional<QString> askFileName(QWidget* parent, const FileDialogRequest& request) override {
        const std::optional<QStringList> chosen = ask(parent, request, false);
        if (!chosen) {
            return std::nullopt;
        }
        return chosen->first();
    }

    std::optional<QStringList> askFileNames(QWidget* parent,
                                            const FileDialogRequest& request) override {
        return ask(parent, request, request.multiple && !request.save);
    }

    void showMessage(QWidget* parent, const QString& text) override {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("信息："), text, QMessageBox::Ok,
                        parent);
        box.exec();
    }

    void beep() override { QApplication::beep(); }
    void setClipboardText(const QString& text) override {
        QApplication::clipboard()->setText(text);
    }
    void setClipboardImage(const QImage& image) override {
        QApplication::clipboard()->setImage(image);
    }
    void openUrl(const QUrl& url) override { QDesktopServices::openUrl(url); }

private:
    // The chosen paths, never an empty list; nullopt when cancelled.
    static std::optional<QStringList> ask(QWidget* parent, const FileDialogRequest& request,
                                          bool several) {
        QFileDialog dialog(parent, request.title);
        dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(request.save ? QFileDialog::AnyFile
                           : several    ? QFileDialog::ExistingFiles
                                        : QFileDialog::ExistingFile);
        const QStringList filters = request.filter.split(QStringLiteral(";;"));
        dialog.setNameFilters(filters);
        // The dialog's own overwrite question must see the name with its
        // suffix, not the name as typed: the suffix of the file type chosen.
        dialog.setDefaultSuffix(request.defaultSuffix);
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                         [&dialog, &request](const QString& filter) {
                             dialog.setDefaultSuffix(
                                 SuffixOfFilter(filter, request.defaultSuffix));
                         });
        if (request.initialFilter >= 0 && request.initialFilter < filters.size()) {
            dialog.selectNameFilter(filters[request.initialFilter]);
            dialog.setDefaultSuffix(
                SuffixOfFilter(filters[request.initialFilter], request.defaultSuffix));
        }
        if (!request.fileName.isEmpty()) {
            dialog.selectFile(request.fileName);
        }
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return std::nullopt;
        }
        return dialog.selectedFiles();
    }
};

// Holds no state: one for the program, whatever the windows.
DesktopSeam desktop;

// Tests only: the seam a test installed, owned by that test, which puts the
// previous one back before its seam goes (FakeUiSeam does both). nullptr
// when none is installed.
UiSeam* installed = nullptr;

} // namespace

QString SuffixOfFilter(const QString& filter, const QString& fallback) {
    const qsizetype open = filter.lastIndexOf(QLatin1Char('('));
    const qsizetype close = filter.lastIndexOf(QLatin1Char(')'));
    if (open < 0 || close < open) {
        return fallback;
    }
    const QString first =
        filter.mid(open + 1, close - open - 1).split(QLatin1Char(' '), Qt::SkipEmptyParts).value(0);
    if (!first.startsWith(QStringLiteral("*.")) || first.size() < 3) {
        return fallback;
    }
    const QString suffix = first.mid(2);
    for (const QChar c : suffix) {
        if (!c.isLetterOrNumber()) {
            return fallback; // "*.*", "*.log*": no one suffix
        }
    }
    return suffix;
}

std::optional<QStringList> UiSeam::askFileNames(QWidget* parent, const FileDialogRequest& request) {
    const std::optional<QString> chosen = askFileName(parent, request);
    if (!chosen) {
        return std::nullopt;
    }
    return QStringList{*chosen};
}

UiSeam& Ui() {
    return installed != nullptr ? *installed : desktop;
}

UiSeam* InstallUiSeam(UiSeam* seam) {
    UiSeam* previous = installed;
    installed = seam;
    return previous;
}

} // namespace logdesk
