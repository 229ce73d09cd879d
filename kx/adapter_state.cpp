// The state file that keeps one device's memory, properties and firmware version.
#include "adapter_p.h"
#include "firmware.h"

#include <QFile>
#include <QSaveFile>

#include <cstdio>

namespace kx {

namespace {

constexpr char kStateMagic[4] = {'K', 'X', 'S', '1'};

void appendLe32(QByteArray& out, uint32_t v) {
    uint8_t b[4];
    putLe32(b, v);
    out.append(reinterpret_cast<const char*>(b), 4);
}

} // namespace

// State file: "KXS1", memory size, memory, property count and (id, length, bytes) each,
// firmware version (length, bytes), then the CRC-32 of everything before it.
void Adapter::loadState(Device& d) {
    QFile file(d.statePath);
    if (!file.open(QIODevice::ReadOnly))
        return; // a new device: blank memory, properties from the configuration
    // Larger than the largest state a device can have: damaged, and not worth reading whole.
    constexpr qint64 kMaxState = 4 + 4 + qint64(kMaxMemory) + 4 +
                                 (Adapter::kMaxProp + 1) * (8 + KX_BUFFER_SIZE) + 4 + 16 + 4;
    const bool tooLarge = file.size() > kMaxState;
    const QByteArray all = tooLarge ? QByteArray() : file.readAll();
    const auto* p = reinterpret_cast<const uint8_t*>(all.constData());
    const size_t n = static_cast<size_t>(all.size());
    bool ok =
        n >= 16 && std::memcmp(p, kStateMagic, 4) == 0 && crc32(p, n - 4) == getLe32(p + n - 4);
    size_t at = 4;
    auto take32 = [&](uint32_t* v) {
        if (!ok || at + 4 > n - 4)
            return ok = false;
        *v = getLe32(p + at);
        at += 4;
        return true;
    };
    uint32_t size = 0, count = 0, len = 0;
    std::vector<uint8_t> memory;
    std::map<uint32_t, std::vector<uint8_t>> props;
    std::string version;
    if (take32(&size) && size <= n - 4 - at) {
        memory.assign(p + at, p + at + size);
        at += size;
    } else {
        ok = false;
    }
    if (take32(&count)) {
        for (uint32_t i = 0; ok && i < count; ++i) {
            uint32_t id = 0;
            if (take32(&id) && take32(&len) && id <= kMaxProp && len <= KX_BUFFER_SIZE &&
                len <= n - 4 - at) {
                props[id].assign(p + at, p + at + len);
                at += len;
            } else {
                ok = false;
            }
        }
    }
    if (take32(&len) && len <= 16 && len <= n - 4 - at)
        version.assign(reinterpret_cast<const char*>(p + at), len);
    else
        ok = false;
    if (!ok) {
        // Keep the damaged file for inspection instead of overwriting it with a blank device;
        // one damaged earlier keeps its own copy.
        QString aside = d.statePath + ".bad";
        for (int n = 2; QFile::exists(aside) && n <= 99; ++n)
            aside = d.statePath + ".bad." + QString::number(n);
        QFile::remove(aside); // only when 99 copies are kept already
        file.close();
        const std::string why = tooLarge ? "is larger than " + std::to_string(kMaxState) +
                                               " bytes, more than any device's state,"
                                         : std::string("is damaged");
        if (QFile::rename(d.statePath, aside))
            std::fprintf(stderr, "kx: %s %s; moved to %s, device starts blank\n",
                         qPrintable(d.statePath), why.c_str(), qPrintable(aside));
        else
            std::fprintf(stderr, "kx: %s %s and cannot be moved; device starts blank\n",
                         qPrintable(d.statePath), why.c_str());
        return;
    }
    // A changed MemorySize keeps what fits.
    std::copy_n(memory.begin(), std::min<size_t>(memory.size(), d.memory.size()), d.memory.begin());
    d.props = std::move(props);
    if (!version.empty())
        d.version = version;
}

bool Adapter::saveState(const Device& d) {
    QByteArray out;
    out.reserve(static_cast<int>(d.memory.size()) + 64);
    out.append(kStateMagic, 4);
    appendLe32(out, static_cast<uint32_t>(d.memory.size()));
    out.append(reinterpret_cast<const char*>(d.memory.data()), static_cast<int>(d.memory.size()));
    appendLe32(out, static_cast<uint32_t>(d.props.size()));
    for (const auto& [id, bytes] : d.props) {
        appendLe32(out, id);
        appendLe32(out, static_cast<uint32_t>(bytes.size()));
        out.append(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
    }
    const std::string version = d.version.substr(0, 16);
    appendLe32(out, static_cast<uint32_t>(version.size()));
    out.append(version.data(), static_cast<int>(version.size()));
    appendLe32(out, crc32(reinterpret_cast<const uint8_t*>(out.constData()),
                          static_cast<size_t>(out.size())));
    // The old file stays whole until the new one is complete and flushed to disk.
    QSaveFile file(d.statePath);
    return file.open(QIODevice::WriteOnly) && file.write(out) == out.size() && file.commit();
}

} // namespace kx
