// The X11 system settings: what is set reads back from the X server.

#include "platform/syssettings.h"

#include <QProcess>
#include <QtTest>

#include <X11/Xlib.h>

namespace ss = platform::syssettings;

namespace {

// The pointer control as the X server holds it.
struct PointerControl {
    int num = 0, den = 0, threshold = 0;
};

PointerControl pointerControl() {
    PointerControl p;
    if (Display* d = XOpenDisplay(nullptr)) {
        XGetPointerControl(d, &p.num, &p.den, &p.threshold);
        XCloseDisplay(d);
    }
    return p;
}

bool setLayouts(const QString& layouts) {
    return QProcess::execute(QStringLiteral("setxkbmap"), {QStringLiteral("-layout"), layouts}) ==
           0;
}

} // namespace

Q_DECLARE_METATYPE(ss::MouseAcceleration)

class SysSettingsTest : public QObject {
    Q_OBJECT
    // A server without clients resets itself, settings included; this connection keeps it up,
    // as the program's own does.
    Display* m_keeper = nullptr;

private slots:
    void initTestCase() { m_keeper = XOpenDisplay(nullptr); }
    void init() {
        if (!m_keeper)
            QSKIP("needs an X display");
    }
    void cleanupTestCase() {
        if (m_keeper) {
            setLayouts(QStringLiteral("us"));
            ss::setMouseSpeed(10);
            ss::setMouseAcceleration({0, 0, 0});
            XCloseDisplay(m_keeper);
        }
    }

    void accelerationReadsBack_data() {
        QTest::addColumn<ss::MouseAcceleration>("set");
        QTest::addColumn<ss::MouseAcceleration>("read");
        QTest::addColumn<int>("threshold");
        QTest::newRow("off") << ss::MouseAcceleration{0, 0, 0} << ss::MouseAcceleration{0, 0, 0}
                             << 0;
        QTest::newRow("level 1") << ss::MouseAcceleration{7, 0, 1} << ss::MouseAcceleration{7, 0, 1}
                                 << 7;
        // X keeps one threshold and one level.
        QTest::newRow("level 2") << ss::MouseAcceleration{4, 6, 2} << ss::MouseAcceleration{4, 0, 1}
                                 << 4;
    }
    void accelerationReadsBack() {
        QFETCH(ss::MouseAcceleration, set);
        QFETCH(ss::MouseAcceleration, read);
        QFETCH(int, threshold);
        QVERIFY(ss::setMouseAcceleration(set).ok);
        QCOMPARE(pointerControl().threshold, threshold);
        const auto back = ss::mouseAcceleration();
        QVERIFY(back.ok);
        QVERIFY(back.value == read);
    }

    void speedIsThePointerRatio_data() {
        QTest::addColumn<int>("speed");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("slowest") << 1 << true;
        QTest::newRow("one to one") << 10 << true;
        QTest::newRow("fastest") << 20 << true;
        // A ratio of 0 would freeze the pointer; above 20 is no speed of the system.
        QTest::newRow("zero") << 0 << false;
        QTest::newRow("21") << 21 << false;
        QTest::newRow("negative") << -3 << false;
    }
    void speedIsThePointerRatio() {
        QFETCH(int, speed);
        QFETCH(bool, accepted);
        QVERIFY(ss::setMouseSpeed(7).ok);
        const platform::Result r = ss::setMouseSpeed(speed);
        QCOMPARE(r.ok, accepted);
        const int expected = accepted ? speed : 7;
        const PointerControl p = pointerControl();
        QCOMPARE(p.num * 10, expected * p.den);
        QCOMPARE(ss::mouseSpeed().value, expected);
    }

    void wheelLinesAreNotAnX11Setting() {
        const platform::Result r = ss::setWheelScrollLines(3);
        QVERIFY(!r.ok);
        QVERIFY(!r.text.empty());
        QVERIFY(!ss::wheelScrollLines().ok);
    }

    void keyboardLayoutSwitchesGroup_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("active");
        QTest::newRow("German") << "0x0407" << true << "00000407";
        QTest::newRow("US, as the page names it") << "0x0409" << true << "00000409";
        QTest::newRow("German, full id") << "00000407" << true << "00000407";
        QTest::newRow("Japanese is not configured") << "0x0411" << false << "00000409";
        QTest::newRow("unknown language") << "0x7777" << false << "00000409";
        QTest::newRow("not a number") << "en-US" << false << "00000409";
        QTest::newRow("empty") << "" << false << "00000409";
    }
    void keyboardLayoutSwitchesGroup() {
        QFETCH(QString, name);
        QFETCH(bool, accepted);
        QFETCH(QString, active);
        if (!setLayouts(QStringLiteral("us,de")))
            QSKIP("setxkbmap could not configure two layouts");
        QVERIFY(ss::activateKeyboardLayout("0x0409").ok);
        QCOMPARE(ss::activateKeyboardLayout(name.toStdString()).ok, accepted);
        // XKB applies the group change after the request; ask until it shows.
        QTRY_COMPARE(QString::fromStdString(ss::keyboardLayout().value), active);
    }
};

QTEST_GUILESS_MAIN(SysSettingsTest)
#include "tst_syssettings.moc"
