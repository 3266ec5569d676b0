#include "qt_text.h"

#include "core/text/gbk_codec.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace logdesk {

QString FromGbk(std::string_view gbk) {
    bool ascii = true;
    for (char c : gbk) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii) {
        return QString::fromLatin1(gbk.data(), static_cast<qsizetype>(gbk.size()));
    }
    const std::u16string utf16 = GbkToUtf16(gbk);
    return QString::fromUtf16(utf16.data(), static_cast<qsizetype>(utf16.size()));
}

std::string ToGbk(const QString& text) {
    return Utf16ToGbk(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                          static_cast<std::size_t>(text.size())));
}

QString ErrorText(const QString& heading, const Error& error) {
    const QByteArray path(error.path.data(), static_cast<qsizetype>(error.path.size()));
    return heading + QDir::toNativeSeparators(QFile::decodeName(path)) + QStringLiteral("\r\n") +
           QString::fromLocal8Bit(error.reason().c_str());
}

QTranslator* UseChineseQtTexts() {
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                          QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    return translator;
}

} // namespace logdesk
