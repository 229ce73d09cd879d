// The Win32 process backend under Wine: detached and shell starts, and their failures.
#include "platform/process.h"
#include "tests/platform/win32/check.h"

#include <windows.h>

#include <string>

namespace {

std::string tempFolder() {
    char buffer[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, buffer);
    std::string folder =
        std::string(buffer) + "tavix-process-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

bool waitForFile(const std::string& path) {
    for (int i = 0; i < 200; ++i) {
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            return true;
        Sleep(50);
    }
    return false;
}

std::string cmd() {
    char buffer[MAX_PATH + 1] = {};
    GetSystemDirectoryA(buffer, MAX_PATH);
    return std::string(buffer) + "\\cmd.exe";
}

void detachedStartRunsInWorkingFolder() {
    const std::string folder = tempFolder();
    platform::ProcessStart start{cmd(), {"/c", "echo started> detached.txt"}, folder};
    const platform::Result r = platform::startDetached(start);
    CHECK(r.ok);
    CHECK(r.text.empty());
    CHECK(waitForFile(folder + "\\detached.txt"));
}

void shellStartRunsInWorkingFolder() {
    const std::string folder = tempFolder();
    platform::ProcessStart start{cmd(), {"/c", "echo shell> shell.txt"}, folder};
    const platform::Result r = platform::startWithShell(start, false);
    CHECK(r.ok);
    CHECK(r.code == 0);
    CHECK(waitForFile(folder + "\\shell.txt"));
}

void missingProgramIsReported() {
    platform::ProcessStart start{"C:\\no\\such\\Updater.exe", {"-update"}, ""};
    const platform::Result detached = platform::startDetached(start);
    CHECK(!detached.ok);
    CHECK(detached.code != 0);
    CHECK(!detached.text.empty());
    const platform::Result shell = platform::startWithShell(start, false);
    CHECK(!shell.ok);
    CHECK(shell.code <= 32);
    CHECK(!shell.text.empty());
}

} // namespace

int main() {
    RUN(detachedStartRunsInWorkingFolder);
    RUN(shellStartRunsInWorkingFolder);
    RUN(missingProgramIsReported);
    return finish();
}
