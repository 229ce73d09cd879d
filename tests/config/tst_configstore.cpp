#include "config/confcommands.h"
#include "config/configstore.h"
#include "fakeconfhost.h"
#include "recordingcallback.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

const char* const kConf = "<?xml version=\"1.0\"?>\n"
                          "<root>\n"
                          "\t<client version=\"1.2\" clientSize=\"800,600\" fastSwitch=\"Ctrl+F1\" "
                          "testTool=\"Ctrl+F2\" autoStart=\"false\" closeFunc=\"hide\" />\n"
                          "\t<defaultConf clientSize=\"1024,768\" closeFunc=\"closeapp\" "
                          "notInClient=\"x\" />\n"
                          "\t<conf deviceId=\"001FBA1C\">\n"
                          "\t\t<productInfo device=\"demo\" productCN=\"Demo\" GHotKey=\"\" />\n"
                          "\t</conf>\n"
                          "</root>\n";

QByteArray readBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

} // namespace

class ConfigStoreTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString confPath() const { return m_dir.path() + "/Resources/profiles/conf.xml"; }

    void writeConf(const QByteArray& bytes) {
        QDir().mkpath(m_dir.path() + "/Resources/profiles");
        QFile f(confPath());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

    // Runs one command and returns its recorder.
    std::shared_ptr<RecordingCallback> call(ConfCommands& commands,
                                            void (ConfCommands::*method)(const QVariantMap&,
                                                                         const RouterCallback&),
                                            const QVariantMap& a = {}) {
        auto cb = makeRecorder();
        (commands.*method)(a, cb);
        return cb;
    }

private slots:
    void init() { writeConf(kConf); }

    // The device listing's reading of a record, from the store's own document; the text the
    // page edits in memory is the one asked.
    void listedProductInfoByDeviceId_data() {
        QTest::addColumn<QByteArray>("conf");
        QTest::addColumn<QString>("deviceId");
        QTest::addColumn<bool>("parsed");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("productName");
        const QByteArray two = u8"<root><a deviceId=\"X\"><p name=\"other\" productName=\"no\"/>"
                               u8"<p name=\"产品信息\" productName=\"first\"/>"
                               u8"<p name=\"产品信息\" productName=\"second\"/></a>"
                               u8"<b deviceId=\"Y\"/></root>";
        QTest::newRow("first info element of the entry") << two << "X" << true << true << "first";
        QTest::newRow("entry without info") << two << "Y" << true << true << "";
        QTest::newRow("no entry") << two << "Z" << true << false << "";
        QTest::newRow("not xml") << QByteArray("<root><a deviceId=\"X\">") << "X" << false << false
                                 << "";
    }
    void listedProductInfoByDeviceId() {
        QFETCH(QByteArray, conf);
        QFETCH(QString, deviceId);
        QFETCH(bool, parsed);
        QFETCH(bool, found);
        QFETCH(QString, productName);
        ConfigStore store(m_dir.path());
        store.setConfText(QString::fromUtf8(conf));
        QCOMPARE(store.parsed().ok, parsed);
        const auto info = store.listedProductInfo(deviceId);
        QCOMPARE(info.has_value(), found);
        if (found)
            QCOMPARE(info->value("productName"), productName);
    }

    // Every reader of a device's record finds it by one rule, in memory and on disk alike.
    void deviceRecordByOneRule_data() {
        QTest::addColumn<QByteArray>("conf");
        QTest::addColumn<QString>("deviceId");
        QTest::addColumn<QString>("folder"); // "-": no record
        const QByteArray conf =
            u8"<root>"
            u8"<conf deviceId=\"A\"/>"
            u8"<conf deviceId=\"A\"><productInfo device=\"second\"/></conf>"
            u8"<device deviceId=\"B\"><productInfo device=\"notconf\"/></device>"
            u8"<conf deviceId=\"C\"><info name=\"产品信息\" device=\"byname\"/></conf>"
            u8"<conf deviceId=\"D\"><productInfo/></conf>"
            u8"<conf deviceId=\"E'\"><productInfo device=\"quoted\"/></conf>"
            u8"<conf deviceId=\"F\"><productInfo device=\"f\"/>"
            u8"<productInfo device=\"later\"/></conf>"
            u8"</root>";
        QTest::newRow("record in a later conf of the id") << conf << "A"
                                                          << "second";
        QTest::newRow("element other than conf") << conf << "B"
                                                 << "-";
        QTest::newRow("found by element name, not by name attribute") << conf << "C"
                                                                      << "-";
        QTest::newRow("record without attributes") << conf << "D"
                                                   << "";
        QTest::newRow("first record of a conf") << conf << "F"
                                                << "f";
        QTest::newRow("quote in the id") << conf << "E'"
                                         << "-";
        QTest::newRow("id that would widen the expression") << conf << "x' or @deviceId='F"
                                                            << "-";
        QTest::newRow("ids compare case-sensitively") << conf << "f"
                                                      << "-";
        QTest::newRow("not xml") << QByteArray("<root><conf deviceId=\"F\">") << "F"
                                 << "-";
    }
    void deviceRecordByOneRule() {
        QFETCH(QByteArray, conf);
        QFETCH(QString, deviceId);
        QFETCH(QString, folder);
        writeConf(conf);
        ConfigStore store(m_dir.path());
        store.setConfText(QString::fromUtf8(conf));
        const auto info = store.productInfo(deviceId);
        QCOMPARE(info ? info->value("device") : QString("-"), folder);
        QCOMPARE(store.pageFolder(deviceId).value_or("-"), folder);
        const auto recorded = store.recordedPageFolder(deviceId);
        QCOMPARE(recorded.ok, store.parsed().ok);
        QCOMPARE(recorded.value.value_or("-"), folder);
        const bool committed = store.commitProductAttribute(deviceId, "device", "new").ok;
        QCOMPARE(committed, folder != "-");
        if (committed)
            QCOMPARE(*store.pageFolder(deviceId), folder.isEmpty() ? QString() : QString("new"));
    }

    // A device's product information is recorded in the file as it is on disk: the record made
    // or set afresh with the given attributes in their order (others kept before them), the
    // file's own declaration kept, and the result committed as the text in memory.
    void productInfoRecordedInFile_data() {
        QTest::addColumn<QByteArray>("conf");
        QTest::addColumn<bool>("recorded");
        QTest::addColumn<int>("attributes"); // of the record afterwards
        const char* declared = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root><client/>";
        QTest::newRow("new device") << QByteArray(declared) + "</root>" << true << 3;
        QTest::newRow("recorded before in another order")
            << QByteArray(declared) +
                   "<conf deviceId=\"04D9A0F1\"><productInfo device=\"OLD\" extra=\"x\" "
                   "name=\"n\"/></conf></root>"
            << true << 4;
        QTest::newRow("conf without a record")
            << QByteArray(declared) + "<conf deviceId=\"04D9A0F1\" keep=\"1\"/></root>" << true
            << 3;
        QTest::newRow("not xml") << QByteArray("<root><client>") << false << 0;
        QTest::newRow("no root") << QByteArray("<other/>") << false << 0;
        QTest::newRow("no file") << QByteArray() << false << 0;
    }
    void productInfoRecordedInFile() {
        QFETCH(QByteArray, conf);
        QFETCH(bool, recorded);
        QFETCH(int, attributes);
        ConfigStore store(m_dir.path());
        store.load();
        const QString before = store.confText();
        if (conf.isEmpty())
            QFile::remove(confPath());
        else
            writeConf(conf);
        const platform::Result r = store.recordProductInfo(
            "04D9A0F1", {{"name", "产品信息"}, {"b", "2"}, {"device", "KX"}});
        QCOMPARE(r.ok, recorded);
        if (!recorded) {
            QVERIFY(!r.text.empty());
            QCOMPARE(readBytes(confPath()), conf);
            QCOMPARE(store.confText(), before);
            return;
        }
        const QByteArray disk = readBytes(confPath());
        QVERIFY(disk.startsWith("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"));
        QCOMPARE(QString::fromUtf8(disk).remove('\r'), store.confText());
        QCOMPARE(store.pageFolder("04D9A0F1"), std::optional<QString>("KX"));
        QCOMPARE(store.productInfo("04D9A0F1")->size(), attributes);
        QVERIFY(store.confText().contains(
            QString::fromUtf8(u8"name=\"产品信息\" b=\"2\" device=\"KX\" />")));
        if (conf.contains("keep=\"1\""))
            QVERIFY(store.confText().contains("keep=\"1\""));
    }

    // A value the program learnt reaches the file only through an attribute the client element
    // has, and keeps the file's declaration; the page's own edit writes a fresh one.
    void learntValueKeepsTheDeclaration_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("written");
        QTest::addColumn<QString>("inMemory");
        QTest::newRow("attribute of the element") << "synchronize" << true << "7";
        QTest::newRow("name only in memory") << "MacAddress" << false << "7";
        QTest::newRow("unknown name") << "absent" << false << "";
    }
    void learntValueKeepsTheDeclaration() {
        QFETCH(QString, name);
        QFETCH(bool, written);
        QFETCH(QString, inMemory);
        const QByteArray conf = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root>\n\t<client "
                                "synchronize=\"0\" closeFunc=\"hide\" />\n</root>\n";
        writeConf(conf);
        ConfigStore store(m_dir.path());
        store.load();
        auto client = store.clientAttributes();
        client.insert("MacAddress", "live");
        store.replaceClientAttributes(client);
        QCOMPARE(store.recordClientAttribute(name, "7").ok, written);
        QCOMPARE(store.clientAttribute(name), inMemory);
        const QByteArray disk = readBytes(confPath());
        if (!written) {
            QCOMPARE(disk, conf);
            return;
        }
        QVERIFY(disk.startsWith("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"));
        QVERIFY(disk.contains("synchronize=\"7\""));
        QVERIFY(store.commitClientAttribute("closeFunc", "quit"));
        QVERIFY(readBytes(confPath()).startsWith("<?xml version=\"1.0\"?>\r\n"));
        store.setConfText("<root");
        QVERIFY(!store.recordClientAttribute("synchronize", "8"));
        QCOMPARE(store.clientAttribute("synchronize"), QString("8"));
    }

    // An edit reaches the map, the text and the file together; the next query sees it.
    // conf.xml is read whole only up to its bound and only from a regular file; beyond, the store
    // is left empty and a log line names the file and why.
    void fileSizeIsBounded_data() {
        QTest::addColumn<int>("padding"); // bytes past the bound; -1 for a pipe
        QTest::addColumn<bool>("read");
        QTest::addColumn<QString>("logged");
        QTest::newRow("at the bound") << 0 << true << QString();
        QTest::newRow("one byte past") << 1 << false << QString("is larger than 16777216 bytes");
        QTest::newRow("far past") << 4096 << false << QString("is larger than 16777216 bytes");
        QTest::newRow("pipe") << -1 << false << QString("is no regular file");
    }
    void fileSizeIsBounded() {
        QFETCH(int, padding);
        QFETCH(bool, read);
        QFETCH(QString, logged);
        QFile::remove(confPath());
        if (padding < 0) {
            QCOMPARE(::mkfifo(QFile::encodeName(confPath()).constData(), 0600), 0);
        } else {
            // A whole, valid conf.xml padded to the bound plus `padding`.
            QByteArray text(kConf);
            text.append(QByteArray(int(ConfigStore::kMaxFileSize) - text.size() + padding, ' '));
            writeConf(text);
        }
        if (!logged.isEmpty())
            QTest::ignoreMessage(QtInfoMsg, QRegularExpression("conf.xml '.*conf.xml' " + logged));
        ConfigStore store(m_dir.path());
        store.load();
        QCOMPARE(store.clientAttribute("closeFunc"), read ? QString("hide") : QString());
        QCOMPARE(store.confText().isEmpty(), !read);
        // The online services read the file through the same check.
        if (!logged.isEmpty())
            QTest::ignoreMessage(QtInfoMsg, QRegularExpression("conf.xml '.*conf.xml' " + logged));
        QCOMPARE(ConfigStore::mayReadWhole(confPath()).ok, read);
        QFile::remove(confPath());
    }

    void commitKeepsMapTextAndFileInStep() {
        ConfigStore store(m_dir.path());
        store.load();
        QVERIFY(!store.commitClientAttribute("nope", "1"));
        QVERIFY(store.commitClientAttribute("closeFunc", "closeapp"));
        QCOMPARE(store.clientAttribute("closeFunc"), QString("closeapp"));
        QVERIFY(store.confText().contains("closeFunc=\"closeapp\""));
        ConfigStore reread(m_dir.path());
        reread.load();
        QCOMPARE(reread.clientAttribute("closeFunc"), QString("closeapp"));
        store.setConfText("not xml");
        QVERIFY(!store.commitClientAttribute("closeFunc", "hide"));
        QVERIFY(!store.resetClientToDefaults());
    }

    void unusableFileGivesNoConfiguration_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<bool>("parses");
        QTest::newRow("missing") << QByteArray() << false << false;
        QTest::newRow("empty") << QByteArray() << true << false;
        QTest::newRow("not xml") << QByteArray("this is <not xml") << true << false;
        QTest::newRow("no client") << QByteArray("<root><other a=\"1\"/></root>") << true << true;
        QTest::newRow("binary") << QByteArray("\x00\xff\xfe<root>", 8) << true << false;
    }
    void unusableFileGivesNoConfiguration() {
        QFETCH(QByteArray, content);
        QFETCH(bool, exists);
        QFETCH(bool, parses);
        QFile::remove(confPath());
        if (exists)
            writeConf(content);
        ConfigStore store(m_dir.path());
        store.load();
        QVERIFY(store.clientAttributes().isEmpty());
        FakeConfHost host;
        ConfCommands commands(store, &host);
        auto cb = call(commands, &ConfCommands::getConf);
        QCOMPARE(cb->answers.size(), size_t(1));
        QVERIFY(!cb->last().success);
        QCOMPARE(cb->last().code, 0);
        QCOMPARE(cb->last().text, QString("cant find conf.xml"));

        cb = call(commands, &ConfCommands::setConf,
                  {{"confKey", "closeFunc"}, {"confValue", "closeapp"}});
        QCOMPARE(cb->last().text, QString("can't find conf name"));
        // resetConf answers only when the text parses (a document without `client` does).
        cb = call(commands, &ConfCommands::resetConf);
        QCOMPARE(cb->answered(), parses);
        QCOMPARE(QFile::exists(confPath()), exists);
    }

    void getConfListsClientWithShortcutFlags() {
        ConfigStore store(m_dir.path());
        store.load();
        FakeConfHost host;
        host.refused << "Ctrl+F1";
        host.assignShortcut("fastSwitch", "Ctrl+F1");
        host.assignShortcut("testTool", "Ctrl+F2");
        ConfCommands commands(store, &host);
        auto cb = call(commands, &ConfCommands::getConf);
        QVERIFY(cb->last().success);
        const QString text = cb->last().text;
        QVERIFY2(!text.contains(' ') && !text.contains('\n'), qPrintable(text));
        const QJsonArray array = QJsonDocument::fromJson(text.toUtf8()).array();
        QCOMPARE(array.size(), 1);
        const QJsonObject o = array.at(0).toObject();
        QCOMPARE(o.size(), 6);
        QCOMPARE(o.value("fastSwitch").toString(), QString("Ctrl+F1,0"));
        QCOMPARE(o.value("testTool").toString(), QString("Ctrl+F2,1"));
        QCOMPARE(o.value("clientSize").toString(), QString("800,600"));
    }

    // getConf keeps its last answer; every kind of change must still show in the next one.
    void getConfFollowsEveryChange() {
        ConfigStore store(m_dir.path());
        store.load();
        FakeConfHost host;
        ConfCommands commands(store, &host);
        const auto field = [&](const char* name) {
            const auto cb = call(commands, &ConfCommands::getConf);
            return QJsonDocument::fromJson(cb->last().text.toUtf8())
                .array()
                .at(0)
                .toObject()
                .value(name)
                .toString();
        };
        QCOMPARE(field("closeFunc"), field("closeFunc"));
        call(commands, &ConfCommands::setConf, {{"confKey", "closeFunc"}, {"confValue", "quit"}});
        QCOMPARE(field("closeFunc"), QString("quit"));
        QVERIFY(field("fastSwitch").endsWith(",0"));
        host.accepted["fastSwitch"] = true; // the shortcut taken outside the commands
        QVERIFY(field("fastSwitch").endsWith(",1"));
        store.setClientAttribute("closeFunc", "hide");
        QCOMPARE(field("closeFunc"), QString("hide"));
        QMap<QString, QString> replaced = store.clientAttributes();
        replaced["closeFunc"] = "min";
        store.replaceClientAttributes(replaced);
        QCOMPARE(field("closeFunc"), QString("min"));
        call(commands, &ConfCommands::resetConf);
        QCOMPARE(field("closeFunc"), store.clientAttribute("closeFunc"));
        QVERIFY(field("closeFunc") != QString("min"));
    }

    void setConfWritesTheFile() {
        ConfigStore store(m_dir.path());
        store.load();
        FakeConfHost host;
        ConfCommands commands(store, &host);
        auto cb = call(commands, &ConfCommands::setConf,
                       {{"confKey", "clientSize"}, {"confValue", "1000,700"}});
        QCOMPARE(cb->answers.size(), size_t(1));
        QVERIFY(cb->last().success);
        QCOMPARE(cb->last().text, QString("modify conf sucess"));
        QCOMPARE(store.clientAttribute("clientSize"), QString("1000,700"));
        const QByteArray disk = readBytes(confPath());
        QVERIFY(disk.startsWith("<?xml version=\"1.0\"?>\r\n<root>\r\n\t<client "));
        QVERIFY(disk.contains("clientSize=\"1000,700\""));
        QVERIFY(!disk.contains("\n\n"));
        QCOMPARE(disk.count("\n"), disk.count("\r\n"));
        // What is on disk is what is in memory.
        ConfigStore again(m_dir.path());
        again.load();
        QCOMPARE(again.clientAttributes(), store.clientAttributes());
    }

    void setConfRejectsUnknownNames() {
        ConfigStore store(m_dir.path());
        store.load();
        ConfCommands commands(store, nullptr);
        auto cb =
            call(commands, &ConfCommands::setConf, {{"confKey", "nosuch"}, {"confValue", "1"}});
        QVERIFY(!cb->last().success);
        QCOMPARE(cb->last().code, 0);
        QCOMPARE(cb->last().text, QString("can't find conf name"));
        QCOMPARE(readBytes(confPath()), QByteArray(kConf));
        // Names are case-sensitive.
        cb =
            call(commands, &ConfCommands::setConf, {{"confKey", "ClientSize"}, {"confValue", "1"}});
        QCOMPARE(cb->last().text, QString("can't find conf name"));
    }

    void setConfNeedsBothArguments() {
        ConfigStore store(m_dir.path());
        store.load();
        ConfCommands commands(store, nullptr);
        QVERIFY(!call(commands, &ConfCommands::setConf, {{"confKey", "closeFunc"}})->answered());
        QVERIFY(!call(commands, &ConfCommands::setConf, {{"confValue", "x"}})->answered());
        QCOMPARE(readBytes(confPath()), QByteArray(kConf));
    }

    void attributeOnlyInMemoryIsNotAddedToTheFile() {
        ConfigStore store(m_dir.path());
        store.load();
        auto client = store.clientAttributes();
        client.insert("MacAddress", "00:11:22:33:44:55");
        store.replaceClientAttributes(client);
        ConfCommands commands(store, nullptr);
        auto cb = call(commands, &ConfCommands::setConf,
                       {{"confKey", "MacAddress"}, {"confValue", "aa"}});
        QCOMPARE(cb->last().text, QString("modify conf sucess"));
        QCOMPARE(store.clientAttribute("MacAddress"), QString("aa"));
        const QByteArray disk = readBytes(confPath());
        QVERIFY(!disk.contains("MacAddress"));
        QCOMPARE(QString::fromUtf8(disk).remove('\r'), QString::fromUtf8(kConf));
    }

    void autoStartComparesExactly_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("on");
        QTest::newRow("true") << "true" << true;
        QTest::newRow("True") << "True" << false;
        QTest::newRow("TRUE") << "TRUE" << false;
        QTest::newRow("1") << "1" << false;
        QTest::newRow("empty") << "" << false;
    }
    void autoStartComparesExactly() {
        QFETCH(QString, value);
        QFETCH(bool, on);
        ConfigStore store(m_dir.path());
        store.load();
        FakeConfHost host;
        ConfCommands commands(store, &host);
        auto cb = call(commands, &ConfCommands::setConf,
                       {{"confKey", "autoStart"}, {"confValue", value}});
        QCOMPARE(host.autoStart, QList<bool>{on});
        QCOMPARE(cb->last().text, QString("modify conf sucess"));
        QCOMPARE(store.clientAttribute("autoStart"), value);
    }

    void shortcutsAnswerTheRegistrationResult() {
        ConfigStore store(m_dir.path());
        store.load();
        FakeConfHost host;
        host.refused << "Alt+Tab";
        ConfCommands commands(store, &host);
        auto cb = call(commands, &ConfCommands::setConf,
                       {{"confKey", "fastSwitch"}, {"confValue", "Ctrl+Shift+K"}});
        QCOMPARE(cb->last().text, QString("1"));
        cb = call(commands, &ConfCommands::setConf,
                  {{"confKey", "testTool"}, {"confValue", "Alt+Tab"}});
        QCOMPARE(cb->last().text, QString("0"));
        QCOMPARE(host.assigned, (QStringList{"fastSwitch=Ctrl+Shift+K", "testTool=Alt+Tab"}));
        // A refused key is still stored.
        QCOMPARE(store.clientAttribute("testTool"), QString("Alt+Tab"));
        cb = call(commands, &ConfCommands::getConf);
        const QJsonObject o =
            QJsonDocument::fromJson(cb->last().text.toUtf8()).array().at(0).toObject();
        QCOMPARE(o.value("testTool").toString(), QString("Alt+Tab,0"));
        QCOMPARE(o.value("fastSwitch").toString(), QString("Ctrl+Shift+K,1"));
    }

    void awkwardValuesRoundTrip_data() {
        QTest::addColumn<QString>("value");
        QTest::newRow("quotes") << "say \"hi\" & 'bye' <now>";
        QTest::newRow("non-ascii") << QString::fromUtf8("打开客户端 — ünïcødé 😀");
        QTest::newRow("newline") << "a\tb";
        QTest::newRow("100 kB") << QString(100 * 1024, QChar('x')) + "&\"";
    }
    void awkwardValuesRoundTrip() {
        QFETCH(QString, value);
        {
            ConfigStore store(m_dir.path());
            store.load();
            ConfCommands commands(store, nullptr);
            auto cb = call(commands, &ConfCommands::setConf,
                           {{"confKey", "closeFunc"}, {"confValue", value}});
            QCOMPARE(cb->last().text, QString("modify conf sucess"));
            cb = call(commands, &ConfCommands::getConf);
            const QJsonObject o =
                QJsonDocument::fromJson(cb->last().text.toUtf8()).array().at(0).toObject();
            QCOMPARE(o.value("closeFunc").toString(), value);
        }
        ConfigStore reread(m_dir.path());
        reread.load();
        QCOMPARE(reread.clientAttribute("closeFunc"), value);
    }

    // What XML 1.0 cannot hold is refused before anything changes: the file, the map, the
    // autostart entry and the shortcuts stay as they were.
    void valuesTheFileCannotKeepAreRefused_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("control character") << "closeFunc" << QString("hide%1").arg(QChar(1));
        QTest::newRow("U+0000 in the value") << "closeFunc" << QString("hide%1x").arg(QChar(0));
        QTest::newRow("U+0000 in the name") << QString("autoStart%1").arg(QChar(0)) << "true";
        QTest::newRow("autostart") << "autoStart" << QString("true%1").arg(QChar(0x1b));
        QTest::newRow("shortcut") << "fastSwitch" << QString("Ctrl+%1").arg(QChar(0x7));
        QTest::newRow("U+FFFF") << "closeFunc" << QString(QChar(0xFFFF));
    }
    void valuesTheFileCannotKeepAreRefused() {
        QFETCH(QString, key);
        QFETCH(QString, value);
        ConfigStore store(m_dir.path());
        store.load();
        const auto client = store.clientAttributes();
        FakeConfHost host;
        ConfCommands commands(store, &host);
        auto cb = call(commands, &ConfCommands::setConf, {{"confKey", key}, {"confValue", value}});
        QCOMPARE(cb->answers.size(), size_t(1));
        QVERIFY(!cb->last().success);
        QCOMPARE(cb->last().text, QString("can't find conf name"));
        QCOMPARE(readBytes(confPath()), QByteArray(kConf));
        QCOMPARE(store.clientAttributes(), client);
        QVERIFY(host.autoStart.isEmpty());
        QVERIFY(host.assigned.isEmpty());
    }

    void resetConfRestoresDefaults() {
        ConfigStore store(m_dir.path());
        store.load();
        FakeConfHost host;
        ConfCommands commands(store, &host);
        call(commands, &ConfCommands::setConf, {{"confKey", "clientSize"}, {"confValue", "1,1"}});
        auto cb = call(commands, &ConfCommands::resetConf);
        QCOMPARE(cb->answers.size(), size_t(1));
        QCOMPARE(cb->last().text, QString("resetConf success"));
        QCOMPARE(store.clientAttribute("clientSize"), QString("1024,768"));
        QCOMPARE(store.clientAttribute("closeFunc"), QString("closeapp"));
        // A default without a client attribute is not added; shortcuts are left alone.
        QVERIFY(!store.clientAttributes().contains("notInClient"));
        QVERIFY(host.assigned.isEmpty());
        const QByteArray disk = readBytes(confPath());
        QVERIFY(disk.contains("<client version=\"1.2\" clientSize=\"1024,768\""));
        QCOMPARE(disk.count("notInClient"), 1);
    }

    // The file on disk must stay whole when the disk refuses the write half-way.
    void failedWriteKeepsTheOldFile() {
        ConfigStore store(m_dir.path());
        store.load();
        ConfCommands commands(store, nullptr);
        const QByteArray before = readBytes(confPath());

        struct rlimit old {};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = old;
        small.rlim_cur = 4096;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        auto cb = call(commands, &ConfCommands::setConf,
                       {{"confKey", "closeFunc"}, {"confValue", QString(64 * 1024, QChar('y'))}});
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);

        // The change is kept in memory and answered; the disk still has the old text whole.
        QCOMPARE(cb->last().text, QString("modify conf sucess"));
        QCOMPARE(store.clientAttribute("closeFunc").size(), 64 * 1024);
        QCOMPARE(readBytes(confPath()), before);
        const QStringList leftovers =
            QDir(m_dir.path() + "/Resources/profiles").entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(leftovers, QStringList{"conf.xml"});

        // The next successful commit writes everything.
        call(commands, &ConfCommands::setConf, {{"confKey", "autoStart"}, {"confValue", "true"}});
        ConfigStore reread(m_dir.path());
        reread.load();
        QCOMPARE(reread.clientAttribute("closeFunc").size(), 64 * 1024);
    }

    // A newer package's conf.xml brings its new settings and its version to a file the user
    // changed; the user's values stay, and a file that is not XML is left as it is.
    void newDefaultsKeepTheUsersValues() {
        const QString defaults = m_dir.filePath("conf.xml.new-default");
        QFile f(defaults);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("<?xml version=\"1.0\"?>\n<root>\n"
                "<client version=\"2.0\" clientSize=\"1,1\" newSetting=\"on\" />\n"
                "<defaultConf clientSize=\"1,1\" newSetting=\"on\" />\n</root>\n");
        f.close();
        ConfigStore store(m_dir.path());
        store.load();
        QVERIFY(store.adoptNewDefaults(defaults).ok);
        QCOMPARE(store.clientAttribute("version"), QString("2.0"));
        QCOMPARE(store.clientAttribute("newSetting"), QString("on"));
        QCOMPARE(store.clientAttribute("clientSize"), QString("800,600"));
        ConfigStore reread(m_dir.path());
        reread.load();
        QCOMPARE(reread.clientAttributes(), store.clientAttributes());
        QVERIFY(reread.confText().startsWith("<?xml version=\"1.0\"?>"));
        QVERIFY(reread.confText().contains("<defaultConf clientSize=\"1024,768\" "
                                           "closeFunc=\"closeapp\" notInClient=\"x\" "
                                           "newSetting=\"on\" />"));
        QVERIFY(reread.productInfo("001FBA1C"));

        writeConf("<root><client");
        ConfigStore broken(m_dir.path());
        broken.load();
        QVERIFY(!broken.adoptNewDefaults(defaults).ok);
        QCOMPARE(readBytes(confPath()), QByteArray("<root><client"));
    }
};

QTEST_GUILESS_MAIN(ConfigStoreTest)
#include "tst_configstore.moc"
