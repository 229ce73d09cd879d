#include "platform/process.h"

#include "platform/backend.h"

namespace platform {
namespace process {

// Defined by the backend the build chose.
Result systemStartDetached(const ProcessStart& start);
Result systemStartWithShell(const ProcessStart& start, bool elevated);

namespace {

class SystemBackend : public Backend {
public:
    Result startDetached(const ProcessStart& start) override { return systemStartDetached(start); }
    Result startWithShell(const ProcessStart& start, bool elevated) override {
        return systemStartWithShell(start, elevated);
    }
};

Backend& systemBackend() {
    static SystemBackend backend;
    return backend;
}

BackendSlot<Backend> g_backend(systemBackend);

} // namespace

void installBackend(Backend* backend) {
    g_backend.install(backend);
}

} // namespace process

Result startDetached(const ProcessStart& start) {
    return process::g_backend.current().startDetached(start);
}

Result startWithShell(const ProcessStart& start, bool elevated) {
    return process::g_backend.current().startWithShell(start, elevated);
}

} // namespace platform
