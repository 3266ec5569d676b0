// Everything that would wait for a person or reach outside the program:
// file dialogs, message boxes, beeps, the clipboard, opening URLs. The
// windows call these through Ui(); tests install their own seam so that
// nothing a test runs waits for a person.
#pragma once

#include <QImage>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

class QWidget;

namespace logdesk {

struct FileDialogRequest {
    bool save = false;
    QString title;         // empty: the platform's default title
    QString filter;        // Qt form: "desc (*.x);;desc (*.y)"
    int initialFilter = 0; // 0-based
    QString fileName;      // preset path
    // Appended (after a ".") to a typed name that has no "." at all, before
    // a save dialog checks whether the file exists; empty: none.
    QString defaultSuffix;
    // An open dialog in which the user may pick several files.
    bool multiple = false;
};

class UiSeam {
public:
    virtual ~UiSeam() = default;
    // The chosen path, or nullopt when the user cancelled. A save dialog asks
    // before it names an existing file.
    virtual std::optional<QString> askFileName(QWidget* parent,
                                               const FileDialogRequest& request) = 0;
    // The chosen paths of an open dialog (several when request.multiple),
    // in the order the dialog gives them; nullopt when the user cancelled.
    // By default the one path askFileName gives.
    virtual std::optional<QStringList> askFileNames(QWidget* parent,
                                                    const FileDialogRequest& request);
    // A message box with an OK button, no icon and the title "信息：".
    virtual void showMessage(QWidget* parent, const QString& text) = 0;
    virtual void beep() = 0;
    virtual void setClipboardText(const QString& text) = 0;
    virtual void setClipboardImage(const QImage& image) = 0;
    virtual void openUrl(const QUrl& url) = 0;
};

// The suffix a save dialog appends with this file type chosen ("jpg图像
// (*.jpg)" gives "jpg"); `fallback` for a type of no single suffix, as
// "所有文件 (*.*)".
QString SuffixOfFilter(const QString& filter, const QString& fallback);

// The seam in force; the desktop one unless a test installed another.
UiSeam& Ui();
// Installs a seam (not owned) and returns the previous one; nullptr restores
// the desktop seam.
UiSeam* InstallUiSeam(UiSeam* seam);

} // namespace logdesk
