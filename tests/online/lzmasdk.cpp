#include "lzmasdk.h"

extern "C" {
#include <lzma/LzmaDec.h>
#include <lzma/LzmaEnc.h>
}

#include <cstdlib>

namespace lzmasdk {
namespace {

void* sdkAlloc(void*, size_t size) {
    return std::malloc(size);
}
void sdkFree(void*, void* address) {
    std::free(address);
}
ISzAlloc g_alloc = {sdkAlloc, sdkFree};

} // namespace

int encode(const QByteArray& in, bool endMarker, QByteArray* out, QByteArray* props) {
    CLzmaEncProps p;
    LzmaEncProps_Init(&p);
    p.level = 5;
    p.dictSize = 1u << 24;
    p.lc = 3;
    p.lp = 0;
    p.pb = 2;
    p.fb = 32;
    p.numThreads = 1;
    QByteArray buffer(in.size() + in.size() / 2 + 4096, '\0');
    SizeT destLen = static_cast<SizeT>(buffer.size());
    unsigned char propsBuf[5];
    SizeT propsSize = 5;
    const int r =
        LzmaEncode(reinterpret_cast<Byte*>(buffer.data()), &destLen,
                   reinterpret_cast<const Byte*>(in.constData()), static_cast<SizeT>(in.size()), &p,
                   propsBuf, &propsSize, endMarker ? 1 : 0, nullptr, &g_alloc, &g_alloc);
    if (r == SZ_OK) {
        buffer.truncate(static_cast<int>(destLen));
        *out = buffer;
        *props = QByteArray(reinterpret_cast<const char*>(propsBuf), 5);
    }
    return r;
}

int decode(const QByteArray& props, const QByteArray& in, int outSize, QByteArray* out) {
    QByteArray buffer(outSize, '\0');
    SizeT destLen = static_cast<SizeT>(outSize);
    SizeT srcLen = static_cast<SizeT>(in.size());
    ELzmaStatus status;
    const int r = LzmaDecode(reinterpret_cast<Byte*>(buffer.data()), &destLen,
                             reinterpret_cast<const Byte*>(in.constData()), &srcLen,
                             reinterpret_cast<const Byte*>(props.constData()), 5, LZMA_FINISH_ANY,
                             &status, &g_alloc);
    buffer.truncate(static_cast<int>(destLen));
    *out = buffer;
    return r;
}

} // namespace lzmasdk
