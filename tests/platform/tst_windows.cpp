// The windows facility's backend switch, with the simulated desktop.
#include "platform/sim/windows.h"

#include <QtTest>

namespace win = platform::windows;

class WindowsTest : public QObject {
    Q_OBJECT

    win::sim::Backend m_desktop;

private slots:
    void init() {
        m_desktop = win::sim::Backend();
        m_desktop.windows = {{11, 100, "first", true}, {12, 200, "second", false}};
        win::installBackend(&m_desktop);
    }
    void cleanup() { win::installBackend(nullptr); }

    void listsTheInstalledDesktop() {
        const auto list = win::topLevelWindows();
        QCOMPARE(list.size(), size_t(2));
        QCOMPARE(QString::fromStdString(list[1].title), QString("second"));
        QCOMPARE(list[1].processId, quint64(200));
    }

    // Raising shows the window on top; a handle nobody has is refused with the system's code.
    void bringToFront_data() {
        QTest::addColumn<quintptr>("handle");
        QTest::addColumn<quint32>("code");
        QTest::newRow("hidden window") << quintptr(12) << 0u;
        QTest::newRow("window on top already") << quintptr(11) << 0u;
        QTest::newRow("no such window") << quintptr(99) << win::kErrorInvalidWindowHandle;
        QTest::newRow("null handle") << quintptr(0) << win::kErrorInvalidWindowHandle;
    }
    void bringToFront() {
        QFETCH(quintptr, handle);
        QFETCH(quint32, code);
        const platform::Result result = win::bringToFront(handle);
        QCOMPARE(result.code, code);
        QCOMPARE(result.ok, code == 0);
        if (!result.ok) {
            QVERIFY(!result.text.empty());
            QVERIFY(m_desktop.raised.empty());
            return;
        }
        const auto list = win::topLevelWindows();
        QCOMPARE(list.back().handle, std::uintptr_t(handle));
        QVERIFY(list.back().visible);
        QCOMPARE(m_desktop.raised, std::vector<std::uintptr_t>{handle});
    }
};

QTEST_GUILESS_MAIN(WindowsTest)
#include "tst_windows.moc"
