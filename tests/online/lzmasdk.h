#pragma once

#include <QByteArray>

// The LZMA SDK's one-call codec, compiled from the SDK sources Debian ships, to prove that our
// streams interoperate with it both ways.
namespace lzmasdk {

// Returns the SDK result (0 = ok); `props` gets the 5 property bytes.
int encode(const QByteArray& in, bool endMarker, QByteArray* out, QByteArray* props);
int decode(const QByteArray& props, const QByteArray& in, int outSize, QByteArray* out);

} // namespace lzmasdk
