// Key map files and the loading of every key map: file format rules, device folders from the
// configuration document, the cache, and where a load stops early.
#include "config/configstore.h"
#include "input/keymaploader.h"

#include <QtTest>

namespace {

const QByteArray kConfiguration = R"(<root>
  <conf deviceId="04D9A0F1"><productInfo device="kxadapter"/></conf>
  <conf deviceId="1234ABCD"><productInfo device="other"/></conf>
  <conf deviceId="0000FFFF"><productInfo device="nofile"/></conf>
  <conf deviceId="11112222"><productInfo device="../../outside"/></conf>
</root>)";

const QByteArray kCapsFile = R"(<conf>
  <key scanCode="58" flag="0" playType="0" playCount="3">
    <c task="down" value="04"/><c task="delayTime" value="50"/><c task="up" value=""/>
  </key>
</conf>)";

const QByteArray kDefaultFile = R"(<conf>
  <key scanCode="30" flag="0" playType="1" playCount="1"><c task="up" value=""/></key>
</conf>)";

QString commandsText(const KeyAction& a) {
    QStringList parts;
    for (const CommandItem& c : a.commands)
        parts << c.first + "=" + c.second;
    const char* kinds[] = {"", "key", "mouse", "off"};
    const QString remap =
        a.remap.kind == RemapTarget::None
            ? QString()
            : QStringLiteral("->%1 %2").arg(kinds[a.remap.kind]).arg(a.remap.value, 0, 16);
    return QString::number(a.playType) + "/" + QString::number(a.playCount) + ":" +
           parts.join(QLatin1Char(',')) + remap;
}

// "code,flag=type/count:commands" per key.
QString mapText(const KeyMap& map) {
    QStringList got;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        got << QStringLiteral("%1,%2=").arg(it.key().code).arg(it.key().flag) +
                   commandsText(it.value());
    return got.join(QLatin1Char(' '));
}

} // namespace

class KeyMapLoaderTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QMap<QString, QByteArray> m_cache;
    QStringList m_reads;

    void write(const QString& relative, const QByteArray& text) {
        const QString path = m_dir.path() + relative;
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    }

    KeyMaps load(const QByteArray& configuration, const QList<KeyMapDevice>& devices) {
        const CachedRead read = [this](const QString& path) -> std::optional<QByteArray> {
            m_reads << path;
            if (m_cache.contains(path))
                return m_cache.value(path);
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
                return std::nullopt;
            m_cache.insert(path, f.readAll());
            return m_cache.value(path);
        };
        const FileExists exists = [](const QString& path) { return QFileInfo::exists(path); };
        // The device records as the program reads them: through the configuration store.
        ConfigStore store(m_dir.path());
        store.setConfText(QString::fromUtf8(configuration));
        const PageFolderOf folderOf = [&store](const QString& id) { return store.pageFolder(id); };
        return loadKeyMaps(store.parsed(), folderOf, devices, m_dir.path(), read, exists);
    }

    QString devicePath(const QString& folder) const {
        return m_dir.path() + "/view/device/" + folder + "/xml/configuration.xml";
    }

