#include "platform/priority.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <sys/resource.h>

namespace platform::priority {
namespace {

constexpr int kHighNice = -10;
constexpr uint32_t kErrorAccessDenied = 5;

class PosixBackend : public Backend {
public:
    Result raiseProcessPriority() override {
        if (::setpriority(PRIO_PROCESS, 0, kHighNice) == 0)
            return Result::success();
        const int error = errno;
        return Result::failure(kErrorAccessDenied,
                               std::string("setpriority failed: ") + std::strerror(error));
    }
};

} // namespace

Backend& systemBackend() {
    static PosixBackend backend;
    return backend;
}

} // namespace platform::priority
