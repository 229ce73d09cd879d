#include "app/qxtglobalshortcut.h"

#include <QSignalSpy>
#include <QtTest>

#include "tests/platform/xkeyboard.h"

#include <vector>

using Keys = std::vector<KeySym>;
Q_DECLARE_METATYPE(Keys)

// Global shortcuts against the X server: a second client presses keys through XTest and plays
// "another program" that holds grabs.
class GlobalShortcutTest : public QObject {
    Q_OBJECT

    XKeyboard m_keys;

private slots:
    void refusedSequences_data() {
        QTest::addColumn<QKeySequence>("sequence");
        QTest::newRow("empty") << QKeySequence();
        QTest::newRow("two keys") << QKeySequence("Ctrl+Alt+Shift+A, Ctrl+Alt+Shift+B");
        QTest::newRow("modifier alone") << QKeySequence(Qt::CTRL | Qt::Key_Control);
        QTest::newRow("unknown key") << QKeySequence(Qt::CTRL | Qt::Key_unknown);
        QTest::newRow("media key") << QKeySequence(Qt::CTRL | Qt::Key_LaunchMail);
    }
    void refusedSequences() {
        QFETCH(QKeySequence, sequence);
        QxtGlobalShortcut shortcut;
        QVERIFY(!shortcut.setShortcut(sequence));
        QVERIFY(!shortcut.isRegistered());
        QVERIFY(shortcut.shortcut().isEmpty());
        QVERIFY(!shortcut.unsetShortcut());
    }

    void pressFiresActivated_data() {
        QTest::addColumn<QString>("sequence");
        QTest::addColumn<Keys>("keys");
        QTest::newRow("function key")
            << "Ctrl+Alt+Shift+F11" << Keys{XK_Control_L, XK_Alt_L, XK_Shift_L, XK_F11};
        QTest::newRow("letter") << "Ctrl+Alt+Shift+K"
                                << Keys{XK_Control_L, XK_Alt_L, XK_Shift_L, XK_k};
        QTest::newRow("punctuation") << "Ctrl+Alt+/" << Keys{XK_Control_L, XK_Alt_L, XK_slash};
        QTest::newRow("navigation")
            << "Ctrl+Alt+Shift+PgDown" << Keys{XK_Control_L, XK_Alt_L, XK_Shift_L, XK_Page_Down};
        QTest::newRow("keypad") << "Ctrl+Alt+Shift+Num+5"
                                << Keys{XK_Control_L, XK_Alt_L, XK_Shift_L, XK_KP_5};
    }
    void pressFiresActivated() {
        QFETCH(QString, sequence);
        QFETCH(Keys, keys);
        if (!m_keys.usable())
            QSKIP("needs an X display with XTest");
        QxtGlobalShortcut shortcut;
        QVERIFY(shortcut.setShortcut(QKeySequence(sequence, QKeySequence::PortableText)));
        QCOMPARE(shortcut.shortcut().toString(QKeySequence::PortableText), sequence);
        QSignalSpy spy(&shortcut, &QxtGlobalShortcut::activated);
        m_keys.press(keys);
        QVERIFY(spy.wait(2000));
        QCOMPARE(spy.count(), 1);
    }

    void secondHolderIsRefusedUntilFreed() {
        if (!m_keys.usable())
            QSKIP("needs an X display with XTest");
        const QKeySequence seq("Ctrl+Alt+Shift+F12");
        QxtGlobalShortcut first, second;
        QVERIFY(first.setShortcut(seq));
        QVERIFY(!second.setShortcut(seq));
        QVERIFY(second.shortcut().isEmpty());

        // Only the holder hears the key.
        QSignalSpy firstSpy(&first, &QxtGlobalShortcut::activated);
        QSignalSpy secondSpy(&second, &QxtGlobalShortcut::activated);
        m_keys.press({XK_Control_L, XK_Alt_L, XK_Shift_L, XK_F12});
        QVERIFY(firstSpy.wait(2000));
        QCOMPARE(secondSpy.count(), 0);

        QVERIFY(first.unsetShortcut());
        QVERIFY(second.setShortcut(seq));
        m_keys.press({XK_Control_L, XK_Alt_L, XK_Shift_L, XK_F12});
        QVERIFY(secondSpy.wait(2000));
        QCOMPARE(firstSpy.count(), 1);

        // Setting another key releases the previous one.
        QVERIFY(second.setShortcut(QKeySequence("Ctrl+Alt+Shift+F10")));
        QVERIFY(first.setShortcut(seq));
    }
};

QTEST_GUILESS_MAIN(GlobalShortcutTest)
#include "tst_qxtglobalshortcut.moc"
