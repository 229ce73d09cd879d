#include "platform/autostart.h"
#include "platform/linux/errors.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::autostart {
namespace {

Result failure(int error, const std::string& what) {
    return Result::failure(linux_errors::win32ErrorOf(error), what);
}

// Creates every missing folder of `path` (an absolute path).
Result makeFolders(const std::string& path) {
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/')
            continue;
        const std::string part = path.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return failure(errno, "cannot create " + part);
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return failure(errno, "cannot create " + path);
    if (!S_ISDIR(st.st_mode))
        return failure(ENOTDIR, path + " is not a folder");
    return Result::success();
}

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The entry is replaced as a whole, so a session starting meanwhile never reads half of it.
Result writeEntry(const std::string& path, const std::string& text) {
    const std::string folder = path.substr(0, path.rfind('/'));
    if (Result made = makeFolders(folder); !made)
        return made;
    std::string temp = folder + "/.tavix.desktop.XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return failure(errno, "cannot create a file in " + folder);
    const bool written = writeAll(fd, text) && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
    int error = written ? 0 : (errno ? errno : EIO);
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && ::rename(temp.c_str(), path.c_str()) != 0)
        error = errno;
    if (!error)
        return Result::success();
    ::unlink(temp.c_str());
    return failure(error, "cannot write " + path);
}

class LinuxBackend : public Backend {
public:
    Result setEnabled(const std::string& programFolder, bool on) override {
        const std::string path = desktopEntryPath();
        if (path.empty())
            return failure(ENOENT, "neither XDG_CONFIG_HOME nor HOME is known");
        if (!on) {
            // No entry there, or no folder for one: off already.
            if (::unlink(path.c_str()) != 0 && errno != ENOENT && errno != ENOTDIR)
                return failure(errno, "cannot remove " + path);
            return Result::success();
        }
        return writeEntry(path, "[Desktop Entry]\n"
                                "Type=Application\n"
                                "Name=tavix\n"
                                "Exec=" +
                                    desktopExec(programFolder) +
                                    "\n"
                                    "Terminal=false\n");
    }

    bool isEnabled(const std::string&) override {
        const std::string path = desktopEntryPath();
        struct stat st {};
        return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    }
};

} // namespace

Backend& systemBackend() {
    static LinuxBackend backend;
    return backend;
}

} // namespace platform::autostart
