#pragma once

#include <QString>
#include <QtGlobal>

// Bytes as the page exchanges them: "0x" and two lower-case hex digits per byte, joined by ",".
namespace bytetext {

// "0x01,0xa0,0xff"; a count of 0 gives "".
QString format(const quint8* bytes, int count);

// "01a0ff": two lower-case hex digits per byte, nothing between; a count of 0 gives "".
QString digits(const quint8* bytes, int count);

// The C library's base-16 conversion with a 32-bit long: leading blanks, an optional sign, an
// optional "0x", then hex digits up to the first other character; no digits gives 0; values
// beyond the range saturate.
qint32 parseHex(const QString& text);

// One item of a byte list: its base-16 value's low 8 bits; an empty item is 0.
quint8 parseByte(const QString& item);

} // namespace bytetext
