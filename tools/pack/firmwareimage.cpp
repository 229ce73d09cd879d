#include "firmwareimage.h"

#include "kx/firmware.h"

namespace firmwareimage {
namespace {

void putLE(QByteArray& out, int offset, quint64 value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

} // namespace

QByteArray makeFirmwareFile(const QByteArray& image) {
    namespace fw = kx::firmware;
    if (image.size() > fw::kMaxImageSize)
        return QByteArray();
    QByteArray out(fw::kFileSize, '\0');
    putLE(out, 0, fw::kMagic, 4);
    out.replace(fw::kImageOffset, image.size(), image);
    putLE(out, fw::kLengthOffset, static_cast<quint64>(image.size()), 8);
    putLE(out, fw::kChecksumOffset,
          kx::crc32(reinterpret_cast<const uint8_t*>(image.constData()),
                    static_cast<size_t>(image.size())),
          4);
    return out;
}

} // namespace firmwareimage
