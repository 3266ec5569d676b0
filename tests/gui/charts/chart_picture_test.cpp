#include "gui/charts/chart_picture.h"
#include "support/import_test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace logdesk {
namespace {

using testing::TempFile;

std::uint32_t Read32(const QByteArray& bytes, int at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

// A smooth gradient, so far more than 256 colours, with two small flat
// patches in chart colours close to the gradient's colours around them.
QImage ChartLikeImage() {
    QImage image(300, 200, QImage::Format_RGB32);
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 300; ++x) {
            const int red = x * 255 / 299;
            const int green = y * 255 / 199;
            image.setPixel(x, y, qRgb(red, green, 255 - (red + green) / 2));
        }
    }
    QPainter painter(&image);
    painter.fillRect(40, 40, 20, 20, QColor(41, 50, 225));
    painter.fillRect(200, 120, 20, 20, QColor(185, 160, 90));
    return image;
}

TEST(PictureFormatTest, OnlyTheFourExtensionsConvert) {
    const std::pair<const char*, PictureFormat> cases[] = {
        {"/t/a.jpg", PictureFormat::Jpeg}, {"/t/a.JPG", PictureFormat::Jpeg},
        {"/t/a.gif", PictureFormat::Gif},  {"/t/a.tiff", PictureFormat::Tiff},
        {"/t/a.Png", PictureFormat::Png},  {"/t/a.b.png", PictureFormat::Png},
        {"/t/a.jpeg", PictureFormat::Bmp}, {"/t/a.tif", PictureFormat::Bmp},
        {"/t/a.bmp", PictureFormat::Bmp},  {"/t/a", PictureFormat::Bmp},
        {"/t.png/a", PictureFormat::Bmp},  {"/t/a.", PictureFormat::Bmp},
    };
    for (const auto& [name, format] : cases) {
        EXPECT_EQ(PictureFormatForName(QString::fromUtf8(name)), format) << name;
    }
}

TEST(BmpBytesTest, HeadersAndBottomUpPaddedRows) {
    QImage image(3, 2, QImage::Format_RGB32);
    image.setPixel(0, 0, qRgb(1, 2, 3));
    image.setPixel(1, 0, qRgb(4, 5, 6));
    image.setPixel(2, 0, qRgb(7, 8, 9));
    image.setPixel(0, 1, qRgb(10, 11, 12));
    image.setPixel(1, 1, qRgb(13, 14, 15));
    image.setPixel(2, 1, qRgb(16, 17, 18));

    const QByteArray bmp24 = BmpBytes(image, 24);
    ASSERT_EQ(bmp24.size(), 54 + 2 * 12); // 9 bytes a row, padded to 12
    EXPECT_TRUE(bmp24.startsWith("BM"));
    EXPECT_EQ(Read32(bmp24, 2), 78u);
    EXPECT_EQ(Read32(bmp24, 10), 54u);
    EXPECT_EQ(Read32(bmp24, 14), 40u);
    EXPECT_EQ(Read32(bmp24, 18), 3u);
    EXPECT_EQ(Read32(bmp24, 22), 2u);
    EXPECT_EQ(Read32(bmp24, 28) & 0xffff, 24u);
    EXPECT_EQ(Read32(bmp24, 30), 0u); // uncompressed
    // The bottom row comes first, blue before green before red.
    EXPECT_EQ(bmp24.mid(54, 12), QByteArray("\x0c\x0b\x0a\x0f\x0e\x0d\x12\x11\x10\0\0\0", 12));
    EXPECT_EQ(bmp24.mid(66, 3), QByteArray("\x03\x02\x01"));

    const QByteArray bmp32 = BmpBytes(image, 32);
    ASSERT_EQ(bmp32.size(), 54 + 2 * 12);
    EXPECT_EQ(Read32(bmp32, 28) & 0xffff, 32u);
    EXPECT_EQ(bmp32.mid(54, 8), QByteArray("\x0c\x0b\x0a\0\x0f\x0e\x0d\0", 8));
    for (const QByteArray& bytes : {bmp24, bmp32}) {
        EXPECT_EQ(QImage::fromData(bytes, "BMP").convertToFormat(QImage::Format_RGB32), image);
    }
    EXPECT_TRUE(BmpBytes(QImage(), 32).isEmpty());
}

