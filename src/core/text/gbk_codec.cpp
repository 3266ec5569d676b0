#include "gbk_codec.h"

#include <memory>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>

namespace logdesk {

namespace {

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};

// ICU converters keep state and must not be shared between threads; each
// thread opens its own on first use.
UConverter* GbkConverter() {
    thread_local std::unique_ptr<UConverter, ConverterCloser> converter = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<UConverter, ConverterCloser> c(ucnv_open("windows-936-2000", &status));
        if (U_SUCCESS(status) && c) {
            UErrorCode subst = U_ZERO_ERROR;
            ucnv_setSubstChars(c.get(), "?", 1, &subst);
        } else {
            c.reset();
        }
        return c;
    }();
    return converter.get();
}

} // namespace

std::u16string GbkToUtf16(std::string_view gbk) {
    UConverter* conv = GbkConverter();
    if (conv == nullptr || gbk.empty()) {
        return {};
    }
    std::u16string out(gbk.size() + 1, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    ucnv_resetToUnicode(conv);
    const int32_t n = ucnv_toUChars(conv, out.data(), static_cast<int32_t>(out.size()), gbk.data(),
                                    static_cast<int32_t>(gbk.size()), &status);
    if (U_FAILURE(status)) {
        return {};
    }
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::string Utf16ToGbk(std::u16string_view utf16) {
    UConverter* conv = GbkConverter();
    if (conv == nullptr || utf16.empty()) {
        return {};
    }
    std::string out(utf16.size() * 2 + 1, '\0');
    UErrorCode status = U_ZERO_ERROR;
    ucnv_resetFromUnicode(conv);
    const int32_t n = ucnv_fromUChars(conv, out.data(), static_cast<int32_t>(out.size()),
                                      utf16.data(), static_cast<int32_t>(utf16.size()), &status);
    if (U_FAILURE(status)) {
        return {};
    }
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    if (utf8.empty()) {
        return {};
    }
    std::u16string out(utf8.size() + 1, u'\0');
    int32_t n = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &n, utf8.data(),
                         static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) {
        return {};
    }
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    if (utf16.empty()) {
        return {};
    }
    std::string out(utf16.size() * 3 + 1, '\0');
    int32_t n = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &n, utf16.data(),
                       static_cast<int32_t>(utf16.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) {
        return {};
    }
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::u32string GbkToUtf32(std::string_view gbk) {
    const std::u16string utf16 = GbkToUtf16(gbk);
    if (utf16.empty()) {
        return {};
    }
    std::u32string out(utf16.size(), U'\0');
    int32_t n = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF32WithSub(reinterpret_cast<UChar32*>(out.data()), static_cast<int32_t>(out.size()),
                        &n, utf16.data(), static_cast<int32_t>(utf16.size()), 0xFFFD, nullptr,
                        &status);
    if (U_FAILURE(status)) {
        return {};
    }
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::string Utf32ToGbk(std::u32string_view utf32) {
    if (utf32.empty()) {
        return {};
    }
    std::u16string utf16(utf32.size() * 2 + 1, u'\0');
    int32_t n = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF32WithSub(utf16.data(), static_cast<int32_t>(utf16.size()), &n,
                          reinterpret_cast<const UChar32*>(utf32.data()),
                          static_cast<int32_t>(utf32.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) {
        return {};
    }
    utf16.resize(static_cast<std::size_t>(n));
    return Utf16ToGbk(utf16);
}

std::string GbkToUtf8(std::string_view gbk) {
    return Utf16ToUtf8(GbkToUtf16(gbk));
}

std::string Utf8ToGbk(std::string_view utf8) {
    return Utf16ToGbk(Utf8ToUtf16(utf8));
}

} // namespace logdesk
