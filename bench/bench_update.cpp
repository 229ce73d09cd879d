// A full update as the program makes it (check, the client, page and firmware packages
// downloaded at once, verified, unpacked and installed) against the same bytes fetched with curl,
// checked with sha1sum and unpacked with xz, from the same server in the same run.
#include "kx/firmware.h"
#include "kx/firmwaresession.h"
#include "online/onlinecommands.h"
#include "online/package.h"
#include "online/signature.h"
#include "online/updatecheck.h"
#include "online/updatedlg.h"
#include "online/updateinstall.h"
#include "referenceserver.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

namespace {

// Realistic sizes: a program of some tens of MB (libraries compress a little, resources not at
// all), a page bundle of text, a firmware file.
QByteArray programBytes(int size) {
    QByteArray out(size, Qt::Uninitialized);
    quint64 x = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        // Every other 4 KiB block is random; the others repeat a small alphabet like code does.
        out[i] = (i / 4096) % 2 ? static_cast<char>(x) : static_cast<char>("movlpushcall"[x % 12]);
    }
    return out;
}

QByteArray pageBytes(int size) {
    static const char words[] = "<div class=\"key\">function(e){return this.value;}</div>\n";
    QByteArray out;
    quint64 x = 12345;
    while (out.size() < size) {
        x = x * 6364136223846793005ull + 1442695040888963407ull;
        out += QByteArray(words + (x >> 60), int(sizeof(words) - 1 - (x >> 60)));
        out += QByteArray::number(x >> 40, 16);
    }
    out.truncate(size);
    return out;
}

int g_finished = 0;

// A device that takes every step at once.
class InstantSession : public kx::FirmwareSession {
public:
    bool devicePresent(const QString&) override { return true; }
    bool updateDevicePresent() override { return true; }
    platform::Result enterUpdateMode(const QString&) override { return {}; }
    bool canUpdate() const override { return true; }
    platform::Result erase() override { return {}; }
    platform::Result writeBlock(const uint8_t*, int, uint32_t) override { return {}; }
    platform::Result check(uint32_t, uint32_t) override { return {}; }
    platform::Result finish() override {
        ++g_finished;
        return {};
    }
};

class BenchHost : public OnlineHost {
public:
    QString apiServer() const override { return api; }
    QString clientSetting(const QString& name) const override {
        return name == QLatin1String("version") ? QStringLiteral("1.0.0") : QString();
    }
    platform::Result commitClientSetting(const QString&, const QString&) override {
        return platform::Result::success();
    }
    platform::Result confReadable() const override { return platform::Result::success(); }
    platform::ResultOf<std::optional<QString>> recordedPageFolder(const QString&) const override {
        return platform::ResultOf<std::optional<QString>>::success(std::nullopt);
    }
    platform::Result recordProductInfo(const QString&,
                                       const QList<QPair<QString, QString>>&) override {
        return platform::Result::success();
    }
    platform::ResultOf<QByteArray> syncedConf(const QByteArray& text) const override {
        return platform::ResultOf<QByteArray>::success(text);
    }
    platform::Result commitSyncedConf(const QByteArray&) override {
        return platform::Result::success();
    }
    void filesReplaced(const QStringList&) override {}
    QList<OnlineDevice> connectedDevices() const override {
        return {OnlineDevice{QStringLiteral("04D9A0F1"), QStringLiteral("SN"),
                             QStringLiteral("1.0"), QStringLiteral("dev"), QStringLiteral("dev")}};
    }
    kx::FirmwareSession* firmwareSession() const override { return &m_session; }
    // The device's own waits are not what is measured.
    FirmwareWaits firmwareWaits() const override { return FirmwareWaits().scaled(0); }
    QWidget* mainWindow() const override { return nullptr; }
    void quitProgram() override {}
    void reportDeviceArrival(const QString&, const QString&) override {}

    QString api;

private:
    mutable InstantSession m_session;
};

struct Setup {
    int argc = 1;
    char* argv[2] = {const_cast<char*>("bench"), nullptr};
    bool platform = qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app{argc, argv}; // before the members that need it, gone after them
    QTemporaryDir data;
    QTemporaryDir program;
    QProcess server;
    QString base;
    qint64 packageBytes = 0;
    QMap<QString, quint32> payloadSizes;

    Setup() : ok(start()) {}
    bool ok;

    QByteArray secretKey;

    bool makePackage(const QString& name, const QList<package::File>& files, const QString& kind) {
        const QString version = QStringLiteral("1.2.0");
        const QByteArray payload = package::writePayload(files, &version);
        const platform::ResultOf<QByteArray> built = package::build(payload);
        if (!built)
            return false;
        QByteArray file = built.value;
        if (!signature::sign(&file, secretKey, kind))
            return false;
        QFile f(data.path() + QStringLiteral("/files/") + name);
        packageBytes += file.size();
        payloadSizes.insert(name, quint32(payload.size()));
        return f.open(QIODevice::WriteOnly) && f.write(file) == file.size();
    }