TEST(QuantizeTest, FewColoursStayExactManyShareThePalette) {
    QImage few(4, 4, QImage::Format_RGB32);
    few.fill(QColor(41, 50, 225));
    few.setPixel(3, 3, qRgb(255, 255, 255));
    const IndexedImage exact = QuantizeColours(few);
    ASSERT_EQ(exact.palette.size(), 2u);
    EXPECT_EQ(exact.palette[exact.indices[15]], qRgb(255, 255, 255));
    EXPECT_EQ(exact.palette[exact.indices[0]], qRgb(41, 50, 225));

    const QImage rich = ChartLikeImage();
    const IndexedImage reduced = QuantizeColours(rich);
    EXPECT_EQ(reduced.palette.size(), 256u);
    ASSERT_EQ(reduced.indices.size(), 300u * 200u);
    // The flat patches keep their colours exactly; the gradient stays close.
    const auto at = [&](int x, int y) {
        return reduced.palette[reduced.indices[static_cast<std::size_t>(y * 300 + x)]];
    };
    EXPECT_EQ(at(50, 50), qRgb(41, 50, 225));
    EXPECT_EQ(at(210, 130), qRgb(185, 160, 90));
    int worst = 0;
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 300; ++x) {
            const QRgb a = rich.pixel(x, y);
            const QRgb b = at(x, y);
            worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                              std::abs(qBlue(a) - qBlue(b))});
        }
    }
    EXPECT_LE(worst, 16);
}

TEST(GifBytesTest, DecodesToTheSamePicture) {
    const QImage image = ChartLikeImage();
    const QByteArray gif = GifBytes(image);
    ASSERT_TRUE(gif.startsWith("GIF89a"));
    const QImage decoded = QImage::fromData(gif, "GIF");
    ASSERT_EQ(decoded.size(), image.size());
    EXPECT_EQ(decoded.pixel(50, 50), qRgb(41, 50, 225));
    EXPECT_EQ(decoded.pixel(210, 130), qRgb(185, 160, 90));
    // A 1 × 1 picture still gets a two-entry colour table.
    QImage dot(1, 1, QImage::Format_RGB32);
    dot.fill(Qt::black);
    EXPECT_EQ(QImage::fromData(GifBytes(dot), "GIF").pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_TRUE(GifBytes(QImage()).isEmpty());
}

TEST(ChartPictureTest, WhatCannotBeConvertedStaysAsItIs) {
    EXPECT_TRUE(ChartPicture::capture(nullptr).isEmpty());
    const QByteArray junk("not a bitmap");
    EXPECT_EQ(ChartPicture::convert(junk, PictureFormat::Png), junk);
    const QByteArray bmp = BmpBytes(ChartLikeImage(), 24);
    EXPECT_EQ(ChartPicture::convert(bmp, PictureFormat::Bmp), bmp);
}

TEST(SavePictureTest, WritesWholeFilesOrNothing) {
    TempFile dir("");
    const QByteArray bmp = BmpBytes(ChartLikeImage(), 32);
    const auto path = [&](const char* name) {
        return QString::fromStdString((dir.dir() / name).string());
    };
    const auto contents = [](const QString& p) {
        QFile file(p);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    EXPECT_TRUE(SavePicture(bmp, path("plain")));
    EXPECT_EQ(contents(path("plain")), bmp);
    EXPECT_TRUE(SavePicture(bmp, path("x.jpeg")));
    EXPECT_EQ(contents(path("x.jpeg")), bmp);

    EXPECT_FALSE(SavePicture(bmp, path("missing/x.png")));
    EXPECT_FALSE(QFile::exists(path("missing/x.png")));
    // A folder in the file's place stays as it is.
    ASSERT_TRUE(QDir().mkpath(path("taken.png")));
    EXPECT_FALSE(SavePicture(bmp, path("taken.png")));
    EXPECT_TRUE(QFileInfo(path("taken.png")).isDir());

    // A FIFO gets the bytes and stays a FIFO.
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("pipe.bmp")).constData(), 0600), 0);
    const int reader =
        ::open(QFile::encodeName(path("pipe.bmp")).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const QByteArray small = BmpBytes(QImage(4, 4, QImage::Format_RGB32), 32);
    EXPECT_TRUE(SavePicture(small, path("pipe.bmp")));
    QByteArray got(small.size() + 1, '\0');
    EXPECT_EQ(::read(reader, got.data(), static_cast<std::size_t>(got.size())), small.size());
    ::close(reader);
    struct stat st {};
    ASSERT_EQ(::lstat(QFile::encodeName(path("pipe.bmp")).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

} // namespace
} // namespace logdesk
