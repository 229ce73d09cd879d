#include "platform/inputdevices.h"

#include "platform/linux/evdevnode.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace platform::inputdevices {
namespace {

constexpr uint32_t kErrorAccessDenied = 5;
constexpr char kUhidPath[] = "/dev/uhid";

// What keeps a device file from being written, or nothing.
std::string writeProblem(const char* path, const char* module) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return std::string();
    }
    if (errno == ENOENT || errno == ENODEV || errno == ENXIO)
        return std::string("there is no ") + path + " (the kernel module " + module +
               " is not loaded)";
    return std::string("no write access to ") + path + " (" + std::strerror(errno) + ")";
}

std::string readProblem() {
    DIR* d = ::opendir(evdev::kInputDirectory);
    if (!d)
        return std::string("no access to ") + evdev::kInputDirectory + " (" + std::strerror(errno) +
               ")";
    ::closedir(d);
    const auto nodes = evdev::eventNodes();
    int denied = 0;
    for (const std::string& node : nodes) {
        const int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            return std::string();
        }
        if (errno == EACCES || errno == EPERM)
            ++denied;
    }
    return denied ? std::string("no read access to ") + evdev::kInputDirectory + "/event*"
                  : std::string();
}

Choice decide() {
    const char* asked = std::getenv("TAVIX_INPUT");
    const std::string wanted = asked ? asked : "";
    Choice c;
    if (wanted == "sim")
        return c;
    const Result access = systemAccess();
    if (wanted == "linux" || access.ok)
        c.source = Source::System;
    if (!access.ok)
        c.problem = access.text;
    return c;
}

} // namespace

Result systemAccess() {
    std::string missing; // what is missing, as "no access to ...; there is no ..."
    for (const std::string& problem : {readProblem(), writeProblem(evdev::kUinputPath, "uinput"),
                                       writeProblem(kUhidPath, "uhid")}) {
        if (problem.empty())
            continue;
        missing += (missing.empty() ? "" : "; ") + problem;
    }
    if (missing.empty())
        return Result::success();
    return Result::failure(
        kErrorAccessDenied,
        missing + ". To use the real ones: install the udev rules of the tavix package "
                  "(60-tavix.rules: the group \"input\" reads /dev/input/event* and uses "
                  "/dev/uinput and /dev/uhid), add yourself to that group (sudo adduser $USER "
                  "input) and log in again.");
}

const Choice& choice() {
    static const Choice chosen = decide();
    return chosen;
}

} // namespace platform::inputdevices
