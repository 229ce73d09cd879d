// getHotKey and setHotKey against a recording device hotkey table and a real conf.xml.

#include "config/confcommands.h"
#include "config/configstore.h"
#include "recordingcallback.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const char kConf[] = R"(<?xml version="1.0" encoding="utf-8"?>
<root>
	<client fastSwitch="" testTool="" />
	<conf deviceId="04D9A0F1">
		<productInfo name="产品信息" productCN="键盘" device="kxadapter" GHotKey="Ctrl+Alt+1" />
	</conf>
	<conf deviceId="1A2C0002">
		<productInfo name="产品信息" productCN="" device="mouse" />
	</conf>
	<conf deviceId="258A0003" />
</root>
)";

class RecordingTable : public DeviceHotKeyHost {
public:
    QMap<QString, QPair<QString, QString>> refreshDeviceHotKeys() override {
        ++refreshes;
        return table;
    }
    int setDeviceHotKey(const QString& deviceId, const QString& keySequence) override {
        assigned << deviceId + QLatin1Char('=') + keySequence;
        return accept ? 1 : 0;
    }
    QMap<QString, QPair<QString, QString>> table;
    QStringList assigned;
    bool accept = true;
    int refreshes = 0;
};

} // namespace

class HotKeyCommandsTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<ConfigStore> m_store;
    RecordingTable m_table;
    std::unique_ptr<ConfCommands> m_commands;

    QString fileText() const {
        QFile file(m_store->filePath());
        file.open(QIODevice::ReadOnly);
        return QString::fromUtf8(file.readAll());
    }

private slots:
    void init() {
        QVERIFY(QDir(m_dir.path()).mkpath("Resources/profiles"));
        QFile file(m_dir.filePath("Resources/profiles/conf.xml"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(kConf);
        file.close();
        m_store = std::make_unique<ConfigStore>(m_dir.path());
        m_store->load();
        m_table = RecordingTable();
        m_commands = std::make_unique<ConfCommands>(*m_store, nullptr);
        m_commands->setDeviceHotKeys(&m_table);
    }

    void getHotKeyListsDevicesWithProductInformation() {
        m_table.table = {{"04D9A0F1", {"Ctrl+Alt+1", "0"}},
                         {"1A2C0002", {"", "1"}},
                         {"258A0003", {"Ctrl+Alt+3", "1"}},  // record without product information
                         {"FFFF0009", {"Ctrl+Alt+4", "1"}}}; // no record at all
        auto cb = makeRecorder();
        m_commands->getHotKey({}, cb);
        QCOMPARE(m_table.refreshes, 1);
        QCOMPARE(cb->answers.size(), size_t(1));
        QCOMPARE(
            cb->last().text,
            QStringLiteral(R"([{"deviceId":"04D9A0F1","deviceName":"键盘","hotkey":"Ctrl+Alt+1",)"
                           R"("isconflict":"0"},{"deviceId":"1A2C0002","deviceName":"",)"
                           R"("hotkey":"","isconflict":"1"}])"));
    }

    void getHotKeyWithAnEmptyTable() {
        auto cb = makeRecorder();
        m_commands->getHotKey({}, cb);
        QCOMPARE(cb->last().text, QStringLiteral("[]"));
    }

    void setHotKey_data() {
        QTest::addColumn<QString>("device");
        QTest::addColumn<bool>("accept");
        QTest::addColumn<bool>("success");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("storedLine"); // a line conf.xml has afterwards ("" = unchanged)
        QTest::newRow("accepted") << "04D9A0F1" << true << true << "1"
                                  << R"(GHotKey="Ctrl+Shift+9")";
        QTest::newRow("refused, still stored") << "04D9A0F1" << false << true << "0"
                                               << R"(GHotKey="Ctrl+Shift+9")";
        // Only an attribute that exists is set.
        QTest::newRow("record without the attribute") << "1A2C0002" << true << true << "1"
                                                      << "";
        QTest::newRow("record without product information")
            << "258A0003" << true << false << "can't find deviceInfo"
            << "";
        QTest::newRow("unknown device") << "FFFF0009" << true << false << "can't find deviceInfo"
                                        << "";
    }
    void setHotKey() {
        QFETCH(QString, device);
        QFETCH(bool, accept);
        QFETCH(bool, success);
        QFETCH(QString, answer);
        QFETCH(QString, storedLine);
        m_table.accept = accept;
        const QString before = fileText();
        auto cb = makeRecorder();
        m_commands->setHotKey({{"deviceId", device}, {"hotkey", "Ctrl+Shift+9"}}, cb);
        QCOMPARE(m_table.assigned, QStringList(device + "=Ctrl+Shift+9"));
        QCOMPARE(cb->answers.size(), size_t(1));
        QCOMPARE(cb->last().success, success);
        QCOMPARE(cb->last().text, answer);
        if (!storedLine.isEmpty())
            QVERIFY(fileText().contains(storedLine));
        else
            QVERIFY(!fileText().contains(QStringLiteral("Ctrl+Shift+9")));
        if (!success)
            QCOMPARE(fileText(), before);
    }

    // An id cut at U+0000 matched the real device; a control character would be written as a
    // reference no other reader takes. Both are refused before the table or the file change.
    void idsAndKeysTheFileCannotKeep_data() {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("hotkey");
        QTest::newRow("U+0000 after the id") << QString("04D9A0F1%1").arg(QChar(0)) << "Ctrl+1";
        QTest::newRow("control character in the key")
            << "04D9A0F1" << QString("Ctrl+%1").arg(QChar(2));
    }
    void idsAndKeysTheFileCannotKeep() {
        QFETCH(QString, device);
        QFETCH(QString, hotkey);
        const QString before = fileText();
        auto cb = makeRecorder();
        m_commands->setHotKey({{"deviceId", device}, {"hotkey", hotkey}}, cb);
        QCOMPARE(cb->answers.size(), size_t(1));
        QVERIFY(!cb->last().success);
        QCOMPARE(cb->last().text, QString("can't find deviceInfo"));
        QVERIFY(m_table.assigned.isEmpty());
        QCOMPARE(fileText(), before);
    }

    void notXmlOrMissingArgumentsGiveNoAnswer() {
        auto cb = makeRecorder();
        m_commands->setHotKey({{"deviceId", "04D9A0F1"}}, cb);
        m_commands->setHotKey({{"hotkey", "Ctrl+1"}}, cb);
        QVERIFY(m_table.assigned.isEmpty());
        m_store->setConfText(QStringLiteral("<root"));
        m_commands->setHotKey({{"deviceId", "04D9A0F1"}, {"hotkey", "Ctrl+1"}}, cb);
        m_commands->getHotKey({}, cb);
        QVERIFY(!cb->answered());
    }
};

QTEST_GUILESS_MAIN(HotKeyCommandsTest)
#include "tst_hotkeycommands.moc"
