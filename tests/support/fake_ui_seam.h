// A seam that answers dialogs from a script and records what the program
// showed, so GUI tests never wait for a person.
#pragma once

#include "gui/toolkit/ui_seam.h"

#include <QStringList>
#include <deque>
#include <optional>

namespace logdesk::testing {

class FakeUiSeam final : public UiSeam {
public:
    FakeUiSeam() : previous_(InstallUiSeam(this)) {}
    ~FakeUiSeam() override { InstallUiSeam(previous_); }
    FakeUiSeam(const FakeUiSeam&) = delete;
    FakeUiSeam& operator=(const FakeUiSeam&) = delete;

    // Answers for the next dialogs, in order; nullopt cancels.
    std::deque<std::optional<QString>> answers;
    // Answers for the next dialogs that take several files, in order; when
    // none is left such a dialog takes its answer from `answers`.
    std::deque<std::optional<QStringList>> fileLists;
    std::vector<FileDialogRequest> dialogs;
    QStringList messages;
    std::vector<QUrl> urls;
    QString clipboardText;
    QImage clipboardImage;
    int beeps = 0;

    std::optional<QString> askFileName(QWidget*, const FileDialogRequest& request) override {
        dialogs.push_back(request);
        if (answers.empty()) {
            return std::nullopt;
        }
        const bool cancelled = !answers.front().has_value();
        const QString path = cancelled ? QString() : *answers.front();
        answers.pop_front();
        if (cancelled) {
            return std::nullopt;
        }
        return path;
    }
    std::optional<QStringList> askFileNames(QWidget* parent,
                                            const FileDialogRequest& request) override {
        if (fileLists.empty()) {
            return UiSeam::askFileNames(parent, request);
        }
        dialogs.push_back(request);
        // Moved out as the other answers are: a copy of the optional trips
        // GCC's -Wmaybe-uninitialized at -O3.
        const bool cancelled = !fileLists.front().has_value();
        const QStringList chosen = cancelled ? QStringList() : *fileLists.front();
        fileLists.pop_front();
        if (cancelled) {
            return std::nullopt;
        }
        return chosen;
    }
    void showMessage(QWidget*, const QString& text) override { messages << text; }
    void beep() override { ++beeps; }
    void setClipboardText(const QString& text) override { clipboardText = text; }
    void setClipboardImage(const QImage& image) override { clipboardImage = image; }
    void openUrl(const QUrl& url) override { urls.push_back(url); }

private:
    UiSeam* previous_;
};

} // namespace logdesk::testing
