// The HID class model: report descriptor parsing into top-level collections, decoding of
// completed input reports, and the class driver's own checks on writes.
#include "hidclassmodel.h"
#include "hidreportparser.h"

#include <QtTest>

#include <mutex>

extern "C" DRIVER_INITIALIZE DriverEntry;

Q_DECLARE_METATYPE(NTSTATUS)

namespace {

std::vector<uint8_t> bytes(const char* hex) {
    const QByteArray raw = QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
    return std::vector<uint8_t>(raw.begin(), raw.end());
}

QString idsOf(const hidclass::TopLevelCollection& c) {
    QStringList ids;
    for (uint8_t id : c.reportIds)
        ids << QString::number(id, 16);
    return ids.join(',');
}

struct Capture {
    std::mutex mutex;
    std::vector<std::pair<int, hidclass::DecodedReport>> reports;
    void attach(hidclass::HidClassModel& model) {
        model.setInputListener([this](int collection, const std::vector<uint8_t>&,
                                      const hidclass::DecodedReport& decoded) {
            std::lock_guard<std::mutex> lock(mutex);
            reports.emplace_back(collection, decoded);
        });
    }
};

QStringList namesOn(const hidclass::DecodedReport& d) {
    QStringList names;
    for (const auto& u : d.on)
        names << QString::fromStdString(hidclass::usageName(u.page, u.id));
    return names;
}

} // namespace

class HidClassTest : public QObject {
    Q_OBJECT

    std::unique_ptr<hidclass::HidClassModel> m_model;

private slots:
    void init() {
        m_model = std::make_unique<hidclass::HidClassModel>(DriverEntry);
        std::string error;
        QVERIFY2(m_model->start(&error), error.c_str());
    }
    void cleanup() { m_model.reset(); }

