#include "app/dispatcher.h"
#include "config/confcommands.h"
#include "config/configstore.h"
#include "config/pfdfile.h"
#include "config/profilecache.h"
#include "config/profilecommands.h"
#include "fakeconfhost.h"
#include "recordingcallback.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <pugixml.hpp>
#include <sys/stat.h>

#include <atomic>
#include <csignal>

namespace {

const QByteArray kProfile = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- key map -->\n"
                            "<root>\n\t<keys>\n"
                            "\t\t<key id=\"1\" code=\"0x02,%,0x00,%\" name=\"A\"/>\n"
                            "\t\t<key id=\"2\" code=\"0x01,0x02,0x03,0x04\" name=\"B\"/>\n"
                            "\t\t<key id=\"3\" name=\"C\"><sub>text</sub><sub/></key>\n"
                            "\t</keys>\n\t<macros/>\n</root>\n";
// How the keys of kProfile print.
const QString K1 = "<key id=\"1\" code=\"0x02,%,0x00,%\" name=\"A\" />\n";
const QString K2 = "<key id=\"2\" code=\"0x01,0x02,0x03,0x04\" name=\"B\" />\n";
const QString K3 = "<key id=\"3\" name=\"C\">\n\t<sub>text</sub>\n\t<sub />\n</key>\n";
const QString S = "<key name=\"S\">\n\t<x />\n</key>\n";
const char* const kLoadFailed = "fail:modifyProfile load xml file failed!";
const char* const kReplaceFailed = "fail:modifyReplaceProfile load xml file failed!";

QByteArray readBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// A profile of about `bytes` bytes: many keys, each with a few attributes.
QByteArray largeProfile(int bytes, const char* name) {
    QByteArray text = "<root>\n";
    for (int i = 0; text.size() < bytes; ++i)
        text += "\t<key id=\"" + QByteArray::number(i) + "\" name=\"" + name + "\" />\n";
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

// Notes, in one shared list, which request answered and whether on the thread that sent it.
class OrderedCallback : public CefMessageRouterBrowserSide::Callback {
public:
    OrderedCallback(QString label, QStringList* log) : m_label(std::move(label)), m_log(log) {}
    void Success(const QString& text) override { note("ok:" + text); }
    void Failure(int, const QString& text) override { note("fail:" + text); }
    QString answer;

private:
    void note(const QString& text) {
        answer = text;
        *m_log << m_label + (QThread::currentThread() == QCoreApplication::instance()->thread()
                                 ? ""
                                 : " (other thread)");
    }
    QString m_label;
    QStringList* m_log;
};

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

    // Arguments written as "key=value & key=value"; "$P" stands for the program folder.
    QVariantMap parseArgs(const QString& text) const {
        QVariantMap a;
        for (const QString& item : text.split(" & ", Qt::SkipEmptyParts)) {
            const int eq = item.indexOf('=');
            a.insert(item.left(eq), QString(item.mid(eq + 1)).replace("$P", folder()));
        }
        return a;
    }

    // The one answer as "ok:<text>" or "fail:<text>", or "none".
    QString run(const QString& command, const QVariantMap& a) {
        auto cb = makeRecorder();
        m_dispatcher.dispatchCommand(command, a, cb);
        if (cb->answers.size() != 1)
            return cb->answers.empty() ? "none" : "answered twice";
        const auto& r = cb->last();
        return (r.success ? "ok:" : r.code == 0 ? "fail:" : "bad code:") + r.text;
    }
    QString run(const QString& command, const QString& a) { return run(command, parseArgs(a)); }
    QString query(const QString& file, const QString& xpath) {
        return run("queryProfile", "filePath=" + file + " & xpath=" + xpath).mid(3);
    }
    // What a cache that holds only the current text of `file` answers to queryProfile, or with
    // `count` to nodeCounterProfile: what a fresh parse of the stored text gives.
    QString freshAnswer(const QString& file, const QString& xpath, bool count = false) {
        ProfileCache fresh;
        fresh.store(abs(file), m_cache->text(abs(file)));
        ProfileCommands commands(fresh, folder());
        auto cb = makeRecorder();
        const QVariantMap a{{"filePath", file}, {"xpath", xpath}};
        if (count)
            commands.nodeCounterProfile(a, cb);
        else
            commands.queryProfile(a, cb);
        return cb->answers.size() == 1 ? cb->last().text : QString("no single answer");
    }

private slots:
    void init() {
        QDir(folder()).removeRecursively();
        QVERIFY(writeBytes(m_dir.path() + "/outside.xml", kProfile));
        QVERIFY(writeBytes(abs("p.xml"), kProfile));
        QVERIFY(writeBytes(abs("s.xml"), "<r><key name=\"S\"><x/></key><src><a/>t<b/></src></r>"));
        QVERIFY(writeBytes(abs("h.xml"), "<h><k code=\"%,0x05\"/><k code=\"1,2,3,4,%\"/>"
                                         "<k code=\"0x%,%%,%\"/><k code=\"%,,%\"/></h>"));
        QVERIFY(writeBytes(abs("broken.xml"), "<root><a></root>"));
        QVERIFY(pfdfile::write(abs("pkg.pfd"), "<pk><c n=\"1\"/><c n=\"2\"/></pk>"));
        m_commands.reset(); // it may hold a worker that still uses the old cache
        m_cache = std::make_unique<ProfileCache>();
        m_commands = std::make_unique<ProfileCommands>(*m_cache, folder() + "/");
        m_dispatcher.context().profiles = m_commands.get();
    }

    // Each row: a command with its arguments, its answer, whether p.xml is pending afterwards,
    // and what an XPath query on p.xml then answers.
    void commands_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("pending");
        QTest::addColumn<QString>("check");
        QTest::addColumn<QString>("checked");
        auto row = [](const char* name, const char* command, const char* args, QString answer,
                      bool pending, const char* check = "", QString checked = {}) {
            QTest::newRow(name) << command << args << answer << pending << check << checked;
        };
        // clang-format off
        const char* Q = "queryProfile";
        const QString qFail = "fail:queryProfile load xml file failed!";
        row("query: matches in document order", Q, "filePath=p.xml & xpath=//key[@id='2'] | //key[@id='1']", "ok:" + K1 + K2, false);
        row("query: nested matches", Q, "filePath=p.xml & xpath=//key[@id='3'] | //key[@id='3']/sub[1]", "ok:" + K3 + "<sub>text</sub>\n", false);
        row("query: no match", Q, "filePath=p.xml & xpath=//none", "ok:", false);
        row("query: attribute is no element", Q, "filePath=p.xml & xpath=//key/@id", "ok:", false);
        row("query: same file, other spelling", Q, "filePath=./x/../p.xml & xpath=//key[@id='1']", "ok:" + K1, false);
        row("query: bad xpath", Q, "filePath=p.xml & xpath=//[", qFail, false);
        row("query: xpath not nodes", Q, "filePath=p.xml & xpath=count(//key)", qFail, false);
        row("query: empty xpath", Q, "filePath=p.xml & xpath=", qFail, false);
        row("query: not xml", Q, "filePath=broken.xml & xpath=/", qFail, false);
        row("query: missing file", Q, "filePath=none.xml & xpath=/", "none", false);
        row("query: outside folder", Q, "filePath=../outside.xml & xpath=/", "none", false);
        row("query: the folder", Q, "filePath= & xpath=/", "none", false);

        const char* N = "nodeCounterProfile";
        row("count: three children", N, "filePath=p.xml & xpath=/root/keys", "ok:3", false);
        row("count: first match", N, "filePath=p.xml & xpath=//sub | //key[@id='3']", "ok:2", false);
        row("count: text child", N, "filePath=p.xml & xpath=//sub[1]", "ok:1", false);
        row("count: no match", N, "filePath=p.xml & xpath=//none", "ok:0", false);
        row("count: bad xpath", N, "filePath=p.xml & xpath=/a/", "fail:nodeCounterProfile load xml file failed!", false);

        const char* M = "modifyProfile";
        const char* key1 = "//key[@id='1']";
        row("modify: two names, one value", M, "filePath=p.xml & xpath=//key & attribute=name;code & attributeValue=X", "fail:attribute count isn't equal attributeValue count", false, key1, K1);
        row("modify: empty items dropped", M, "filePath=p.xml & xpath=//key & attribute=name;;code; & attributeValue=;X;;1;", "ok:modifyProfile success!", true, key1, "<key id=\"1\" code=\"1\" name=\"X\" />\n");
        row("modify: absent attribute not created", M, "filePath=p.xml & xpath=//key & attribute=colour & attributeValue=red", "ok:modifyProfile success!", true, key1, K1);
        row("modify: bad xpath", M, "filePath=p.xml & xpath=//key[ & attribute=a & attributeValue=b", kLoadFailed, false);

        const char* E = "modifyProfileEx";
        row("ex: first filled, rest emptied", E, "filePath=p.xml & xpath=//key[@id='3'] | //key[@id='1'] & subTreeString=<m a=\"1\"/><n/>", "ok:modifyProfileEx success", true, "//key[@id='1'] | //key[@id='3']", "<key id=\"1\" code=\"0x02,%,0x00,%\" name=\"A\">\n\t<m a=\"1\" />\n\t<n />\n</key>\n<key id=\"3\" name=\"C\" />\n");
        row("ex: nested matches", E, "filePath=p.xml & xpath=//sub | /root/keys | //key & subTreeString=<only/>", "ok:modifyProfileEx success", true, "/root/keys", "<keys>\n\t<only />\n</keys>\n");
        row("ex: malformed fragment", E, "filePath=p.xml & xpath=/root/macros & subTreeString=<a><b></a>", "ok:modifyProfileEx success", true, "/root/macros", "<macros>\n\t<a>\n\t\t<b />\n\t</a>\n</macros>\n");
        row("ex: bad xpath", E, "filePath=p.xml & xpath=)) & subTreeString=<a/>", "fail:modifyProfileEx load xml file failed!", false);
        // An edit that leaves the document without an element is refused: it would not parse again.
        row("ex: document emptied", E, "filePath=p.xml & xpath=/ & subTreeString=", "fail:modifyProfileEx load xml file failed!", false);
        row("ex: document given only text", E, "filePath=p.xml & xpath=/ & subTreeString=<![CDATA[x]]>", "fail:modifyProfileEx load xml file failed!", false);
        row("ex: document given a new root", E, "filePath=p.xml & xpath=/ & subTreeString=<n/>", "ok:modifyProfileEx success", true, "/*", "<n />\n");

        const char* R = "modifyRemoveProfile";
        row("remove: element and descendant", R, "filePath=p.xml & xpath=//key[@id='3'] | //sub", "ok:modifyRemoveProfile success", true, "//key", K1 + K2);
        row("remove: document and element", R, "filePath=p.xml & xpath=/ | //key[@id='2']", "ok:modifyRemoveProfile success", true, "//key", K1 + K3);
        row("remove: attribute is no element", R, "filePath=p.xml & xpath=//@id", "ok:modifyRemoveProfile success", true, "//key", K1 + K2 + K3);
        row("remove: bad xpath", R, "filePath=p.xml & xpath=//@", kLoadFailed, false);
        row("remove: root element", R, "filePath=p.xml & xpath=/root", kLoadFailed, false);
        row("remove: every node", R, "filePath=p.xml & xpath=//node()", kLoadFailed, false);

        const char* A = "modifyAddProfile";
        const char* macros = "/root/macros";
        const QString empty = "<macros />\n";
        row("add: appended last, attributes in order", A, "filePath=p.xml & xpath=/root/macros | //key[@id='3'] & attribute=t;v & attributeValue=2;<\"&' & addNodeName=act", "ok:modifyAddProfile success", true, "/root/macros/* | //key[@id='3']/*[last()]", "<act t=\"2\" v=\"&lt;&quot;&amp;'\" />\n<act t=\"2\" v=\"&lt;&quot;&amp;'\" />\n");
        row("add: no addNodeName", A, "filePath=p.xml & xpath=/root/macros & attribute=t & attributeValue=2", kLoadFailed, false, macros, empty);
        row("add: name with blank", A, "filePath=p.xml & xpath=/root/macros & attribute=t & attributeValue=2 & addNodeName=a b", kLoadFailed, false, macros, empty);
        row("add: name with digit first", A, "filePath=p.xml & xpath=/root/macros & attribute=t & attributeValue=2 & addNodeName=1a", kLoadFailed, false, macros, empty);
        row("add: bad attribute name", A, "filePath=p.xml & xpath=/root/macros & attribute=t>x & attributeValue=2 & addNodeName=a", kLoadFailed, false, macros, empty);
        row("add: count mismatch", A, "filePath=p.xml & xpath=/root/macros & attribute=t;u & attributeValue=2 & addNodeName=a", "fail:attribute count isn't equal attributeValue count", false, macros, empty);

        const char* P = "modifyReplaceProfile";
        const QString replaced = "ok:modifyReplaceProfile success";
        row("replace: first child", P, "srcFilePath=s.xml & desFilePath=p.xml & srcXpath=/r/key & desXpath=//key[@id='1']", replaced, true, "/root/keys/*[1]", S);
        row("replace: middle child", P, "srcFilePath=s.xml & desFilePath=p.xml & srcXpath=/r/key & desXpath=//key[@id='2']", replaced, true, "/root/keys/*[2]", S);
        row("replace: last child", P, "srcFilePath=s.xml & desFilePath=p.xml & srcXpath=/r/key & desXpath=//key[@id='3']", replaced, true, "/root/keys/*[3]", S);
        row("replace: no destination", P, "srcFilePath=s.xml & desFilePath=p.xml & srcXpath=/r/key & desXpath=//none", replaced, true, "//key", K1 + K2 + K3);
        row("replace: no source removes", P, "srcFilePath=s.xml & desFilePath=p.xml & srcXpath=/r/none & desXpath=//key[@id='2']", replaced, true, "//key", K1 + K3);
        row("replace: source not xml", P, "srcFilePath=broken.xml & desFilePath=p.xml & srcXpath=/ & desXpath=/", kReplaceFailed, false);
        row("replace: missing destination", P, "srcFilePath=s.xml & desFilePath=none.xml & srcXpath=/ & desXpath=/", "none", false);
        row("replace: root without source", P, "srcFilePath=s.xml & desFilePath=p.xml & srcXpath=/none & desXpath=/root", kReplaceFailed, false);

        const char* U = "modifyReplaceSubNode";
        row("subnode: children copied", U, "srcFilePath=s.xml & desFilePath=p.xml & srcXpath=/r/src & desXpath=//key[@id='3']", replaced, true, "//key[@id='3']", "<key id=\"3\" name=\"C\">\n\t<a />t<b />\n</key>\n");
        row("subnode: no source empties", U, "srcFilePath=s.xml & desFilePath=p.xml & srcXpath=/none & desXpath=//key[@id='3']", replaced, true, "//key[@id='3']", "<key id=\"3\" name=\"C\" />\n");
        row("subnode: bad xpath", U, "srcFilePath=s.xml & desFilePath=p.xml & srcXpath=/r/src & desXpath=[", kReplaceFailed, false);
        row("subnode: document emptied", U, "srcFilePath=s.xml & desFilePath=p.xml & srcXpath=/none & desXpath=/", kReplaceFailed, false);

        const char* X = "modifyReplaceProfileEx";
        row("import: package children", X, "srcFilePath=$P/pkg.pfd & desFilePath=p.xml & srcXpath=unused & desXpath=/root/macros", replaced, true, "/root/macros", "<macros>\n\t<c n=\"1\" />\n\t<c n=\"2\" />\n</macros>\n");
        row("import: path used as given", X, "srcFilePath=pkg.pfd & desFilePath=p.xml & srcXpath=/ & desXpath=/root/macros", kReplaceFailed, false);
        row("import: not a package", X, "srcFilePath=$P/p.xml & desFilePath=p.xml & srcXpath=/ & desXpath=/root/macros", kReplaceFailed, false);
        row("import: bad xpath", X, "srcFilePath=$P/pkg.pfd & desFilePath=p.xml & srcXpath=/ & desXpath=//[", kReplaceFailed, false);

        row("reset: source text taken", "resetProfile", "srcFilePath=s.xml & desFilePath=p.xml", "ok:resetProfile success", true, "/r/src", "<src>\n\t<a />t<b />\n</src>\n");
        row("reset: source not xml", "resetProfile", "srcFilePath=broken.xml & desFilePath=p.xml", "none", false);

        const char* H = "queryHexByte";
        row("hex: two holes", H, "filePath=p.xml & xpath=//key & args=0x11,0x22", "ok:0x02,0x11,0x00,0x22", false);
        row("hex: empty args items", H, "filePath=p.xml & xpath=//key & args=,0x11,,,0x22,", "ok:0x02,0x11,0x00,0x22", false);
        row("hex: more holes than args", H, "filePath=p.xml & xpath=//key & args=0x11", "ok:0x02,0x11,0x00,%", false);
        row("hex: no holes", H, "filePath=p.xml & xpath=//key[2] & args=0x11", "ok:0x01,0x02,0x03,0x04", false);
        row("hex: two items", H, "filePath=h.xml & xpath=//k[1] & args=0x11,0x22", "ok:0x11,0x05", false);
        row("hex: fifth item stays", H, "filePath=h.xml & xpath=//k[2] & args=0x11", "ok:1,2,3,4,%", false);
        row("hex: only exact %", H, "filePath=h.xml & xpath=//k[3] & args=0x11", "ok:0x%,%%,0x11", false);
        row("hex: empty items kept", H, "filePath=h.xml & xpath=//k[4] & args=0x11,0x22", "ok:0x11,,0x22", false);
        row("hex: no code", H, "filePath=h.xml & xpath=/h & args=1", "ok:", false);
        row("hex: no match", H, "filePath=h.xml & xpath=//none & args=1", "ok:", false);
        row("hex: bad xpath", H, "filePath=h.xml & xpath=1+1 & args=1", kLoadFailed, false);

        const char* V = "saveXmlAs";
        row("export: bad xpath", V, "srcFilePath=p.xml & desFilePath=$P/o.pfd & xpath=//key/", "fail:saveXmlAs load xml file failed!", false);
        row("export: destination a folder", V, "srcFilePath=p.xml & desFilePath=$P & xpath=/root", "fail:saveXmlAs desFilePath is failed!", false);
        row("export: no destination folder", V, "srcFilePath=p.xml & desFilePath=$P/x/y/o.pfd & xpath=/root", "fail:saveXmlAs desFilePath is failed!", false);
        // Only package files named by a save dialog: no junk from values such as "0" or "true".
        row("export: relative path", V, "srcFilePath=p.xml & desFilePath=o.pfd & xpath=/root", "fail:saveXmlAs desFilePath is failed!", false);
        row("export: no extension", V, "srcFilePath=p.xml & desFilePath=$P/true & xpath=/root", "fail:saveXmlAs desFilePath is failed!", false);
        row("export: other extension", V, "srcFilePath=p.xml & desFilePath=$P/o.pfd.xml & xpath=/root", "fail:saveXmlAs desFilePath is failed!", false);
        row("export: only the extension", V, "srcFilePath=p.xml & desFilePath=$P/.pfd & xpath=/root", "fail:saveXmlAs desFilePath is failed!", false);
        row("export: device name", V, "srcFilePath=p.xml & desFilePath=$P/Com1.x.pfd & xpath=/root", "fail:saveXmlAs desFilePath is failed!", false);
        row("export: upper-case extension", V, "srcFilePath=p.xml & desFilePath=$P/Keys.PFD & xpath=/root", "ok:saveXmlAs success", false);
        // clang-format on
    }
    void commands() {
        QFETCH(QString, command);
        QFETCH(QString, args);
        QFETCH(QString, answer);
        QFETCH(bool, pending);
        QFETCH(QString, check);
        QFETCH(QString, checked);
        if (answer.startsWith("ok:")) { // without any one required argument: no answer
            const QVariantMap full = parseArgs(args);
            for (const QString& key : full.keys()) {
                QVariantMap reduced = full;
                reduced.remove(key);
                QVERIFY2(run(command, reduced) == "none" || key == "addNodeName", qPrintable(key));
            }
        }
        QCOMPARE(run(command, args), answer);
        QCOMPARE(m_cache->pending(), pending ? QStringList{abs("p.xml")} : QStringList{});
        if (!answer.startsWith("ok:") && m_cache->contains(abs("p.xml")))
            QCOMPARE(m_cache->text(abs("p.xml")), kProfile); // read, kept, not changed
        if (!check.isEmpty())
            QCOMPARE(query("p.xml", check), checked);
        QCOMPARE(readBytes(abs("p.xml")), kProfile);             // nothing reaches the disk
        if (command == "saveXmlAs" && !answer.startsWith("ok:")) // and no package anywhere
            QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden).filter(".pfd"),
                     QStringList{"pkg.pfd"});
    }

    // What XML 1.0 cannot hold is refused with the command's failure text: a control character
    // would be stored as a reference other readers refuse, and the library reads every text
    // only up to a U+0000.
    void charactersXmlCannotHoldAreRefused_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QVariantMap>("args");
        QTest::addColumn<QString>("answer");
        const QString nul(QChar(0));
        const QVariantMap modify{{"filePath", "p.xml"},
                                 {"xpath", "//key[@id='1']"},
                                 {"attribute", "name"},
                                 {"attributeValue", "X"}};
        auto with = [](QVariantMap a, const char* key, const QString& value) {
            a.insert(key, value);
            return a;
        };
        QTest::newRow("control character in a value")
            << "modifyProfile" << with(modify, "attributeValue", QString("X%1").arg(QChar(1)))
            << QString(kLoadFailed);
        QTest::newRow("U+0000 in a value")
            << "modifyProfile" << with(modify, "attributeValue", "X" + nul + "Y")
            << QString(kLoadFailed);
        QTest::newRow("U+0000 in the expression")
            << "modifyProfile" << with(modify, "xpath", "//key[@id='1']" + nul + "junk")
            << QString(kLoadFailed);
        QTest::newRow("U+0000 in a query")
            << "queryProfile" << QVariantMap{{"filePath", "p.xml"}, {"xpath", "/root" + nul}}
            << "fail:queryProfile load xml file failed!";
        QVariantMap add = with(modify, "addNodeName", "act");
        QTest::newRow("control character in an added value")
            << "modifyAddProfile" << with(add, "attributeValue", QString(QChar(0x1f)))
            << QString(kLoadFailed);
        QTest::newRow("U+0000 in an added name")
            << "modifyAddProfile" << with(add, "addNodeName", "act" + nul) << QString(kLoadFailed);
        const QVariantMap ex{{"filePath", "p.xml"}, {"xpath", "/root/macros"}};
        QTest::newRow("reference to a control character in a fragment")
            << "modifyProfileEx" << with(ex, "subTreeString", "<a v=\"&#1;\"/>")
            << "fail:modifyProfileEx load xml file failed!";
        QTest::newRow("hexadecimal reference in a fragment's text")
            << "modifyProfileEx" << with(ex, "subTreeString", "<a>&#x1F;</a>")
            << "fail:modifyProfileEx load xml file failed!";
        QTest::newRow("U+0000 in a path: no answer")
            << "resetProfile"
            << QVariantMap{{"srcFilePath", "s.xml"}, {"desFilePath", "p.xml" + nul}} << "none";
    }
    void charactersXmlCannotHoldAreRefused() {
        QFETCH(QString, command);
        QFETCH(QVariantMap, args);
        QFETCH(QString, answer);
        QCOMPARE(run(command, args), answer);
        QVERIFY(m_cache->pending().isEmpty());
        QCOMPARE(readBytes(abs("p.xml")), kProfile);
    }

    // Names are checked as the UTF-8 that is stored: a lone surrogate half converts to "?",
    // and a stored "<?x ...>" would break the file for good at the next start.
    void namesAreCheckedAsStored_data() {
        QTest::addColumn<QString>("attribute");
        QTest::addColumn<QString>("nodeName");
        QTest::addColumn<bool>("accepted");
        const QString high(QChar(0xD800)), low(QChar(0xDC00));
        QTest::newRow("lone high half in element") << "k" << high + "x" << false;
        QTest::newRow("lone low half in element") << "k"
                                                  << "x" + low << false;
        QTest::newRow("halves swapped in element") << "k"
                                                   << "x" + low + high << false;
        QTest::newRow("lone half in attribute") << high + "k"
                                                << "x" << false;
        QTest::newRow("pair beyond the basic plane") << "k"
                                                     << "x" + high + low << true;
        QTest::newRow("accented") << "\u00e9"
                                  << "\u00e9t\u00e9" << true;
    }
    void namesAreCheckedAsStored() {
        QFETCH(QString, attribute);
        QFETCH(QString, nodeName);
        QFETCH(bool, accepted);
        const QVariantMap a{{"filePath", "p.xml"},
                            {"xpath", "/root"},
                            {"attribute", attribute},
                            {"attributeValue", "v" + nodeName},
                            {"addNodeName", nodeName}};
        QCOMPARE(run("modifyAddProfile", a),
                 accepted ? QString("ok:modifyAddProfile success") : QString(kLoadFailed));
        QCOMPARE(run("savexml", QVariantMap()), QString("ok:save xml success"));
        pugi::xml_document doc;
        const QByteArray onDisk = readBytes(abs("p.xml"));
        QVERIFY(doc.load_buffer(onDisk.constData(), size_t(onDisk.size())));
        QCOMPARE(QString::fromUtf8(doc.child("root").last_child().name()),
                 accepted ? nodeName : QString("macros"));
        if (!accepted)
            QCOMPARE(onDisk, kProfile);
    }

    // Each row edits f.xml, starting from `text`, with the commands of `steps` (command, then
    // its arguments after "|"), each answering success. Afterwards every query of `checks` ("#"
    // first: node count) answers from the kept document what a fresh parse of the stored text
    // answers, and `expected` is the first check's answer.
    void keptDocumentAnswersAsItsText_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("checks");
        QTest::addColumn<QString>("expected");
        const QString f = "filePath=f.xml & ";
        const QString values = QString("\t\n\r&<>\"'x") + QChar(0xD800) + "y";
        QTest::newRow("carriage return in a text, then values")
            << QByteArray("<r><t>a&#13;b</t><k v=\"1\"/></r>")
            << QStringList{"modifyProfile|" + f + "xpath=//k & attribute=v & attributeValue=2",
                           "modifyProfile|" + f + "xpath=//k & attribute=v & attributeValue=3"}
            << QStringList{"//t[text()='a\nb']", "//t/text()", "/r"} << "<t>a\nb</t>\n";
        QTest::newRow("texts made adjacent, then values")
            << QByteArray("<r><a>x<b/>y</a><k v=\"1\"/></r>")
            << QStringList{"modifyRemoveProfile|" + f + "xpath=//b",
                           "modifyProfile|" + f + "xpath=//k & attribute=v & attributeValue=2"}
            << QStringList{"#/r/a", "//a[text()='xy']", "/r"} << "1";
        QTest::newRow("values with control characters, quotes and a lone surrogate half")
            << QByteArray("<r><k v=\"1\" w=\"2\"/></r>")
            << QStringList{"modifyProfile|" + f +
                               "xpath=//k & attribute=v & attributeValue=" + values,
                           "modifyProfile|" + f +
                               "xpath=//k & attribute=w & attributeValue=" + values + "2"}
            << QStringList{"//k[contains(@v, '\t\n\r&<>\"') and @w]", "/r"}
            << "<k v=\"&#09;&#10;&#13;&amp;&lt;>&quot;'x?y\" "
               "w=\"&#09;&#10;&#13;&amp;&lt;>&quot;'x?y2\" />\n";
        QTest::newRow("source inside the destination, one file")
            << QByteArray("<r><d><s n=\"1\"/></d><k v=\"1\"/></r>")
            << QStringList{"modifyReplaceProfile|srcFilePath=f.xml & desFilePath=f.xml & "
                           "srcXpath=//s & desXpath=//d",
                           "modifyProfile|" + f + "xpath=//s & attribute=n & attributeValue=2"}
            << QStringList{"/r", "#/r"} << "<r>\n\t<s n=\"2\" />\n\t<k v=\"1\" />\n</r>\n";
        QTest::newRow("refused edit, then values")
            << QByteArray("<r><k v=\"1\"/></r>")
            << QStringList{"modifyRemoveProfile!|" + f + "xpath=/r",
                           "modifyProfile|" + f + "xpath=//k & attribute=v & attributeValue=2"}
            << QStringList{"/r"} << "<r>\n\t<k v=\"2\" />\n</r>\n";

        // Elements with many children are looked up in tables once a lookup repeats; edits must
        // leave no stale entry. Ids repeat every 40 keys, so one id matches three keys.
        QByteArray many = "<r>";
        for (int i = 0; i < 120; ++i)
            many += "<k id=\"" + QByteArray::number(i % 40) + "\" n=\"" + QByteArray::number(i) +
                    "\"/>";
        many += "</r>";
        const QString lookup = "queryProfile|" + f + "xpath=/r/k[@id='5']";
        QTest::newRow("looked-up values edited")
            << many
            << QStringList{"modifyProfile|" + f +
                               "xpath=/r/k[@id='6'] & attribute=n & "
                               "attributeValue=x",
                           lookup, lookup,
                           "modifyProfile|" + f +
                               "xpath=/r/k[@id='5'][@n='45'] & attribute=id & attributeValue=7",
                           "modifyProfile|" + f +
                               "xpath=/r/k[@id='8'] & attribute=n & "
                               "attributeValue=x"}
            << QStringList{"/r/k[@id='7']", "/r/k[@id='7']", "/r/k[@id='5']", "/r/k[@n='x']",
                           "/r/k[@id='8'][@n='x']"}
            << "<k id=\"7\" n=\"7\" />\n<k id=\"7\" n=\"45\" />\n<k id=\"7\" n=\"47\" />\n"
               "<k id=\"7\" n=\"87\" />\n";
        QTest::newRow("looked-up elements removed")
            << many
            << QStringList{lookup, lookup,
                           "modifyRemoveProfile|" + f + "xpath=/r/k[@id='5'][@n='5']"}
            << QStringList{"/r/k[@id='5']", "/r/k[@id='5']", "/r/k[@id='6']"}
            << "<k id=\"5\" n=\"45\" />\n<k id=\"5\" n=\"85\" />\n";
    }
    void keptDocumentAnswersAsItsText() {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, checks);
        QFETCH(QString, expected);
        QVERIFY(writeBytes(abs("f.xml"), text));
        const QString first = query("f.xml", "/"); // parsed and kept
        QCOMPARE(first, freshAnswer("f.xml", "/"));
        for (const QString& step : steps) {
            QString command = step.section('|', 0, 0);
            const bool refused = command.endsWith('!');
            command.remove('!');
            const QString answer = run(command, step.section('|', 1));
            QVERIFY2(answer.startsWith(refused ? "fail:" : "ok:"), qPrintable(step + answer));
        }
        for (const QString& check : checks) {
            const bool count = check.startsWith('#');
            const QString xpath = count ? check.mid(1) : check;
            const QString answer = run(count ? "nodeCounterProfile" : "queryProfile",
                                       "filePath=f.xml & xpath=" + xpath)
                                       .mid(3);
            QCOMPARE(answer, freshAnswer("f.xml", xpath, count));
            if (check == checks.first())
                QCOMPARE(answer, expected);
        }
        pugi::xml_document stored;
        const QByteArray bytes = m_cache->text(abs("f.xml"));
        QVERIFY(stored.load_buffer(bytes.constData(), size_t(bytes.size())));
    }

    // Documents are kept for the most recently used profiles only; one that was let go is parsed
    // again from its text, edits included.
    void documentsBeyondTheBudgetAreLetGo() {
        const int size = int(ProfileCache::kDocumentBudget / 2) + 1024;
        for (const char* name : {"a", "b", "c"}) {
            QVERIFY(writeBytes(abs(QString(name) + ".xml"), largeProfile(size, name)));
            QCOMPARE(run("modifyProfile", QString("filePath=%1.xml & xpath=//key[@id='5'] & "
                                                  "attribute=name & attributeValue=%1%1")
                                              .arg(name)),
                     QString("ok:modifyProfile success!"));
            QVERIFY(m_cache->keptDocumentText() <= ProfileCache::kDocumentBudget);
        }
        QVERIFY(!m_cache->document(abs("a.xml")).doc);
        QVERIFY(m_cache->document(abs("c.xml")).doc);
        QCOMPARE(query("a.xml", "//key[@id='5']"), QString("<key id=\"5\" name=\"aa\" />\n"));
        QVERIFY(m_cache->document(abs("a.xml")).doc);
        QVERIFY(!m_cache->document(abs("b.xml")).doc);
    }

    // Files that cannot be read whole are not read at all: a pipe would block the command (and
    // every one after it) for ever. Profiles end without an answer, as an unopenable one does.
    void specialFilesAreNotRead_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("answer");
        QTest::newRow("profile is a pipe") << "f.xml"
                                           << "queryProfile"
                                           << "filePath=f.xml & xpath=/"
                                           << "none";
        QTest::newRow("profile too large") << "big.xml"
                                           << "queryProfile"
                                           << "filePath=big.xml & xpath=/"
                                           << "none";
        QTest::newRow("package is a pipe")
            << "f.pfd"
            << "modifyReplaceProfileEx"
            << "srcFilePath=$P/f.pfd & desFilePath=p.xml & srcXpath=/ & desXpath=/root"
            << kReplaceFailed;
    }
    void specialFilesAreNotRead() {
        QFETCH(QString, file);
        QFETCH(QString, command);
        QFETCH(QString, args);
        QFETCH(QString, answer);
        if (file.endsWith("big.xml")) {
            QFile big(abs(file));
            QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(ProfileCache::kMaxFileSize + 1));
        } else {
            QCOMPARE(::mkfifo(QFile::encodeName(abs(file)).constData(), 0600), 0);
        }
        QCOMPARE(run(command, args), answer);
        QVERIFY(!m_cache->contains(abs(file)));
    }

    // A query that runs long on a large profile holds up neither the caller's thread nor its
    // other commands; profile commands still run one at a time in the order sent, and each is
    // answered once, on the caller's thread.
    void workerKeepsCallerFree() {
        QVERIFY(writeBytes(abs("slow.xml"), largeProfile(160000, "k")));
        QVERIFY(writeBytes(abs("Resources/profiles/conf.xml"), "<root><client a=\"1\"/></root>"));
        ConfigStore store(folder());
        store.load();
        FakeConfHost host;
        ConfCommands conf(store, &host);
        m_dispatcher.context().conf = &conf;
        m_commands->startWorker();

        QStringList order;
        const auto send = [&](const QString& label, const QString& command, const QString& a) {
            auto cb = std::make_shared<OrderedCallback>(label, &order);
            m_dispatcher.dispatchCommand(command, parseArgs(a), cb);
            return cb;
        };
        // Every element counts every element: quadratic in the size of the profile.
        const auto slow =
            send("slow", "queryProfile", "filePath=slow.xml & xpath=//*[count(//*) > 0]");
        send("no answer", "modifyProfile", "filePath=p.xml & xpath=//key & attribute=name");
        const auto edit =
            send("edit", "modifyProfile",
                 "filePath=p.xml & xpath=//key[@id='1'] & attribute=name & attributeValue=E");
        const auto check = send("check", "queryProfile", "filePath=p.xml & xpath=//key[@id='1']");
        m_commands->writePending(); // in turn: after the edit
        const auto getConf = send("getConf", "getConf", "");
        // Answered inside the call, while the profile commands wait their turn.
        QCOMPARE(order, QStringList{"getConf"});

        QTRY_VERIFY_WITH_TIMEOUT(order.size() == 4, 300000);
        QCOMPARE(order, (QStringList{"getConf", "slow", "edit", "check"}));
        QVERIFY(slow->answer.startsWith("ok:<root>"));
        QCOMPARE(edit->answer, QString("ok:modifyProfile success!"));
        QCOMPARE(check->answer, "ok:" + QString(K1).replace("name=\"A\"", "name=\"E\""));
        QVERIFY(getConf->answer.startsWith("ok:"));
        QTRY_VERIFY_WITH_TIMEOUT(readBytes(abs("p.xml")).contains("name=\"E\""), 60000);
        m_dispatcher.context().conf = nullptr;
    }

    // The package replaces whatever the path names; a link or a special file must not be
    // written through.
    void exportRefusesLinksAndSpecialFiles_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("link to a file outside") << "link";
        QTest::newRow("link to nothing") << "dangling";
        QTest::newRow("pipe") << "fifo";
        QTest::newRow("folder") << "folder";
    }
    void exportRefusesLinksAndSpecialFiles() {
        QFETCH(QString, kind);
        const QString target = abs("t.pfd"), outside = m_dir.path() + "/outside.xml";
        if (kind == "link")
            QVERIFY(QFile::link(outside, target));
        else if (kind == "dangling")
            QVERIFY(QFile::link(m_dir.path() + "/new.pfd", target));
        else if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(target).constData(), 0600), 0);
        else
            QVERIFY(QDir().mkpath(target));
        QCOMPARE(run("saveXmlAs", "srcFilePath=p.xml & desFilePath=" + target + " & xpath=/root"),
                 QString("fail:saveXmlAs desFilePath is failed!"));
        QCOMPARE(readBytes(outside), kProfile);
        QVERIFY(!QFile::exists(m_dir.path() + "/new.pfd"));
        QCOMPARE(QFileInfo(target).isSymLink(), kind == "link" || kind == "dangling");
        QCOMPARE(
            QDir(folder()).entryList({"t.pfd*"}, QDir::AllEntries | QDir::Hidden | QDir::System),
            QStringList{"t.pfd"});
    }

    void cacheWinsOverDiskAndStoresPlainDeclaration() {
        QCOMPARE(query("p.xml", "//key[@id='1']"), K1);
        QVERIFY(writeBytes(abs("p.xml"), "<other/>"));
        QCOMPARE(run("modifyProfile", "filePath=p.xml & xpath=//key & attribute=name & "
                                      "attributeValue=Z"),
                 QString("ok:modifyProfile success!"));
        QVERIFY(query("p.xml", "//key[@id='2']").contains("name=\"Z\""));
        const QByteArray stored = m_cache->text(abs("p.xml"));
        QVERIFY(stored.startsWith("<?xml version=\"1.0\"?>\n<root>\n\t<keys>\n"));
        QVERIFY(!stored.contains("key map")); // comments go with the first edit
    }

    void nonUtf8BytesAreReplaced() {
        QVERIFY(writeBytes(abs("bad.xml"), "<root><k name=\"a\xff\xfe\" /></root>"));
        QCOMPARE(query("bad.xml", "/root/k"), QString::fromUtf8("<k name=\"a\uFFFD\uFFFD\" />\n"));
        QCOMPARE(run("modifyProfile", "filePath=bad.xml & xpath=//k & attribute=name & "
                                      "attributeValue=\u00e9"),
                 QString("ok:modifyProfile success!"));
        QCOMPARE(run("savexml", QVariantMap()), QString("ok:save xml success"));
        QCOMPARE(readBytes(abs("bad.xml")), QByteArray("<?xml version=\"1.0\"?>\r\n<root>\r\n"
                                                       "\t<k name=\"\xc3\xa9\" />\r\n</root>\r\n"));
    }

    // Enough inner matches to fill whole pages of the XML library, which go back to the system
    // with the outer match: touching an inner match afterwards is caught.
    void nestedMatchesInLargeProfiles() {
        QByteArray text = "<root><outer>";
        for (int i = 0; i < 5000; ++i)
            text += "<i><j/></i>";
        QVERIFY(writeBytes(abs("n.xml"), text + "</outer><keep/></root>"));
        QVERIFY(writeBytes(abs("m.xml"), text + "</outer><keep/></root>"));
        QCOMPARE(run("modifyRemoveProfile", "filePath=n.xml & xpath=//i | //outer | //j"),
                 QString("ok:modifyRemoveProfile success"));
        QCOMPARE(query("n.xml", "/root/*"), QString("<keep />\n"));
        QCOMPARE(run("modifyProfileEx", "filePath=m.xml & xpath=//j | //outer | //i & "
                                        "subTreeString=<f/>"),
                 QString("ok:modifyProfileEx success"));
        QCOMPARE(query("m.xml", "/root/outer"), QString("<outer>\n\t<f />\n</outer>\n"));

        QVERIFY(writeBytes(abs("big.xml"), largeProfile(10 << 20, "k")));
        QCOMPARE(run("modifyProfile", "filePath=big.xml & xpath=//key[@id='100000'] & "
                                      "attribute=name & attributeValue=found"),
                 QString("ok:modifyProfile success!"));
        QCOMPARE(query("big.xml", "//key[@name='found']"),
                 QString("<key id=\"100000\" name=\"found\" />\n"));
    }

    // A destination that is not there yet is begun as the copy (a device's own key map), its
    // folder made by the save; never one outside the program folder, nor from a missing source.
    void resetBeginsAMissingFile_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<QString>("answer");
        QTest::newRow("new file in new folders") << "s.xml"
                                                 << "dev/kx/xml/none.xml"
                                                 << "ok:resetProfile success";
        QTest::newRow("outside the program folder") << "s.xml"
                                                    << "../made.xml"
                                                    << "none";
        QTest::newRow("no source") << "gone.xml"
                                   << "dev/none.xml"
                                   << "none";
    }

    void resetBeginsAMissingFile() {
        QFETCH(QString, source);
        QFETCH(QString, destination);
        QFETCH(QString, answer);
        QCOMPARE(run("resetProfile", "srcFilePath=" + source + " & desFilePath=" + destination),
                 answer);
        const bool made = answer.startsWith("ok:");
        const QString saved = run("savexml", QVariantMap());
        QVERIFY(!made || saved == "ok:save xml success");
        QCOMPARE(QFileInfo::exists(abs(destination)), made);
        if (made)
            QVERIFY(readBytes(abs(destination)).contains("<key name=\"S\">"));
    }

    void savexmlWritesPendingInOrder() {
        QCOMPARE(run("savexml", QVariantMap()), QString("none")); // nothing cached
        QVERIFY(writeBytes(abs("sub/q.xml"), "<q>\n<a x=\"1\"/>\n</q>\n"));
        query("sub/q.xml", "/");
        query("p.xml", "/");
        // Cached but unchanged: nothing written, still success.
        QCOMPARE(run("savexml", QVariantMap()), QString("ok:save xml success"));
        QCOMPARE(readBytes(abs("p.xml")), kProfile);

        for (const char* file : {"sub/q.xml", "p.xml"})
            run("modifyProfile",
                QString("filePath=") + file + " & xpath=//* & attribute=x;id & attributeValue=2;9");
        QCOMPARE(m_cache->pending(), (QStringList{abs("sub/q.xml"), abs("p.xml")}));

        // The second file cannot be written: the first is, no answer, pending stays whole.
        QVERIFY(QFile::remove(abs("p.xml")) && QDir().mkpath(abs("p.xml")));
        QCOMPARE(run("savexml", QVariantMap()), QString("none"));
        QCOMPARE(readBytes(abs("sub/q.xml")),
                 QByteArray("<?xml version=\"1.0\"?>\r\n<q>\r\n\t<a x=\"2\" />\r\n</q>\r\n"));
        QCOMPARE(m_cache->pending(), (QStringList{abs("sub/q.xml"), abs("p.xml")}));

        QVERIFY(QDir(abs("p.xml")).removeRecursively());
        QCOMPARE(run("savexml", QVariantMap()), QString("ok:save xml success"));
        QVERIFY(m_cache->pending().isEmpty());
        QVERIFY(readBytes(abs("p.xml")).contains("\r\n\t\t<key id=\"9\" code=\"0x02,%,0x00,%\""));
        // No temporary files are left behind by the failed or the good writes.
        QCOMPARE(QDir(abs("sub")).entryList(QDir::Files | QDir::Hidden), QStringList{"q.xml"});
        QCOMPARE(QDir(folder()).entryList({"p.xml*"}, QDir::Files | QDir::Hidden),
                 QStringList{"p.xml"});
    }

    void writeFromAnotherThreadDoesNotRace() {
        QCOMPARE(query("p.xml", "/root/macros"), QString("<macros />\n"));
        std::atomic<bool> stop{false};
        std::unique_ptr<QThread> writer(QThread::create([&] {
            while (!stop)
                m_cache->writePending();
        }));
        writer->start();
        for (int i = 0; i < 300; ++i)
            m_cache->store(abs("p.xml"), "<t n=\"" + QByteArray::number(i) + "\" />\n");
        stop = true;
        writer->wait();
        QCOMPARE(m_cache->writePending(), ProfileCache::WriteResult::Written);
        QCOMPARE(readBytes(abs("p.xml")), QByteArray("<t n=\"299\" />\r\n"));
    }

    void killedWhileSavingLeavesOldOrNew() {
        const QString path = abs("large.xml");
        QByteArray old = largeProfile(8 << 20, "old"), fresh = largeProfile(8 << 20, "new");
        old.replace("\n", "\r\n");
        fresh.replace("\n", "\r\n");
        for (int attempt = 0; attempt < 3; ++attempt) {
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(kChildEnv, path);
            child.setProcessEnvironment(env);
            child.start(QCoreApplication::applicationFilePath(), {});
            QVERIFY(child.waitForStarted() && child.waitForReadyRead(60000));
            QThread::msleep(37 + 53 * attempt);
            ::kill(pid_t(child.processId()), SIGKILL);
            QVERIFY(child.waitForFinished());
            const QByteArray onDisk = readBytes(path);
            QVERIFY2(onDisk == old || onDisk == fresh, QByteArray::number(onDisk.size()));
        }
    }

    void packageRoundTrip() {
        const QString pfd = abs("keys.pfd");
        QCOMPARE(run("saveXmlAs", "srcFilePath=p.xml & desFilePath=$P/keys.pfd & xpath=//key[3]"),
                 QString("ok:saveXmlAs success"));
        QVERIFY(m_cache->pending().isEmpty());
        // Magic, length, Base64 of the element as a document of its own.
        const QByteArray bytes = readBytes(pfd);
        QDataStream head(bytes);
        quint32 magic = 0, length = 0;
        head >> magic >> length;
        QCOMPARE(magic, 0x0A0B0C0Du);
        QCOMPARE(qint64(length), bytes.size() - 8);
        QCOMPARE(QString(QByteArray::fromBase64(bytes.mid(8))), "<?xml version=\"1.0\"?>\n" + K3);

        QVERIFY(writeBytes(abs("other.xml"), "<conf><slot n=\"1\"><old/></slot></conf>"));
        QCOMPARE(run("modifyReplaceProfileEx", "srcFilePath=$P/keys.pfd & desFilePath=other.xml & "
                                               "srcXpath=x & desXpath=/conf/slot"),
                 QString("ok:modifyReplaceProfile success"));
        QCOMPARE(query("other.xml", "/conf/slot/*"), QString("<sub>text</sub>\n<sub />\n"));
    }

    void badPackagesFail_data() {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray magic("\x0a\x0b\x0c\x0d", 4), body = QByteArray("<r><a/></r>").toBase64();
        auto len = [](quint32 n) {
            QByteArray b;
            QDataStream(&b, QIODevice::WriteOnly) << n;
            return b;
        };
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("short magic") << magic.left(3);
        QTest::newRow("wrong magic") << QByteArray("\x0d\x0c\x0b\x0a", 4) + len(16) + body;
        QTest::newRow("no length") << magic;
        QTest::newRow("truncated payload") << magic + len(body.size()) + body.left(5);
        QTest::newRow("length beyond file") << magic + len(1000) + body;
        QTest::newRow("absurd length") << magic + len(0xFFFFFFF0u) + body;
        QTest::newRow("null payload") << magic + len(0xFFFFFFFFu);
        QTest::newRow("empty payload") << magic + len(0);
        QTest::newRow("not base64") << magic + len(7) + QByteArray("!!!!!!!");
        QTest::newRow("payload not xml") << magic + len(8) + QByteArray("bm90IHht");
    }
    void badPackagesFail() {
        QFETCH(QByteArray, bytes);
        QVERIFY(writeBytes(abs("in.pfd"), bytes));
        QCOMPARE(run("modifyReplaceProfileEx", "srcFilePath=$P/in.pfd & desFilePath=p.xml & "
                                               "srcXpath=/ & desXpath=/root"),
                 QString(kReplaceFailed));
        QVERIFY(m_cache->pending().isEmpty());
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
