// The GUI's edge: the core holds GBK bytes, Qt holds UTF-16.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace logdesk {

QString FromGbk(std::string_view gbk);
std::string ToGbk(const QString& text);

} // namespace logdesk
