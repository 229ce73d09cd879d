#pragma once

#include "kx/kx.h"

#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <cstddef>
#include <cstring>

// The device library's device list, byte for byte. Text fields hold UTF-8 and are
// NUL-terminated only when shorter than their field; wide fields hold UTF-16.
#pragma pack(push, 1)
struct DeviceRecord {
    char DeviceID[40];
    char Version[17];
    char SN[14];
    char MASK[2];
    quint8 vendorId[4];  // unsigned 32-bit, little-endian
    quint8 productId[4]; // unsigned 32-bit, little-endian
    quint8 reserved[1004];
    quint8 DevicePath[510]; // 255 UTF-16 units, little-endian; fields sit at odd offsets
    quint8 HardwareID[510];

    QString deviceId() const { return text(DeviceID, sizeof DeviceID); }
    QString version() const { return text(Version, sizeof Version); }
    QString sn() const { return text(SN, sizeof SN); }
    QString mask() const { return text(MASK, sizeof MASK); }
    QString devicePath() const { return wide(DevicePath); }
    QString hardwareId() const { return wide(HardwareID); }
    quint32 vendor() const { return le32(vendorId); }
    quint32 product() const { return le32(productId); }

    static QString text(const char* field, size_t width) {
        const char* end = static_cast<const char*>(std::memchr(field, 0, width));
        return QString::fromUtf8(field, static_cast<int>(end ? end - field : long(width)));
    }
    // Stops at the NUL or at the end of the field, whichever comes first.
    static QString wide(const quint8 (&field)[510]) {
        QString s;
        for (int i = 0; i < 255; ++i) {
            const ushort u = ushort(field[2 * i] | field[2 * i + 1] << 8);
            if (u == 0)
                break;
            s += QChar(u);
        }
        return s;
    }
    static quint32 le32(const quint8* p) {
        return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
    }
};

struct DeviceListBlock {
    quint16 count;
    DeviceRecord records[KX_MAX_RECORDS];

    // A count above 20 is taken as 20: nothing past the block is read.
    int recordCount() const { return std::min<int>(count, KX_MAX_RECORDS); }
};
#pragma pack(pop)

static_assert(sizeof(DeviceRecord) == KX_RECORD_SIZE, "device record layout");
static_assert(sizeof(DeviceListBlock) == KX_LIST_SIZE, "device list layout");
static_assert(offsetof(DeviceRecord, vendorId) == 73 &&
                  offsetof(DeviceRecord, DevicePath) == 1085 &&
                  offsetof(DeviceRecord, HardwareID) == 1595,
              "device record offsets");