    bool start() {
        QDir().mkpath(data.path() + QStringLiteral("/files"));
        QByteArray publicKey;
        if (!signature::generateKeyPair(&publicKey, &secretKey))
            return false;
        signature::setUpdateKey(publicKey);
        QByteArray firmware(kx::firmware::kFileSize, '\0');
        firmware[0] = char(0x16);
        firmware[1] = char(0x10);
        QList<package::File> client, pages, fw;
        client.append(package::File{QStringLiteral("tavix"), programBytes(24 << 20)});
        client.append(package::File{QStringLiteral("libkx.so"), programBytes(2 << 20)});
        pages.append(package::File{QStringLiteral("KX100/app.js"), pageBytes(5 << 20)});
        pages.append(package::File{QStringLiteral("KX100/index.html"), pageBytes(40000)});
        fw.append(package::File{QStringLiteral("update.bin"), firmware});
        if (!makePackage(QStringLiteral("client.pkg"), client, QStringLiteral("client")) ||
            !makePackage(QStringLiteral("html.pkg"), pages, QStringLiteral("html")) ||
            !makePackage(QStringLiteral("firmware.pkg"), fw, QStringLiteral("firmware")))
            return false;
        QFile catalog(data.path() + QStringLiteral("/catalog.json"));
        const QJsonObject entry{{"type", "0"},
                                {"version", "1.2.0"},
                                {"firmwareVersion", "2.1"},
                                {"clientPackage", "client.pkg"},
                                {"devicePackage", "html.pkg"},
                                {"firmwarePackage", "firmware.pkg"}};
        if (!catalog.open(QIODevice::WriteOnly) ||
            catalog.write(
                QJsonDocument(QJsonObject{{"upgrade", QJsonObject{{"*", entry}}}}).toJson()) <= 0)
            return false;
        catalog.close();
        base = startReferenceServer(server, data.path());
        if (base.isEmpty())
            return false;
        return true;
    }
    ~Setup() {
        server.kill();
        server.waitForFinished();
    }
};

Setup& setupOnce() {
    static Setup s;
    return s;
}

void BM_FullUpdateTavix(benchmark::State& state) {
    Setup& s = setupOnce();
    if (!s.ok) {
        state.SkipWithError("setup failed");
        return;
    }
    BenchHost host;
    host.api = s.base;
    for (auto _ : state) {
        QDir(s.program.path()).removeRecursively();
        QDir().mkpath(s.program.path());
        updateinstall::runUpdaterOnExit = false;
        const int finishedBefore = g_finished;
        OnlineCommands online(host, OnlineSettings(s.program.path()));
        online.startUpdateCheck(false);
        QEventLoop loop;
        QTimer poll;
        bool clicked = false;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            updateDlg* dlg = UpdateCheck::currentDialog();
            if (!dlg)
                return;
            if (!clicked) {
                clicked = true;
                dlg->findChild<QPushButton*>(QStringLiteral("uninstallButton"))->click();
                return;
            }
            const bool pages =
                QFileInfo::exists(s.program.path() + QStringLiteral("/view/device/KX100/app.js"));
            if (updateinstall::runUpdaterOnExit && pages && g_finished > finishedBefore)
                loop.quit();
        });
        poll.start(1);
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        loop.exec();
        if (!updateinstall::runUpdaterOnExit || g_finished == finishedBefore)
            state.SkipWithError("update did not complete");
        delete UpdateCheck::currentDialog();
    }
    state.SetBytesProcessed(state.iterations() * s.packageBytes);
}

// The same three packages: fetched at once with curl, then each checked with sha1sum and
// unpacked with xz (raw LZMA1, the same stream).
void BM_FullUpdateCurlXz(benchmark::State& state) {
    Setup& s = setupOnce();
    if (!s.ok) {
        state.SkipWithError("setup failed");
        return;
    }
    const QString dir = s.program.path() + QStringLiteral("/baseline");
    QString script = QStringLiteral("set -e; cd '%1'; ").arg(dir);
    const QStringList names{QStringLiteral("client.pkg"), QStringLiteral("html.pkg"),
                            QStringLiteral("firmware.pkg")};
    for (const QString& n : names)
        script += QStringLiteral("curl -s -o %1 %2/files/%1 & ").arg(n, s.base);
    script += QStringLiteral("wait; ");
    for (const QString& n : names)
        script += QStringLiteral("tail -c +149 %1 | sha1sum > %1.sha1; "
                                 "tail -c +158 %1 | xz -dc --format=raw "
                                 "--lzma1=lc=3,lp=0,pb=2,dict=16MiB > %1.out 2>/dev/null || "
                                 "true; ")
                      .arg(n);
    for (auto _ : state) {
        QDir(dir).removeRecursively();
        QDir().mkpath(dir);
        if (QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), script}) != 0)
            state.SkipWithError("baseline failed");
        for (const QString& n : names)
            if (QFileInfo(dir + QLatin1Char('/') + n + QStringLiteral(".out")).size() !=
                s.payloadSizes.value(n))
                state.SkipWithError("baseline unpacked the wrong size");
    }
    state.SetBytesProcessed(state.iterations() * s.packageBytes);
}

BENCHMARK(BM_FullUpdateTavix)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_FullUpdateCurlXz)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace
