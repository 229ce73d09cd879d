// The tray icon under a real tray host on a display of the test's own, and without one.

#include "app/systemtray.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QtTest>

// After Qt: Xlib's macros would break Qt's headers.
#include "privatedisplay.h"

namespace {
bool g_withTray = true; // the second run of this program goes without a tray host
} // namespace

class SystemTrayTest : public QObject {
    Q_OBJECT
private slots:
    void menuHasItsTwoActions() {
        SystemTray tray;
        QMenu* menu = tray.contextMenu();
        QVERIFY(menu);
        const QList<QAction*> actions = menu->actions();
        QCOMPARE(actions.size(), 3);
        QCOMPARE(actions.at(0)->text(), QStringLiteral("打开客户端"));
        QVERIFY(actions.at(1)->isSeparator());
        QCOMPARE(actions.at(2)->text(), QStringLiteral("退出"));
        QVERIFY(!tray.icon().isNull());
    }

    void actionsEmitTheirSignals() {
        SystemTray tray;
        QSignalSpy show(&tray, &SystemTray::showWidget);
        QSignalSpy quit(&tray, &SystemTray::closeApp);
        tray.showAction()->trigger();
        QCOMPARE(show.count(), 1);
        QCOMPARE(quit.count(), 0);
        tray.quitAction()->trigger();
        QCOMPARE(quit.count(), 1);
        QCOMPARE(show.count(), 1);
    }

    void dockedInTheTray() {
        if (!g_withTray)
            QSKIP("this run has no tray host");
        QVERIFY(QSystemTrayIcon::isSystemTrayAvailable());
        SystemTray tray;
        QVERIFY(tray.isVisible());
        // Only an icon the host has taken in has a place on the screen.
        QTRY_VERIFY(tray.geometry().isValid() && !tray.geometry().isEmpty());
    }

    void withoutTrayHostTheProgramRunsOn() {
        if (g_withTray)
            QSKIP("this run has a tray host");
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        SystemTray tray;
        QSignalSpy show(&tray, &SystemTray::showWidget);
        tray.showAction()->trigger();
        QCOMPARE(show.count(), 1);
    }
};

int main(int argc, char* argv[]) {
    g_withTray = !(argc > 1 && QByteArray(argv[argc - 1]) == "--no-tray");
    if (!g_withTray)
        --argc;
    // The display must exist before the application connects to it.
    PrivateDisplay display(g_withTray ? PrivateDisplay::Tray : 0);
    if (!display.ok() || (g_withTray && !display.hasTray())) {
        std::printf("skipped: needs Xvfb%s\n", g_withTray ? " and trayer" : "");
        return 77;
    }
    QApplication app(argc, argv);
    SystemTrayTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_systemtray.moc"
