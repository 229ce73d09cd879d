#include "bytetext.h"

#include <limits>

namespace bytetext {

namespace {
const char kDigits[] = "0123456789abcdef";

void appendByte(QString& text, quint8 byte) {
    text += QLatin1Char(kDigits[byte >> 4]);
    text += QLatin1Char(kDigits[byte & 0xF]);
}
} // namespace

QString format(const quint8* bytes, int count) {
    QString text;
    if (count <= 0)
        return text;
    text.reserve(count * 5 - 1);
    for (int i = 0; i < count; ++i) {
        if (i)
            text += QLatin1Char(',');
        text += QLatin1String("0x");
        appendByte(text, bytes[i]);
    }
    return text;
}

QString digits(const quint8* bytes, int count) {
    QString text;
    if (count <= 0)
        return text;
    text.reserve(count * 2);
    for (int i = 0; i < count; ++i)
        appendByte(text, bytes[i]);
    return text;
}

namespace {
int hexDigit(QChar c) {
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}
bool isBlank(QChar c) {
    const ushort u = c.unicode();
    return u == ' ' || (u >= '\t' && u <= '\r');
}
} // namespace

qint32 parseHex(const QString& text) {
    int i = 0;
    const int n = text.size();
    while (i < n && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        negative = text[i++] == QLatin1Char('-');
    // "0x" counts as a prefix only when a hex digit follows; "0xg" reads as 0.
    if (i + 2 < n && text[i] == QLatin1Char('0') &&
        (text[i + 1] == QLatin1Char('x') || text[i + 1] == QLatin1Char('X')) &&
        hexDigit(text[i + 2]) >= 0)
        i += 2;
    const qint64 limit = negative ? qint64(std::numeric_limits<qint32>::max()) + 1
                                  : qint64(std::numeric_limits<qint32>::max());
    qint64 value = 0;
    for (; i < n; ++i) {
        const int d = hexDigit(text[i]);
        if (d < 0)
            break;
        value = value * 16 + d;
        if (value > limit)
            value = limit; // saturate, keep consuming digits
    }
    return static_cast<qint32>(negative ? -value : value);
}

quint8 parseByte(const QString& item) {
    return static_cast<quint8>(static_cast<quint32>(parseHex(item)) & 0xFFu);
}

} // namespace bytetext
