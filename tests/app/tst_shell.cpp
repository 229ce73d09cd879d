// The shell's decisions that need no browser: the start-up switches and sizes, the texts of the
// single-instance hand-over, and closeApp.

#include "app/appcommands.h"
#include "app/singleinstance.h"
#include "app/startup.h"
#include "config/configstore.h"
#include "recordingcallback.h"

#include <QLocalServer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

namespace {

class FakeAppHost : public AppHost {
public:
    void quitApplication() override { ++quits; }
    void hideToTray() override { ++hides; }
    int quits = 0;
    int hides = 0;
};

} // namespace

class tst_Shell : public QObject {
    Q_OBJECT
private slots:
    void autostartSwitch_data();
    void autostartSwitch();
    void clientSize_data();
    void clientSize();
    void liveAddressesAlwaysPresent();

    void commandsFromBuffer_data();
    void commandsFromBuffer();
    void answerParsing_data();
    void answerParsing();
    void windowTitle_data();
    void windowTitle();
    void replyCarriesProcessId();
    void copiesStartingTogetherMakeOneFirst();

    void closeApp_data();
    void closeApp();
};

void tst_Shell::autostartSwitch_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("expected");
    QTest::newRow("none") << QStringList{"tavix"} << false;
    QTest::newRow("exact") << QStringList{"tavix", "-autostart"} << true;
    QTest::newRow("among others") << QStringList{"tavix", "--x", "-autostart", "y"} << true;
    QTest::newRow("only begins with it") << QStringList{"tavix", "-autostartx"} << false;
    QTest::newRow("other prefix character") << QStringList{"tavix", "/autostart"} << false;
    QTest::newRow("double dash") << QStringList{"tavix", "--autostart"} << false;
    QTest::newRow("letter case") << QStringList{"tavix", "-AutoStart"} << false;
    QTest::newRow("with a value") << QStringList{"tavix", "-autostart=1"} << false;
}

void tst_Shell::autostartSwitch() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, expected);
    QCOMPARE(startup::hasAutostartSwitch(arguments), expected);
}

void tst_Shell::clientSize_data() {
    QTest::addColumn<QString>("value"); // "<missing>" leaves the attribute out
    QTest::addColumn<QSize>("expected");
    QTest::newRow("missing") << "<missing>" << QSize(800, 600);
    QTest::newRow("given") << "1200,760" << QSize(1200, 760);
    QTest::newRow("one part") << "1200" << QSize(800, 600);
    QTest::newRow("empty") << "" << QSize(800, 600);
    QTest::newRow("width no number") << "wide,760" << QSize(0, 760);
    QTest::newRow("height no number") << "1200,tall" << QSize(1200, 0);
    QTest::newRow("three parts") << "1000,700,5" << QSize(1000, 700);
    QTest::newRow("blank around") << " 1000 , 700 " << QSize(1000, 700);
}

void tst_Shell::clientSize() {
    QFETCH(QString, value);
    QFETCH(QSize, expected);
    QMap<QString, QString> attributes{{"version", "1.0.0"}};
    if (value != QLatin1String("<missing>"))
        attributes.insert("clientSize", value);
    QCOMPARE(startup::clientSize(attributes), expected);
}

void tst_Shell::liveAddressesAlwaysPresent() {
    QMap<QString, QString> attributes{{"MacAddress", "stale"}, {"IpAddress", "127.0.0.1"}};
    startup::putLiveAddresses(attributes);
    QVERIFY(attributes.contains("MacAddress"));
    QVERIFY(attributes.contains("IpAddress"));
    QVERIFY(attributes.value("MacAddress") != QLatin1String("stale"));
    QVERIFY(attributes.value("IpAddress") != QLatin1String("127.0.0.1"));
}

void tst_Shell::commandsFromBuffer_data() {
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QByteArray>("rest");
    QTest::newRow("one") << QByteArray("CMD:show;") << QStringList{"show"} << QByteArray();
    QTest::newRow("several in one packet") << QByteArray("CMD:show;CMD:show;CMD:other;")
                                           << QStringList{"show", "show", "other"} << QByteArray();
    QTest::newRow("unterminated waits")
        << QByteArray("CMD:sh") << QStringList{} << QByteArray("CMD:sh");
    QTest::newRow("terminated then partial")
        << QByteArray("CMD:show;CMD:sh") << QStringList{"show"} << QByteArray("CMD:sh");
    QTest::newRow("not commands skipped")
        << QByteArray("hello;cmd:show;RES:1;CMD:show;") << QStringList{"show"} << QByteArray();
    QTest::newRow("empty segments") << QByteArray(";;CMD:;") << QStringList{""} << QByteArray();
    QTest::newRow("nothing") << QByteArray() << QStringList{} << QByteArray();
}

void tst_Shell::commandsFromBuffer() {
    QFETCH(QByteArray, buffer);
    QFETCH(QStringList, commands);
    QFETCH(QByteArray, rest);
    QCOMPARE(singleinstance::takeCommands(buffer), commands);
    QCOMPARE(buffer, rest);
}

void tst_Shell::answerParsing_data() {
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<quint64>("pid");
    QTest::newRow("answer") << QByteArray("RES:4242;") << true << quint64(4242);
    QTest::newRow("incomplete") << QByteArray("RES:4242") << false << quint64(0);
    QTest::newRow("zero") << QByteArray("RES:0;") << true << quint64(0);
    QTest::newRow("not a number") << QByteArray("RES:abc;") << false << quint64(0);
    QTest::newRow("negative") << QByteArray("RES:-5;") << false << quint64(0);
    QTest::newRow("after noise") << QByteArray("xyRES:17;") << true << quint64(17);
    QTest::newRow("beyond 64 bits")
        << QByteArray("RES:99999999999999999999999;") << true << quint64(0);
    QTest::newRow("largest") << QByteArray("RES:18446744073709551615;") << true
                             << quint64(18446744073709551615ULL);
}

