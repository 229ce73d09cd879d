// Malformed and random page requests thrown at the dispatcher with the real configuration and
// profile commands behind it. Seeds are fixed, so a failing round repeats; TAVIX_STRESS_ROUNDS
// raises the count for a longer hunt.
#include "app/dispatcher.h"
#include "bridge/args.h"
#include "config/confcommands.h"
#include "config/configstore.h"
#include "config/pfdfile.h"
#include "config/profilecache.h"
#include "config/profilecommands.h"
#include "fakeconfhost.h"
#include "recordingcallback.h"

#include <pugixml.hpp>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <random>

namespace {

const QByteArray kProfile = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root>\n\t<keys>\n"
                            "\t\t<key id=\"1\" code=\"0x02,%,0x00,%\" name=\"A\"/>\n"
                            "\t\t<key id=\"2\" code=\"%\" name=\"B\"><![CDATA[c]]></key>\n"
                            "\t\t<key id=\"3\" name=\"C\"><sub>text</sub><sub/></key>\n"
                            "\t</keys>\n\t<macros/>\n</root>\n";
const QByteArray kConf = "<root>\n\t<client version=\"1\" fastSwitch=\"Ctrl+F1\" testTool=\"\" "
                         "autoStart=\"false\" closeFunc=\"hide\" />\n\t<defaultConf "
                         "closeFunc=\"closeapp\" version=\"0\" />\n</root>\n";

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool parses(const QByteArray& text) {
    pugi::xml_document doc;
    return doc.load_buffer(text.constData(), size_t(text.size()), pugi::parse_default,
                           pugi::encoding_utf8)
               .status == pugi::status_ok;
}

// The commands whose success stores an edited document under the named path argument.
const QMap<QString, const char*> kEdits = {
    {"modifyProfile", "filePath"},
    {"modifyProfileEx", "filePath"},
    {"modifyRemoveProfile", "filePath"},
    {"modifyAddProfile", "filePath"},
    {"modifyReplaceProfile", "desFilePath"},
    {"modifyReplaceSubNode", "desFilePath"},
    {"modifyReplaceProfileEx", "desFilePath"},
};

const QMap<QString, QStringList> kCommandArgs = {
    {"queryProfile", {"filePath", "xpath"}},
    {"nodeCounterProfile", {"filePath", "xpath"}},
    {"modifyProfile", {"filePath", "xpath", "attribute", "attributeValue"}},
    {"modifyProfileEx", {"filePath", "xpath", "subTreeString"}},
    {"modifyRemoveProfile", {"filePath", "xpath"}},
    {"modifyAddProfile", {"filePath", "xpath", "attribute", "attributeValue", "addNodeName"}},
    {"modifyReplaceProfile", {"srcFilePath", "desFilePath", "srcXpath", "desXpath"}},
    {"modifyReplaceSubNode", {"srcFilePath", "desFilePath", "srcXpath", "desXpath"}},
    {"modifyReplaceProfileEx", {"srcFilePath", "desFilePath", "srcXpath", "desXpath"}},
    {"resetProfile", {"srcFilePath", "desFilePath"}},
    {"queryHexByte", {"filePath", "xpath", "args"}},
    {"savexml", {}},
    {"saveXmlAs", {"srcFilePath", "desFilePath", "xpath"}},
    {"getConf", {}},
    {"setConf", {"confKey", "confValue"}},
    {"resetConf", {}},
    {"getHotKey", {}},
    {"checkUpdate", {}},
};

// Draws the parts of random requests from one seeded engine.
class Generator {
public:
    explicit Generator(unsigned seed) : m_rng(seed) {}

    int below(int n) { return int(m_rng() % unsigned(n)); }
    bool chance(int percent) { return below(100) < percent; }
    template <class T> const T& pick(const QList<T>& items) { return items[below(items.size())]; }

    // Any UTF-16 units, surrogate halves and controls included.
    QString noise(int maxLength) {
        QString s;
        for (int n = below(maxLength + 1); n > 0; --n)
            s += QChar(ushort(chance(70) ? 32 + below(95) : below(0x10000)));
        return s;
    }

    QString pieces(const QStringList& parts, int maxCount) {
        QString s;
        for (int n = 1 + below(maxCount); n > 0; --n)
            s += chance(90) ? pick(parts) : noise(3);
        return s;
    }

