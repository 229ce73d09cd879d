#pragma once

#include <QByteArray>

// The one-call LZMA codec that packages use: a raw LZMA1 stream with a 5-byte properties header
// kept apart from the stream and the uncompressed size stored elsewhere. Result codes follow the
// classic one-call codec so that log lines keep their meaning.
namespace lzmacodec {

enum Result {
    Ok = 0,
    ErrorData = 1,
    ErrorMem = 2,
    ErrorUnsupported = 4,
    ErrorParam = 5,
    ErrorInputEof = 6,
};

constexpr int kPropsSize = 5;

struct EncoderSettings {
    int lc = 3;
    int lp = 0;
    int pb = 2;
    quint32 dictSize = 1u << 24;
    int fastBytes = 32;
    int level = 5;
};

// Compresses `in` into `out` (replacing it) and writes the 5 property bytes to `props`.
// No end marker is written: the reader must know the size.
int compress(const QByteArray& in, QByteArray* out, QByteArray* props,
             const EncoderSettings& settings = EncoderSettings());

// Decompresses exactly `outSize` bytes into `out` (resized to `outSize`). An end marker right
// after the last byte is accepted; a stream that ends early or is damaged is an error.
int uncompress(const char* props, const char* src, size_t srcLen, size_t outSize, QByteArray* out);

} // namespace lzmacodec
