#pragma once

#include <QByteArray>

// Firmware update files ("update.bin"), in the layout kx/firmware.h defines.
namespace firmwareimage {

// The whole update file for `image`; empty when the image is larger than
// kx::firmware::kMaxImageSize.
QByteArray makeFirmwareFile(const QByteArray& image);

} // namespace firmwareimage
