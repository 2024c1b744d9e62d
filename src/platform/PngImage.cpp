#include "PngImage.h"

#include <QImage>
#include <QtEndian>
#include <array>

namespace {

using CrcTable = std::array<quint32, 256>;

constexpr CrcTable makeCrcTable() {
    CrcTable table{};
    for (quint32 n = 0; n < 256; ++n) {
        quint32 c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr CrcTable kCrcTable = makeCrcTable();

void appendBigEndian(QByteArray& out, quint32 value) {
    char bytes[4];
    qToBigEndian(value, bytes);
    out.append(bytes, 4);
}

// Length, type, data, then the CRC-32 of type and data.
void appendChunk(QByteArray& out, const char type[4], const QByteArray& data) {
    appendBigEndian(out, quint32(data.size()));
    const qsizetype start = out.size();
    out.append(type, 4);
    out.append(data);
    quint32 crc = 0xffffffffu;
    for (qsizetype i = start; i < out.size(); ++i)
        crc = kCrcTable[(crc ^ uchar(out.at(i))) & 0xff] ^ (crc >> 8);
    appendBigEndian(out, crc ^ 0xffffffffu);
}

} // namespace

namespace PngImage {

QByteArray encode(const QImage& image) {
    if (image.isNull())
        return {};
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    const int width = rgba.width();
    const int height = rgba.height();
    QByteArray header;
    appendBigEndian(header, quint32(width));
    appendBigEndian(header, quint32(height));
    header.append("\x08\x06\x00\x00\x00", 5); // 8 bits, RGBA, deflate, no filter, no interlace

    // Each row starts with its filter type, 0 (none).
    const qsizetype rowBytes = qsizetype(width) * 4;
    QByteArray rows;
    rows.reserve((rowBytes + 1) * height);
    for (int y = 0; y < height; ++y) {
        rows.append('\0');
        rows.append(reinterpret_cast<const char*>(rgba.constScanLine(y)), rowBytes);
    }
    // qCompress gives a zlib stream behind four bytes of its own: the length.
    const QByteArray compressed = qCompress(rows);

    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", compressed.mid(4));
    appendChunk(png, "IEND", {});
    return png;
}

} // namespace PngImage
