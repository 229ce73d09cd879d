#pragma once

#include <QByteArray>

// Firmware update files ("update.bin"): a fixed 67170-byte layout that the update dialog reads
// and the device checks.
//
//   offset 0      32-bit LE 4118 (0x1016)
//   offset 4      32-bit LE 0
//   offset 264    the image bytes (at most 65849)
//   offset 66113  image length, 64-bit LE
//   offset 66121  firmwareImageChecksum(image), 32-bit LE
//   the rest      zero
namespace firmwareimage {

constexpr int kFileSize = 67170;
constexpr int kImageOffset = 264;
constexpr int kLengthOffset = 66113;
constexpr int kChecksumOffset = 66121;
constexpr int kMaxImageSize = kLengthOffset - kImageOffset;

// CRC-32 (the common reflected polynomial 0xEDB88320, initial value and final xor 0xFFFFFFFF)
// of the image bytes; CRC-32 of "123456789" is 0xCBF43926.
quint32 firmwareImageChecksum(const QByteArray& image);

// The whole update file for `image`; empty when the image is too large.
QByteArray makeFirmwareFile(const QByteArray& image);

} // namespace firmwareimage
