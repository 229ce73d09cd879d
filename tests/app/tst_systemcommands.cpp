// The system and view commands against a recording main window and the simulated settings; the
// file dialogs are the real ones, answered as a user would.

#include "app/systemcommands.h"
#include "platform/sim/syssettings.h"
#include "recordingcallback.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace ss = platform::syssettings;

namespace {

class RecordingHost : public ViewHost {
public:
    void loadMainPage(const QString& url) override { calls << QStringLiteral("load ") + url; }
    void mainPageHistory(bool back) override {
        calls << (back ? QStringLiteral("back") : QStringLiteral("forward"));
    }
    void openView(const QString& url, const QSize& size) override {
        calls << QStringLiteral("open %1 %2x%3").arg(url).arg(size.width()).arg(size.height());
    }
    void closeView() override { calls << QStringLiteral("close"); }
    void pushToMainPage(const QString& name, const QString& text) override {
        calls << name + QLatin1Char(' ') + text;
    }
    QWidget* dialogParent() override { return &parent; }

    QStringList calls;
    QWidget parent;
};

QVariantMap request(std::initializer_list<std::pair<const char*, QVariant>> items) {
    QVariantMap map;
    for (const auto& item : items)
        map.insert(QLatin1String(item.first), item.second);
    return map;
}

// Answers the next modal file dialog: types `name` and accepts, or cancels when empty.
void answerDialog(const QString& name, QString* caption, QString* folder, QStringList* filters) {
    QTimer::singleShot(0, [=] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            answerDialog(name, caption, folder, filters);
            return;
        }
        *caption = dialog->windowTitle();
        *folder = dialog->directory().absolutePath();
        *filters = dialog->nameFilters();
        if (name.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(name);
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

} // namespace

class SystemCommandsTest : public QObject {
    Q_OBJECT
private:
    RecordingHost host;
    SystemCommands commands{host, ProgramFolders::staged(QStringLiteral("/opt/tavix"))};
    ss::sim::Backend sim;

private slots:
    void initTestCase() {
        // The dialogs are Qt's own, so the test can fill them in.
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    }
    void init() {
        host.calls.clear();
        sim = ss::sim::Backend();
        ss::installBackend(&sim);
    }
    void cleanup() { ss::installBackend(nullptr); }

    void mouseSpeed_data() {
        QTest::addColumn<QVariant>("speednum");
        QTest::addColumn<bool>("success");
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("t1");
        QTest::addColumn<int>("t2");
        QTest::addColumn<int>("level");
        // Unchanged settings are 10 and (6, 10, 1).
        QTest::newRow("0 turns acceleration off") << QVariant(0) << true << 0 << 0 << 0 << 0;
        QTest::newRow("1") << QVariant(1) << true << 1 << 7 << 0 << 1;
        QTest::newRow("2 as text") << QVariant("2") << true << 2 << 4 << 6 << 2;
        QTest::newRow("3") << QVariant(3) << true << 3 << 4 << 0 << 1;
        QTest::newRow("4 keeps the last row") << QVariant(4) << true << 4 << 4 << 0 << 1;
        QTest::newRow("20") << QVariant(20) << true << 20 << 4 << 0 << 1;
        QTest::newRow("21") << QVariant(21) << false << 10 << 6 << 10 << 1;
        QTest::newRow("negative") << QVariant(-1) << false << 10 << 6 << 10 << 1;
        QTest::newRow("fraction") << QVariant(2.5) << false << 10 << 6 << 10 << 1;
        QTest::newRow("not a number") << QVariant("fast") << false << 10 << 6 << 10 << 1;
        QTest::newRow("empty") << QVariant("") << false << 10 << 6 << 10 << 1;
    }
    void mouseSpeed() {
        QFETCH(QVariant, speednum);
        QFETCH(bool, success);
        QFETCH(int, speed);
        QFETCH(int, t1);
        QFETCH(int, t2);
        QFETCH(int, level);
        auto cb = makeRecorder();
        commands.modifyMouseSpeed(request({{"speednum", speednum}}), cb);
        QCOMPARE(cb->answers.size(), size_t(1));
        QCOMPARE(cb->last().success, success);
        QCOMPARE(cb->last().text, success ? QStringLiteral("modifyMouseSpeed success")
                                          : QStringLiteral("modifyMouseSpeed failed"));
        QCOMPARE(cb->last().code, 0);
        QCOMPARE(sim.speed, speed);
        QVERIFY(sim.acceleration == (ss::MouseAcceleration{t1, t2, level}));
    }

    void systemRefusalIsReported_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("failure");
        QTest::newRow("speed") << "modifyMouseSpeed"
                               << "speednum"
                               << "modifyMouseSpeed failed";
        QTest::newRow("lines") << "modifyMouseScrollLines"
                               << "linenum"
                               << "modifyMouseScrollLines failed";
    }
    void systemRefusalIsReported() {
        QFETCH(QString, command);
        QFETCH(QString, argument);
        QFETCH(QString, failure);
        sim.refuseAll = true;
        auto cb = makeRecorder();
        const QVariantMap args{{argument, 5}};
        if (command == QLatin1String("modifyMouseSpeed"))
            commands.modifyMouseSpeed(args, cb);
        else
            commands.modifyMouseScrollLines(args, cb);
        QCOMPARE(cb->answers.size(), size_t(1));
        QVERIFY(!cb->last().success);
        QCOMPARE(cb->last().text, failure);
    }

    void scrollLines_data() {
        QTest::addColumn<QVariant>("linenum");
        QTest::addColumn<bool>("success");
        QTest::addColumn<int>("lines");
        QTest::newRow("number") << QVariant(7) << true << 7;
        QTest::newRow("text") << QVariant("12") << true << 12;
        QTest::newRow("zero") << QVariant(0) << true << 0;
        QTest::newRow("negative") << QVariant(-1) << false << 3;
        QTest::newRow("not a number") << QVariant("many") << false << 3;
    }
    void scrollLines() {
        QFETCH(QVariant, linenum);
        QFETCH(bool, success);
        QFETCH(int, lines);
        auto cb = makeRecorder();
        commands.modifyMouseScrollLines(request({{"linenum", linenum}}), cb);
        QCOMPARE(cb->answers.size(), size_t(1));
        QCOMPARE(cb->last().success, success);
        QCOMPARE(sim.lines, lines);
    }

    void setIMEAlwaysAnswersSuccess_data() {
        QTest::addColumn<bool>("refuse");
        QTest::newRow("accepted") << false;
        QTest::newRow("refused") << true;
    }
    void setIMEAlwaysAnswersSuccess() {
        QFETCH(bool, refuse);
        sim.layout = "00000407";
        sim.refuseAll = refuse;
        auto cb = makeRecorder();
        commands.setIME({}, cb);
        QCOMPARE(cb->answers.size(), size_t(1));
        QCOMPARE(cb->last().text, QStringLiteral("setIME success!"));
        QCOMPARE(sim.layout, refuse ? std::string("00000407") : std::string("00000409"));
    }

    void missingArgumentGivesNoAnswer_data() {
        QTest::addColumn<int>("which");
        for (int i = 0; i < 6; ++i)
            QTest::newRow(QByteArray::number(i)) << i;
    }
    void missingArgumentGivesNoAnswer() {
        QFETCH(int, which);
        auto cb = makeRecorder();
        const QVariantMap none;
        switch (which) {
        case 0:
            commands.modifyMouseSpeed(none, cb);
            break;
        case 1:
            commands.modifyMouseScrollLines(none, cb);
            break;
        case 2:
            commands.sendMsgToMainBrowser(none, cb);
            break;
        case 3:
            commands.openUrl(none, cb);
            break;
        case 4:
            commands.openView(request({{"relativeUrl", "/view/x.html"}}), cb);
            break;
        case 5:
            commands.loadurl(none, cb);
            break;
        }
        QVERIFY(!cb->answered());
        QVERIFY(host.calls.isEmpty());
        QCOMPARE(sim.speed, 10);
    }

    void navigationAndMessages() {
        auto load = makeRecorder(), back = makeRecorder(), forward = makeRecorder(),
             msg = makeRecorder();
        commands.loadurl(request({{"url", "/view/device/a/index.html"}}), load);
        commands.goback({}, back);
        commands.goforward({}, forward);
        commands.sendMsgToMainBrowser(request({{"msg", "{\"a\":1}"}}), msg);
        QCOMPARE(host.calls, (QStringList{"load file:///opt/tavix/view/device/a/index.html", "back",
                                          "forward", "onBrowserMsg {\"a\":1}"}));
        QVERIFY(!load->answered());
        QCOMPARE(back->last().text, QStringLiteral("goback"));
        QCOMPARE(forward->last().text, QStringLiteral("goforward"));
        QCOMPARE(msg->last().text, QStringLiteral("sendMsgToMainBrowser success"));
    }

    // Only pages of the view folder: anything else would be shown with the bridge at hand.
    void pagesOutsideTheViewFolderAreNotOpened_data() {
        QTest::addColumn<QString>("address");
        QTest::newRow("climbing") << "../../../../etc/passwd";
        QTest::newRow("climbing out of view") << "/view/../../../etc/passwd";
        QTest::newRow("escaped dots") << "/view/%2e%2e/%2e%2e/etc/passwd";
        QTest::newRow("backslashes") << "/view\\..\\..\\etc\\passwd";
        QTest::newRow("a folder beside view") << "/viewer/index.html";
        QTest::newRow("the folder itself") << "/view";
        QTest::newRow("a NUL") << QString("/view/a%1.html").arg(QChar(0));
        QTest::newRow("empty") << "";
    }
    void pagesOutsideTheViewFolderAreNotOpened() {
        QFETCH(QString, address);
        auto cb = makeRecorder();
        commands.loadurl(request({{"url", address}}), cb);
        commands.openView(request({{"relativeUrl", address}, {"size", "400,300"}}), cb);
        QCOMPARE(host.calls, QStringList());
        QVERIFY(!cb->answered());
        // A page of the folder, with what follows its path as written.
        commands.loadurl(request({{"url", "/view/device/a/../b/index.html?lang=en#top"}}), cb);
        QCOMPARE(host.calls,
                 QStringList("load file:///opt/tavix/view/device/b/index.html?lang=en#top"));
    }

    void openViewSize_data() {
        QTest::addColumn<QString>("size");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("two items") << "800,500" << QSize(800, 500);
        QTest::newRow("extra items ignored") << "800,500,9" << QSize(800, 500);
        QTest::newRow("one item") << "800" << QSize(1000, 600);
        QTest::newRow("empty height") << "800," << QSize(1000, 600);
        QTest::newRow("not numbers") << "wide,tall" << QSize(1000, 600);
        QTest::newRow("negative") << "-5,300" << QSize(1000, 600);
        QTest::newRow("empty") << "" << QSize(1000, 600);
    }
    void openViewSize() {
        QFETCH(QString, size);
        QFETCH(QSize, expected);
        commands.openView(request({{"relativeUrl", "/view/a.html"}, {"size", size}}), nullptr);
        QCOMPARE(host.calls, QStringList(QStringLiteral("open file:///opt/tavix/view/a.html %1x%2")
                                             .arg(expected.width())
                                             .arg(expected.height())));
    }

    void fileDialogs_data() {
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("startsInDocuments");
        QTest::addColumn<QStringList>("filters");
        const QStringList pfd{QStringLiteral("pfd文件(*.pfd)")};
        QTest::newRow("save") << 0 << "保存为" << true << pfd;
        QTest::newRow("open") << 1 << "打开" << true << pfd;
        QTest::newRow("open any") << 2 << "打开" << false << QStringList();
    }
    void fileDialogs() {
        QFETCH(int, which);
        QFETCH(QString, caption);
        QFETCH(bool, startsInDocuments);
        QFETCH(QStringList, filters);
        QTemporaryDir home;
        const QByteArray oldHome = qgetenv("HOME");
        qputenv("HOME", home.path().toUtf8());
        QDir(home.path()).mkpath(QStringLiteral("Documents"));
        // Saving names a new file (an existing one would ask before replacing it).
        const QString chosen = home.path() + (which == 0 ? QStringLiteral("/Documents/new.pfd")
                                                         : QStringLiteral("/Documents/mine.pfd"));
        if (which != 0)
            QFile(chosen).open(QIODevice::WriteOnly);

        for (const QString& answer : {chosen, QString()}) {
            QString seenCaption, seenFolder;
            QStringList seenFilters;
            answerDialog(answer, &seenCaption, &seenFolder, &seenFilters);
            auto cb = makeRecorder();
            if (which == 0)
                commands.saveFileDialog({}, cb);
            else if (which == 1)
                commands.openFileDialog({}, cb);
            else
                commands.openFileDialogEx({}, cb);
            QCOMPARE(seenCaption, caption);
            if (startsInDocuments)
                QCOMPARE(seenFolder, home.path() + QStringLiteral("/Documents"));
            if (!filters.isEmpty())
                QCOMPARE(seenFilters, filters);
            // A cancelled dialog gives no answer; the page is told the dialog went either way.
            QCOMPARE(cb->answered(), !answer.isEmpty());
            QCOMPARE(host.calls.takeLast(),
                     QString("fileDialogClosed ") + (answer.isEmpty() ? "0" : "1"));
            if (!answer.isEmpty()) {
                QCOMPARE(cb->answers.size(), size_t(1));
                QCOMPARE(cb->last().text, chosen);
            }
        }
        qputenv("HOME", oldHome);
    }

    // Only files of the program's folders are told about; a path that climbs out is none.
    void fileExists_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("answer");
        QTest::newRow("a file") << "view/device/a/seting.html"
                                << "1";
        QTest::newRow("leading slash") << "/view/device/a/seting.html"
                                       << "1";
        QTest::newRow("missing") << "view/device/b/seting.html"
                                 << "0";
        QTest::newRow("a folder") << "view/device"
                                  << "0";
        QTest::newRow("climbing out") << "view/../../outside.txt"
                                      << "0";
        QTest::newRow("empty") << ""
                               << "0";
    }
    void fileExists() {
        QFETCH(QString, path);
        QFETCH(QString, answer);
        QTemporaryDir dir;
        const QString program = dir.filePath("program");
        QVERIFY(QDir().mkpath(program + "/view/device/a"));
        for (const QString& file :
             {program + "/view/device/a/seting.html", dir.filePath("outside.txt")}) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        SystemCommands inFolder(host, ProgramFolders::staged(program));
        auto cb = makeRecorder();
        inFolder.fileExists(request({{"relativePath", path}}), cb);
        QCOMPARE(cb->answers.size(), size_t(1));
        QCOMPARE(cb->last().text, answer);
    }
};

QTEST_MAIN(SystemCommandsTest)
#include "tst_systemcommands.moc"
