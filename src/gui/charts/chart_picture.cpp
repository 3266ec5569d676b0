#include "chart_picture.h"

#include "core/export/line_sink.h"
#include "gui/toolkit/ui_seam.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <array>
#include <gif_lib.h>
#include <unordered_map>

namespace logdesk {

PictureFormat PictureFormatForName(const QString& path) {
    // QFileInfo::suffix is the text after the last "." of the file name only,
    // so a dot in a folder name never counts.
    const QString suffix = QFileInfo(path).suffix();
    QString folded = suffix;
    for (QChar& c : folded) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) {
            c = QChar(c.unicode() + 32);
        }
    }
    if (folded == QLatin1String("jpg")) {
        return PictureFormat::Jpeg;
    }
    if (folded == QLatin1String("gif")) {
        return PictureFormat::Gif;
    }
    if (folded == QLatin1String("tiff")) {
        return PictureFormat::Tiff;
    }
    if (folded == QLatin1String("png")) {
        return PictureFormat::Png;
    }
    return PictureFormat::Bmp;
}

namespace {

void Put16(QByteArray& out, qsizetype at, std::uint32_t value) {
    out[at] = static_cast<char>(value & 0xff);
    out[at + 1] = static_cast<char>((value >> 8) & 0xff);
}

void Put32(QByteArray& out, qsizetype at, std::uint32_t value) {
    Put16(out, at, value & 0xffff);
    Put16(out, at + 2, value >> 16);
}

constexpr std::uint32_t kFileHeaderBytes = 14;
constexpr std::uint32_t kInfoHeaderBytes = 40;
constexpr std::uint32_t kPixelsPerMetreAt96Dpi = 3780;

} // namespace

QByteArray BmpBytes(const QImage& source, int bitsPerPixel) {
    if (source.isNull()) {
        return {};
    }
    const int bpp = bitsPerPixel == 24 ? 24 : 32;
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    const auto width = static_cast<std::uint32_t>(image.width());
    const auto height = static_cast<std::uint32_t>(image.height());
    const std::uint32_t stride = (width * static_cast<std::uint32_t>(bpp) + 31) / 32 * 4;
    const std::uint32_t pixelBytes = stride * height;
    const std::uint32_t offset = kFileHeaderBytes + kInfoHeaderBytes;

    QByteArray out(static_cast<qsizetype>(offset + pixelBytes), '\0');
    out[0] = 'B';
    out[1] = 'M';
    Put32(out, 2, offset + pixelBytes);
    Put32(out, 10, offset);
    Put32(out, 14, kInfoHeaderBytes);
    Put32(out, 18, width);
    Put32(out, 22, height); // positive: rows run bottom-up
    Put16(out, 26, 1);      // planes
    Put16(out, 28, static_cast<std::uint32_t>(bpp));
    Put32(out, 30, 0); // BI_RGB
    Put32(out, 34, pixelBytes);
    Put32(out, 38, kPixelsPerMetreAt96Dpi);
    Put32(out, 42, kPixelsPerMetreAt96Dpi);

    const int step = bpp / 8;
    for (std::uint32_t y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(static_cast<int>(y)));
        char* row = out.data() + offset + (height - 1 - y) * stride;
        for (std::uint32_t x = 0; x < width; ++x) {
            char* pixel = row + x * static_cast<std::uint32_t>(step);
            pixel[0] = static_cast<char>(qBlue(line[x]));
            pixel[1] = static_cast<char>(qGreen(line[x]));
            pixel[2] = static_cast<char>(qRed(line[x]));
        }
    }
    return out;
}

