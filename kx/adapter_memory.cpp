// The normal-mode calls that move bytes: memory, properties and the device's own output.
#include "adapter_p.h"

#include <cstdio>

namespace kx {

namespace {

// Data reports waiting for the data callback: 32 KiB, sixteen of the largest kxScriptOut calls.
constexpr size_t kMaxQueuedReports = 4096;

} // namespace

int Adapter::read(const kxchar* id, const kxchar* sub, uint32_t key, uint8_t* buffer, int count,
                  uint32_t address) {
    Session s = openTransfer(id, sub, key, buffer, count, Target::memory, address);
    if (!s.device)
        return s.error;
    std::memcpy(buffer, s.device->memory.data() + address, static_cast<size_t>(count));
    return KX_OK;
}

int Adapter::write(const kxchar* id, const kxchar* sub, uint32_t key, const uint8_t* buffer,
                   int count, uint32_t address) {
    Session s = openTransfer(id, sub, key, buffer, count, Target::memory, address);
    if (!s.device)
        return s.error;
    if (count == 0)
        return KX_OK;
    uint8_t* at = s.device->memory.data() + address;
    const std::vector<uint8_t> before(at, at + count);
    std::memcpy(at, buffer, static_cast<size_t>(count));
    if (!saveState(*s.device)) {
        std::memcpy(at, before.data(), before.size());
        return KX_E_STORAGE;
    }
    return KX_OK;
}

int Adapter::readProp(const kxchar* id, const kxchar* sub, uint32_t key, uint8_t* buffer, int count,
                      uint32_t prop) {
    Session s = openTransfer(id, sub, key, buffer, count, Target::property, prop);
    if (!s.device)
        return s.error;
    // A property reads back what was last written, zero beyond it.
    std::memset(buffer, 0, static_cast<size_t>(count));
    auto it = s.device->props.find(prop);
    if (it != s.device->props.end())
        std::memcpy(buffer, it->second.data(),
                    std::min(it->second.size(), static_cast<size_t>(count)));
    return KX_OK;
}

int Adapter::writeProp(const kxchar* id, const kxchar* sub, uint32_t key, const uint8_t* buffer,
                       int count, uint32_t prop) {
    Session s = openTransfer(id, sub, key, buffer, count, Target::property, prop);
    if (!s.device)
        return s.error;
    auto& props = s.device->props;
    auto it = props.find(prop);
    const bool had = it != props.end();
    const std::vector<uint8_t> before = had ? it->second : std::vector<uint8_t>();
    props[prop].assign(buffer, buffer + count);
    if (!saveState(*s.device)) {
        if (had)
            props[prop] = before;
        else
            props.erase(prop);
        return KX_E_STORAGE;
    }
    return KX_OK;
}

int Adapter::scriptOut(const kxchar* id, const kxchar* sub, uint32_t key, const uint8_t* buffer,
                       int count) {
    Session s = openTransfer(id, sub, key, buffer, count);
    if (!s.device)
        return s.error;
    if (!s.device->dataCallback)
        return KX_OK; // nobody listens: the device's output is lost, as on the wire
    // The device sends its output back as 8-byte reports; the last one is padded with zeros.
    // A data callback that falls behind loses the oldest reports, as a full device buffer
    // would, rather than letting the queue grow without end.
    int dropped = 0;
    for (int at = 0; at < count; at += 8) {
        if (m_pendingReports >= kMaxQueuedReports) {
            const auto oldest = std::find_if(m_pending.begin(), m_pending.end(),
                                             [](const Pending& q) { return q.data; });
            m_pending.erase(oldest);
            --m_pendingReports;
            ++dropped;
        }
        Pending p;
        p.data = true;
        p.callback = s.device->dataCallback;
        std::memcpy(p.bytes, buffer + at, static_cast<size_t>(std::min(8, count - at)));
        m_pending.push_back(p);
        ++m_pendingReports;
    }
    if (dropped > 0) {
        m_droppedReports += static_cast<unsigned long long>(dropped);
        std::fprintf(stderr,
                     "kx: data callback behind; dropped the %d oldest reports (%llu in all)\n",
                     dropped, m_droppedReports);
    }
    m_wake.notify_all();
    return KX_OK;
}

} // namespace kx
