// The command player against the simulated HID bus hosting the virtual device: what each
// command sends, play types, stopping, and what a player leaves held when it is cut short.
#include "capturerig.h"
#include "input/commandexec.h"
#include "input/commandtasks.h"
#include "platform/sim/windowtext.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QtTest>

namespace {

CommandList list(const QStringList& pairs) {
    CommandList out;
    for (int i = 0; i + 1 < pairs.size(); i += 2)
        out << CommandItem(pairs.at(i), pairs.at(i + 1));
    return out;
}

KeyAction action(int playType, int playCount, const QStringList& pairs) {
    KeyAction a;
    a.playType = playType;
    a.playCount = playCount;
    a.commands = list(pairs);
    return a;
}

// Notes the addresses the desktop is asked to open, on whichever thread asks.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

} // namespace

class CommandExecTest : public QObject {
    Q_OBJECT

    VirtualDeviceClient* m_client = nullptr;
    platform::windows::sim::TextBackend m_text;

    // Plays on a thread of its own and waits for the thread to finish after taskFinished (or
    // at once when none is expected). Returns the number of taskFinished signals.
    int play(int playType, int playCount, const QStringList& pairs, bool expectFinish = true) {
        QThread thread;
        auto* player = new commandExec(&thread, list(pairs), m_client, playType, playCount);
        QSignalSpy finished(player, &commandExec::taskFinished);
        thread.start();
        if (expectFinish)
            finished.wait(5000);
        else
            QTest::qWait(100);
        thread.quit();
        thread.wait();
        delete player;
        return finished.count();
    }

private slots:
    void init() {
        rig::resetDevices();
        m_client = new VirtualDeviceClient(rig::silent());
        QVERIFY(m_client->openVirtualDevice());
        platform::windows::installTextBackend(&m_text);
        platform::windows::sim::clearPosted();
        platform::windows::sim::setWindowUnderCursor(0);
    }
    void cleanup() {
        platform::windows::installTextBackend(nullptr);
        delete m_client;
        m_client = nullptr;
    }

    void playOnce_data() {
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<int>("playCount");
        QTest::addColumn<QString>("keyboard");
        QTest::addColumn<QString>("mouse");
        QTest::newRow("three presses held 50 ms")
            << QStringList{"down", "04", "delayTime", "50", "up", ""} << 3 << "+a -a +a -a +a -a"
            << "";
        QTest::newRow("0x prefix and high bits")
            << QStringList{"down", "0x105", "up", "x"} << 1 << "+b -b"
            << "";
        QTest::newRow("right-button click")
            << QStringList{"mouseDown", "2", "mouseUp", ""} << 1 << ""
            << "+right -right";
        QTest::newRow("two buttons as a mask")
            << QStringList{"mouseDown", "5", "mouseUp", ""} << 1 << ""
            << "+left +middle -left -middle";
        QTest::newRow("down zz sends no key") << QStringList{"down", "zz", "up", ""} << 1 << ""
                                              << "";
        QTest::newRow("names are case-sensitive") << QStringList{"Down", "04", "UP", ""} << 1 << ""
                                                  << "";
        QTest::newRow("no play count plays nothing") << QStringList{"down", "04"} << 0 << ""
                                                     << "";
        QTest::newRow("keyDown Shift and H: a capital")
            << QStringList{"keyDown", "E1", "keyDown", "0b", "keyUp", "0B", "keyUp", "e1"} << 1
            << "+left-shift +h -h -left-shift"
            << "";
        QTest::newRow("Ctrl+C as a chord")
            << QStringList{"keyDown", "e0", "keyDown", "06", "keyUp", "06", "keyUp", "e0"} << 1
            << "+left-control +c -c -left-control"
            << "";
        QTest::newRow("a seventh key is refused")
            << QStringList{"keyDown", "4", "keyDown", "5", "keyDown", "6",
                           "keyDown", "7", "keyDown", "8", "keyDown", "9",
                           "keyDown", "a", "keyUp",   "a", "up",      ""}
            << 1 << "+a +b +c +d +e +f -a -b -c -d -e -f"
            << "";
        QTest::newRow("up releases what keyDown holds")
            << QStringList{"keyDown", "e1", "keyDown", "04", "up", ""} << 1
            << "+left-shift +a -left-shift -a"
            << "";
        QTest::newRow("keyDown and keyUp without a usage do nothing")
            << QStringList{"keyDown", "zz", "keyDown", "100", "keyDown", "0", "keyUp", ""} << 1
            << ""
            << "";
        QTest::newRow("typeText Hi! with Shift for capitals and symbols")
            << QStringList{"typeText", "Hi!"} << 1
            << "+left-shift +h -h -left-shift +i -i +left-shift +1 -1 -left-shift"
            << "";
        QTest::newRow("typeText: tab, a Windows line end as one Enter")
            << QStringList{"typeText", "\t\r\n"} << 1 << "+tab -tab +enter -enter"
            << "";
    }
    void playOnce() {
        QFETCH(QStringList, commands);
        QFETCH(int, playCount);
        QFETCH(QString, keyboard);
        QFETCH(QString, mouse);
        QCOMPARE(play(KeyAction::PlayCount, playCount, commands), 1);
        QCOMPARE(rig::reported("keyboard"), keyboard);
        QCOMPARE(rig::reported("mouse"), mouse);
    }

