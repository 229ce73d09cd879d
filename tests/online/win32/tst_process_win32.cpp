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
    const platform::ProcessResult r = platform::startDetached(start);
    CHECK(r.started);
    CHECK(r.error.empty());
    CHECK(waitForFile(folder + "\\detached.txt"));
}

void shellStartRunsInWorkingFolder() {
    const std::string folder = tempFolder();
    platform::ProcessStart start{cmd(), {"/c", "echo shell> shell.txt"}, folder};
    const platform::ProcessResult r = platform::startWithShell(start, false);
    CHECK(r.started);
    CHECK(r.code > 32);
    CHECK(waitForFile(folder + "\\shell.txt"));
}

void missingProgramIsReported() {
    platform::ProcessStart start{"C:\\no\\such\\Updater.exe", {"-update"}, ""};
    const platform::ProcessResult detached = platform::startDetached(start);
    CHECK(!detached.started);
    CHECK(detached.code != 0);
    CHECK(!detached.error.empty());
    const platform::ProcessResult shell = platform::startWithShell(start, false);
    CHECK(!shell.started);
    CHECK(shell.code <= 32);
    CHECK(!shell.error.empty());
}

} // namespace

int main() {
    RUN(detachedStartRunsInWorkingFolder);
    RUN(shellStartRunsInWorkingFolder);
    RUN(missingProgramIsReported);
    return finish();
}
