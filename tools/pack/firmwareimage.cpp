#include "firmwareimage.h"

namespace firmwareimage {
namespace {

void putLE(QByteArray& out, int offset, quint64 value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

} // namespace

quint32 firmwareImageChecksum(const QByteArray& image) {
    quint32 crc = 0xFFFFFFFFu;
    for (const char ch : image) {
        crc ^= static_cast<unsigned char>(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xFFFFFFFFu;
}

QByteArray makeFirmwareFile(const QByteArray& image) {
    if (image.size() > kMaxImageSize)
        return QByteArray();
    QByteArray out(kFileSize, '\0');
    putLE(out, 0, 4118, 4);
    out.replace(kImageOffset, image.size(), image);
    putLE(out, kLengthOffset, static_cast<quint64>(image.size()), 8);
    putLE(out, kChecksumOffset, firmwareImageChecksum(image), 4);
    return out;
}

} // namespace firmwareimage
