#include "devicecommands.h"

#include "bridge/args.h"
#include "bytetext.h"
#include "config/configstore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace {

const char* const kProductKeys[] = {"productType", "productName", "productCN", "description",
                                    "device"};

// The checks every byte command makes first: a missing argument gets no answer; a PARAMSIZE
// that is not a whole number fitting the transfer buffer gets the failure answer, before the
// library is called.
bool accept(const QVariantMap& a, const RouterCallback& cb, std::initializer_list<const char*> keys,
            int* size) {
    if (!std::all_of(keys.begin(), keys.end(), [&](const char* k) { return args::has(a, k); }))
        return false;
    const QVariant v = a.value(QStringLiteral("PARAMSIZE"));
    bool ok = false;
    qint64 n = -1;
    if (v.type() == QVariant::Double) {
        const double d = v.toDouble();
        ok = d >= 0 && d <= KX_BUFFER_SIZE && d == static_cast<double>(static_cast<qint64>(d));
        n = ok ? static_cast<qint64>(d) : -1;
    } else if (v.type() == QVariant::String) {
        n = v.toString().trimmed().toLongLong(&ok, 10);
    } else if (v.canConvert<qint64>() && v.type() != QVariant::Bool) {
        n = v.toLongLong(&ok);
    }
    if (!ok || n < 0 || n > KX_BUFFER_SIZE) {
        answerFailure(cb, 0, QStringLiteral("PARAMSIZE out of range"));
        return false;
    }
    *size = static_cast<int>(n);
    return true;
}

QString hardwareId(const QVariantMap& a) {
    return args::str(a, "HardwareID");
}

quint32 address(const QVariantMap& a) {
    return static_cast<quint32>(bytetext::parseHex(args::str(a, "PARAMADDRESS")));
}

quint32 propertyId(const QVariantMap& a) {
    return static_cast<quint32>(args::integer(a, "PARAMID"));
}

// Zeroes the buffer and fills it from PARAMDATA; when the item count differs from `size`,
// answers the failure (one text for every write) and returns false.
bool takeData(const QVariantMap& a, const RouterCallback& cb, int size, TransferBuffer& buffer) {
    buffer.fill(0);
    const QStringList items = args::str(a, "PARAMDATA").split(QLatin1Char(','));
    if (items.size() != size) {
        answerFailure(cb, 0, QStringLiteral("writeByAddr failed PARAMSIZE not fit PARAMDATA!"));
        return false;
    }
    for (int i = 0; i < size; ++i)
        buffer[static_cast<size_t>(i)] = bytetext::parseByte(items[i]);
    return true;
}

void answerWrite(const RouterCallback& cb, const platform::Result& written, const QString& success,
                 const QString& failure) {
    if (written)
        answerSuccess(cb, success);
    else
        answerFailure(cb, 0, failure);
}

// A read the library refused answers the command's failure: a device that has gone must not
// read as zeros. True when the bytes may be used.
bool readOk(const devices_handler::ReadResult& read, const RouterCallback& cb,
            const QString& failure) {
    if (!read)
        answerFailure(cb, 0, failure);
    return read.ok;
}

bool allZero(const TransferBuffer& buffer) {
    return std::all_of(buffer.begin(), buffer.end(), [](quint8 b) { return b == 0; });
}

void putProductInfo(const QMap<QString, QString>& info, QJsonObject& o) {
    for (const char* key : kProductKeys)
        o.insert(QLatin1String(key), info.value(QLatin1String(key)));
}

} // namespace

void DeviceCommands::getDevicesList(const QVariantMap&, const RouterCallback& cb) {
    const QString failed = QStringLiteral("queryProfile load xml file failed!");
    QJsonArray list;
    const DeviceListBlock block = m_devices.deviceList();
    for (int i = 0; i < block.recordCount(); ++i) {
        const DeviceRecord& r = block.records[i];
        if (!m_config.parsed()) {
            answerFailure(cb, 0, failed);
            return;
        }
        QJsonObject o{{"DeviceID", r.deviceId()},
                      {"Version", r.version()},
                      {"SN", r.sn()},
                      {"MASK", r.mask()},
                      {"DevicePath", r.devicePath()},
                      {"HardwareID", r.hardwareId()}};
        for (const char* key : kProductKeys)
            o.insert(QLatin1String(key), QString());
        if (const auto info = m_config.listedProductInfo(r.deviceId()))
            putProductInfo(*info, o);
        if (!r.deviceId().isEmpty())
            list.append(o);
    }
    for (const UsbDeviceEntry& usb : m_devices.usbDeviceList()) {
        if (!m_config.parsed()) {
            answerFailure(cb, 0, failed);
            return;
        }
        const auto info = m_config.listedProductInfo(usb.vendorId + usb.productId);
        if (!info)
            continue;
        QJsonObject o;
        putProductInfo(*info, o);
        list.append(o);
    }
    answerSuccess(cb, QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact)));
}

