#include "input/reportmsg.h"

#include "platform/windowtext.h"

void reportMsg(const QString& text) {
    const std::uintptr_t window = platform::windows::windowUnderCursor();
    if (!window)
        return;
    platform::windows::postCharacters(
        window,
        std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), size_t(text.size())));
}