    QString xpath() {
        static const QStringList whole = {
            "/",           "/root",        "/root/keys", "//key",       "//key[@id='1']",
            "//sub",       "//@id",        "//text()",   "/*",          "//*",
            "//node()",    "/root/macros", "//key | /",  "count(//*)",  "string(/)",
            "//key[2]/..", "$v",           "id('1')",    "//*[last()]", "/root/keys/key[1]",
        };
        static const QStringList parts = {
            "/",
            "//",
            "*",
            "root",
            "keys",
            "key",
            "sub",
            "@id",
            "@*",
            "[1]",
            "[last()]",
            "[@id='2']",
            " | ",
            "..",
            ".",
            "text()",
            "node()",
            "(",
            ")",
            "[",
            "]",
            "'",
            "\"",
            "=",
            "!=",
            " and ",
            "count(",
            "name()",
            "following::",
            "ancestor-or-self::",
            "namespace::*",
            "comment()",
            "1 div 0",
            "-",
            "sum(",
            ",",
            "concat('a',",
            "position()",
            "$x",
            "::",
        };
        return chance(40) ? pick(whole) : pieces(parts, 8);
    }

    QString fragment() {
        static const QStringList parts = {
            "<a>",
            "</a>",
            "<b x='1'>",
            "</b>",
            "<c/>",
            "text",
            "&amp;",
            "&bogus;",
            "&#0;",
            "&#x110000;",
            "&#65;",
            "<![CDATA[",
            "]]>",
            "<!--",
            "-->",
            "<?pi x?>",
            "<?xml version='1.0'?>",
            "<!DOCTYPE r>",
            "<",
            ">",
            "\"",
            "'",
            "=",
            "<d y=\"<\">",
            "<e z=>",
            " ",
            "\n",
            "<f:g/>",
            "<1/>",
        };
        return pieces(parts, 10);
    }

    QString path() {
        static const QStringList names = {
            "p.xml", "s.xml",     "broken.xml", "empty.xml",      "none.xml",
            "sub",   "sub/q.xml", "./p.xml",    "../outside.xml", "",
            ".",     "/p.xml",    "p.xml/",     "sub/../s.xml",
        };
        if (chance(50))
            return pick(QStringList{"p.xml", "s.xml", "sub/q.xml"});
        return chance(80) ? pick(names) : noise(12).replace('/', '_');
    }

    QString attributeList() {
        static const QStringList parts = {"id", "name", "code", ";", ";;", "x y", "<", "a:b", "1"};
        return pieces(parts, 4);
    }

    // A value for `key`: mostly a plausible text, sometimes any JSON type at all.
    QJsonValue value(const QString& command, const QString& key, const QString& packageFolder) {
        switch (below(30)) {
        case 0:
            return QJsonValue::Null;
        case 1:
            return chance(50) ? QJsonValue(double(below(1000))) : QJsonValue(1e300 * below(3));
        case 2:
            return QJsonValue(chance(50));
        case 3:
            return QJsonArray{path(), 1, QJsonValue::Null};
        case 4:
            return QJsonObject{{"funcname", "getConf"}, {key, path()}};
        case 5:
            return chance(20) ? QString(100000, 'a') : noise(40);
        default:
            break;
        }
        if (key.endsWith("Xpath") || key == "xpath")
            return xpath();
        if (key == "subTreeString")
            return fragment();
        if (key == "attribute")
            return chance(60) ? pick(QStringList{"id", "name;code", "t;v"}) : attributeList();
        if (key == "attributeValue")
            return chance(60) ? pick(QStringList{"1", "x;<&\">", ";2;;3;"}) : attributeList();
        if (key == "addNodeName")
            return pick(QStringList{"act", "a b", "1a", "", "x:y", "\u00e9t\u00e9"});
        if (key == "args")
            return pick(QStringList{"0x11,0x22", "", ",,,", "1,2,3,4,5"});
        if (key == "confKey")
            return pick(QStringList{"closeFunc", "version", "autoStart", "fastSwitch", "testTool",
                                    "missing", ""});
        if (key == "confValue")
            return pick(QStringList{"true", "Ctrl+F3", "<&\"'>", "\u0001", ""});
        // Package files are used as given.
        if (command == "modifyReplaceProfileEx" && key == "srcFilePath" && chance(80))
            return packageFolder + "/pkg" + QString::number(below(kPackages)) + ".pfd";
        if (command == "saveXmlAs" && key == "desFilePath" && chance(80))
            return packageFolder + "/pkg" + QString::number(below(kPackages)) + ".pfd";
        return path();
    }

