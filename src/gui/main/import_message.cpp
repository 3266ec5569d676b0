#include "import_message.h"

#include <QDir>
#include <QFile>
#include <QStringList>

namespace logdesk {

namespace {

QString NameText(const SourceName& name) {
    const QString path = QDir::toNativeSeparators(
        QFile::decodeName(QByteArray(name.path.data(), static_cast<qsizetype>(name.path.size()))));
    if (name.member.empty()) {
        return path;
    }
    return path + QLatin1Char(':') +
           QFile::decodeName(
               QByteArray(name.member.data(), static_cast<qsizetype>(name.member.size())));
}

// The system's words are in the locale's encoding, the decoders' in ASCII.
QString ReasonText(const SkippedInput& skipped) {
    return QString::fromLocal8Bit(skipped.error ? skipped.error->cause.c_str() : "");
}

QString LineOf(const SkippedInput& skipped) {
    const QString name = NameText(skipped.name);
    switch (skipped.kind) {
    case SkipKind::Unreadable:
        return QStringLiteral("%1：无法读取（%2）").arg(name, ReasonText(skipped));
    case SkipKind::ReadFailed:
        return QStringLiteral("%1：读到第 %2 字节时出错（%3），此前的内容已导入")
            .arg(name)
            .arg(skipped.bytesKept)
            .arg(ReasonText(skipped));
    case SkipKind::Damaged: {
        // Text that no checksum confirmed was left out, and the user is told.
        const QString leftOut =
            skipped.leftOutBytes > 0
                ? QStringLiteral("；校验和未能确认的 %1 字节已舍弃").arg(skipped.leftOutBytes)
                : QString();
        if (skipped.compressedOffset) {
            return QStringLiteral("%1：文件已损坏（压缩数据第 %2 字节处：%3），"
                                  "已导入损坏处之前的 %4 字节%5")
                .arg(name)
                .arg(*skipped.compressedOffset)
                .arg(ReasonText(skipped))
                .arg(skipped.bytesKept)
                .arg(leftOut);
        }
        return QStringLiteral("%1：文件已损坏（%2），已导入损坏处之前的 %3 字节%4")
            .arg(name, ReasonText(skipped))
            .arg(skipped.bytesKept)
            .arg(leftOut);
    }
    case SkipKind::Rejected:
        break;
    }
    return QStringLiteral("%1：这个文件不是标准的IIS日志文件！只导入了没有字段名的 #Fields: "
                          "行之前的记录")
        .arg(name);
}

} // namespace

QString SkippedInputsText(const std::vector<SkippedInput>& skipped, bool nothingImported) {
    if (skipped.empty()) {
        return {};
    }
    QStringList lines;
    lines << (nothingImported ? QStringLiteral("没有能导入的日志文件：")
                              : QStringLiteral("以下日志文件没有完整导入，其余的已导入："));
    for (const SkippedInput& s : skipped) {
        lines << LineOf(s);
    }
    return lines.join(QStringLiteral("\r\n"));
}

QString NoLogFileText() {
    return QStringLiteral("所选的位置没有日志文件。");
}

} // namespace logdesk
