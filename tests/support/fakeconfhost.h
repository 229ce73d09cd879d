#pragma once

#include "config/confcommands.h"

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

// Records what the configuration commands asked of the main window; keys listed in `refused`
// are turned down as a taken system shortcut would be.
class FakeConfHost : public ConfHost {
public:
    bool assignShortcut(const QString& name, const QString& keySequence) override {
        assigned << name + QLatin1Char('=') + keySequence;
        const bool ok = !refused.contains(keySequence);
        accepted[name] = ok;
        return ok;
    }
    bool shortcutAccepted(const QString& name) const override { return accepted.value(name); }
    void setAutoStart(bool on) override { autoStart << on; }

    QSet<QString> refused;
    QMap<QString, bool> accepted;
    QStringList assigned;
    QList<bool> autoStart;
};
