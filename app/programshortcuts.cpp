#include "programshortcuts.h"

#include "platform/autostart.h"
#include "qxtglobalshortcut.h"

#include <QKeySequence>

ProgramShortcuts::ProgramShortcuts(const QString& launcherFolder, QObject* parent)
    : QObject(parent), m_launcherFolder(launcherFolder), m_fastSwitch(new QxtGlobalShortcut(this)),
      m_testTool(new QxtGlobalShortcut(this)) {
    connect(m_fastSwitch, &QxtGlobalShortcut::activated, this,
            &ProgramShortcuts::fastSwitchActivated);
    connect(m_testTool, &QxtGlobalShortcut::activated, this, &ProgramShortcuts::testToolActivated);
}

bool ProgramShortcuts::assignShortcut(const QString& name, const QString& keySequence) {
    QxtGlobalShortcut* shortcut = nullptr;
    bool* accepted = nullptr;
    if (name == QLatin1String("fastSwitch")) {
        shortcut = m_fastSwitch;
        accepted = &m_fastSwitchAccepted;
    } else if (name == QLatin1String("testTool")) {
        shortcut = m_testTool;
        accepted = &m_testToolAccepted;
    } else {
        return false;
    }
    // setShortcut releases the previous key before it asks for the new one.
    *accepted = shortcut->setShortcut(QKeySequence(keySequence, QKeySequence::PortableText));
    return *accepted;
}

bool ProgramShortcuts::shortcutAccepted(const QString& name) const {
    if (name == QLatin1String("fastSwitch"))
        return m_fastSwitchAccepted;
    if (name == QLatin1String("testTool"))
        return m_testToolAccepted;
    return false;
}

void ProgramShortcuts::setAutoStart(bool on) {
    platform::autostart::setEnabled(m_launcherFolder.toStdString(), on);
}
