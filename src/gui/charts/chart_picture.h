// Pictures of a chart control: captured as uncompressed BMP file bytes,
// converted to the file formats the user can save, and put on the clipboard.
// Capturing (it draws the widget) and the clipboard are for the GUI thread;
// converting and saving the bytes work on any thread. Nothing here throws;
// failures give empty bytes or hand the BMP bytes back unchanged.
#pragma once

#include "core/base/result.h"

#include <QByteArray>
#include <QImage>
#include <QRgb>
#include <QString>
#include <cstdint>
#include <vector>

class QWidget;

namespace logdesk {

enum class PictureFormat { Bmp, Jpeg, Gif, Tiff, Png };

// The format a picture file is written in, by the text after the last "." of
// its file name with ASCII letters folded: "jpg", "gif", "tiff" and "png"
// choose their formats; anything else ("jpeg", "tif", "bmp", no extension)
// keeps the BMP bytes.
PictureFormat PictureFormatForName(const QString& path);

// A complete BMP file: 14-byte file header, 40-byte BITMAPINFOHEADER without
// compression, pixel rows bottom-up, each padded to 4 bytes. `bitsPerPixel`
// is 24 or 32 (blue, green, red and a zero byte). Empty for a null image.
QByteArray BmpBytes(const QImage& image, int bitsPerPixel);

// An image reduced to a palette of at most 256 colours.
struct IndexedImage {
    int width = 0;
    int height = 0;
    std::vector<QRgb> palette;         // opaque colours, at most 256
    std::vector<std::uint8_t> indices; // one per pixel, rows top-down
};

// An image with at most `maxColours` colours keeps them all exactly. In a
// richer one the palette comes from a median cut weighted by pixel counts,
// which keeps the colours of large flat areas (a chart's slices, bars and
// background) exact and shares the rest among the other colours (anti-aliased
// edges, text); every pixel takes its nearest palette colour, without
// dithering, so flat areas stay flat. `maxColours` is 2 to 256.
IndexedImage QuantizeColours(const QImage& image, int maxColours = 256);

// GIF89a bytes of the image, through QuantizeColours; empty when the image is
// null or larger than GIF allows.
QByteArray GifBytes(const QImage& image);

class ChartPicture {
public:
    ChartPicture() = delete;

    // The control as drawn now (also the parts other windows cover), at its
    // size in device-independent pixels, as BMP bytes at the screen's colour
    // depth (32 bits, or 24 on shallower screens). Empty for a null control
    // or one that cannot draw itself.
    static QByteArray capture(QWidget* control);

    // The BMP bytes encoded as `format` with the encoder's defaults (JPEG at
    // its default quality); the input unchanged when it cannot be decoded or
    // encoded, or when `format` is Bmp.
    static QByteArray convert(const QByteArray& bmp, PictureFormat format);

    // Replaces the clipboard's content with the picture, through the UI seam.
    // Bytes that do not decode leave the clipboard alone.
    static void putOnClipboard(const QByteArray& bmp);
};

// Writes the BMP bytes to `path` in the format its name chooses, creating or
// replacing the file whole as FileSink does: on failure the previous file is
// untouched, and a device or FIFO is written in place. Errors name the path
// in file system bytes.
Result<void> SavePicture(const QByteArray& bmp, const QString& path);

} // namespace logdesk
