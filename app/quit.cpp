#include "quit.h"

#include <QCoreApplication>

namespace quit {
namespace {
bool g_requested = false;
bool g_workLeftRunning = false;
} // namespace

void request(int exitCode) {
    if (g_requested)
        return;
    g_requested = true;
    QCoreApplication::exit(exitCode);
}

bool requested() {
    return g_requested;
}

void leaveWorkRunning() {
    g_workLeftRunning = true;
}

bool workLeftRunning() {
    return g_workLeftRunning;
}

} // namespace quit