    void downZzWritesKeyCodeZero() {
        QCOMPARE(play(KeyAction::PlayCount, 1, {"down", "zz"}), 1);
        const auto report = m_client->lastReport();
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(report.data()), 11).toHex(),
                 QByteArray("4009070000000000000000"));
    }

    void nothingToPlay_data() {
        QTest::addColumn<int>("playType");
        QTest::addColumn<QStringList>("commands");
        QTest::newRow("empty list, play count") << 0 << QStringList{};
        QTest::newRow("empty list, toggle") << 1 << QStringList{};
        QTest::newRow("unknown play type") << 3 << QStringList{"down", "04"};
        QTest::newRow("negative play type") << -1 << QStringList{"down", "04"};
    }
    void nothingToPlay() {
        QFETCH(int, playType);
        QFETCH(QStringList, commands);
        QCOMPARE(play(playType, 5, commands, false), 0);
        QCOMPARE(rig::reported("keyboard"), QString());
    }

    void unknownCommandsStillFinish() {
        QCOMPARE(play(KeyAction::PlayCount, 2, {"jump", "1", "sing", "2"}), 1);
        QVERIFY(platform::hid::sim::inputEvents().empty());
    }

    void reportMsgTypesIntoTheWindowUnderTheCursor_data() {
        QTest::addColumn<quintptr>("window");
        QTest::addColumn<int>("posts");
        QTest::newRow("a window") << quintptr(0x4242) << 1;
        QTest::newRow("no window") << quintptr(0) << 0;
    }
    void reportMsgTypesIntoTheWindowUnderTheCursor() {
        QFETCH(quintptr, window);
        QFETCH(int, posts);
        platform::windows::sim::setWindowUnderCursor(window);
        const QString text = QString::fromUtf8("h\xc3\xa9 \xf0\x9f\x98\x80");
        QCOMPARE(play(KeyAction::PlayCount, 1, {"reportMsg", text}), 1);
        const auto posted = platform::windows::sim::posted();
        QCOMPARE(int(posted.size()), posts);
        if (posts) {
            QCOMPARE(posted.front().window, std::uintptr_t(window));
            // One unit each: the emoji is two UTF-16 units.
            QCOMPARE(
                QString::fromUtf16(posted.front().units.data(), int(posted.front().units.size())),
                text);
            QCOMPARE(int(posted.front().units.size()), 5);
        }
    }

    // Characters no US key types go to the window under the cursor in their place, each run
    // of them at once.
    void typeTextHandsOnWhatNoKeyTypes() {
        platform::windows::sim::setWindowUnderCursor(0x4242);
        QCOMPARE(play(KeyAction::PlayCount, 1,
                      {"typeText", QString::fromUtf8("a\xc3\xa9\xc3\xa8 \xe4\xb8\xad")}),
                 1);
        QCOMPARE(rig::reported("keyboard"), QStringLiteral("+a -a +space -space"));
        QStringList texts;
        for (const auto& p : platform::windows::sim::posted())
            texts << QString::fromStdU16String(p.units);
        QCOMPARE(texts, (QStringList{QString::fromUtf8("\xc3\xa9\xc3\xa8"),
                                     QString::fromUtf8("\xe4\xb8\xad")}));
    }

    // The emergency stop: a player started before it writes nothing more, and one started
    // after it plays.
    void haltStopsPlayersStartedBefore() {
        CommandTasks tasks(m_client);
        tasks.startTask(
            action(KeyAction::WhileHeld, 1, {"keyDown", "04", "delayTime", "20", "keyUp", "04"}));
        QTRY_VERIFY_WITH_TIMEOUT(rig::reported("keyboard").count("+a") >= 2, 5000);
        m_client->halt();
        QTest::qWait(100);
        const QString log = rig::reported("keyboard");
        QVERIFY(rig::nothingHeld());
        QTest::qWait(100);
        QCOMPARE(rig::reported("keyboard"), log);
        QSignalSpy finished(&tasks, &CommandTasks::taskFinished);
        tasks.startTask(action(KeyAction::PlayCount, 1, {"keyDown", "05", "keyUp", "05"}));
        QVERIFY(finished.wait(5000));
        QVERIFY(rig::reported("keyboard").endsWith("+b -b"));
    }

    void repeatingPlayStopsAfterTheCurrentRun() {
        QThread thread;
        auto* player =
            new commandExec(&thread, list({"mouseDown", "2", "delayTime", "30", "mouseUp", ""}),
                            m_client, KeyAction::WhileHeld, 1);
        QSignalSpy finished(player, &commandExec::taskFinished);
        thread.start();
        QTRY_VERIFY_WITH_TIMEOUT(rig::reported("mouse").count("+right") >= 2, 5000);
        QMetaObject::invokeMethod(player, &commandExec::stop_display, Qt::QueuedConnection);
        // The player's thread may finish before a wait here would begin counting.
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 5000);
        const QString after = rig::reported("mouse");
        QVERIFY(after.endsWith("-right")); // the click in progress completed
        QTest::qWait(150);
        QCOMPARE(rig::reported("mouse"), after);
        QCOMPARE(finished.count(), 1);
        thread.quit();
        thread.wait();
        delete player;
    }

    // Mend: a "down" with no "up" yet, cut short, must not stay held in the virtual device.
    void cutShortLeavesNothingHeld_data() {
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<bool>("viaStop");
        QTest::newRow("key, stopped") << QStringList{"down", "04"} << true;
        QTest::newRow("key, replaced") << QStringList{"down", "04"} << false;
        QTest::newRow("button, stopped") << QStringList{"mouseDown", "1"} << true;
        QTest::newRow("button, replaced") << QStringList{"mouseDown", "4"} << false;
        QTest::newRow("keyDown keys, stopped")
            << QStringList{"keyDown", "e1", "keyDown", "4"} << true;
    }
    void cutShortLeavesNothingHeld() {
        QFETCH(QStringList, commands);
        QFETCH(bool, viaStop);
        CommandTasks tasks(m_client);
        tasks.startTask(action(KeyAction::WhileHeld, 1, commands));
        QTRY_VERIFY_WITH_TIMEOUT(!rig::nothingHeld(), 5000);
        if (viaStop)
            emit tasks.toogleChanged();
        else
            tasks.startTask(action(KeyAction::PlayCount, 1, {"delayTime", "1"}));
        QTRY_VERIFY_WITH_TIMEOUT(rig::nothingHeld(), 5000);
    }

    // Mend: a list that ran to its end keeps what it left held; only a player cut short
    // releases.
    void completedListKeepsWhatItHolds() {
        QCOMPARE(play(KeyAction::PlayCount, 1, {"down", "04", "mouseDown", "2"}), 1);
        QCOMPARE(platform::hid::sim::keysDown(), std::vector<std::string>{"a"});
        QCOMPARE(platform::hid::sim::buttonsDown(), std::vector<std::string>{"right"});
    }

    // Mend: the replaced player's release comes before the new player's first press, which
    // it would otherwise cut short.
    void replacedPlayerReleasesBeforeTheNextPress() {
        for (int round = 0; round < 10; ++round) {
            platform::hid::sim::clearInputEvents();
            CommandTasks tasks(m_client);
            QSignalSpy finished(&tasks, &CommandTasks::taskFinished);
            tasks.startTask(action(KeyAction::WhileHeld, 1, {"down", "04", "delayTime", "5"}));
            QTRY_VERIFY_WITH_TIMEOUT(rig::reported("keyboard").startsWith("+a"), 5000);
            tasks.startTask(action(KeyAction::PlayCount, 1, {"down", "05"}));
            QVERIFY(finished.wait(5000));
            QTest::qWait(20);
            QCOMPARE(platform::hid::sim::keysDown(), std::vector<std::string>{"b"});
            QVERIFY(rig::reported("keyboard").endsWith("-a +b"));
            emit tasks.toogleChanged(); // nothing repeats
        }
    }

    void delayTimeLastsAtLeastItsValue_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("atLeast");
        QTest::newRow("120 ms") << "120" << 120;
        QTest::newRow("no number") << "soon" << 0;
    }
    void delayTimeLastsAtLeastItsValue() {
        QFETCH(QString, value);
        QFETCH(int, atLeast);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(play(KeyAction::PlayCount, 1, {"delayTime", value}), 1);
        QVERIFY2(clock.elapsed() >= atLeast, qPrintable(QString::number(clock.elapsed())));
    }

    void openUrlOpensTheFile() {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("file", &catcher, "open");
        QCOMPARE(play(KeyAction::PlayCount, 1, {"openUrl", "C:/My Files/notes 1.txt"}), 1);
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(catcher.urls.size(), 1);
        QCOMPARE(catcher.urls.front().scheme(), QString("file"));
        QCOMPARE(catcher.urls.front().path(), QString("/C:/My Files/notes 1.txt"));
    }

    void exitReleasesEverything() {
        auto* tasks = new CommandTasks(m_client);
        tasks->startTask(action(KeyAction::PlayCount, 1,
                                {"down", "04", "mouseDown", "2", "delayTime", "60000"}));
        QTRY_VERIFY_WITH_TIMEOUT(rig::reported("mouse") == "+right", 5000);
        delete tasks; // the long pause is cut short and both reports are released
        QVERIFY(rig::nothingHeld());
        QCOMPARE(rig::reported("keyboard"), QStringLiteral("+a -a"));
    }

    void anotherOwnersExitStopsOnlyItsOwnPlayers() {
        {
            CommandTasks gone(m_client);
            gone.startTask(action(KeyAction::PlayCount, 1, {"down", "04", "up", ""}));
        }
        CommandTasks tasks(m_client);
        QSignalSpy finished(&tasks, &CommandTasks::taskFinished);
        tasks.startTask(action(KeyAction::PlayCount, 2, {"down", "05", "up", ""}));
        QVERIFY(finished.wait(5000));
        QVERIFY(rig::reported("keyboard").endsWith("+b -b +b -b"));
    }

    // The task thread is kept for the next player, unless the player there is still in a
    // play-count run: that run goes on beside the next player, which gets a thread of its own.
    void taskThreadIsKeptUnlessARunIsInProgress_data() {
        QTest::addColumn<int>("playType");
        QTest::addColumn<QStringList>("first");
        QTest::addColumn<bool>("waitForEnd");
        QTest::addColumn<bool>("sameThread");
        QTest::newRow("play count, ended")
            << int(KeyAction::PlayCount) << QStringList{"down", "04", "up", ""} << true << true;
        QTest::newRow("repeating")
            << int(KeyAction::Toggle) << QStringList{"down", "04", "delayTime", "20", "up", ""}
            << false << true;
        QTest::newRow("play count, in progress")
            << int(KeyAction::PlayCount) << QStringList{"down", "04", "delayTime", "400", "up", ""}
            << false << false;
    }
    void taskThreadIsKeptUnlessARunIsInProgress() {
        QFETCH(int, playType);
        QFETCH(QStringList, first);
        QFETCH(bool, waitForEnd);
        QFETCH(bool, sameThread);
        CommandTasks tasks(m_client);
        QSignalSpy finished(&tasks, &CommandTasks::taskFinished);
        tasks.startTask(action(playType, 1, first));
        QTRY_VERIFY_WITH_TIMEOUT(rig::reported("keyboard").startsWith("+a"), 5000);
        if (waitForEnd)
            QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 5000);
        const QPointer<QThread> before = tasks.player()->thread();
        finished.clear();
        QElapsedTimer clock;
        clock.start();
        tasks.startTask(action(KeyAction::PlayCount, 1, {"keyDown", "05", "keyUp", "05"}));
        QCOMPARE(tasks.player()->thread() == before.data(), sameThread);
        QVERIFY(finished.wait(5000));
        // Beside a run in progress the new player does not wait for its end.
        QVERIFY2(clock.elapsed() < 300, qPrintable(QString::number(clock.elapsed())));
        QTRY_VERIFY_WITH_TIMEOUT(rig::reported("keyboard").contains("+b -b"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(rig::nothingHeld(), 5000);
    }

    // A capture loop's requests count while its session is open: once the mode went off or a
    // new loop took over, they start and stop nothing.
    void requestsOfAClosedSessionAreDropped() {
        CommandTasks tasks(m_client);
        QSignalSpy finished(&tasks, &CommandTasks::taskFinished);
        const quint64 replaced = tasks.openSession();
        const quint64 open = tasks.openSession();
        tasks.startTaskIn(replaced, action(KeyAction::PlayCount, 1, {"down", "04", "up", ""}));
        tasks.startTaskIn(
            open, action(KeyAction::Toggle, 1, {"down", "05", "delayTime", "20", "up", ""}));
        QTRY_VERIFY_WITH_TIMEOUT(rig::reported("keyboard").startsWith("+b -b +b"), 5000);
        tasks.toggleIn(replaced);
        tasks.closeSession();
        tasks.toggleIn(open);
        tasks.startTaskIn(open, action(KeyAction::PlayCount, 1, {"down", "04", "up", ""}));
        QTest::qWait(100);
        QVERIFY(finished.isEmpty()); // the toggle task plays on
        QVERIFY(!rig::reported("keyboard").contains("+a"));
        tasks.discard();
        QTRY_VERIFY_WITH_TIMEOUT(rig::nothingHeld(), 5000);
    }

    void startReplacesThePreviousTask() {
        CommandTasks tasks(m_client);
        QSignalSpy finished(&tasks, &CommandTasks::taskFinished);
        tasks.startTask(action(KeyAction::Toggle, 1, {"down", "05", "delayTime", "20", "up", ""}));
        QTRY_VERIFY_WITH_TIMEOUT(rig::reported("keyboard").startsWith("+b -b +b"), 5000);
        tasks.startTask(action(KeyAction::PlayCount, 1, {"down", "04", "up", ""}));
        QVERIFY(finished.wait(5000));
        // The replaced task may still complete its run in progress, so the new press can come
        // between the old one's press and release.
        QTRY_VERIFY_WITH_TIMEOUT(rig::reported("keyboard").contains("+a"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(rig::nothingHeld(), 5000);
        const QString log = rig::reported("keyboard");
        QTest::qWait(150); // the replaced toggle task plays no more
        QCOMPARE(rig::reported("keyboard"), log);
    }
};

QTEST_MAIN(CommandExecTest)
#include "tst_commandexec.moc"
