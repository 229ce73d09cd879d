#include "platform/simcontrol.h"
#include "platform/linux/errors.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform::simcontrol {
namespace {

struct Command {
    std::string usage;
    Handler handler;
};

std::mutex g_commandsMutex;
std::map<std::string, Command>& commands() {
    static std::map<std::string, Command> table;
    return table;
}

std::mutex g_serverMutex;
int g_listenFd = -1;
int g_wakePipe[2] = {-1, -1};
std::thread g_thread;
std::string g_socketPath;

// Requests are single short lines; anything longer is refused rather than buffered.
constexpr size_t kMaxLine = 64 * 1024;

std::vector<std::string> splitWords(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    std::string w;
    while (in >> w)
        words.push_back(w);
    return words;
}

bool fillAddress(const std::string& path, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path)
        return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

void writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            return;
        }
        done += static_cast<size_t>(n);
    }
}

void serveClient(int fd) {
    std::string line;
    char buf[4096];
    while (line.size() <= kMaxLine) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0)
            break; // a silent client does not hold the server up
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        line.append(buf, static_cast<size_t>(n));
        if (line.find('\n') != std::string::npos)
            break;
    }
    std::string answer;
    if (line.size() > kMaxLine)
        answer = "error: request too long";
    else
        answer = run(line.substr(0, line.find('\n')));
    if (answer.empty() || answer.back() != '\n')
        answer += '\n';
    writeAll(fd, answer);
}

void serverLoop(int listenFd, int wakeFd) {
    for (;;) {
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        if (fds[0].revents & POLLIN) {
            const int client = ::accept(listenFd, nullptr, nullptr);
            if (client >= 0) {
                serveClient(client);
                ::close(client);
            }
        }
    }
}

} // namespace

void registerCommand(const std::string& name, const std::string& usage, Handler handler) {
    std::lock_guard<std::mutex> lock(g_commandsMutex);
    commands()[name] = Command{usage, std::move(handler)};
}

void unregisterCommand(const std::string& name) {
    std::lock_guard<std::mutex> lock(g_commandsMutex);
    commands().erase(name);
}

std::string run(const std::string& line) {
    std::vector<std::string> words = splitWords(line);
    if (words.empty() || words[0] == "help") {
        std::lock_guard<std::mutex> lock(g_commandsMutex);
        std::string text = "commands:\n";
        for (const auto& [name, command] : commands())
            text += "  " + command.usage + "\n";
        return text;
    }
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(g_commandsMutex);
        auto it = commands().find(words[0]);
        if (it == commands().end())
            return "error: unknown command '" + words[0] + "' (try help)";
        handler = it->second.handler; // called unlocked: handlers may register commands
    }
    words.erase(words.begin());
    return handler(words);
}

std::string socketPathFor(const std::string& programFolder) {
    std::string path = programFolder + "/simctl.sock";
    if (path.size() < sizeof(sockaddr_un::sun_path))
        return path;
    return "/tmp/tavix-simctl-" + std::to_string(::getuid()) + "-" +
           std::to_string(std::hash<std::string>{}(programFolder)) + ".sock";
}

namespace {
Result systemFailure(const std::string& what) {
    return Result::failure(linux_errors::win32ErrorOf(errno), what);
}
} // namespace

Result startServer(const std::string& socketPath) {
    std::lock_guard<std::mutex> lock(g_serverMutex);
    if (g_listenFd >= 0) {
        if (socketPath == g_socketPath)
            return Result::success();
        return Result::failure(kErrorBusy, "listening at " + g_socketPath + " already");
    }
    sockaddr_un addr{};
    if (!fillAddress(socketPath, addr))
        return Result::failure(kErrorFilenameTooLong, "no local socket name: " + socketPath);
    // A socket file left by a program that died is taken over; a live server is not.
    if (sendLine(socketPath, "help"))
        return Result::failure(kErrorAlreadyExists, "a server listens at " + socketPath);
    ::unlink(socketPath.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return systemFailure("no socket");
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0 ||
        ::pipe2(g_wakePipe, O_CLOEXEC) != 0) {
        const Result failed = systemFailure("cannot listen at " + socketPath);
        ::close(fd);
        return failed;
    }
    g_listenFd = fd;
    g_socketPath = socketPath;
    g_thread = std::thread(serverLoop, fd, g_wakePipe[0]);
    return Result::success();
}

void stopServer() {
    std::lock_guard<std::mutex> lock(g_serverMutex);
    if (g_listenFd < 0)
        return;
    const char byte = 1;
    (void)!::write(g_wakePipe[1], &byte, 1);
    g_thread.join();
    ::close(g_listenFd);
    ::close(g_wakePipe[0]);
    ::close(g_wakePipe[1]);
    ::unlink(g_socketPath.c_str());
    g_listenFd = -1;
    g_wakePipe[0] = g_wakePipe[1] = -1;
    g_socketPath.clear();
}

ResultOf<std::string> sendLine(const std::string& socketPath, const std::string& line) {
    using Answer = ResultOf<std::string>;
    sockaddr_un addr{};
    if (!fillAddress(socketPath, addr))
        return Answer::failure(kErrorFilenameTooLong, "no local socket name: " + socketPath);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Answer::failure(linux_errors::win32ErrorOf(errno), "no socket");
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        const uint32_t code = linux_errors::win32ErrorOf(errno);
        ::close(fd);
        return Answer::failure(code, "nobody listens at " + socketPath);
    }
    writeAll(fd, line + "\n");
    std::string text;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return Answer::success(std::move(text));
}

} // namespace platform::simcontrol
