// Qt's own texts speak the program's language.
#include "gui/toolkit/qt_text.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <gtest/gtest.h>

namespace logdesk {
namespace {

TEST(QtTextsTest, QuestionsAndFileDialogsAreInChinese) {
    QTranslator* translator = UseChineseQtTexts();
    ASSERT_NE(translator, nullptr) << "Qt's zh_CN translations are not installed";
    EXPECT_TRUE(QCoreApplication::translate("QPlatformTheme", "&Yes").contains(QStringLiteral("是")));
    EXPECT_TRUE(QCoreApplication::translate("QPlatformTheme", "&No").contains(QStringLiteral("否")));
    EXPECT_NE(QCoreApplication::translate("QFileDialog", "File &name:"), QStringLiteral("File &name:"));
    QCoreApplication::removeTranslator(translator);
    delete translator;
}

} // namespace
} // namespace logdesk
