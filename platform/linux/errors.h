#pragma once

// The Win32 error code for an errno value, so results read the same numbers on every system.

#include <cerrno>
#include <cstdint>

namespace platform::linux_errors {

inline uint32_t win32ErrorOf(int error) {
    switch (error) {
    case ENOENT:
        return 2; // ERROR_FILE_NOT_FOUND
    case ENOTDIR:
        return 3; // ERROR_PATH_NOT_FOUND
    case EMFILE:
        return 4; // ERROR_TOO_MANY_OPEN_FILES
    case EACCES:
    case EPERM:
        return 5; // ERROR_ACCESS_DENIED
    case ENOMEM:
        return 8; // ERROR_NOT_ENOUGH_MEMORY
    case EROFS:
        return 19; // ERROR_WRITE_PROTECT
    case EEXIST:
        return 80; // ERROR_FILE_EXISTS
    case EINVAL:
        return 87; // ERROR_INVALID_PARAMETER
    case ENOSPC:
        return 112; // ERROR_DISK_FULL
    case ENAMETOOLONG:
        return 206; // ERROR_FILENAME_EXCED_RANGE
    case ENOEXEC:
        return 193; // ERROR_BAD_EXE_FORMAT
    case ECONNREFUSED:
        return 1225; // ERROR_CONNECTION_REFUSED
    default:
        return 31; // ERROR_GEN_FAILURE
    }
}

} // namespace platform::linux_errors
