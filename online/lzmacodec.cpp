#include "lzmacodec.h"

#include <lzma.h>

#include <algorithm>
#include <cstring>

namespace lzmacodec {
namespace {

int mapError(lzma_ret r) {
    switch (r) {
    case LZMA_MEM_ERROR:
    case LZMA_MEMLIMIT_ERROR:
        return ErrorMem;
    case LZMA_OPTIONS_ERROR:
        return ErrorUnsupported;
    case LZMA_BUF_ERROR:
        return ErrorInputEof;
    case LZMA_PROG_ERROR:
        return ErrorParam;
    default:
        return ErrorData;
    }
}

} // namespace

int compress(const QByteArray& in, QByteArray* out, QByteArray* props,
             const EncoderSettings& settings) {
    lzma_options_lzma opt;
    if (lzma_lzma_preset(&opt, static_cast<uint32_t>(settings.level)))
        return ErrorParam;
    opt.dict_size = settings.dictSize;
    opt.lc = static_cast<uint32_t>(settings.lc);
    opt.lp = static_cast<uint32_t>(settings.lp);
    opt.pb = static_cast<uint32_t>(settings.pb);
    opt.nice_len = static_cast<uint32_t>(settings.fastBytes);
    opt.mode = LZMA_MODE_NORMAL;
    opt.mf = LZMA_MF_BT4;
    opt.ext_flags = 0; // no end marker
    lzma_set_ext_size(opt, static_cast<uint64_t>(in.size()));

    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream strm = LZMA_STREAM_INIT;
    lzma_ret r = lzma_raw_encoder(&strm, filters);
    if (r != LZMA_OK)
        return mapError(r);

    // Incompressible input grows a little; this bound is generous.
    QByteArray buffer(in.size() + in.size() / 2 + 65536, Qt::Uninitialized);
    strm.next_in = reinterpret_cast<const uint8_t*>(in.constData());
    strm.avail_in = static_cast<size_t>(in.size());
    strm.next_out = reinterpret_cast<uint8_t*>(buffer.data());
    strm.avail_out = static_cast<size_t>(buffer.size());
    r = lzma_code(&strm, LZMA_FINISH);
    const size_t produced = strm.total_out;
    lzma_end(&strm);
    if (r != LZMA_STREAM_END)
        return mapError(r);
    buffer.truncate(static_cast<int>(produced));
    *out = buffer;

    props->resize(kPropsSize);
    (*props)[0] = static_cast<char>((settings.pb * 5 + settings.lp) * 9 + settings.lc);
    for (int i = 0; i < 4; ++i)
        (*props)[1 + i] = static_cast<char>((settings.dictSize >> (8 * i)) & 0xFF);
    return Ok;
}

int uncompress(const char* props, const char* src, size_t srcLen, size_t outSize, QByteArray* out) {
    const auto* p = reinterpret_cast<const unsigned char*>(props);
    unsigned d = p[0];
    if (d >= 9 * 5 * 5)
        return ErrorUnsupported;
    lzma_options_lzma opt;
    std::memset(&opt, 0, sizeof opt);
    opt.lc = d % 9;
    d /= 9;
    opt.lp = d % 5;
    opt.pb = d / 5;
    uint32_t dict = static_cast<uint32_t>(p[1]) | static_cast<uint32_t>(p[2]) << 8 |
                    static_cast<uint32_t>(p[3]) << 16 | static_cast<uint32_t>(p[4]) << 24;
    // The window never needs to exceed the output; a hostile header must not make us allocate
    // gigabytes for a small payload.
    const uint64_t window = outSize < 4096 ? 4096 : outSize;
    if (dict > window)
        dict = static_cast<uint32_t>(window);
    if (dict < 4096)
        dict = 4096;
    opt.dict_size = dict;
    opt.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    lzma_set_ext_size(opt, static_cast<uint64_t>(outSize));

    if (outSize > static_cast<size_t>(INT32_MAX))
        return ErrorMem;
    out->clear();
    if (outSize == 0)
        return Ok;

    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream strm = LZMA_STREAM_INIT;
    lzma_ret r = lzma_raw_decoder(&strm, filters);
    if (r != LZMA_OK)
        return mapError(r);
    // The stated size is only a claim: the output grows as the stream really delivers, so a
    // short hostile file cannot make us reserve the whole stated size up front.
    const size_t firstGuess = srcLen < (size_t(1) << 28) ? srcLen * 8 : outSize;
    size_t capacity = std::min(outSize, std::max<size_t>(size_t(1) << 20, firstGuess));
    out->resize(static_cast<int>(capacity));
    strm.next_in = reinterpret_cast<const uint8_t*>(src);
    strm.avail_in = srcLen;
    // A second call without progress is how a truncated stream shows itself (buffer error).
    for (;;) {
        strm.next_out = reinterpret_cast<uint8_t*>(out->data()) + strm.total_out;
        strm.avail_out = capacity - static_cast<size_t>(strm.total_out);
        r = lzma_code(&strm, LZMA_FINISH);
        if (r != LZMA_OK)
            break;
        if (strm.avail_out == 0 && capacity < outSize) {
            capacity = capacity > outSize / 2 ? outSize : capacity * 2;
            out->resize(static_cast<int>(capacity));
        }
    }
    const uint64_t produced = strm.total_out;
    lzma_end(&strm);
    if (r == LZMA_STREAM_END && produced == outSize)
        return Ok;
    out->clear();
    if (r == LZMA_STREAM_END)
        return ErrorData; // ended before the stated size
    return mapError(r);
}

} // namespace lzmacodec
