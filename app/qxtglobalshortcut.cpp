#include "qxtglobalshortcut.h"

#include "platform/hotkeys.h"

#include <QAbstractEventDispatcher>
#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>

namespace hk = platform::hotkeys;

namespace {

// Feeds the hotkey layer from the event loop: the hotkey connection's descriptor (X11) and the
// native messages of the GUI thread (Win32). One for the whole process, made on first use.
class HotkeyPump : public QObject, public QAbstractNativeEventFilter {
public:
    static HotkeyPump& instance() {
        static HotkeyPump* pump = new HotkeyPump;
        return *pump;
    }

    // After the layer talked to the system, events may wait in its queue that the descriptor
    // will not announce again: look at them once the caller has returned.
    void afterChange() {
        watchDescriptor();
        QMetaObject::invokeMethod(
            this, [] { hk::dispatchPending(); }, Qt::QueuedConnection);
    }

    bool nativeEventFilter(const QByteArray& eventType, void* message, long*) override {
        if (eventType != "windows_generic_MSG" && eventType != "windows_dispatcher_MSG")
            return false;
        return hk::handleNativeMessage(message);
    }

private:
    HotkeyPump() {
        if (QCoreApplication::instance()) {
            QCoreApplication::instance()->installNativeEventFilter(this);
            moveToThread(QCoreApplication::instance()->thread());
        }
    }

    void watchDescriptor() {
        const int fd = hk::eventFd();
        if (fd < 0 || (m_notifier && m_notifier->socket() == fd))
            return;
        delete m_notifier;
        m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [] { hk::dispatchPending(); });
    }

    QPointer<QSocketNotifier> m_notifier;
};

unsigned modifiersOf(Qt::KeyboardModifiers mods) {
    unsigned out = 0;
    if (mods & Qt::ShiftModifier)
        out |= hk::Shift;
    if (mods & Qt::ControlModifier)
        out |= hk::Control;
    if (mods & Qt::AltModifier)
        out |= hk::Alt;
    if (mods & Qt::MetaModifier)
        out |= hk::Meta;
    return out;
}

// The layer's key for a Qt key; 0 for keys that cannot be global (modifiers alone, unknown).
uint32_t keyOf(int key, bool keypad) {
    if (keypad && key >= Qt::Key_0 && key <= Qt::Key_9)
        return hk::KeyKeypad0 + static_cast<uint32_t>(key - Qt::Key_0);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return hk::KeyF1 + static_cast<uint32_t>(key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Escape:
        return hk::KeyEscape;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return hk::KeyTab;
    case Qt::Key_Backspace:
        return hk::KeyBackspace;
    case Qt::Key_Return:
        return hk::KeyReturn;
    case Qt::Key_Enter:
        return hk::KeyEnter;
    case Qt::Key_Insert:
        return hk::KeyInsert;
    case Qt::Key_Delete:
        return hk::KeyDelete;
    case Qt::Key_Pause:
        return hk::KeyPause;
    case Qt::Key_Print:
        return hk::KeyPrint;
    case Qt::Key_Home:
        return hk::KeyHome;
    case Qt::Key_End:
        return hk::KeyEnd;
    case Qt::Key_Left:
        return hk::KeyLeft;
    case Qt::Key_Up:
        return hk::KeyUp;
    case Qt::Key_Right:
        return hk::KeyRight;
    case Qt::Key_Down:
        return hk::KeyDown;
    case Qt::Key_PageUp:
        return hk::KeyPageUp;
    case Qt::Key_PageDown:
        return hk::KeyPageDown;
    case Qt::Key_Space:
        return hk::KeySpace;
    default:
        break;
    }
    // Printable keys: Qt's codes are the (upper-case) characters.
    if (key > 0x20 && key <= 0xff && key != 0x7f)
        return static_cast<uint32_t>(QChar(key).toUpper().unicode());
    return 0;
}

} // namespace

QxtGlobalShortcut::QxtGlobalShortcut(QObject* parent) : QObject(parent) {}

QxtGlobalShortcut::QxtGlobalShortcut(const QKeySequence& shortcut, QObject* parent)
    : QObject(parent) {
    setShortcut(shortcut);
}

QxtGlobalShortcut::~QxtGlobalShortcut() {
    unsetShortcut();
}

bool QxtGlobalShortcut::setShortcut(const QKeySequence& shortcut) {
    unsetShortcut();
    // A global hotkey is a single key press; a chord of several cannot be grabbed.
    if (shortcut.count() != 1)
        return false;
    const int combined = shortcut[0];
    const auto mods = Qt::KeyboardModifiers(combined & Qt::KeyboardModifierMask);
    const uint32_t key = keyOf(combined & ~Qt::KeyboardModifierMask, mods & Qt::KeypadModifier);
    if (key == 0)
        return false;

    QPointer<QxtGlobalShortcut> self(this);
    m_id = hk::add(modifiersOf(mods), key, [self] {
               if (self && self->m_enabled)
                   emit self->activated();
           }).value;
    HotkeyPump::instance().afterChange();
    if (m_id == 0)
        return false;
    m_shortcut = shortcut;
    return true;
}

bool QxtGlobalShortcut::unsetShortcut() {
    m_shortcut = QKeySequence();
    if (m_id == 0)
        return false;
    hk::remove(m_id);
    m_id = 0;
    return true;
}