void DeviceCommands::readDevicesProp(const QVariantMap& a, const RouterCallback& cb) {
    int size = 0;
    if (!accept(a, cb, {"HardwareID", "DevicePath", "PARAMSIZE", "PARAMID"}, &size))
        return;
    const auto read = m_devices.readProp(hardwareId(a), size, propertyId(a));
    if (readOk(read, cb, QStringLiteral("readDevicesProp failed!")))
        answerSuccess(cb, bytetext::format(read.value.data(), size));
}

void DeviceCommands::writeDevicesProp(const QVariantMap& a, const RouterCallback& cb) {
    int size = 0;
    TransferBuffer buffer;
    if (!accept(a, cb, {"HardwareID", "DevicePath", "PARAMSIZE", "PARAMID", "PARAMDATA"}, &size) ||
        !takeData(a, cb, size, buffer))
        return;
    answerWrite(cb, m_devices.writeProp(hardwareId(a), buffer, size, propertyId(a)),
                QStringLiteral("writeDevicesProp success!"),
                QStringLiteral("writeDevicesProp failed!"));
}

void DeviceCommands::readByAddr(const QVariantMap& a, const RouterCallback& cb) {
    int size = 0;
    if (!accept(a, cb, {"HardwareID", "DevicePath", "PARAMADDRESS", "PARAMSIZE"}, &size))
        return;
    const auto read = m_devices.read(hardwareId(a), size, address(a));
    if (readOk(read, cb, QStringLiteral("readByAddr failed!")))
        answerSuccess(cb, bytetext::format(read.value.data(), size));
}

void DeviceCommands::writeByAddr(const QVariantMap& a, const RouterCallback& cb) {
    int size = 0;
    TransferBuffer buffer;
    if (!accept(a, cb, {"HardwareID", "DevicePath", "PARAMADDRESS", "PARAMSIZE", "PARAMDATA"},
                &size) ||
        !takeData(a, cb, size, buffer))
        return;
    answerWrite(cb, m_devices.write(hardwareId(a), buffer, size, address(a)),
                QStringLiteral("writeByAddr success!"), QStringLiteral("writeByAddr failed!"));
}

void DeviceCommands::isPropEmpty(const QVariantMap& a, const RouterCallback& cb) {
    int size = 0;
    if (!accept(a, cb, {"HardwareID", "DevicePath", "PARAMADDRESS", "PARAMSIZE"}, &size))
        return;
    const auto read = m_devices.read(hardwareId(a), size, address(a));
    if (readOk(read, cb, QStringLiteral("isPropEmpty failed!")))
        answerSuccess(cb, allZero(read.value) ? QStringLiteral("true") : QStringLiteral("false"));
}

void DeviceCommands::cleanMacroByAddr(const QVariantMap& a, const RouterCallback& cb) {
    int size = 0;
    if (!accept(a, cb, {"HardwareID", "DevicePath", "PARAMADDRESS", "PARAMSIZE"}, &size))
        return;
    const TransferBuffer zeros{};
    answerWrite(cb, m_devices.write(hardwareId(a), zeros, size, address(a)),
                QStringLiteral("cleanMacroByAddr success!"),
                QStringLiteral("cleanMacroByAddr failed!"));
}

void DeviceCommands::writeMacroByAddr(const QVariantMap& a, const RouterCallback& cb) {
    int size = 0;
    if (!accept(a, cb, {"HardwareID", "DevicePath", "PARAMADDRESS", "PARAMSIZE", "PARAMDATA"},
                &size))
        return;
    const QString failed = QStringLiteral("writeMacroByAddr failed!");
    const auto read = m_devices.read(hardwareId(a), size, address(a));
    if (!readOk(read, cb, failed))
        return;
    if (!allZero(read.value)) {
        // The area is taken: the page gets its own address text back and nothing is written.
        answerSuccess(cb, args::str(a, "PARAMADDRESS"));
        return;
    }
    TransferBuffer buffer;
    if (!takeData(a, cb, size, buffer))
        return;
    answerWrite(cb, m_devices.write(hardwareId(a), buffer, size, address(a)),
                QStringLiteral("true"), failed);
}