    void driverDescriptorHasFiveCollections_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("usagePage");
        QTest::addColumn<int>("usage");
        QTest::addColumn<QString>("ids");
        QTest::addColumn<int>("input");
        QTest::addColumn<int>("output");
        QTest::newRow("absolute mouse") << 0 << 0x01 << 0x02 << "3" << 7 << 0;
        QTest::newRow("relative mouse") << 1 << 0x01 << 0x02 << "4" << 5 << 0;
        QTest::newRow("keyboard") << 2 << 0x01 << 0x06 << "7" << 9 << 2;
        QTest::newRow("vendor control") << 3 << 0xFF00 << 0x01 << "40" << 65 << 65;
        QTest::newRow("vendor message") << 4 << 0xFF00 << 0x02 << "10" << 33 << 65;
    }
    void driverDescriptorHasFiveCollections() {
        QFETCH(int, index);
        QFETCH(int, usagePage);
        QFETCH(int, usage);
        QFETCH(QString, ids);
        QFETCH(int, input);
        QFETCH(int, output);
        const auto& parsed = m_model->descriptor();
        QVERIFY(parsed.ok);
        QVERIFY(parsed.usesReportIds);
        QCOMPARE(parsed.collections.size(), size_t(5));
        const auto& c = parsed.collections[size_t(index)];
        QCOMPARE(int(c.usagePage), usagePage);
        QCOMPARE(int(c.usage), usage);
        QCOMPARE(idsOf(c), ids);
        QCOMPARE(int(c.inputLength), input);
        QCOMPARE(int(c.outputLength), output);
        QCOMPARE(int(c.featureLength), 0);
    }

    void malformedDescriptorsAreRefused_data() {
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<QString>("why");
        QTest::newRow("empty") << QByteArray("") << "no top-level collection";
        QTest::newRow("truncated item") << QByteArray("05 01 09 02 a1 01 26 ff") << "truncated";
        QTest::newRow("end without collection") << QByteArray("c0") << "without collection";
        QTest::newRow("collection not ended") << QByteArray("05 01 09 06 a1 01") << "not ended";
        QTest::newRow("pop without push") << QByteArray("b4") << "pop without push";
        QTest::newRow("report id 0") << QByteArray("05 01 09 06 a1 01 85 00 c0") << "out of range";
        QTest::newRow("report outside collection")
            << QByteArray("75 08 95 01 81 02") << "outside a collection";
        QTest::newRow("one id in two collections")
            << QByteArray("06 00 ff 09 01 a1 01 85 05 75 08 95 01 81 02 c0"
                          "06 00 ff 09 02 a1 01 85 05 75 08 95 01 91 02 c0")
            << "two collections";
        QTest::newRow("id after reports without one")
            << QByteArray("06 00 ff 09 01 a1 01 75 08 95 01 81 02 85 05 81 02 c0") << "after";
        QTest::newRow("report longer than the class allows")
            << QByteArray("06 00 ff 09 01 a1 01 75 08 97 ff ff ff 00 81 02 c0") << "too long";
        // Found by fuzzing: 108 million elements of no size took seconds to decode each report.
        QTest::newRow("count beyond any report, size 0")
            << QByteArray("05 01 09 06 a1 01 05 07 19 00 97 25 01 75 06 a1 01 81 06 c0 c0")
            << "count too large";
    }
    void malformedDescriptorsAreRefused() {
        QFETCH(QByteArray, hex);
        QFETCH(QString, why);
        const auto data = bytes(hex.constData());
        const auto parsed = hidclass::parseReportDescriptor(data.data(), data.size());
        QVERIFY(!parsed.ok);
        QVERIFY2(QString::fromStdString(parsed.error).contains(why), parsed.error.c_str());
    }

    void reportsWithoutIdsCountTheZeroByte() {
        // A vendor collection without report ids: lengths still include the id byte.
        const auto data = bytes("06 00 ff 09 01 a1 01 15 00 26 ff 00 75 08 95 08 81 02 "
                                "95 04 91 02 95 02 b1 02 c0");
        const auto parsed = hidclass::parseReportDescriptor(data.data(), data.size());
        QVERIFY(parsed.ok);
        QVERIFY(!parsed.usesReportIds);
        QCOMPARE(parsed.collections.size(), size_t(1));
        QCOMPARE(int(parsed.collections[0].inputLength), 9);
        QCOMPARE(int(parsed.collections[0].outputLength), 5);
        QCOMPARE(int(parsed.collections[0].featureLength), 3);
        QCOMPARE(parsed.collectionForReport(0), 0);
    }

    // Completed reads are decoded by the parse: what the system would see.
    void decodesKeyboardAndMouseReports_data() {
        QTest::addColumn<QByteArray>("wrapped");
        QTest::addColumn<int>("collection");
        QTest::addColumn<QStringList>("on");
        QTest::addColumn<QString>("values");
        QTest::newRow("key a") << QByteArray("07 00 00 04 00 00 00 00 00") << 2 << QStringList{"a"}
                               << "";
        QTest::newRow("shift and two keys") << QByteArray("07 02 00 05 28 00 00 00 00") << 2
                                            << QStringList{"left-shift", "b", "enter"} << "";
        QTest::newRow("key code beyond the logical maximum is no key")
            << QByteArray("07 00 00 66 00 00 00 00 00") << 2 << QStringList{} << "";
        QTest::newRow("all keys up")
            << QByteArray("07 00 00 00 00 00 00 00 00") << 2 << QStringList{} << "";
        QTest::newRow("relative mouse left and side button")
            << QByteArray("04 09 05 fb ff") << 1 << QStringList{"left", "button4"}
            << "x=5 y=-5 wheel=-1";
        QTest::newRow("relative mouse released")
            << QByteArray("04 00 00 00 00") << 1 << QStringList{} << "x=0 y=0 wheel=0";
        QTest::newRow("absolute mouse") << QByteArray("03 04 ff 7f 00 40 01") << 0
                                        << QStringList{"middle"} << "x=32767 y=16384 wheel=1";
    }
    void decodesKeyboardAndMouseReports() {
        QFETCH(QByteArray, wrapped);
        QFETCH(int, collection);
        QFETCH(QStringList, on);
        QFETCH(QString, values);
        Capture capture;
        capture.attach(*m_model);
        const auto inner = bytes(wrapped.constData());
        std::vector<uint8_t> report(65, 0);
        report[0] = 0x40;
        report[1] = uint8_t(inner.size());
        std::copy(inner.begin(), inner.end(), report.begin() + 2);
        size_t written = 0;
        QCOMPARE(m_model->writeReport(3, report.data(), report.size(), &written), STATUS_SUCCESS);
        QCOMPARE(written, size_t(65));
        QCOMPARE(capture.reports.size(), size_t(1));
        QCOMPARE(capture.reports[0].first, collection);
        const auto& decoded = capture.reports[0].second;
        QCOMPARE(namesOn(decoded), on);
        QStringList v;
        for (const auto& u : decoded.values)
            v << QString::fromStdString(hidclass::usageName(u.page, u.id)) + "=" +
                     QString::number(u.value);
        QCOMPARE(v.join(' '), values);
        QCOMPARE(m_model->pendingReads(), size_t(2)); // the class driver reposted its read
    }

    // The class driver's own checks, before anything reaches the driver.
    void classDriverChecksWrites_data() {
        QTest::addColumn<int>("collection");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("reportId");
        QTest::addColumn<NTSTATUS>("expected");
        QTest::newRow("control report one byte short")
            << 3 << 64 << 0x40 << STATUS_INVALID_BUFFER_SIZE;
        QTest::newRow("control report one byte long")
            << 3 << 66 << 0x40 << STATUS_INVALID_BUFFER_SIZE;
        QTest::newRow("message id on the control collection")
            << 3 << 65 << 0x10 << STATUS_INVALID_PARAMETER;
        QTest::newRow("mouse has no output report")
            << 1 << 5 << 0x04 << STATUS_INVALID_DEVICE_REQUEST;
        QTest::newRow("no such collection") << 5 << 65 << 0x40 << STATUS_INVALID_PARAMETER;
        QTest::newRow("message collection: the driver refuses it")
            << 4 << 65 << 0x10 << STATUS_INVALID_PARAMETER;
        QTest::newRow("keyboard LEDs: the driver refuses them")
            << 2 << 2 << 0x07 << STATUS_INVALID_PARAMETER;
    }
    void classDriverChecksWrites() {
        QFETCH(int, collection);
        QFETCH(int, size);
        QFETCH(int, reportId);
        QFETCH(NTSTATUS, expected);
        Capture capture;
        capture.attach(*m_model);
        std::vector<uint8_t> report(size_t(size), 0);
        report[0] = uint8_t(reportId);
        report[1] = 1;
        size_t written = 99;
        QCOMPARE(m_model->writeReport(collection, report.data(), report.size(), &written),
                 expected);
        QCOMPARE(written, size_t(0));
        QVERIFY(capture.reports.empty());
    }

    void featureReportsAreNotDeclared() {
        // The descriptor declares no feature report, so the class driver refuses them.
        uint8_t feature[3] = {2, 1, 0};
        QCOMPARE(m_model->setFeature(3, feature, sizeof feature), STATUS_INVALID_DEVICE_REQUEST);
        QCOMPARE(m_model->getFeature(3, feature, sizeof feature), STATUS_INVALID_DEVICE_REQUEST);
    }

    void outputReportReachesTheDriver() {
        Capture capture;
        capture.attach(*m_model);
        std::vector<uint8_t> report(65, 0);
        report[0] = 0x40;
        report[1] = 5;
        report[2] = 0x04;
        report[3] = 0x02;
        QCOMPARE(m_model->setOutputReport(3, report.data(), report.size()), STATUS_SUCCESS);
        QCOMPARE(capture.reports.size(), size_t(1));
        QCOMPARE(namesOn(capture.reports[0].second), QStringList{"right"});
    }
};

QTEST_GUILESS_MAIN(HidClassTest)
#include "tst_hidclass.moc"