namespace {

struct ColourCount {
    QRgb rgb;
    std::uint32_t count;
};

int Channel(QRgb rgb, int channel) {
    switch (channel) {
    case 0:
        return qRed(rgb);
    case 1:
        return qGreen(rgb);
    default:
        return qBlue(rgb);
    }
}

// A run of colours in the working list with what the split choice needs.
struct ColourBox {
    std::size_t begin;
    std::size_t end;
    std::uint64_t pixels = 0;
    int widestChannel = 0;
    int widestRange = 0;
};

ColourBox MakeBox(const std::vector<ColourCount>& colours, std::size_t begin, std::size_t end) {
    ColourBox box{begin, end};
    std::array<int, 3> low{255, 255, 255};
    std::array<int, 3> high{0, 0, 0};
    for (std::size_t i = begin; i < end; ++i) {
        box.pixels += colours[i].count;
        for (int c = 0; c < 3; ++c) {
            const int v = Channel(colours[i].rgb, c);
            low[static_cast<std::size_t>(c)] = std::min(low[static_cast<std::size_t>(c)], v);
            high[static_cast<std::size_t>(c)] = std::max(high[static_cast<std::size_t>(c)], v);
        }
    }
    for (int c = 0; c < 3; ++c) {
        const int range = high[static_cast<std::size_t>(c)] - low[static_cast<std::size_t>(c)];
        if (range > box.widestRange) {
            box.widestRange = range;
            box.widestChannel = c;
        }
    }
    return box;
}

// Splits colours[begin, end) into at most `paletteSize` boxes, always cutting
// the box whose pixels spread widest (pixel count times its widest channel
// range) at the pixel-weighted median of that channel. Gives each box's mean
// colour. A colour that covers a large area outweighs its neighbours, so the
// cuts soon leave it a box of its own, whose mean is the colour itself.
std::vector<QRgb> MedianCut(std::vector<ColourCount>& colours, std::size_t begin, std::size_t end,
                            std::size_t paletteSize) {
    std::vector<ColourBox> boxes;
    if (begin < end && paletteSize > 0) {
        boxes.push_back(MakeBox(colours, begin, end));
    }
    while (boxes.size() < paletteSize) {
        std::size_t pick = boxes.size();
        std::uint64_t best = 0;
        for (std::size_t b = 0; b < boxes.size(); ++b) {
            const std::uint64_t score =
                boxes[b].pixels * static_cast<std::uint64_t>(boxes[b].widestRange);
            if (boxes[b].end - boxes[b].begin >= 2 && score > best) {
                best = score;
                pick = b;
            }
        }
        if (pick == boxes.size()) {
            break; // every box holds a single colour
        }
        const ColourBox box = boxes[pick];
        const auto first = colours.begin() + static_cast<std::ptrdiff_t>(box.begin);
        const auto last = colours.begin() + static_cast<std::ptrdiff_t>(box.end);
        std::sort(first, last, [c = box.widestChannel](const ColourCount& a, const ColourCount& b) {
            return Channel(a.rgb, c) < Channel(b.rgb, c);
        });
        std::uint64_t below = 0;
        std::size_t cut = box.begin;
        while (cut < box.end - 1 && below + colours[cut].count <= box.pixels / 2) {
            below += colours[cut].count;
            ++cut;
        }
        cut = std::clamp(cut, box.begin + 1, box.end - 1);
        boxes[pick] = MakeBox(colours, box.begin, cut);
        boxes.push_back(MakeBox(colours, cut, box.end));
    }
    std::vector<QRgb> means;
    for (const ColourBox& box : boxes) {
        std::array<std::uint64_t, 3> sum{0, 0, 0};
        for (std::size_t i = box.begin; i < box.end; ++i) {
            for (int c = 0; c < 3; ++c) {
                sum[static_cast<std::size_t>(c)] +=
                    static_cast<std::uint64_t>(Channel(colours[i].rgb, c)) * colours[i].count;
            }
        }
        const auto mean = [&](int c) {
            return static_cast<int>((sum[static_cast<std::size_t>(c)] + box.pixels / 2) /
                                    box.pixels);
        };
        means.push_back(qRgb(mean(0), mean(1), mean(2)));
    }
    return means;
}

int Distance(QRgb a, QRgb b) {
    const int r = qRed(a) - qRed(b);
    const int g = qGreen(a) - qGreen(b);
    const int bl = qBlue(a) - qBlue(b);
    return r * r + g * g + bl * bl;
}

} // namespace

IndexedImage QuantizeColours(const QImage& source, int maxColours) {
    IndexedImage out;
    if (source.isNull()) {
        return out;
    }
    const auto paletteSize = static_cast<std::size_t>(std::clamp(maxColours, 2, 256));
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    out.width = image.width();
    out.height = image.height();

    std::unordered_map<QRgb, std::uint32_t> counts;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            ++counts[line[x] | 0xff000000u];
        }
    }
    std::vector<ColourCount> colours;
    colours.reserve(counts.size());
    for (const auto& [rgb, count] : counts) {
        colours.push_back({rgb, count});
    }
    std::sort(colours.begin(), colours.end(), [](const ColourCount& a, const ColourCount& b) {
        return a.count != b.count ? a.count > b.count : a.rgb < b.rgb;
    });

    std::unordered_map<QRgb, std::uint8_t> indexOf;
    if (colours.size() <= paletteSize) {
        for (const ColourCount& c : colours) {
            indexOf[c.rgb] = static_cast<std::uint8_t>(out.palette.size());
            out.palette.push_back(c.rgb);
        }
    } else {
        out.palette = MedianCut(colours, 0, colours.size(), paletteSize);
        for (std::size_t i = 0; i < colours.size(); ++i) {
            std::size_t nearest = 0;
            int nearestDistance = Distance(colours[i].rgb, out.palette[0]);
            for (std::size_t p = 1; p < out.palette.size() && nearestDistance > 0; ++p) {
                const int d = Distance(colours[i].rgb, out.palette[p]);
                if (d < nearestDistance) {
                    nearestDistance = d;
                    nearest = p;
                }
            }
            indexOf[colours[i].rgb] = static_cast<std::uint8_t>(nearest);
        }
    }

    out.indices.reserve(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height));
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            out.indices.push_back(indexOf[line[x] | 0xff000000u]);
        }
    }
    return out;
}