void tst_Shell::answerParsing() {
    QFETCH(QByteArray, buffer);
    QFETCH(bool, complete);
    QFETCH(quint64, pid);
    bool whole = !complete;
    QCOMPARE(singleinstance::parseAnswer(buffer, &whole), pid);
    QCOMPARE(whole, complete);
}

void tst_Shell::windowTitle_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("matches");
    QTest::newRow("plain") << "tavix" << true;
    QTest::newRow("numbered") << "tavix (2)" << true;
    QTest::newRow("numbered no blank") << "tavix(12)" << true;
    QTest::newRow("numbered blanks") << "tavix   (3)" << true;
    QTest::newRow("capital") << "Tavix" << false;
    QTest::newRow("number without parentheses") << "tavix 2" << false;
    QTest::newRow("empty parentheses") << "tavix ()" << false;
    QTest::newRow("trailing text") << "tavix (2) settings" << false;
    QTest::newRow("leading text") << "my tavix" << false;
    QTest::newRow("empty") << "" << false;
}

void tst_Shell::windowTitle() {
    QFETCH(QString, title);
    QFETCH(bool, matches);
    QCOMPARE(singleinstance::titleMatches(title), matches);
}

void tst_Shell::replyCarriesProcessId() {
    QCOMPARE(singleinstance::reply(1234), QByteArray("RES:1234;"));
    QCOMPARE(singleinstance::showCommand(), QByteArray("CMD:show;"));
    bool complete = false;
    QCOMPARE(singleinstance::parseAnswer(singleinstance::reply(77), &complete), quint64(77));
    QVERIFY(complete);
    QVERIFY(!singleinstance::raiseWindowOf(0));
}

void tst_Shell::closeApp_data() {
    QTest::addColumn<QString>("closeFunc"); // "<missing>": no such attribute
    QTest::addColumn<int>("quits");
    QTest::addColumn<int>("hides");
    QTest::newRow("quit") << "closeapp" << 1 << 0;
    QTest::newRow("hide") << "hide" << 0 << 1;
    QTest::newRow("letter case hides") << "CloseApp" << 0 << 1;
    QTest::newRow("empty hides") << "" << 0 << 1;
    QTest::newRow("missing does nothing") << "<missing>" << 0 << 0;
}

void tst_Shell::closeApp() {
    QFETCH(QString, closeFunc);
    QFETCH(int, quits);
    QFETCH(int, hides);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    ConfigStore store(folder.path());
    QMap<QString, QString> client{{"version", "1.0.0"}};
    if (closeFunc != QLatin1String("<missing>"))
        client.insert("closeFunc", closeFunc);
    store.replaceClientAttributes(client);

    FakeAppHost host;
    AppCommands commands(store, host);
    auto cb = makeRecorder();
    commands.closeApp({{"funcname", "closeApp"}}, cb);
    QCOMPARE(host.quits, quits);
    QCOMPARE(host.hides, hides);
    QCOMPARE(cb->answers.size(), size_t(1));
    QVERIFY(cb->last().success);
    QCOMPARE(cb->last().text, QString("modify conf sucess"));
}

// Two copies that found nobody on the name at the same moment: one listens, the other learns that
// the name is held (and asks again), each round. What a copy that ended left there is no
// hindrance.
void tst_Shell::copiesStartingTogetherMakeOneFirst() {
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", temp.path());
    const QString name = singleinstance::serverName();
    QFile left(temp.filePath(name));
    QVERIFY(left.open(QIODevice::WriteOnly));
    left.close();
    for (int round = 0; round < 20; ++round) {
        QProcess copies[2];
        for (QProcess& copy : copies) {
            copy.setProcessEnvironment(env);
            copy.start(QCoreApplication::applicationFilePath(), {"--listen-as-first", name});
        }
        for (QProcess& copy : copies)
            QVERIFY(copy.waitForStarted());
        for (QProcess& copy : copies)
            copy.write("go\n");
        QStringList outcomes;
        for (QProcess& copy : copies) {
            QTRY_VERIFY(copy.canReadLine());
            outcomes << QString::fromLatin1(copy.readLine()).trimmed();
        }
        outcomes.sort();
        QCOMPARE(outcomes, (QStringList{"first", "held elsewhere"}));
        for (QProcess& copy : copies) {
            copy.closeWriteChannel();
            QVERIFY(copy.waitForFinished());
        }
    }
}

namespace {
// The copy's side of copiesStartingTogetherMakeOneFirst: on a line from standard input it tries
// to become the first instance of the name, says how that went, and keeps what it got until
// standard input ends.
int listenAsFirst(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    char line[16];
    if (!std::fgets(line, sizeof line, stdin))
        return 1;
    bool heldElsewhere = false;
    const QLocalServer* server = singleinstance::listenAsFirstInstance(
        QString::fromLocal8Bit(argv[2]), &app, &heldElsewhere);
    std::printf("%s\n", server ? "first" : heldElsewhere ? "held elsewhere" : "failed");
    std::fflush(stdout);
    while (std::fgets(line, sizeof line, stdin)) {
    }
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && qstrcmp(argv[1], "--listen-as-first") == 0)
        return listenAsFirst(argc, argv);
    QCoreApplication app(argc, argv);
    tst_Shell test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_shell.moc"
