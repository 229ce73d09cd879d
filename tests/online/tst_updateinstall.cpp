#include "logcapture.h"
#include "packagetestutil.h"

#include "online/replacefile.h"
#include "online/updateinstall.h"

#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace packagetest;
using namespace updateinstall;

class UpdateInstallTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void readinessCheck_data();
    void readinessCheck();
    void writeProtectedFolderNeedsElevation();
    void readOnlyUpdaterNeedsElevation();
    void failedReplacementKeepsTheOldFile();

    void pageUpdateMirrorsTree();
    void inaccessibleTargetAsksAgain_data();
    void inaccessibleTargetAsksAgain();
    void missingSourceTreeEndsWalk();

    void updaterStartsOnlyWhenRequested();
    void elevatedUpdaterRunsFromReadyFolder();

private:
    QString folder() const { return m_dir->path() + QLatin1Char('/'); }
    // A stand-in updater that records its arguments and working folder.
    void writeFakeUpdater(const QString& path, const QString& marker) {
        QVERIFY(writeFile(
            path,
            QStringLiteral("#!/bin/sh\necho \"$@\" > '%1'\npwd >> '%1'\n").arg(marker).toUtf8()));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QTemporaryDir* m_dir = nullptr;
};

void UpdateInstallTest::init() {
    m_dir = new QTemporaryDir;
    runUpdaterOnExit = false;
    updaterNeedsElevation = false;
}

void UpdateInstallTest::cleanup() {
    delete m_dir;
    runUpdaterOnExit = false;
    updaterNeedsElevation = false;
}

void UpdateInstallTest::readinessCheck_data() {
    QTest::addColumn<bool>("ready");
    QTest::addColumn<bool>("delivered");
    QTest::addColumn<bool>("result");
    QTest::newRow("nothing ready") << false << false << false;
    QTest::newRow("ready without updater") << true << false << true;
    QTest::newRow("ready with updater") << true << true << true;
}

void UpdateInstallTest::readinessCheck() {
    QFETCH(bool, ready);
    QFETCH(bool, delivered);
    QFETCH(bool, result);
    LogCapture capture;
    const QString readyDir = folder() + QStringLiteral("tupdates/client/ready/");
    QVERIFY(writeFile(folder() + updaterFileName(), "old updater"));
    if (ready)
        QVERIFY(writeFile(readyDir + QStringLiteral("tavix"), "new program"));
    if (delivered)
        QVERIFY(writeFile(readyDir + updaterFileName(), "new updater"));
    QCOMPARE(checkReadyUpdate(folder()).ok, result);
    QVERIFY(!updaterNeedsElevation);
    if (!ready)
        QVERIFY(capture.contains(QStringLiteral("dir ready is not exists")));
    QCOMPARE(readFile(folder() + updaterFileName()),
             QByteArray(delivered ? "new updater" : "old updater"));
    QVERIFY(!QFileInfo::exists(readyDir + updaterFileName()));
}

void UpdateInstallTest::writeProtectedFolderNeedsElevation() {
    if (::geteuid() == 0)
        QSKIP("file permissions do not bind the superuser");
    const QString readyDir = folder() + QStringLiteral("tupdates/client/ready/");
    QVERIFY(writeFile(readyDir + updaterFileName(), "new updater"));
    QVERIFY(writeFile(folder() + updaterFileName(), "old updater"));
    QFile::setPermissions(folder() + updaterFileName(), QFile::ReadOwner);
    QFile::setPermissions(folder(), QFile::ReadOwner | QFile::ExeOwner);
    LogCapture capture;
    const bool ok = checkReadyUpdate(folder()).ok;
    QFile::setPermissions(folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(ok);
    QVERIFY(updaterNeedsElevation);
    QVERIFY(capture.contains(QStringLiteral("dir is in write-protected dir")));
    QCOMPARE(readFile(readyDir + updaterFileName()), QByteArray("new updater"));
}

// A write-protected updater in a writable folder asks for elevation like a write-protected
// folder does; the update stays.
void UpdateInstallTest::readOnlyUpdaterNeedsElevation() {
    const QString readyDir = folder() + QStringLiteral("tupdates/client/ready/");
    QVERIFY(writeFile(readyDir + updaterFileName(), "new updater"));
    QVERIFY(writeFile(folder() + updaterFileName(), "old updater"));
    QFile::setPermissions(folder() + updaterFileName(), QFile::ReadOwner | QFile::ReadUser);
    QVERIFY(checkReadyUpdate(folder()));
    QVERIFY(updaterNeedsElevation);
    QCOMPARE(readFile(folder() + updaterFileName()), QByteArray("old updater"));
    QCOMPARE(readFile(readyDir + updaterFileName()), QByteArray("new updater"));
}

// A replacement whose last step fails (here the new file has gone) leaves the old file where it
// was, never nothing.
void UpdateInstallTest::failedReplacementKeepsTheOldFile() {
    QVERIFY(writeFile(folder() + updaterFileName(), "old updater"));
    QVERIFY(!replaceByRename(folder() + QStringLiteral("gone"), folder() + updaterFileName()));
    QCOMPARE(readFile(folder() + updaterFileName()), QByteArray("old updater"));
    QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList{updaterFileName()});
}

