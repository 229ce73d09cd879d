// simctl: drives the simulated devices of a running tavix.
//   simctl [--folder DIR | --socket PATH] COMMAND [ARGS...]
// Without --folder or --socket it talks to the program staged beside this executable.
#include "platform/sim/filterdriver.h"
#include "platform/sim/hidbus.h"
#include "platform/sim/keyhook.h"
#include "platform/sim/usb.h"
#include "platform/simcontrol.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

namespace {

std::string ownFolder() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return ".";
    std::string path(buf, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

int usage() {
    std::fprintf(stderr, "usage: simctl [--folder DIR | --socket PATH] COMMAND [ARGS...]\n"
                         "       simctl help    lists the commands of the program\n");
    return 2;
}

// The commands the program takes, from the same registrations the program makes at start, so
// that help works before it runs.
std::string localHelp() {
    platform::hid::sim::registerControlCommands();
    platform::usb::sim::registerControlCommands();
    platform::devio::sim::registerControlCommands();
    platform::keyhook::sim::registerControlCommands();
    return platform::simcontrol::run("help");
}

} // namespace

int main(int argc, char** argv) {
    std::string socket;
    int i = 1;
    for (; i < argc; ++i) {
        if (std::strcmp(argv[i], "--socket") == 0 && i + 1 < argc)
            socket = argv[++i];
        else if (std::strcmp(argv[i], "--folder") == 0 && i + 1 < argc)
            socket = platform::simcontrol::socketPathFor(argv[++i]);
        else if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0)
            return usage();
        else
            break;
    }
    if (socket.empty())
        socket = platform::simcontrol::socketPathFor(ownFolder());
    std::string line;
    for (; i < argc; ++i) {
        if (!line.empty())
            line += ' ';
        line += argv[i];
    }
    if (line.empty())
        line = "help";
    const auto answer = platform::simcontrol::sendLine(socket, line);
    if (!answer && line == "help") {
        std::fputs(localHelp().c_str(), stdout);
        std::printf("(no running tavix listens at %s; start it with scripts/run)\n",
                    socket.c_str());
        return 0;
    }
    if (!answer) {
        std::fprintf(stderr,
                     "simctl: no running tavix listens at %s (start it with scripts/run; "
                     "simctl help lists the commands)\n",
                     socket.c_str());
        return 1;
    }
    std::fputs(answer.value.c_str(), stdout);
    return answer.value.rfind("error:", 0) == 0 ? 1 : 0;
}
