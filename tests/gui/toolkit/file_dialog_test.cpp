// The desktop seam's save dialog, driven from inside its own event loop on
// the offscreen platform.
#include "support/import_test_support.h"
#include "gui/toolkit/controls.h"
#include "gui/toolkit/ui_seam.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

namespace logdesk {
namespace {

using testing::TempFile;

// Types a name into the dialog and accepts it; answers an overwrite question
// with `answer`; cancels the dialog should it still be open afterwards, and
// everything after ten seconds, so that a test never hangs.
class DialogDriver {
public:
    // With `fileType` >= 0 the driver picks that file type, as a click in
    // the dialog's list of types does, before it types the name.
    DialogDriver(QString name, QMessageBox::StandardButton answer, int fileType = -1)
        : name_(std::move(name)), answer_(answer), fileType_(fileType) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
        timer_.start(20);
        clock_.start();
    }
    QStringList questions;
    bool typed = false;
    bool timedOut = false;

private:
    void tick() {
        QWidget* modal = QApplication::activeModalWidget();
        if (clock_.elapsed() > 10000) {
            timedOut = true;
            if (auto* dialog = qobject_cast<QDialog*>(modal)) {
                dialog->reject();
            }
            return;
        }
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            questions << box->text();
            box->button(answer_)->click();
            return;
        }
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (dialog == nullptr) {
            return;
        }
        if (typed) { // the question was answered No: the dialog stays open
            dialog->reject();
            return;
        }
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (edit == nullptr) {
            return;
        }
        if (fileType_ >= 0) {
            auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            if (types == nullptr) {
                return;
            }
            types->setCurrentIndex(fileType_);
            emit types->activated(fileType_);
            emit types->textActivated(types->itemText(fileType_));
        }
        edit->setText(name_);
        typed = true;
        // Accepted from the event loop, so that the question it may ask runs
        // its own loop, in which this timer fires again.
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    }

    QString name_;
    QMessageBox::StandardButton answer_;
    int fileType_;
    QTimer timer_;
    QElapsedTimer clock_;
};

class SaveDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, true);
        dialog_.save = true;
        dialog_.filter = QStringLiteral("bmp位图|*.bmp|png可移植网络图形|*.png");
        dialog_.initialFilter = 1;
        dialog_.defaultExtension = QStringLiteral("png");
        dialog_.fileName = dir(QStringLiteral("start.png"));
        QFile existing(dir(QStringLiteral("barchart.png")));
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
        existing.write("last week");
    }
    void TearDown() override { QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, false); }

    QString dir(const QString& name) const {
        return QString::fromStdString(dir_.dir().string()) + QLatin1Char('/') + name;
    }

    TempFile dir_{""};
    FileDialog dialog_;
};

TEST_F(SaveDialogTest, AsksBeforeATypedNameReplacesAFile) {
    {
        DialogDriver driver(QStringLiteral("barchart"), QMessageBox::No);
        EXPECT_FALSE(dialog_.show(nullptr));
        ASSERT_FALSE(driver.timedOut);
        EXPECT_TRUE(driver.typed);
        ASSERT_EQ(driver.questions.size(), 1);
        EXPECT_TRUE(driver.questions[0].contains(QStringLiteral("barchart.png")))
            << driver.questions[0].toStdString();
        EXPECT_EQ(dialog_.fileName, dir(QStringLiteral("start.png")));
    }
    {
        DialogDriver driver(QStringLiteral("barchart"), QMessageBox::Yes);
        EXPECT_TRUE(dialog_.show(nullptr));
        ASSERT_FALSE(driver.timedOut);
        EXPECT_EQ(driver.questions.size(), 1);
        EXPECT_EQ(dialog_.fileName, dir(QStringLiteral("barchart.png")));
    }
}

TEST_F(SaveDialogTest, ANewNameGetsTheExtensionWithoutAQuestion) {
    DialogDriver driver(QStringLiteral("piechart"), QMessageBox::No);
    EXPECT_TRUE(dialog_.show(nullptr));
    ASSERT_FALSE(driver.timedOut);
    EXPECT_TRUE(driver.questions.isEmpty());
    EXPECT_EQ(dialog_.fileName, dir(QStringLiteral("piechart.png")));
}

// The name typed gets the suffix of the file type chosen, and the question
// before replacing a file is about that name.
TEST_F(SaveDialogTest, TheChosenFileTypeGivesTheSuffix) {
    {
        DialogDriver driver(QStringLiteral("barchart"), QMessageBox::No, 0);
        EXPECT_TRUE(dialog_.show(nullptr));
        ASSERT_FALSE(driver.timedOut);
        EXPECT_TRUE(driver.questions.isEmpty()) << driver.questions.join(' ').toStdString();
        EXPECT_EQ(dialog_.fileName, dir(QStringLiteral("barchart.bmp")));
    }
    QFile existing(dir(QStringLiteral("barchart.bmp")));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();
    DialogDriver driver(QStringLiteral("barchart"), QMessageBox::No, 0);
    EXPECT_FALSE(dialog_.show(nullptr));
    ASSERT_EQ(driver.questions.size(), 1);
    EXPECT_TRUE(driver.questions[0].contains(QStringLiteral("barchart.bmp")));

    EXPECT_EQ(SuffixOfFilter(QStringLiteral("jpg图像 (*.jpg)"), QStringLiteral("png")),
              QStringLiteral("jpg"));
    EXPECT_EQ(SuffixOfFilter(QStringLiteral("所有文件 (*.*)"), QStringLiteral("csv")),
              QStringLiteral("csv"));
}

TEST(OpenDialogTest, SeveralFilesPickedComeBackAll) {
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, true);
    TempFile dir("", "ex130501.log");
    const QString folder = QString::fromStdString(dir.dir().string());
    QFile second(folder + QStringLiteral("/ex130502.log"));
    ASSERT_TRUE(second.open(QIODevice::WriteOnly));
    second.close();
    FileDialog dialog;
    dialog.multiple = true;
    dialog.filter = QStringLiteral("其他日志文件(*.log)|*.log");
    dialog.fileName = QString::fromStdString(dir.path());
    {
        DialogDriver driver(QStringLiteral("\"ex130502.log\" \"ex130501.log\""), QMessageBox::No);
        EXPECT_TRUE(dialog.show(nullptr));
        ASSERT_FALSE(driver.timedOut);
    }
    QStringList expected{folder + QStringLiteral("/ex130502.log"),
                         folder + QStringLiteral("/ex130501.log")};
    ASSERT_EQ(dialog.fileNames.size(), 2) << dialog.fileNames.join(' ').toStdString();
    EXPECT_TRUE(dialog.fileNames.contains(expected.first()));
    EXPECT_TRUE(dialog.fileNames.contains(expected.last()));
    EXPECT_EQ(dialog.fileName, dialog.fileNames.first());
    // A dialog that is not `multiple` gives one.
    dialog.multiple = false;
    {
        DialogDriver driver(QStringLiteral("ex130501.log"), QMessageBox::No);
        EXPECT_TRUE(dialog.show(nullptr));
    }
    EXPECT_EQ(dialog.fileNames, QStringList{expected.last()});
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, false);
}

} // namespace
} // namespace logdesk
