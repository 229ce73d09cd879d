#include "input/reportmsg.h"

#include "platform/windows.h"

void reportMsg(const QString& text) {
    const auto window = platform::windows::windowUnderCursor();
    if (!window)
        return;
    platform::windows::postCharacters(
        window.value,
        std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), size_t(text.size())));
}
