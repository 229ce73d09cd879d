// The byte text of the device commands. The input is taken as a request's text item: its number
// must be what the C library's base-16 conversion with a 32-bit long gives (the reference the
// page's values were written against), and bytes formatted as byte text must read back as the
// same bytes.
#include "device/bytetext.h"

#include <QStringList>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

[[noreturn]] void broken(const char* rule, const QByteArray& text) {
    std::fprintf(stderr, "fuzz: %s: \"%s\"\n", rule, text.constData());
    std::abort();
}

// strtol with a 32-bit long: the 64-bit conversion, saturated to 32 bits.
qint32 reference(const QByteArray& text) {
    const long long value = std::strtoll(text.constData(), nullptr, 16);
    if (value > std::numeric_limits<qint32>::max())
        return std::numeric_limits<qint32>::max();
    if (value < std::numeric_limits<qint32>::min())
        return std::numeric_limits<qint32>::min();
    return qint32(value);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray raw(reinterpret_cast<const char*>(data), int(size));
    const QString text = QString::fromUtf8(raw);
    const QByteArray utf8 = text.toUtf8();
    const qint32 value = bytetext::parseHex(text);
    if (value != reference(utf8))
        broken("parseHex differs from the C library", utf8);
    if (bytetext::parseByte(text) != quint8(quint32(value) & 0xFFu))
        broken("parseByte is not the low byte of parseHex", utf8);

    const QString formatted = bytetext::format(data, int(size));
    const QStringList items = formatted.split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (items.size() != int(size))
        broken("format gives another count of items", raw.toHex());
    for (int i = 0; i < items.size(); ++i) {
        if (items[i].size() != 4 || bytetext::parseByte(items[i]) != data[i])
            broken("a formatted byte does not read back", raw.toHex());
    }
    return 0;
}