    // A package file: random bytes, a good head over random bytes, or a good package of a
    // random fragment.
    QByteArray package() {
        QByteArray head;
        QDataStream(&head, QIODevice::WriteOnly) << pfdfile::kMagic;
        QByteArray noiseBytes;
        for (int n = below(64); n > 0; --n)
            noiseBytes += char(below(256));
        switch (below(5)) {
        case 0:
            return noiseBytes;
        case 1: {
            QByteArray length;
            QDataStream(&length, QIODevice::WriteOnly) << quint32(m_rng());
            return head + length + noiseBytes;
        }
        case 2:
            return pfdfile::encode(noiseBytes);
        case 3:
            return pfdfile::encode(fragment().toUtf8());
        default:
            return pfdfile::encode(
                "<pk>" +
                pick(QList<QByteArray>{"<c n=\"1\"/>t", "", "<![CDATA[x]]>", "<a><b/></a>"}) +
                "</pk>");
        }
    }

    static constexpr int kPackages = 6;

private:
    std::mt19937 m_rng;
};

} // namespace

class BadRequestsTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString folder() const { return m_dir.path() + "/prog"; }
    QString packages() const { return m_dir.path() + "/packages"; }

    std::unique_ptr<ConfigStore> m_store;
    std::unique_ptr<ConfCommands> m_conf;
    FakeConfHost m_host;
    std::unique_ptr<ProfileCache> m_cache;
    std::unique_ptr<ProfileCommands> m_profiles;
    Dispatcher m_dispatcher;
    // Answers seen per command name and outcome ("queryProfile+", "queryProfile-").
    QMap<QString, int> m_outcomes;
    std::shared_ptr<RecordingCallback> m_last; // of the latest request

    // A fresh program folder and fresh command groups; profiles only grow under random edits.
    void reset() {
        QDir(folder()).removeRecursively();
        QVERIFY(writeBytes(folder() + "/Resources/profiles/conf.xml", kConf));
        for (const char* name : {"p.xml", "s.xml", "sub/q.xml"})
            QVERIFY(writeBytes(folder() + "/" + name, kProfile));
        QVERIFY(writeBytes(folder() + "/broken.xml", "<root><a></root>"));
        QVERIFY(writeBytes(folder() + "/empty.xml", ""));
        m_store = std::make_unique<ConfigStore>(folder());
        m_store->load();
        m_conf = std::make_unique<ConfCommands>(*m_store, &m_host);
        m_cache = std::make_unique<ProfileCache>();
        m_profiles = std::make_unique<ProfileCommands>(*m_cache, folder());
        m_dispatcher.context().conf = m_conf.get();
        m_dispatcher.context().profiles = m_profiles.get();
    }

    // Sends one request and checks what must hold for any request at all.
    void send(const QString& request) {
        auto cb = makeRecorder();
        m_last = cb;
        m_dispatcher.onJsMessage(request, cb);
        QVERIFY2(cb->answers.size() <= 1, qPrintable(request.left(300)));
        if (cb->answered())
            QVERIFY2(cb->last().success || cb->last().code == 0, qPrintable(request.left(300)));
        QVERIFY(m_store->confText().isEmpty() || parses(m_store->confText().toUtf8()));

        // An edit that answered success leaves a text that parses again.
        QJsonParseError error{};
        const QJsonObject object = QJsonDocument::fromJson(request.toUtf8(), &error).object();
        const QString name = object.value("funcname").toString();
        if (cb->answered())
            m_outcomes[name + (cb->last().success ? "+" : "-")] += 1;
        if (cb->answered() && cb->last().success && kEdits.contains(name)) {
            const QString path =
                m_profiles->resolve(args::str(object.toVariantMap(), kEdits.value(name)));
            QVERIFY2(parses(m_cache->text(path)),
                     qPrintable(request.left(300) + "\n=> " + m_cache->text(path).left(300)));
        }
        for (const QString& pending : m_cache->pending())
            QVERIFY2(pending.startsWith(folder() + "/"), qPrintable(pending));
    }

    int rounds(int normal) const {
        const int asked = qEnvironmentVariableIntValue("TAVIX_STRESS_ROUNDS");
        return asked > 0 ? asked : normal;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QVERIFY(writeBytes(m_dir.path() + "/outside.xml", kProfile));
        // Paths used as given land here when they are relative.
        QDir().mkpath(m_dir.path() + "/cwd");
        QVERIFY(QDir::setCurrent(m_dir.path() + "/cwd"));
    }

    void init() { reset(); }

    // Texts that are no request at all, and well-formed requests cut or bent at random.
    void randomTexts() {
        Generator gen(20261208);
        const QStringList good = {
            "{\"funcname\":\"queryProfile\",\"filePath\":\"p.xml\",\"xpath\":\"//key\"}",
            "{\"funcname\":\"setConf\",\"confKey\":\"closeFunc\",\"confValue\":\"x\"}",
            "{\"funcname\":\"modifyProfileEx\",\"filePath\":\"p.xml\",\"xpath\":\"/root\","
            "\"subTreeString\":\"<a/>\"}",
            "{\"funcname\":\"getConf\"}",
        };
        for (int i = 0; i < rounds(2000); ++i) {
            QString text = gen.pick(good);
            if (gen.chance(20)) {
                text = gen.noise(80);
            } else {
                for (int edits = 1 + gen.below(4); edits > 0; --edits) {
                    const int at = gen.below(text.size() + 1);
                    switch (gen.below(3)) {
                    case 0:
                        text.remove(at, 1 + gen.below(4));
                        break;
                    case 1:
                        text.insert(at, gen.noise(3));
                        break;
                    default:
                        text.insert(at, gen.pick(QStringList{"{", "}", "\"", ",", ":", "[", "\\u",
                                                             "\\ud800", "null", "1e999"}));
                    }
                }
            }
            send(text);
            if (QTest::currentTestFailed())
                return;
        }
    }

    // Depths far past any real profile. One tab per level of indentation makes a deep tree's
    // text grow with the square of its depth: a short request must not ask for gigabytes, and
    // no recursion may run out of stack. Removing a subtree frees it recursively, so depth
    // itself is bounded: 200 000 levels once ended the program.
    void extremeDepths() {
        const auto nested = [](int depth) {
            return QString("<d>").repeated(depth) + QString("</d>").repeated(depth);
        };
        QVERIFY(writeBytes(folder() + "/deep.xml", "<root>" + nested(100000).toUtf8() + "</root>"));
        QVERIFY(writeBytes(folder() + "/deeper.xml", "<root>" + nested(1024).toUtf8() + "</root>"));
        QVERIFY(
            writeBytes(folder() + "/bounded.xml", "<root>" + nested(1000).toUtf8() + "</root>"));
        QDir().mkpath(packages());
        QVERIFY(pfdfile::write(packages() + "/deep.pfd", nested(5000).toUtf8()));
        const auto request = [](const QString& name, const QJsonObject& args) {
            QJsonObject object = args;
            object.insert("funcname", name);
            return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
        };
        const QString tooDeep = QString("(").repeated(100000) + "/" + QString(")").repeated(100000);
        const QString conf = "Resources/profiles/conf.xml";
        const QList<QPair<QString, bool>> steps = {
            // Past the bound: refused, nothing changes.
            {request("modifyProfileEx", {{"filePath", conf},
                                         {"xpath", "/root/defaultConf"},
                                         {"subTreeString", nested(200000)}}),
             false},
            {request("modifyProfileEx", {{"filePath", "p.xml"},
                                         {"xpath", "/root/macros"},
                                         {"subTreeString", nested(100000)}}),
             false},
            // Within the bound alone, past it where it lands.
            {request("modifyProfileEx", {{"filePath", "p.xml"},
                                         {"xpath", "/root/macros"},
                                         {"subTreeString", nested(1023)}}),
             false},
            {request("queryProfile", {{"filePath", "deep.xml"}, {"xpath", "/"}}), false},
            {request("modifyRemoveProfile", {{"filePath", "deeper.xml"}, {"xpath", "//d"}}), false},
            {request("saveXmlAs", {{"srcFilePath", "deep.xml"},
                                   {"desFilePath", packages() + "/x.pfd"},
                                   {"xpath", "/root"}}),
             false},
            {request("modifyReplaceProfileEx", {{"srcFilePath", packages() + "/deep.pfd"},
                                                {"desFilePath", "sub/q.xml"},
                                                {"srcXpath", "/"},
                                                {"desXpath", "/root"}}),
             false},
            // Deep, but within bounds.
            {request("queryProfile", {{"filePath", "bounded.xml"}, {"xpath", "//d[not(d)]/.."}}),
             true},
            {request("nodeCounterProfile", {{"filePath", "bounded.xml"}, {"xpath", "//d[last()]"}}),
             true},
            {request("modifyRemoveProfile", {{"filePath", "bounded.xml"}, {"xpath", "//d"}}), true},
            {request("modifyProfileEx", {{"filePath", "p.xml"},
                                         {"xpath", "/root/macros"},
                                         {"subTreeString", nested(1000)}}),
             true},
            {request("modifyReplaceSubNode", {{"srcFilePath", "p.xml"},
                                              {"desFilePath", "s.xml"},
                                              {"srcXpath", "/root/macros"},
                                              {"desXpath", "/root/keys"}}),
             true},
            {request("saveXmlAs", {{"srcFilePath", "s.xml"},
                                   {"desFilePath", packages() + "/bounded.pfd"},
                                   {"xpath", "/root"}}),
             true},
            {request("modifyReplaceProfileEx", {{"srcFilePath", packages() + "/bounded.pfd"},
                                                {"desFilePath", "sub/q.xml"},
                                                {"srcXpath", "/"},
                                                {"desXpath", "/root"}}),
             true},
            // Expressions nested past what the XPath compiler takes.
            {request("queryProfile", {{"filePath", "p.xml"}, {"xpath", tooDeep}}), false},
            {request("queryProfile",
                     {{"filePath", "p.xml"}, {"xpath", QString("/*").repeated(100000)}}),
             false},
            {request("queryProfile",
                     {{"filePath", "p.xml"},
                      {"xpath", QString("not(").repeated(100000) + "1" + QString(100000, ')')}}),
             false},
            {request("savexml", {}), true},
        };
        for (const auto& step : steps) {
            send(step.first);
            if (QTest::currentTestFailed())
                return;
            QVERIFY2(m_last->answered() && m_last->last().success == step.second,
                     qPrintable(step.first.left(200)));
        }
        QVERIFY(!QFile::exists(packages() + "/x.pfd"));
        QCOMPARE(readBytes(folder() + "/" + conf), kConf);
        QCOMPARE(readBytes(folder() + "/bounded.xml"),
                 QByteArray("<?xml version=\"1.0\"?>\r\n<root />\r\n"));
        QCOMPARE(readBytes(folder() + "/sub/q.xml").count("<d"), 1000);
        QVERIFY(readBytes(folder() + "/p.xml").size() < 8 << 20);
    }

    // Requests of the right shape whose arguments are missing, of the wrong type, or texts,
    // XPath expressions, fragments and package files chosen to hurt.
    void randomArguments() {
        Generator gen(8121926);
        const QStringList names = kCommandArgs.keys();
        const QStringList edits = kEdits.keys() + QStringList{"queryProfile", "queryHexByte"};
        for (int i = 0; i < rounds(3000); ++i) {
            if (i % 40 == 0) { // new files and a clean start now and then
                reset();
                for (int k = 0; k < Generator::kPackages; ++k)
                    QVERIFY(writeBytes(packages() + "/pkg" + QString::number(k) + ".pfd",
                                       gen.package()));
            }
            // Mostly the profile edits; the commands that write files to disk less often.
            const QString name = gen.chance(75) ? gen.pick(edits) : gen.pick(names);
            QJsonObject request{{"funcname", name}};
            for (const QString& key : kCommandArgs.value(name)) {
                if (gen.chance(92))
                    request.insert(key, gen.value(name, key, packages()));
            }
            if (gen.chance(10))
                request.insert("extra", gen.value(name, "extra", packages()));
            // The export path is used as given: keep it in the working folder of the test.
            const QJsonValue exportPath = request.value("desFilePath");
            if (name == "saveXmlAs" && exportPath.isString() &&
                !exportPath.toString().startsWith(packages()))
                request.insert("desFilePath", "out-" + exportPath.toString().replace('/', '_'));
            send(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));
            if (QTest::currentTestFailed())
                return;
        }
        // Nothing outside the program folder was touched.
        QCOMPARE(readBytes(m_dir.path() + "/outside.xml"), kProfile);
        // The requests reached past the argument checks: every edit both succeeded and failed.
        qInfo() << m_outcomes;
        for (const QString& edit : kEdits.keys()) {
            QVERIFY2(m_outcomes.value(edit + "+") > 0, qPrintable(edit));
            QVERIFY2(m_outcomes.value(edit + "-") > 0, qPrintable(edit));
        }
    }
};

QTEST_GUILESS_MAIN(BadRequestsTest)
#include "tst_badrequests.moc"
