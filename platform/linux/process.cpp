#include "platform/linux/errors.h"
#include "platform/process_native_p.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <spawn.h>
#include <sys/file.h>
#include <unistd.h>

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

ResultOf<bool> native::SystemBackend::claimInstance(const std::string& name) {
    // The open lock files, kept for the process's life: the kernel drops the lock with the last
    // descriptor, however the process ends.
    static std::mutex lock;
    static std::map<std::string, int> held; // by path
    std::lock_guard<std::mutex> guard(lock);
    const char* temp = std::getenv("TMPDIR");
    const std::string path = std::string(temp && *temp ? temp : "/tmp") + "/" + name + ".lock";
    if (held.count(path))
        return ResultOf<bool>::success(true);
    // Not through a link someone else put in a shared folder.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        const int error = errno;
        return ResultOf<bool>::failure(linux_errors::win32ErrorOf(error),
                                       "cannot open " + path + ": " + std::strerror(error));
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return ResultOf<bool>::success(false);
        return ResultOf<bool>::failure(linux_errors::win32ErrorOf(error),
                                       "cannot lock " + path + ": " + std::strerror(error));
    }
    held[path] = fd;
    return ResultOf<bool>::success(true);
}

} // namespace platform::process

namespace platform {

const char* programSuffix() {
    return "";
}

} // namespace platform
