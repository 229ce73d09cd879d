#include "platform/linux/errors.h"
#include "platform/process_native_p.h"

#include <cerrno>
#include <cstring>
#include <spawn.h>

extern char** environ;

namespace platform::process {

Result native::SystemBackend::startDetached(const ProcessStart& start) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(start.program.c_str()));
    for (const std::string& a : start.arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!start.workingDirectory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, start.workingDirectory.c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Its own session, so it outlives us and our terminal.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);

    pid_t pid = 0;
    const int rc = posix_spawn(&pid, start.program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc == 0)
        return Result::success();
    return Result::failure(linux_errors::win32ErrorOf(rc),
                           std::string("cannot start ") + start.program + ": " + std::strerror(rc));
}

Result native::SystemBackend::startWithShell(const ProcessStart& start, bool /*elevated*/) {
    return startDetached(start);
}

} // namespace platform::process

namespace platform {

const char* programSuffix() {
    return "";
}

} // namespace platform