namespace {

int AppendToBuffer(GifFileType* gif, const GifByteType* data, int length) {
    static_cast<QByteArray*>(gif->UserData)->append(reinterpret_cast<const char*>(data), length);
    return length;
}

constexpr int kGifLargestSide = 65535;

} // namespace

QByteArray GifBytes(const QImage& image) {
    if (image.isNull() || image.width() > kGifLargestSide || image.height() > kGifLargestSide) {
        return {};
    }
    const IndexedImage indexed = QuantizeColours(image);
    // The colour table of a GIF holds a power of two entries, at least two.
    int bits = 1;
    while ((std::size_t{1} << bits) < indexed.palette.size()) {
        ++bits;
    }
    std::vector<GifColorType> table(std::size_t{1} << bits, GifColorType{0, 0, 0});
    for (std::size_t i = 0; i < indexed.palette.size(); ++i) {
        table[i] = GifColorType{static_cast<GifByteType>(qRed(indexed.palette[i])),
                                static_cast<GifByteType>(qGreen(indexed.palette[i])),
                                static_cast<GifByteType>(qBlue(indexed.palette[i]))};
    }
    ColorMapObject* map = GifMakeMapObject(static_cast<int>(table.size()), table.data());
    if (map == nullptr) {
        return {};
    }
    QByteArray bytes;
    int error = 0;
    GifFileType* gif = EGifOpen(&bytes, AppendToBuffer, &error);
    if (gif == nullptr) {
        GifFreeMapObject(map);
        return {};
    }
    EGifSetGifVersion(gif, true);
    constexpr int kColourResolution = 8; // bits per primary colour of the source
    bool ok = EGifPutScreenDesc(gif, indexed.width, indexed.height, kColourResolution, 0, map) ==
                  GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, indexed.width, indexed.height, false, nullptr) == GIF_OK;
    std::vector<GifPixelType> row(static_cast<std::size_t>(indexed.width));
    for (int y = 0; ok && y < indexed.height; ++y) {
        const auto first = indexed.indices.begin() + static_cast<std::ptrdiff_t>(y) * indexed.width;
        std::copy(first, first + indexed.width, row.begin());
        ok = EGifPutLine(gif, row.data(), indexed.width) == GIF_OK;
    }
    // Closing writes the trailer and frees the handle whether or not a step failed.
    ok = EGifCloseFile(gif, &error) == GIF_OK && ok;
    GifFreeMapObject(map);
    return ok ? bytes : QByteArray();
}

QByteArray ChartPicture::capture(QWidget* control) {
    if (control == nullptr) {
        return {};
    }
    const QPixmap pixmap = control->grab();
    if (pixmap.isNull()) {
        return {};
    }
    QImage image = pixmap.toImage();
    // On a scaled screen the grab holds device pixels; the picture is the
    // control's own size.
    if (image.size() != control->size()) {
        image = image.scaled(control->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    const QScreen* screen = control->screen();
    const int depth = screen != nullptr ? screen->depth() : 32;
    return BmpBytes(image, depth >= 32 ? 32 : 24);
}

QByteArray ChartPicture::convert(const QByteArray& bmp, PictureFormat format) {
    if (format == PictureFormat::Bmp) {
        return bmp;
    }
    QImage image;
    if (!image.loadFromData(bmp, "BMP")) {
        return bmp;
    }
    QByteArray encoded;
    if (format == PictureFormat::Gif) {
        encoded = GifBytes(image);
    } else {
        const char* name = format == PictureFormat::Jpeg   ? "jpeg"
                           : format == PictureFormat::Tiff ? "tiff"
                                                           : "png";
        QBuffer buffer(&encoded);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, name);
        if (!writer.write(image)) {
            encoded.clear();
        }
    }
    return encoded.isEmpty() ? bmp : encoded;
}

void ChartPicture::putOnClipboard(const QByteArray& bmp) {
    const QImage image = QImage::fromData(bmp, "BMP");
    if (!image.isNull()) {
        Ui().setClipboardImage(image);
    }
}

Result<void> SavePicture(const QByteArray& bmp, const QString& path) {
    const QByteArray bytes = ChartPicture::convert(bmp, PictureFormatForName(path));
    // Not QSaveFile: it renames its temporary file over whatever the path
    // names, a device node or a FIFO too.
    return ExportToFile(QFile::encodeName(path).toStdString(), [&](LineSink& file) -> Result<void> {
        if (!file.write(
                std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())))) {
            return FailureOf(file);
        }
        return {};
    });
}

} // namespace logdesk
