#include "quit.h"

#include <QCoreApplication>

namespace quit {
namespace {
bool g_requested = false;
} // namespace

void request() {
    if (g_requested)
        return;
    g_requested = true;
    QCoreApplication::quit();
}

bool requested() {
    return g_requested;
}

} // namespace quit
