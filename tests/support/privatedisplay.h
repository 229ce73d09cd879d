#pragma once

// A virtual X display of the test's own, optionally with a window manager and a tray host, so
// that window states and the tray can be tried without disturbing the shared test display.
// Needs Xvfb; the window manager (openbox) and the tray host (trayer) are started when present.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QThread>

#include <X11/Xlib.h>

#include <csignal>
#include <sys/types.h>

class PrivateDisplay {
public:
    enum Part { WindowManager = 1, Tray = 2 };

    explicit PrivateDisplay(int parts = 0) {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty())
            return;
        // The server picks a free display number itself and writes it to its standard output:
        // tests running side by side never race for the same number.
        m_server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"),
                              QStringLiteral("-screen"), QStringLiteral("0"),
                              QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                              QStringLiteral("tcp")});
        if (!m_server.waitForStarted(5000))
            return;
        QByteArray number;
        while (!number.endsWith('\n') && m_server.waitForReadyRead(10000))
            number += m_server.readAllStandardOutput();
        bool ok = false;
        const int n = number.trimmed().toInt(&ok);
        if (ok && m_server.state() == QProcess::Running)
            m_name = QStringLiteral(":%1").arg(n);
        if (m_name.isEmpty())
            return;
        m_previous = qgetenv("DISPLAY");
        qputenv("DISPLAY", m_name.toUtf8());
        // Held for the display's lifetime: a server without clients resets itself.
        m_keeper = XOpenDisplay(m_name.toUtf8().constData());
        if (parts & WindowManager)
            m_hasWindowManager =
                startHelper(m_windowManager, QStringLiteral("openbox"), {}, "WM_S0");
        if (parts & Tray)
            m_hasTray = startHelper(m_tray, QStringLiteral("trayer"),
                                    {QStringLiteral("--edge"), QStringLiteral("bottom"),
                                     QStringLiteral("--align"), QStringLiteral("right")},
                                    "_NET_SYSTEM_TRAY_S0");
    }

    ~PrivateDisplay() { stop(); }

    // Asks the helpers and the server to end and returns at once, for a process that ends now.
    void terminateWithoutWaiting() {
        for (QProcess* p : {&m_tray, &m_windowManager, &m_server}) {
            if (p->state() != QProcess::NotRunning)
                ::kill(static_cast<pid_t>(p->processId()), SIGTERM);
        }
    }

    // Ends the helpers and the server; the display is gone afterwards.
    void stop() {
        if (m_keeper)
            XCloseDisplay(m_keeper);
        m_keeper = nullptr;
        for (QProcess* p : {&m_tray, &m_windowManager, &m_server}) {
            if (p->state() != QProcess::NotRunning) {
                p->terminate();
                if (!p->waitForFinished(3000))
                    p->kill();
                p->waitForFinished(1000);
            }
        }
        if (!m_name.isEmpty())
            qputenv("DISPLAY", m_previous);
        m_name.clear();
    }

    bool ok() const { return !m_name.isEmpty(); }
    bool hasWindowManager() const { return m_hasWindowManager; }
    bool hasTray() const { return m_hasTray; }
    QString name() const { return m_name; }

private:
    // Starts a helper and waits until it owns the selection that announces it.
    bool startHelper(QProcess& process, const QString& program, const QStringList& args,
                     const char* selection) {
        const QString path = QStandardPaths::findExecutable(program);
        if (path.isEmpty() || !m_keeper)
            return false;
        process.start(path, args);
        if (!process.waitForStarted(5000))
            return false;
        const Atom atom = XInternAtom(m_keeper, selection, False);
        for (int i = 0; i < 200 && process.state() == QProcess::Running; ++i) {
            if (XGetSelectionOwner(m_keeper, atom) != None)
                return true;
            QThread::msleep(50);
        }
        return false;
    }

    QProcess m_server;
    QProcess m_windowManager;
    QProcess m_tray;
    QString m_name;
    QByteArray m_previous;
    Display* m_keeper = nullptr;
    bool m_hasWindowManager = false;
    bool m_hasTray = false;
};
