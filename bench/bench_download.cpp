// Download speed from the reference server on loopback: the program's ranged downloader against
// curl fetching the same 200 MB file from the same server in the same run.
#include "online/commonfiledownloader.h"
#include "referenceserver.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <benchmark/benchmark.h>

namespace {

constexpr qint64 kFileSize = 200ll * 1024 * 1024;

struct Setup {
    int argc = 1;
    char* argv[2] = {const_cast<char*>("bench"), nullptr};
    QCoreApplication app{argc, argv}; // first member, so that it goes last
    QTemporaryDir data;
    QTemporaryDir program;
    QProcess server;
    QString url;

    Setup() : ok(start()) {}
    bool ok;

    bool start() {
        // Random-looking bytes, so that nothing on the way can shortcut them.
        QFile f(data.path() + QStringLiteral("/files/big.bin"));
        QDir().mkpath(data.path() + QStringLiteral("/files"));
        if (!f.open(QIODevice::WriteOnly))
            return false;
        QByteArray block(1 << 20, Qt::Uninitialized);
        quint64 x = 0x9E3779B97F4A7C15ull;
        for (qint64 written = 0; written < kFileSize; written += block.size()) {
            for (int i = 0; i < block.size(); i += 8) {
                x ^= x << 13;
                x ^= x >> 7;
                x ^= x << 17;
                memcpy(block.data() + i, &x, 8);
            }
            f.write(block);
        }
        f.close();
        const QString base = startReferenceServer(server, data.path());
        if (base.isEmpty())
            return false;
        url = base + QStringLiteral("/files/big.bin");
        return true;
    }
    ~Setup() {
        server.kill();
        server.waitForFinished();
    }
};

// Built on first use, since benchmark's own main runs these; torn down at exit.
Setup& setupOnce() {
    static Setup s;
    return s;
}

void BM_DownloadTavix(benchmark::State& state) {
    if (!setupOnce().ok) {
        state.SkipWithError("setup failed");
        return;
    }
    const QString out = setupOnce().program.path() + QStringLiteral("/dl/big.bin");
    for (auto _ : state) {
        QFile::remove(out);
        auto* thread = new QThread;
        auto* dl = new commonFileDownloader(thread, setupOnce().url, QStringLiteral("dl"),
                                            OnlineSettings(setupOnce().program.path()));
        QEventLoop loop;
        bool ok = false;
        QObject::connect(dl, &commonFileDownloader::downLoadFinished, &loop, [&] {
            ok = true;
            loop.quit();
        });
        QObject::connect(dl, &commonFileDownloader::downLoadFailed, &loop, &QEventLoop::quit);
        thread->start(QThread::InheritPriority);
        loop.exec();
        QMetaObject::invokeMethod(dl, "deleteLater");
        thread->quit();
        thread->wait();
        delete thread;
        if (!ok || QFileInfo(out).size() != kFileSize)
            state.SkipWithError("download failed");
    }
    state.SetBytesProcessed(state.iterations() * kFileSize);
}

void BM_DownloadCurl(benchmark::State& state) {
    if (!setupOnce().ok) {
        state.SkipWithError("setup failed");
        return;
    }
    const QString out = setupOnce().program.path() + QStringLiteral("/curl.bin");
    for (auto _ : state) {
        QFile::remove(out);
        const int rc =
            QProcess::execute(QStringLiteral("curl"),
                              {QStringLiteral("-s"), QStringLiteral("-o"), out, setupOnce().url});
        if (rc != 0 || QFileInfo(out).size() != kFileSize)
            state.SkipWithError("curl failed");
    }
    state.SetBytesProcessed(state.iterations() * kFileSize);
}

BENCHMARK(BM_DownloadTavix)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_DownloadCurl)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace
