#pragma once

#include <QKeySequence>
#include <QObject>

// A system-wide shortcut: `activated` fires when its key sequence is pressed, whichever window
// has the focus. Only one-key sequences can be global; a sequence that another shortcut (of
// this program or another) holds already is refused and leaves this one without a key.
class QxtGlobalShortcut : public QObject {
    Q_OBJECT

public:
    explicit QxtGlobalShortcut(QObject* parent = nullptr);
    explicit QxtGlobalShortcut(const QKeySequence& shortcut, QObject* parent = nullptr);
    ~QxtGlobalShortcut() override;

    QKeySequence shortcut() const { return m_shortcut; }
    // Releases the previous key, then asks the system for `shortcut`. Returns whether the system
    // accepted it; when not, the shortcut has no key afterwards.
    bool setShortcut(const QKeySequence& shortcut);
    // Releases the key; returns whether one was held.
    bool unsetShortcut();
    bool isRegistered() const { return m_id != 0; }

    // A disabled shortcut keeps its key but does not emit `activated`.
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }
    void setDisabled(bool disabled) { m_enabled = !disabled; }

signals:
    void activated();

private:
    QKeySequence m_shortcut;
    int m_id = 0;
    bool m_enabled = true;
};
