#include "platform/autostart.h"

#include "platform/backend.h"

#include <cstdlib>

namespace platform::autostart {

namespace {
BackendSlot<Backend> g_backend(systemBackend);

// Desktop Entry quoting: inside double quotes, '"', '`', '$' and '\' take a backslash.
std::string quoteArgument(const std::string& arg) {
    std::string out = "\"";
    for (char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

// The Exec value is also a string value: '\' and control characters are escaped once more,
// and '%' introduces field codes, so a literal one is doubled.
std::string escapeStringValue(const std::string& value) {
    std::string out;
    for (char c : value) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '%':
            out += "%%";
            break;
        default:
            out += c;
        }
    }
    return out;
}
} // namespace

void installBackend(Backend* backend) {
    g_backend.install(backend);
}

Result setEnabled(const std::string& programFolder, bool on) {
    return g_backend->setEnabled(programFolder, on);
}

bool isEnabled(const std::string& programFolder) {
    return g_backend->isEnabled(programFolder);
}

std::string windowsCommandLine(const std::string& programFolder) {
    std::string path = programFolder + "/tavix.exe";
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return "\"" + path + "\" -autostart";
}

std::string desktopExec(const std::string& programFolder) {
    return escapeStringValue(quoteArgument(programFolder + "/tavix") + " -autostart");
}

std::string desktopEntryPath() {
    // A relative XDG_CONFIG_HOME is invalid and must be ignored.
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/')
            return {};
        base = std::string(home) + "/.config";
    }
    return base + "/autostart/tavix.desktop";
}

} // namespace platform::autostart