void UpdateInstallTest::pageUpdateMirrorsTree() {
    const QString ready = folder() + QStringLiteral("tupdates/html/ready/");
    QVERIFY(writeFile(ready + QStringLiteral("KX100/index.html"), "new index"));
    QVERIFY(writeFile(ready + QStringLiteral("KX100/js/app.js"), "new js"));
    QVERIFY(writeFile(ready + QStringLiteral("top.css"), "css"));
    const QString device = folder() + QStringLiteral("view/device/");
    QVERIFY(writeFile(device + QStringLiteral("KX100/index.html"), "old index"));
    QVERIFY(writeFile(device + QStringLiteral("KX100/keep.txt"), "kept"));
    LogCapture capture;
    int asked = 0;
    QVERIFY(installPageUpdate(
        folder(), [&](const QString&) { return ++asked, false; }, 0));
    QCOMPARE(asked, 0);
    QCOMPARE(readFile(device + QStringLiteral("KX100/index.html")), QByteArray("new index"));
    QCOMPARE(readFile(device + QStringLiteral("KX100/js/app.js")), QByteArray("new js"));
    QCOMPARE(readFile(device + QStringLiteral("top.css")), QByteArray("css"));
    QCOMPARE(readFile(device + QStringLiteral("KX100/keep.txt")), QByteArray("kept"));
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("tupdates")));
    QVERIFY(capture.contains(QStringLiteral("Parsing dir  in update tree..")));
    QVERIFY(capture.contains(QStringLiteral("Parsing dir KX100/js in update tree..")));
    QVERIFY(capture.contains(QStringLiteral("move html succeed! Clearing folder..")));
    // Breadth-first: the top folder's children are parsed before the grandchildren.
    const QStringList lines = capture.lines();
    int kx = -1, js = -1;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines.at(i).endsWith(QStringLiteral("Parsing dir KX100 in update tree..")))
            kx = i;
        if (lines.at(i).endsWith(QStringLiteral("Parsing dir KX100/js in update tree..")))
            js = i;
    }
    QVERIFY(kx >= 0 && kx < js);
}

void UpdateInstallTest::inaccessibleTargetAsksAgain_data() {
    QTest::addColumn<int>("retries"); // Retry answers before Cancel
    QTest::newRow("cancel at once") << 0;
    QTest::newRow("retry twice, then cancel") << 2;
}

void UpdateInstallTest::inaccessibleTargetAsksAgain() {
    QFETCH(int, retries);
    QVERIFY(writeFile(folder() + QStringLiteral("tupdates/html/ready/a.txt"), "new"));
    // A non-empty folder where the file should go can never be replaced.
    QVERIFY(writeFile(folder() + QStringLiteral("view/device/a.txt/inside"), "x"));
    LogCapture capture;
    QStringList asked;
    const bool ok = installPageUpdate(
                        folder(),
                        [&](const QString& target) {
                            asked << target;
                            return asked.size() <= retries;
                        },
                        0)
                        .ok;
    QVERIFY(!ok);
    QCOMPARE(asked.size(), retries + 1);
    QCOMPARE(asked.first(),
             QDir::toNativeSeparators(folder() + QStringLiteral("view/device/a.txt")));
    QVERIFY(capture.contains(QStringLiteral("Error: failed to copy, asking to retry..")));
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("tupdates/html/ready")));
    QVERIFY(QFileInfo::exists(folder() + QStringLiteral("view/device/a.txt/inside")));
}

void UpdateInstallTest::missingSourceTreeEndsWalk() {
    QVERIFY(installPageUpdate(folder(), nullptr, 0));
    QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("view/device")));
}

void UpdateInstallTest::updaterStartsOnlyWhenRequested() {
    const QString marker = folder() + QStringLiteral("ran.txt");
    writeFakeUpdater(folder() + updaterFileName(), marker);
    QVERIFY(startUpdaterIfRequested(folder()));
    QTest::qWait(200);
    QVERIFY(!QFileInfo::exists(marker));

    runUpdaterOnExit = true;
    LogCapture capture;
    QVERIFY(startUpdaterIfRequested(folder()));
    QTRY_VERIFY(readFile(marker).count('\n') == 2);
    const QList<QByteArray> lines = readFile(marker).split('\n');
    QCOMPARE(lines.at(0), QByteArray("-update"));
    QCOMPARE(QDir(QString::fromUtf8(lines.at(1))).canonicalPath(), QDir(folder()).canonicalPath());
    QVERIFY(capture.contains(QStringLiteral("Application Info: executing %1 -update")
                                 .arg(folder() + updaterFileName())));
}

void UpdateInstallTest::elevatedUpdaterRunsFromReadyFolder() {
    const QString marker = folder() + QStringLiteral("ran.txt");
    writeFakeUpdater(folder() + QStringLiteral("tupdates/client/ready/") + updaterFileName(),
                     marker);
    runUpdaterOnExit = true;
    updaterNeedsElevation = true;
    QVERIFY(startUpdaterIfRequested(folder()));
    QTRY_VERIFY(QFileInfo::exists(marker));

    // No updater where it is looked for: the failure is logged, not hidden.
    QDir(folder() + QStringLiteral("tupdates")).removeRecursively();
    LogCapture capture;
    QVERIFY(!startUpdaterIfRequested(folder()));
    QVERIFY(capture.contains(QStringLiteral("Application Error: failed to execute")));
}

QTEST_GUILESS_MAIN(UpdateInstallTest)
#include "tst_updateinstall.moc"
