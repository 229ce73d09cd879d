#pragma once

#include "config/confcommands.h"

#include <QObject>
#include <QString>

class QxtGlobalShortcut;

// The main window's two program-wide shortcuts ("fastSwitch" and "testTool") with the result of
// their last key assignment, and the start-with-the-system switch. The configuration commands
// reach them through ConfHost; the main window connects the two activation signals.
class ProgramShortcuts : public QObject, public ConfHost {
    Q_OBJECT

public:
    // `launcherFolder` holds the command that starts the program (autostart starts it from
    // there): the program folder, or the system's command folder for an installed copy.
    explicit ProgramShortcuts(const QString& launcherFolder, QObject* parent = nullptr);

    // ConfHost. An unknown `name` is refused and changes nothing.
    bool assignShortcut(const QString& name, const QString& keySequence) override;
    bool shortcutAccepted(const QString& name) const override;
    void setAutoStart(bool on) override;

    QxtGlobalShortcut* fastSwitch() const { return m_fastSwitch; }
    QxtGlobalShortcut* testTool() const { return m_testTool; }

signals:
    void fastSwitchActivated();
    void testToolActivated();

private:
    QString m_launcherFolder;
    QxtGlobalShortcut* m_fastSwitch;
    QxtGlobalShortcut* m_testTool;
    bool m_fastSwitchAccepted = false;
    bool m_testToolAccepted = false;
};
