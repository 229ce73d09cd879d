// The window commands' request parsing and their rules on the simulated desktop.

#include "app/windowcommands.h"
#include "platform/sim/windows.h"
#include "windowrect.h"

#include <QtTest>

namespace w = platform::windows;

class WindowCommandsTest : public QObject {
    Q_OBJECT
    w::sim::Backend* sim = nullptr;
    static constexpr std::uintptr_t kWindow = 42;

private slots:
    void init() {
        sim = new w::sim::Backend;
        sim->rects[kWindow] = {100, 80, 800, 600};
        w::installBackend(sim);
    }
    void cleanup() {
        w::installBackend(nullptr);
        delete sim;
    }

    void parseMoveWindow_data() {
        QTest::addColumn<QString>("request");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QList<int>>("values");
        QTest::newRow("four") << "moveWindow:10,-20,800,600" << true
                              << QList<int>{10, -20, 800, 600};
        QTest::newRow("any separator")
            << "moveWindow(0,0,640,480" << true << QList<int>{0, 0, 640, 480};
        QTest::newRow("blanks before numbers")
            << "moveWindow: 1, 2, 3, 4" << true << QList<int>{1, 2, 3, 4};
        QTest::newRow("trailing text") << "moveWindow:1,2,3,4)" << true << QList<int>{1, 2, 3, 4};
        QTest::newRow("three") << "moveWindow:1,2,3" << false << QList<int>{};
        QTest::newRow("five") << "moveWindow:1,2,3,4,5" << false << QList<int>{};
        QTest::newRow("no separator character") << "moveWindow" << false << QList<int>{};
        QTest::newRow("separator only") << "moveWindow:" << false << QList<int>{};
        QTest::newRow("no separator, numbers at once")
            << "moveWindow1,2,3,4" << false << QList<int>{};
        QTest::newRow("not numbers") << "moveWindow:a,b,c,d" << false << QList<int>{};
        QTest::newRow("stops at a gap") << "moveWindow:1,,2,3,4" << false << QList<int>{};
        QTest::newRow("too large") << "moveWindow:1,2,3,99999999999" << false << QList<int>{};
        QTest::newRow("smallest int")
            << "moveWindow:-2147483648,0,1,1" << true << QList<int>{-2147483647 - 1, 0, 1, 1};
    }
    void parseMoveWindow() {
        QFETCH(QString, request);
        QFETCH(bool, valid);
        QFETCH(QList<int>, values);
        const auto parsed = windowcommands::parseMoveWindow(request);
        QCOMPARE(parsed.has_value(), valid);
        if (valid)
            QCOMPARE((QList<int>{(*parsed)[0], (*parsed)[1], (*parsed)[2], (*parsed)[3]}), values);
    }

    // The window at 100,80 (800 x 600) on a desktop of 1280 x 800 asks for a move and a size.
    void movesStayOnTheScreens_data() {
        QTest::addColumn<QString>("request");
        QTest::addColumn<w::Rect>("expected");
        QTest::newRow("inside") << "moveWindow:20,-30,700,500" << w::Rect{120, 50, 700, 500};
        QTest::newRow("past the right edge")
            << "moveWindow:900,0,400,300" << w::Rect{880, 80, 400, 300};
        QTest::newRow("past the top left")
            << "moveWindow:-500,-500,400,300" << w::Rect{0, 0, 400, 300};
        QTest::newRow("a city") << "moveWindow,99999999,99999999,99999999,99999999"
                                << w::Rect{0, 0, 1280, 800};
        QTest::newRow("largest ints")
            << "moveWindow:2147483647,2147483647,2147483647,2147483647" << w::Rect{0, 0, 1280, 800};
        QTest::newRow("smallest offsets")
            << "moveWindow:-2147483648,-2147483648,2147483647,2147483647"
            << w::Rect{0, 0, 1280, 800};
        QTest::newRow("smallest offsets, small window")
            << "moveWindow:-2147483648,-2147483648,10,10" << w::Rect{0, 0, 10, 10};
    }
    void movesStayOnTheScreens() {
        QFETCH(QString, request);
        QFETCH(w::Rect, expected);
        const auto values = windowcommands::parseMoveWindow(request);
        QVERIFY(values);
        windowcommands::moveWindow(kWindow, *values, {0, 0, 1280, 800});
        QCOMPARE(sim->rects[kWindow], expected);
        // The same for the place a minimised window is restored to.
        sim->rects[kWindow] = {100, 80, 800, 600};
        QVERIFY(w::minimizeWithoutActivation(kWindow).ok);
        windowcommands::moveWindow(kWindow, *values, {0, 0, 1280, 800});
        QCOMPARE(sim->rects[kWindow].width, expected.width);
        QCOMPARE(sim->rects[kWindow].height, expected.height);
    }

    void minimisedWindowIsRestoredAtItsPlaceWithTheNewSize() {
        QVERIFY(w::minimizeWithoutActivation(kWindow).ok);
        windowcommands::moveWindow(kWindow, {30, 30, 640, 480}, {});
        QCOMPARE(sim->placements[kWindow].state, w::ShowState::Normal);
        QVERIFY(sim->rects[kWindow] == (w::Rect{100, 80, 640, 480}));
    }

    void minisizeTogglesTheWindow() {
        windowcommands::minisizeWindow(kWindow);
        QCOMPARE(sim->placements[kWindow].state, w::ShowState::Minimized);
        windowcommands::minisizeWindow(kWindow);
        QCOMPARE(sim->placements[kWindow].state, w::ShowState::Normal);
        QVERIFY(sim->rects[kWindow] == (w::Rect{100, 80, 800, 600}));
    }

    void goneWindowIsLeftAlone() {
        windowcommands::moveWindow(7, {1, 1, 10, 10}, {});
        windowcommands::minisizeWindow(7);
        QVERIFY(!sim->rects.count(7));
        QVERIFY(sim->placements.empty());
    }
};

QTEST_GUILESS_MAIN(WindowCommandsTest)
#include "tst_windowcommands.moc"
