// Conversions between GBK (code page 936) and Unicode.
//
// Bytes that are not valid GBK become U+FFFD; characters that GBK cannot
// hold become '?', the code page's default character. Safe to call from any
// thread.
#pragma once

#include <string>
#include <string_view>

namespace logdesk {

std::u16string GbkToUtf16(std::string_view gbk);
std::string Utf16ToGbk(std::u16string_view utf16);
std::u32string GbkToUtf32(std::string_view gbk);
std::string Utf32ToGbk(std::u32string_view utf32);
std::string GbkToUtf8(std::string_view gbk);
// Invalid UTF-8 sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);
std::string Utf8ToGbk(std::string_view utf8);

// GBK bytes of a UTF-8 source literal; for the program's fixed texts.
inline std::string Gbk(std::string_view utf8Literal) {
    return Utf8ToGbk(utf8Literal);
}

} // namespace logdesk
