#include "platform/autostart.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::autostart {
namespace {

// Creates every missing folder of `path` (an absolute path).
bool makeFolders(const std::string& path) {
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/')
            continue;
        const std::string part = path.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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
void writeEntry(const std::string& path, const std::string& text) {
    const std::string folder = path.substr(0, path.rfind('/'));
    if (!makeFolders(folder))
        return;
    std::string temp = folder + "/.tavix.desktop.XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return;
    const bool ok = writeAll(fd, text) && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !ok || ::rename(temp.c_str(), path.c_str()) != 0)
        ::unlink(temp.c_str());
}

class LinuxBackend : public Backend {
public:
    void setEnabled(const std::string& programFolder, bool on) override {
        const std::string path = desktopEntryPath();
        if (path.empty())
            return;
        if (!on) {
            ::unlink(path.c_str());
            return;
        }
        writeEntry(path, "[Desktop Entry]\n"
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
