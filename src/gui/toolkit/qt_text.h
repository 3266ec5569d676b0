// The GUI's edge: the core holds GBK bytes, Qt holds UTF-16.
#pragma once

#include "core/base/result.h"

#include <QString>
#include <QTranslator>
#include <string>
#include <string_view>

namespace logdesk {

QString FromGbk(std::string_view gbk);
std::string ToGbk(const QString& text);

// How a message box shows a failure: the heading (which says what failed,
// in the program's words), the error's path, and its reason on the next
// line. The path is file system bytes, the reason the locale's.
QString ErrorText(const QString& heading, const Error& error);

// Qt's own texts (file dialogs, the buttons 是 and 否 of a question) in
// Chinese, as the rest of the program, whatever the system's language:
// installs Qt's zh_CN translations in the application, which owns them.
// nullptr when they are not installed (the texts stay English).
QTranslator* UseChineseQtTexts();

} // namespace logdesk
