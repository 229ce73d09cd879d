#include "bridge/dispatcher.h"
#include "config/pfdfile.h"
#include "config/profilecache.h"
#include "config/profilecommands.h"
#include "recordingcallback.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <csignal>

namespace {

const QByteArray kProfile = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                            "<!-- key map -->\n"
                            "<root>\n"
                            "\t<keys>\n"
                            "\t\t<key id=\"1\" code=\"0x02,%,0x00,%\" name=\"A\"/>\n"
                            "\t\t<key id=\"2\" code=\"0x01,0x02,0x03,0x04\" name=\"B\"/>\n"
                            "\t\t<key id=\"3\" name=\"C\"><sub>text</sub><sub/></key>\n"
                            "\t</keys>\n"
                            "\t<macros/>\n"
                            "</root>\n";

QByteArray readBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray crlf(QByteArray text) {
    return text.replace("\n", "\r\n");
}

// A profile of about `bytes` bytes: many keys, each with a few attributes.
QByteArray largeProfile(int bytes, const char* name) {
    QByteArray text = "<root>\n";
    for (int i = 0; text.size() < bytes; ++i)
        text += "\t<key id=\"" + QByteArray::number(i) + "\" name=\"" + name +
                "\" code=\"0x01,0x02,0x03,0x04\" />\n";
    return text + "</root>\n";
}

// Child mode of the kill test: saves two large texts in turn for ever.
const char* const kChildEnv = "TAVIX_PROFILE_SAVE_CHILD";

int runSavingChild(const QString& path) {
    ProfileCache cache;
    const QByteArray texts[] = {largeProfile(8 << 20, "old"), largeProfile(8 << 20, "new")};
    for (int round = 0;; ++round) {
        cache.store(path, texts[round % 2]);
        if (cache.writePending() != ProfileCache::WriteResult::Written)
            return 1;
        if (round == 0) {
            fputs("ready\n", stdout);
            fflush(stdout);
        }
    }
}

} // namespace

class ProfilesTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<ProfileCache> m_cache;
    std::unique_ptr<ProfileCommands> m_commands;
    Dispatcher m_dispatcher;

    // The program folder; the temporary folder around it stands for the rest of the disk.
    QString folder() const { return m_dir.path() + "/prog"; }
    QString abs(const QString& relative) const { return folder() + "/" + relative; }

    std::shared_ptr<RecordingCallback> call(const QString& name, const QVariantMap& a) {
        auto cb = makeRecorder();
        m_dispatcher.dispatchCommand(name, a, cb);
        [&] { QVERIFY(cb->answers.size() <= 1); }();
        return cb;
    }

    QString query(const QString& file, const QString& xpath) {
        auto cb = call("queryProfile", {{"filePath", file}, {"xpath", xpath}});
        return cb->answered() ? cb->last().text : QStringLiteral("<no answer>");
    }

    void expectSuccess(const std::shared_ptr<RecordingCallback>& cb, const QString& text) {
        QVERIFY(cb->answered());
        QVERIFY(cb->last().success);
        QCOMPARE(cb->last().text, text);
    }

    void expectFailure(const std::shared_ptr<RecordingCallback>& cb, const QString& text) {
        QVERIFY(cb->answered());
        QVERIFY(!cb->last().success);
        QCOMPARE(cb->last().code, 0);
        QCOMPARE(cb->last().text, text);
    }

    // Every command with complete arguments on p.xml, q.xml and a package.
    QVector<QPair<QString, QVariantMap>> fullCalls(const QString& file,
                                                   const QString& xpath) const {
        const QVariantMap pair{
            {"srcFilePath", file}, {"desFilePath", file}, {"srcXpath", xpath}, {"desXpath", xpath}};
        return {
            {"queryProfile", {{"filePath", file}, {"xpath", xpath}}},
            {"nodeCounterProfile", {{"filePath", file}, {"xpath", xpath}}},
            {"modifyProfile",
             {{"filePath", file}, {"xpath", xpath}, {"attribute", "a"}, {"attributeValue", "1"}}},
            {"modifyProfileEx", {{"filePath", file}, {"xpath", xpath}, {"subTreeString", "<x/>"}}},
            {"modifyRemoveProfile", {{"filePath", file}, {"xpath", xpath}}},
            {"modifyAddProfile",
             {{"filePath", file},
              {"xpath", xpath},
              {"attribute", "a"},
              {"attributeValue", "1"},
              {"addNodeName", "n"}}},
            {"modifyReplaceProfile", pair},
            {"modifyReplaceSubNode", pair},
            {"queryHexByte", {{"filePath", file}, {"xpath", xpath}, {"args", "1"}}},
            {"saveXmlAs",
             {{"srcFilePath", file}, {"desFilePath", abs("out.pfd")}, {"xpath", xpath}}},
        };
    }

    static QString loadFailureText(const QString& command) {
        if (command == "queryProfile" || command == "nodeCounterProfile" ||
            command == "modifyProfileEx" || command == "saveXmlAs")
            return command + " load xml file failed!";
        if (command.startsWith("modifyReplace"))
            return "modifyReplaceProfile load xml file failed!";
        return "modifyProfile load xml file failed!";
    }

