#pragma once

// UTF-8 <-> UTF-16 for the Win32 backends (the layer's strings are UTF-8).

#include <string>

#include <windows.h>

namespace platform::win32 {

inline std::wstring widen(const std::string& text) {
    if (text.empty())
        return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0)
        return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

} // namespace platform::win32