private slots:
    void init() {
        m_cache.clear();
        m_reads.clear();
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
        write("/view/device/virtual/xml/configuration.xml", kDefaultFile);
        write("/view/device/kxadapter/xml/configuration.xml", kCapsFile);
    }

    void fileFormat_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("expected"); // "code,flag=type/count:commands" per key
        QTest::newRow("one key, commands in order")
            << kCapsFile << "58,0=0/3:down=04,delayTime=50,up=";
        QTest::newRow("entry names are not examined")
            << QByteArray(R"(<conf><x scanCode="1" flag="0" playType="2" playCount="0">)"
                          R"(<y task="up" value="v"/></x></conf>)")
            << "1,0=2/0:up=v";
        QTest::newRow("entry without commands is not mapped")
            << QByteArray(
                   R"(<conf><k scanCode="2" flag="0" playType="0" playCount="1"/>)"
                   R"(<k scanCode="3" flag="0" playType="0" playCount="1"><c task="up"/></k></conf>)")
            << "3,0=0/1:up=";
        QTest::newRow("later entry replaces earlier")
            << QByteArray(
                   R"(<conf><k scanCode="4" flag="10" playType="0" playCount="1"><c task="a"/></k>)"
                   R"(<k scanCode="4" flag="10" playType="1" playCount="2"><c task="b"/></k></conf>)")
            << "4,10=1/2:b=";
        QTest::newRow("missing and bad numbers are 0")
            << QByteArray(
                   R"(<conf><k scanCode="x1" playType="" playCount="many"><c value="1"/></k></conf>)")
            << "0,0=0/0:=1";
        QTest::newRow("scan code past 16 bits is 0")
            << QByteArray(R"(<conf><k scanCode="70000" flag="1"><c task="up"/></k></conf>)")
            << "0,1=0/0:up=";
        QTest::newRow("another document element maps nothing")
            << QByteArray(R"(<keys><k scanCode="5"><c task="up"/></k></keys>)") << "";
        QTest::newRow("remapTo needs no commands")
            << QByteArray(R"(<conf><k scanCode="58" flag="0" remapTo="E0"/>)"
                          R"(<k scanCode="16" flag="10" remapTo=" Mouse:1 "/>)"
                          R"(<k scanCode="59" flag="0" remapTo="none"/></conf>)")
            << "16,10=0/0:->mouse 1 58,0=0/0:->key e0 59,0=0/0:->off 0";
        QTest::newRow("remapTo that names nothing: the commands play, or nothing maps")
            << QByteArray(R"(<conf><k scanCode="1" remapTo="zz"/><k scanCode="2" remapTo="100"/>)"
                          R"(<k scanCode="3" remapTo="mouse:20"/><k scanCode="4" remapTo="0"/>)"
                          R"(<k scanCode="5" remapTo=""><c task="up"/></k></conf>)")
            << "5,0=0/0:up=";
        QTest::newRow("application sections by name, merged, nested ones ignored")
            << QByteArray(R"(<conf><k scanCode="1" remapTo="4"/>)"
                          R"(<app name="C:\Tools\Notepad.EXE" flag="65535">)"
                          R"(<k scanCode="1" remapTo="5"/><k scanCode="2" remapTo="none"/></app>)"
                          R"(<app name="firefox-esr"><app name="x"><k scanCode="9"/></app></app>)"
                          R"(<app name="notepad"><k scanCode="2" remapTo="6"/></app>)"
                          R"(<app name=""><k scanCode="7" remapTo="7"/></app></conf>)")
            << "1,0=0/0:->key 4 | notepad: 1,0=0/0:->key 5 2,0=0/0:->key 6 | firefox-esr: ";
    }
    void fileFormat() {
        QFETCH(QByteArray, text);
        QFETCH(QString, expected);
        KeyMap map;
        QList<AppKeyMap> apps;
        QVERIFY(parseKeyMapFile(text, &map, nullptr, &apps));
        QString got = mapText(map);
        for (const AppKeyMap& app : apps)
            got += " | " + app.name + ": " + mapText(app.map);
        QCOMPARE(got, expected);
    }

    void malformedFileIsRefused() {
        KeyMap map;
        map.insert({1, 0}, KeyAction());
        QVERIFY(!parseKeyMapFile("<conf><k scanCode=", &map));
        QVERIFY(map.isEmpty());
    }

    // A key map text is taken up to its bound; past it the file is refused with a log line, and
    // in a load it stops the load as a malformed file does.
    void sizeBound_data() {
        QTest::addColumn<int>("padding"); // bytes past the bound
        QTest::addColumn<bool>("parsed");
        QTest::newRow("at the bound") << 0 << true;
        QTest::newRow("one byte past") << 1 << false;
        QTest::newRow("far past") << 65536 << false;
    }
    void sizeBound() {
        QFETCH(int, padding);
        QFETCH(bool, parsed);
        QByteArray text = kCapsFile;
        text.append(QByteArray(kMaxKeyMapBytes - text.size() + padding, '\n'));
        const QRegularExpression logged("key map file of \\d+ bytes is larger than 4194304 bytes");
        if (!parsed)
            QTest::ignoreMessage(QtInfoMsg, logged);
        KeyMap map;
        QCOMPARE(parseKeyMapFile(text, &map), parsed);
        QCOMPARE(map.contains({58, 0}), parsed);

        write("/view/device/other/xml/configuration.xml", text);
        if (!parsed)
            QTest::ignoreMessage(QtInfoMsg, logged);
        const KeyMaps maps = load(kConfiguration, {{"04D9", "A0F1"}, {"1234", "ABCD"}});
        QCOMPARE(maps.devices.size(), parsed ? 2 : 1);
        QCOMPARE(!maps.defaultMap.isEmpty(), parsed);
    }

    void devicesAndDefault() {
        const KeyMaps maps = load(kConfiguration, {{"04D9", "A0F1"}, {"5555", "6666"}});
        QCOMPARE(maps.devices.size(), 1);
        QCOMPARE(maps.devices.at(0).pattern, QStringLiteral("VID_04D9&PID_A0F1"));
        QVERIFY(maps.devices.at(0).map.contains({58, 0}));
        QVERIFY(maps.defaultMap.contains({30, 0}));
    }

    void skippedDevices_data() {
        QTest::addColumn<QString>("vendor");
        QTest::addColumn<QString>("product");
        QTest::newRow("device folder without a key map file") << "0000"
                                                              << "FFFF";
        QTest::newRow("folder name that climbs out") << "1111"
                                                     << "2222";
        QTest::newRow("no entry in the configuration") << "0001"
                                                       << "0002";
        QTest::newRow("lower-case id matches no entry") << "04d9"
                                                        << "a0f1";
        QTest::newRow("quote in an id") << "04D9'"
                                        << "A0F1";
    }
    void skippedDevices() {
        QFETCH(QString, vendor);
        QFETCH(QString, product);
        write("/outside/xml/configuration.xml", kCapsFile);
        const KeyMaps maps = load(kConfiguration, {{vendor, product}});
        QVERIFY(maps.devices.isEmpty());
        QVERIFY(maps.defaultMap.contains({30, 0})); // such a device uses the default map
    }

    void cachedTextWinsOverDisk() {
        m_cache.insert(devicePath("kxadapter"),
                       R"(<conf><k scanCode="99" flag="0"><c task="up"/></k></conf>)");
        const KeyMaps maps = load(kConfiguration, {{"04D9", "A0F1"}});
        QCOMPARE(maps.devices.size(), 1);
        QVERIFY(maps.devices.at(0).map.contains({99, 0}));
        QVERIFY(!maps.devices.at(0).map.contains({58, 0}));
    }

    void entriesWithoutCommandsStillClaimTheDevice() {
        write("/view/device/kxadapter/xml/configuration.xml",
              R"(<conf><k scanCode="30" flag="0"/></conf>)");
        const KeyMaps maps = load(kConfiguration, {{"04D9", "A0F1"}});
        QCOMPARE(maps.devices.size(), 1);
        QVERIFY(maps.devices.at(0).map.isEmpty());
    }

    // A file with only an application's section claims its device; the default file's
    // sections come with the default map.
    void sectionsReachTheMaps() {
        write("/view/device/kxadapter/xml/configuration.xml",
              R"(<conf><app name="notepad"><k scanCode="30" remapTo="4"/></app></conf>)");
        write("/view/device/virtual/xml/configuration.xml",
              R"(<conf><app name="Code.exe"><k scanCode="31" remapTo="none"/></app></conf>)");
        const KeyMaps maps = load(kConfiguration, {{"04D9", "A0F1"}});
        QCOMPARE(maps.devices.size(), 1);
        QVERIFY(maps.devices.at(0).map.isEmpty());
        QCOMPARE(maps.devices.at(0).apps.size(), 1);
        QVERIFY(maps.devices.at(0).apps.at(0).map.contains({30, 0}));
        QCOMPARE(maps.defaultApps.size(), 1);
        QCOMPARE(maps.defaultApps.at(0).name, QStringLiteral("code"));
    }

    void earlyStops_data() {
        QTest::addColumn<QByteArray>("configuration");
        QTest::addColumn<QByteArray>("secondDeviceFile");
        QTest::addColumn<bool>("defaultReadable");
        QTest::addColumn<int>("devices");
        QTest::addColumn<bool>("defaultLoaded");
        QTest::newRow("configuration does not parse")
            << QByteArray("<root>") << kCapsFile << true << 0 << false;
        QTest::newRow("malformed second device file stops the load")
            << kConfiguration << QByteArray("<conf") << true << 1 << false;
        QTest::newRow("unreadable default map")
            << kConfiguration << kCapsFile << false << 2 << false;
        QTest::newRow("everything well") << kConfiguration << kCapsFile << true << 2 << true;
    }
    void earlyStops() {
        QFETCH(QByteArray, configuration);
        QFETCH(QByteArray, secondDeviceFile);
        QFETCH(bool, defaultReadable);
        QFETCH(int, devices);
        QFETCH(bool, defaultLoaded);
        write("/view/device/other/xml/configuration.xml", secondDeviceFile);
        if (!defaultReadable)
            QVERIFY(QFile::remove(m_dir.path() + "/view/device/virtual/xml/configuration.xml"));
        const KeyMaps maps = load(configuration, {{"04D9", "A0F1"}, {"1234", "ABCD"}});
        QCOMPARE(maps.devices.size(), devices);
        QCOMPARE(!maps.defaultMap.isEmpty(), defaultLoaded);
    }

    void secondLoadReadsNothingFromDisk() {
        load(kConfiguration, {{"04D9", "A0F1"}});
        write("/view/device/kxadapter/xml/configuration.xml", "<conf/>");
        const KeyMaps maps = load(kConfiguration, {{"04D9", "A0F1"}});
        QVERIFY(maps.devices.at(0).map.contains({58, 0}));
    }
};

QTEST_GUILESS_MAIN(KeyMapLoaderTest)
#include "tst_keymaploader.moc"