private slots:
    void initTestCase() { QVERIFY(writeBytes(m_dir.path() + "/outside.xml", kProfile)); }

    void init() {
        QDir(folder()).removeRecursively();
        QVERIFY(writeBytes(abs("p.xml"), kProfile));
        QVERIFY(writeBytes(abs("broken.xml"), "<root><a></root>"));
        QVERIFY(writeBytes(abs("empty.xml"), ""));
        m_cache = std::make_unique<ProfileCache>();
        m_commands = std::make_unique<ProfileCommands>(*m_cache, folder() + "/");
        m_dispatcher.context().profiles = m_commands.get();
    }

    // --- what every command shares ---

    void missingArgumentGivesNoAnswer_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QVariantMap>("args");
        auto calls = fullCalls("p.xml", "//key");
        calls.append({"modifyReplaceProfileEx",
                      {{"srcFilePath", "x.pfd"},
                       {"desFilePath", "p.xml"},
                       {"srcXpath", "/"},
                       {"desXpath", "//key"}}});
        calls.append({"resetProfile", {{"srcFilePath", "p.xml"}, {"desFilePath", "p.xml"}}});
        for (const auto& c : calls) {
            for (const QString& key : c.second.keys()) {
                if (key == "addNodeName")
                    continue; // read only when present
                QVariantMap reduced = c.second;
                reduced.remove(key);
                QTest::addRow("%s without %s", qPrintable(c.first), qPrintable(key))
                    << c.first << reduced;
            }
        }
    }
    void missingArgumentGivesNoAnswer() {
        QFETCH(QString, command);
        QFETCH(QVariantMap, args);
        QVERIFY(!call(command, args)->answered());
        QVERIFY(m_cache->pending().isEmpty());
    }

    void unopenableFileGivesNoAnswer_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QVariantMap>("args");
        for (const QString& file : {QString("missing.xml"), QString("../outside.xml"),
                                    QString("sub/../../outside.xml"), QString()}) {
            for (const auto& c : fullCalls(file, "//key"))
                QTest::addRow("%s on '%s'", qPrintable(c.first), qPrintable(file))
                    << c.first << c.second;
        }
        QTest::newRow("resetProfile source missing")
            << "resetProfile"
            << QVariantMap{{"srcFilePath", "missing.xml"}, {"desFilePath", "p.xml"}};
        QTest::newRow("resetProfile destination missing")
            << "resetProfile"
            << QVariantMap{{"srcFilePath", "p.xml"}, {"desFilePath", "missing.xml"}};
    }
    void unopenableFileGivesNoAnswer() {
        QFETCH(QString, command);
        QFETCH(QVariantMap, args);
        QVERIFY(!call(command, args)->answered());
        QVERIFY(m_cache->pending().isEmpty());
        QVERIFY(!QFile::exists(abs("out.pfd")));
    }

    void unusableInputGivesLoadFailure_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QVariantMap>("args");
        const QVector<QPair<QString, QString>> cases = {
            {"broken.xml", "//key"},   {"empty.xml", "//key"},   {"p.xml", "//["},
            {"p.xml", "count(//key)"}, {"p.xml", "string(/)"},   {"p.xml", ""},
            {"p.xml", "//key[@id="},   {"p.xml", "/root/keys)"},
        };
        for (const auto& [file, xpath] : cases) {
            for (const auto& c : fullCalls(file, xpath))
                QTest::addRow("%s %s '%s'", qPrintable(c.first), qPrintable(file),
                              qPrintable(xpath))
                    << c.first << c.second;
        }
    }
    void unusableInputGivesLoadFailure() {
        QFETCH(QString, command);
        QFETCH(QVariantMap, args);
        const QString file =
            args.value(args.contains("filePath") ? "filePath" : "srcFilePath").toString();
        const QByteArray before = readBytes(abs(file));
        expectFailure(call(command, args), loadFailureText(command));
        // The text read for the command stays cached, unchanged and not pending.
        QCOMPARE(m_cache->text(abs(file)), before);
        QVERIFY(m_cache->pending().isEmpty());
        QVERIFY(!QFile::exists(abs("out.pfd")));
    }

    void requestTextReachesTheCommands() {
        Dispatcher& d = m_dispatcher;
        auto cb = makeRecorder();
        d.onJsMessage(R"({"funcname":"nodeCounterProfile","filePath":"p.xml","xpath":"/root"})",
                      cb);
        expectSuccess(cb, "2");
        cb = makeRecorder();
        d.onJsMessage(R"({"funcname":"savexml"})", cb);
        expectSuccess(cb, "save xml success");
    }

    // --- cache and storing ---

    void cacheWinsOverDiskAndEditsAreReadBack() {
        QCOMPARE(query("p.xml", "//key[@id='2']/@name"), QString());
        QVERIFY(writeBytes(abs("p.xml"), "<other/>"));
        QVERIFY(query("p.xml", "/root/keys/key[2]").contains("name=\"B\""));
        // The same file under another spelling of its path is the same entry.
        QVERIFY(query("./sub/../p.xml", "/root").startsWith("<root>"));

        expectSuccess(call("modifyProfile", {{"filePath", "p.xml"},
                                             {"xpath", "//key[@id='2']"},
                                             {"attribute", "name;code"},
                                             {"attributeValue", "Z;0x09,0x09,0x09,0x09"}}),
                      "modifyProfile success!");
        const QString key = query("p.xml", "//key[@id='2']");
        QVERIFY2(key.contains("name=\"Z\"") && key.contains("code=\"0x09,0x09,0x09,0x09\""),
                 qPrintable(key));
        QCOMPARE(readBytes(abs("p.xml")), QByteArray("<other/>"));
        QCOMPARE(m_cache->pending(), QStringList{abs("p.xml")});

        // Stored texts carry the plain declaration; comments are gone.
        const QByteArray stored = m_cache->text(abs("p.xml"));
        QVERIFY(stored.startsWith("<?xml version=\"1.0\"?>\n<root>\n\t<keys>\n"));
        QVERIFY(!stored.contains("key map"));
    }

    void nonUtf8BytesAreReplaced() {
        QVERIFY(writeBytes(abs("bad.xml"), "<root><k name=\"a\xff\xfe\" /></root>"));
        QCOMPARE(query("bad.xml", "/root/k"), QString::fromUtf8("<k name=\"a\uFFFD\uFFFD\" />\n"));
        expectSuccess(call("modifyProfile", {{"filePath", "bad.xml"},
                                             {"xpath", "/root/k"},
                                             {"attribute", "name"},
                                             {"attributeValue", "\u00e9"}}),
                      "modifyProfile success!");
        expectSuccess(call("savexml", {}), "save xml success");
        QCOMPARE(readBytes(abs("bad.xml")),
                 QByteArray("<?xml version=\"1.0\"?>\r\n<root>\r\n\t<k name=\"\xc3\xa9\" />\r\n"
                            "</root>\r\n"));
    }

    void tenMegabyteProfile() {
        QVERIFY(writeBytes(abs("big.xml"), largeProfile(10 << 20, "k")));
        expectSuccess(call("modifyProfile", {{"filePath", "big.xml"},
                                             {"xpath", "/root/key[@id='100000']"},
                                             {"attribute", "name"},
                                             {"attributeValue", "found"}}),
                      "modifyProfile success!");
        QVERIFY(query("big.xml", "/root/key[@name='found']").contains("id=\"100000\""));
        expectSuccess(call("savexml", {}), "save xml success");
        const QByteArray onDisk = readBytes(abs("big.xml"));
        QVERIFY(onDisk.size() > 10 << 20);
        QVERIFY(onDisk.contains("<key id=\"100000\" name=\"found\""));
    }

    // --- the commands ---

    void queryProfileAnswers_data() {
        QTest::addColumn<QString>("xpath");
        QTest::addColumn<QString>("answer");
        QTest::newRow("two matches in document order")
            << "//key[@id='2'] | //key[@id='1']"
            << "<key id=\"1\" code=\"0x02,%,0x00,%\" name=\"A\" />\n"
               "<key id=\"2\" code=\"0x01,0x02,0x03,0x04\" name=\"B\" />\n";
        QTest::newRow("nested matches both printed")
            << "//key[@id='3'] | //key[@id='3']/sub[1]"
            << "<key id=\"3\" name=\"C\">\n\t<sub>text</sub>\n\t<sub />\n</key>\n"
               "<sub>text</sub>\n";
        QTest::newRow("nothing") << "//nothing"
                                 << "";
        QTest::newRow("attribute is no element") << "//key/@id"
                                                 << "";
    }
    void queryProfileAnswers() {
        QFETCH(QString, xpath);
        QFETCH(QString, answer);
        QCOMPARE(query("p.xml", xpath), answer);
        QVERIFY(m_cache->pending().isEmpty());
    }

    void nodeCounterProfileCounts_data() {
        QTest::addColumn<QString>("xpath");
        QTest::addColumn<QString>("count");
        QTest::newRow("three children") << "/root/keys"
                                        << "3";
        QTest::newRow("first of many matches") << "//sub | //key[@id='3']"
                                               << "2";
        QTest::newRow("element and text") << "//key[@id='3']/sub[1]"
                                          << "1";
        QTest::newRow("no match") << "//nothing"
                                  << "0";
        QTest::newRow("attribute") << "/root/keys/@x | //key/@id"
                                   << "0";
    }
    void nodeCounterProfileCounts() {
        QFETCH(QString, xpath);
        QFETCH(QString, count);
        expectSuccess(call("nodeCounterProfile", {{"filePath", "p.xml"}, {"xpath", xpath}}), count);
    }

    void modifyProfileLists_data() {
        QTest::addColumn<QString>("names");
        QTest::addColumn<QString>("values");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("expected"); // key 1 afterwards
        QTest::newRow("two names, one value") << "name;code"
                                              << "X" << false << "";
        QTest::newRow("empty items dropped")
            << "name;;code;"
            << ";X;;1;" << true << "<key id=\"1\" code=\"1\" name=\"X\" />\n";
        QTest::newRow("absent attribute not created")
            << "colour"
            << "red" << true << "<key id=\"1\" code=\"0x02,%,0x00,%\" name=\"A\" />\n";
        QTest::newRow("both empty")
            << ""
            << ";" << true << "<key id=\"1\" code=\"0x02,%,0x00,%\" name=\"A\" />\n";
    }
    void modifyProfileLists() {
        QFETCH(QString, names);
        QFETCH(QString, values);
        QFETCH(bool, accepted);
        QFETCH(QString, expected);
        auto cb = call("modifyProfile", {{"filePath", "p.xml"},
                                         {"xpath", "//key[@id='1']"},
                                         {"attribute", names},
                                         {"attributeValue", values}});
        if (!accepted) {
            expectFailure(cb, "attribute count isn't equal attributeValue count");
            QCOMPARE(m_cache->text(abs("p.xml")), kProfile);
            QVERIFY(m_cache->pending().isEmpty());
            return;
        }
        expectSuccess(cb, "modifyProfile success!");
        QCOMPARE(query("p.xml", "//key[@id='1']"), expected);
    }

    void modifyProfileExFillsFirstAndEmptiesTheRest() {
        expectSuccess(call("modifyProfileEx", {{"filePath", "p.xml"},
                                               {"xpath", "//key[@id='3'] | //key[@id='1']"},
                                               {"subTreeString", "<m a=\"1\"/><n/>"}}),
                      "modifyProfileEx success");
        QCOMPARE(query("p.xml", "/root/keys/key[@id='1']"),
                 QString("<key id=\"1\" code=\"0x02,%,0x00,%\" name=\"A\">\n\t<m a=\"1\" />\n"
                         "\t<n />\n</key>\n"));
        QCOMPARE(query("p.xml", "/root/keys/key[@id='3']"),
                 QString("<key id=\"3\" name=\"C\" />\n"));
    }

    void modifyProfileExNestedAndMalformed() {
        // The inner match goes with the outer one and is never touched after.
        expectSuccess(call("modifyProfileEx", {{"filePath", "p.xml"},
                                               {"xpath", "/root/keys | //key | //sub"},
                                               {"subTreeString", "<only/>"}}),
                      "modifyProfileEx success");
        QCOMPARE(query("p.xml", "/root/keys"), QString("<keys>\n\t<only />\n</keys>\n"));
        // A malformed fragment gives what the library kept.
        expectSuccess(call("modifyProfileEx", {{"filePath", "p.xml"},
                                               {"xpath", "/root/macros"},
                                               {"subTreeString", "<a><b></a>"}}),
                      "modifyProfileEx success");
        QVERIFY(query("p.xml", "/root/macros").startsWith("<macros>\n\t<a>"));
    }

    void modifyRemoveProfileNested_data() {
        QTest::addColumn<QString>("xpath");
        QTest::addColumn<QString>("remaining");
        QTest::newRow("element and descendant") << "//key[@id='3'] | //sub"
                                                << "1,2";
        QTest::newRow("document with elements") << "/ | //key[@id='2']"
                                                << "1,3";
        QTest::newRow("attribute is no element") << "//key/@id"
                                                 << "1,2,3";
        QTest::newRow("nothing") << "//nothing"
                                 << "1,2,3";
    }
    void modifyRemoveProfileNested() {
        QFETCH(QString, xpath);
        QFETCH(QString, remaining);
        expectSuccess(call("modifyRemoveProfile", {{"filePath", "p.xml"}, {"xpath", xpath}}),
                      "modifyRemoveProfile success");
        QStringList ids;
        for (const char* id : {"1", "2", "3"}) {
            if (!query("p.xml", QString("//key[@id='") + id + "']").isEmpty())
                ids << id;
        }
        QCOMPARE(ids.join(','), remaining);
    }

    // Enough inner matches to fill whole pages of the XML library, which go back to the system
    // when the outer match is removed: touching an inner match afterwards is caught by the
    // address sanitizer.
    void nestedMatchesInALargeSubtree_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("outer");
        QTest::newRow("remove") << "modifyRemoveProfile"
                                << "";
        QTest::newRow("replace children") << "modifyProfileEx"
                                          << "<outer>\n\t<f />\n</outer>";
    }
    void nestedMatchesInALargeSubtree() {
        QFETCH(QString, command);
        QFETCH(QString, outer);
        QByteArray text = "<root><outer>";
        for (int i = 0; i < 5000; ++i)
            text += "<i n=\"" + QByteArray::number(i) + "\"><j/></i>";
        QVERIFY(writeBytes(abs("n.xml"), text + "</outer><keep/></root>"));
        expectSuccess(call(command, {{"filePath", "n.xml"},
                                     {"xpath", "//i | //outer | //j"},
                                     {"subTreeString", "<f/>"}}),
                      command == "modifyRemoveProfile" ? "modifyRemoveProfile success"
                                                       : "modifyProfileEx success");
        QCOMPARE(query("n.xml", "/root/outer"), outer.isEmpty() ? outer : outer + "\n");
        QCOMPARE(query("n.xml", "/root/keep"), QString("<keep />\n"));
    }

    void modifyAddProfileNames_data() {
        QTest::addColumn<QVariant>("nodeName");
        QTest::addColumn<QString>("names");
        QTest::addColumn<QString>("failure");
        QTest::newRow("appended with attributes in order") << QVariant("act") << "t;v"
                                                           << "";
        QTest::newRow("no addNodeName") << QVariant() << "t;v"
                                        << "modifyProfile load xml file failed!";
        QTest::newRow("empty name") << QVariant("") << "t;v"
                                    << "modifyProfile load xml file failed!";
        QTest::newRow("name with blank") << QVariant("a b") << "t;v"
                                         << "modifyProfile load xml file failed!";
        QTest::newRow("name starting with digit") << QVariant("1a") << "t;v"
                                                  << "modifyProfile load xml file failed!";
        QTest::newRow("markup in name") << QVariant("a><b") << "t;v"
                                        << "modifyProfile load xml file failed!";
        QTest::newRow("bad attribute name") << QVariant("act") << "t;v=x"
                                            << "modifyProfile load xml file failed!";
        QTest::newRow("count mismatch") << QVariant("act") << "t"
                                        << "attribute count isn't equal attributeValue count";
    }
    void modifyAddProfileNames() {
        QFETCH(QVariant, nodeName);
        QFETCH(QString, names);
        QFETCH(QString, failure);
        QVariantMap a{{"filePath", "p.xml"},
                      {"xpath", "//key[@id='3'] | /root/macros"},
                      {"attribute", names},
                      {"attributeValue", "2;<\"&'"}};
        if (nodeName.isValid())
            a.insert("addNodeName", nodeName);
        auto cb = call("modifyAddProfile", a);
        if (!failure.isEmpty()) {
            expectFailure(cb, failure);
            QCOMPARE(m_cache->text(abs("p.xml")), kProfile);
            QVERIFY(m_cache->pending().isEmpty());
            return;
        }
        expectSuccess(cb, "modifyAddProfile success");
        QCOMPARE(query("p.xml", "/root/macros"),
                 QString("<macros>\n\t<act t=\"2\" v=\"&lt;&quot;&amp;'\" />\n</macros>\n"));
        QCOMPARE(query("p.xml", "//key[@id='3']/*[last()]"),
                 QString("<act t=\"2\" v=\"&lt;&quot;&amp;'\" />\n"));
    }

    void modifyReplaceProfilePlaces_data() {
        QTest::addColumn<QString>("srcXpath");
        QTest::addColumn<QString>("desXpath");
        QTest::addColumn<QString>("keys"); // /root/keys afterwards, names of the children
        QTest::newRow("first child") << "/r/key"
                                     << "//key[@id='1']"
                                     << "S,B,C";
        QTest::newRow("middle child") << "/r/key"
                                      << "//key[@id='2']"
                                      << "A,S,C";
        QTest::newRow("last child") << "/r/key"
                                    << "//key[@id='3']"
                                    << "A,B,S";
        QTest::newRow("no destination") << "/r/key"
                                        << "//nothing"
                                        << "A,B,C";
        QTest::newRow("no source removes") << "/r/nothing"
                                           << "//key[@id='2']"
                                           << "A,C";
        QTest::newRow("source attribute is none") << "/r/key/@name"
                                                  << "//key[@id='1']"
                                                  << "B,C";
    }
    void modifyReplaceProfilePlaces() {
        QFETCH(QString, srcXpath);
        QFETCH(QString, desXpath);
        QFETCH(QString, keys);
        QVERIFY(writeBytes(abs("dir/s.xml"), "<r><key name=\"S\"><x/></key></r>"));
        expectSuccess(call("modifyReplaceProfile", {{"srcFilePath", "dir/s.xml"},
                                                    {"desFilePath", "p.xml"},
                                                    {"srcXpath", srcXpath},
                                                    {"desXpath", desXpath}}),
                      "modifyReplaceProfile success");
        QStringList names;
        auto it = QRegularExpression("name=\"(.)\"").globalMatch(query("p.xml", "/root/keys/*"));
        while (it.hasNext())
            names << it.next().captured(1);
        QCOMPARE(names.join(','), keys);
        QCOMPARE(m_cache->pending(), QStringList{abs("p.xml")});
    }

    void modifyReplaceSubNodeCopiesChildren() {
        QVERIFY(writeBytes(abs("s.xml"), "<r><src><a/>t<b/></src></r>"));
        auto a = QVariantMap{{"srcFilePath", "s.xml"},
                             {"desFilePath", "p.xml"},
                             {"srcXpath", "/r/src"},
                             {"desXpath", "//key[@id='3']"}};
        expectSuccess(call("modifyReplaceSubNode", a), "modifyReplaceProfile success");
        QCOMPARE(query("p.xml", "//key[@id='3']"),
                 QString("<key id=\"3\" name=\"C\">\n\t<a />t<b />\n</key>\n"));
        // Without a source the destination is emptied.
        a["srcXpath"] = "/r/none";
        expectSuccess(call("modifyReplaceSubNode", a), "modifyReplaceProfile success");
        QCOMPARE(query("p.xml", "//key[@id='3']"), QString("<key id=\"3\" name=\"C\" />\n"));
        QCOMPARE(m_cache->pending(), QStringList{abs("p.xml")});
    }

    void resetProfileTakesSourceText() {
        QVERIFY(writeBytes(abs("default.xml"), "<root><keys><key name=\"D\"/></keys></root>"));
        expectSuccess(call("modifyProfile", {{"filePath", "p.xml"},
                                             {"xpath", "//key"},
                                             {"attribute", "name"},
                                             {"attributeValue", "x"}}),
                      "modifyProfile success!");
        expectSuccess(
            call("resetProfile", {{"srcFilePath", "default.xml"}, {"desFilePath", "p.xml"}}),
            "resetProfile success");
        QCOMPARE(query("p.xml", "//key"), QString("<key name=\"D\" />\n"));
        QCOMPARE(m_cache->pending(), QStringList{abs("p.xml")});
        expectSuccess(call("savexml", {}), "save xml success");
        QCOMPARE(readBytes(abs("p.xml")),
                 QByteArray("<root><keys><key name=\"D\"/></keys></root>"));
    }

    void queryHexByteFills_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("answer");
        QTest::newRow("two holes") << "0x02,%,0x00,%"
                                   << "0x11,0x22"
                                   << "0x02,0x11,0x00,0x22";
        QTest::newRow("empty args items") << "%,%,0x00,0x00"
                                          << ",0x11,,0x22,"
                                          << "0x11,0x22,0x00,0x00";
        QTest::newRow("more holes than args") << "%,%,%,0x00"
                                              << "0x11"
                                              << "0x11,%,%,0x00";
        QTest::newRow("fifth item not filled") << "0x01,0x02,0x03,0x04,%"
                                               << "0x11"
                                               << "0x01,0x02,0x03,0x04,%";
        QTest::newRow("two items") << "%,0x05"
                                   << "0x11,0x22"
                                   << "0x11,0x05";
        QTest::newRow("empty items kept") << "%,,%"
                                          << "0x11,0x22"
                                          << "0x11,,0x22";
        QTest::newRow("only exact %") << "0x%,%%,%"
                                      << "0x11"
                                      << "0x%,%%,0x11";
        QTest::newRow("no holes") << "0x01,0x02"
                                  << "0x11"
                                  << "0x01,0x02";
        QTest::newRow("absent code") << QString() << "0x11"
                                     << "";
    }
    void queryHexByteFills() {
        QFETCH(QString, code);
        QFETCH(QString, args);
        QFETCH(QString, answer);
        const QByteArray attr = code.isNull() ? QByteArray() : " code=\"" + code.toUtf8() + "\"";
        QVERIFY(writeBytes(abs("h.xml"), "<root><key" + attr + "/></root>"));
        expectSuccess(
            call("queryHexByte", {{"filePath", "h.xml"}, {"xpath", "//key"}, {"args", args}}),
            answer);
        expectSuccess(
            call("queryHexByte", {{"filePath", "h.xml"}, {"xpath", "//none"}, {"args", args}}), "");
    }

    // --- writing ---

    void savexmlWritesPendingInOrder() {
        QVERIFY(!call("savexml", {})->answered()); // nothing cached
        QCOMPARE(query("p.xml", "//nothing"), QString());
        QVERIFY(writeBytes(abs("sub/q.xml"), "<q>\n<a x=\"1\"/>\n</q>\n"));
        QCOMPARE(query("sub/q.xml", "//nothing"), QString());
        // Cached but unchanged: nothing written, still success.
        expectSuccess(call("savexml", {}), "save xml success");
        QCOMPARE(readBytes(abs("p.xml")), kProfile);

        const QVariantMap edit{{"xpath", "//*[@x] | //key[@id='1']"},
                               {"attribute", "x;id"},
                               {"attributeValue", "2;9"}};
        for (const char* file : {"sub/q.xml", "p.xml"}) {
            QVariantMap a = edit;
            a.insert("filePath", file);
            expectSuccess(call("modifyProfile", a), "modifyProfile success!");
        }
        QCOMPARE(m_cache->pending(), (QStringList{abs("sub/q.xml"), abs("p.xml")}));

        // The second file cannot be written: the first is, no answer, pending stays whole.
        QVERIFY(QFile::remove(abs("p.xml")));
        QVERIFY(QDir().mkpath(abs("p.xml")));
        QVERIFY(!call("savexml", {})->answered());
        QCOMPARE(readBytes(abs("sub/q.xml")),
                 QByteArray("<?xml version=\"1.0\"?>\r\n<q>\r\n\t<a x=\"2\" />\r\n</q>\r\n"));
        QCOMPARE(m_cache->pending(), (QStringList{abs("sub/q.xml"), abs("p.xml")}));

        QVERIFY(QDir(abs("p.xml")).removeRecursively());
        expectSuccess(call("savexml", {}), "save xml success");
        QVERIFY(m_cache->pending().isEmpty());
        QVERIFY(readBytes(abs("p.xml")).contains("<key id=\"9\" code=\"0x02,%,0x00,%\""));
        // No temporary files are left behind by the failed or the good writes.
        QCOMPARE(QDir(abs("sub")).entryList(QDir::Files | QDir::Hidden), QStringList{"q.xml"});
        QCOMPARE(QDir(folder()).entryList({"p.xml*"}, QDir::Files | QDir::Hidden),
                 QStringList{"p.xml"});
    }

    void writeFromAnotherThreadDoesNotRace() {
        QVERIFY(writeBytes(abs("t.xml"), "<t/>"));
        QCOMPARE(query("t.xml", "/t"), QString("<t />\n"));
        std::atomic<bool> stop{false};
        QThread* writer = QThread::create([&] {
            while (!stop)
                m_cache->writePending();
        });
        writer->start();
        for (int i = 0; i < 300; ++i)
            m_cache->store(abs("t.xml"), "<t n=\"" + QByteArray::number(i) + "\" />\n");
        stop = true;
        writer->wait();
        delete writer;
        QCOMPARE(m_cache->writePending(), ProfileCache::WriteResult::Written);
        QCOMPARE(readBytes(abs("t.xml")), QByteArray("<t n=\"299\" />\r\n"));
    }

    void killedWhileSavingLeavesOldOrNew() {
        const QString path = abs("large.xml");
        const QByteArray old = crlf(largeProfile(8 << 20, "old"));
        const QByteArray fresh = crlf(largeProfile(8 << 20, "new"));
        for (int attempt = 0; attempt < 3; ++attempt) {
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(kChildEnv, path);
            child.setProcessEnvironment(env);
            child.start(QCoreApplication::applicationFilePath(), {});
            QVERIFY(child.waitForStarted());
            QVERIFY(child.waitForReadyRead(60000));
            QThread::msleep(37 + 53 * attempt);
            ::kill(pid_t(child.processId()), SIGKILL);
            QVERIFY(child.waitForFinished());
            const QByteArray onDisk = readBytes(path);
            QVERIFY2(onDisk == old || onDisk == fresh,
                     qPrintable(QString("%1 bytes on disk").arg(onDisk.size())));
        }
    }

    // --- packages ---

    void packageRoundTrip() {
        const QString pfd = abs("export/keys.pfd");
        QDir().mkpath(abs("export"));
        expectSuccess(
            call("saveXmlAs",
                 {{"srcFilePath", "p.xml"}, {"desFilePath", pfd}, {"xpath", "//key[@id='3']"}}),
            "saveXmlAs success");
        QVERIFY(m_cache->pending().isEmpty());

        // Layout: magic, length, Base64 of the element as its own document.
        const QByteArray bytes = readBytes(pfd);
        const QByteArray xml =
            "<?xml version=\"1.0\"?>\n<key id=\"3\" name=\"C\">\n\t<sub>text</sub>\n\t<sub />\n"
            "</key>\n";
        QCOMPARE(bytes.left(4), QByteArray("\x0a\x0b\x0c\x0d", 4));
        QDataStream head(bytes.mid(4, 4));
        quint32 length = 0;
        head >> length;
        QCOMPARE(int(length), bytes.size() - 8);
        QCOMPARE(QByteArray::fromBase64(bytes.mid(8)), xml);

        QVERIFY(writeBytes(abs("other.xml"), "<conf><slot n=\"1\"><old/></slot></conf>"));
        expectSuccess(call("modifyReplaceProfileEx", {{"srcFilePath", pfd},
                                                      {"desFilePath", "other.xml"},
                                                      {"srcXpath", "unused"},
                                                      {"desXpath", "/conf/slot"}}),
                      "modifyReplaceProfile success");
        QCOMPARE(query("other.xml", "/conf"),
                 QString("<conf>\n\t<slot n=\"1\">\n\t\t<sub>text</sub>\n\t\t<sub />\n\t</slot>\n"
                         "</conf>\n"));
        QCOMPARE(m_cache->pending(), QStringList{abs("other.xml")});
    }

    void packageDestinationUnwritable() {
        QDir().mkpath(abs("adir"));
        for (const QString& des : {abs("adir"), abs("no/such/dir/x.pfd"), QString()})
            expectFailure(
                call("saveXmlAs",
                     {{"srcFilePath", "p.xml"}, {"desFilePath", des}, {"xpath", "/root"}}),
                "saveXmlAs desFilePath is failed!");
    }

    void badPackagesFail_data() {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray magic("\x0a\x0b\x0c\x0d", 4);
        const QByteArray body = QByteArray("<r><a/></r>").toBase64();
        auto len = [](quint32 n) {
            QByteArray b;
            QDataStream(&b, QIODevice::WriteOnly) << n;
            return b;
        };
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("short magic") << magic.left(3);
        QTest::newRow("wrong magic") << QByteArray("\x0d\x0c\x0b\x0a", 4) + len(body.size()) + body;
        QTest::newRow("no length") << magic;
        QTest::newRow("truncated payload") << magic + len(body.size()) + body.left(5);
        QTest::newRow("length beyond file") << magic + len(1000) + body;
        QTest::newRow("absurd length") << magic + len(0xFFFFFFF0u) + body;
        QTest::newRow("null payload") << magic + len(0xFFFFFFFFu);
        QTest::newRow("empty payload") << magic + len(0);
        QTest::newRow("not base64 of xml") << magic + len(7) + QByteArray("!!!!!!!");
        QTest::newRow("payload not xml") << magic + len(8) + QByteArray("bm90IHht");
        QTest::newRow("missing file") << QByteArray("<missing>");
    }
    void badPackagesFail() {
        QFETCH(QByteArray, bytes);
        const QString pfd = abs("in.pfd");
        if (bytes != "<missing>")
            QVERIFY(writeBytes(pfd, bytes));
        expectFailure(call("modifyReplaceProfileEx", {{"srcFilePath", pfd},
                                                      {"desFilePath", "p.xml"},
                                                      {"srcXpath", "/"},
                                                      {"desXpath", "//key[@id='3']"}}),
                      "modifyReplaceProfile load xml file failed!");
        QVERIFY(m_cache->pending().isEmpty());
        QCOMPARE(m_cache->text(abs("p.xml")), kProfile);
    }

    void packageReaderRejectsOversizeWithoutReading() {
        // A sparse file larger than the cap: refused by its length alone.
        const QString pfd = abs("huge.pfd");
        QFile f(pfd);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QDataStream s(&f);
        s << pfdfile::kMagic << quint32(pfdfile::kMaxPayload + 1);
        QVERIFY(f.resize(qint64(pfdfile::kMaxPayload) + 64));
        f.close();
        QVERIFY(!pfdfile::read(pfd));
        QVERIFY(pfdfile::read(pfd + ".none") == std::nullopt);
    }
};

int main(int argc, char** argv) {
    const QByteArray child = qgetenv(kChildEnv);
    if (!child.isEmpty())
        return runSavingChild(QString::fromLocal8Bit(child));
    QCoreApplication app(argc, argv);
    ProfilesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_profiles.moc"
