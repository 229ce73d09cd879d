// Download speed from the reference server on loopback: the program's ranged downloader against
// curl fetching the same file (2 MB and 200 MB) from the same server in the same run. Run with
// --benchmark_repetitions=N --benchmark_enable_random_interleaving=true so that the two take
// turns.
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

constexpr qint64 kSmall = 2ll * 1024 * 1024;
constexpr qint64 kLarge = 200ll * 1024 * 1024;

QString fileName(qint64 size) {
    return QStringLiteral("/files/f%1.bin").arg(size);
}

struct Setup {
    int argc = 1;
    char* argv[2] = {const_cast<char*>("bench"), nullptr};
    QCoreApplication app{argc, argv}; // first member, so that it goes last
    QTemporaryDir data;
    QTemporaryDir program;
    QProcess server;
    QString base;

    Setup() : ok(start()) {}
    bool ok;

    bool start() {
        QDir().mkpath(data.path() + QStringLiteral("/files"));
        if (!writeFile(kSmall) || !writeFile(kLarge))
            return false;
        base = startReferenceServer(server, data.path());
        return !base.isEmpty();
    }
    // Random-looking bytes, so that nothing on the way can shortcut them.
    bool writeFile(qint64 size) {
        QFile f(data.path() + fileName(size));
        if (!f.open(QIODevice::WriteOnly))
            return false;
        QByteArray block(1 << 20, Qt::Uninitialized);
        quint64 x = 0x9E3779B97F4A7C15ull;
        for (qint64 written = 0; written < size; written += block.size()) {
            for (int i = 0; i < block.size(); i += 8) {
                x ^= x << 13;
                x ^= x >> 7;
                x ^= x << 17;
                memcpy(block.data() + i, &x, 8);
            }
            f.write(block);
        }
        return true;
    }
    QString url(qint64 size) const { return base + fileName(size); }
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
    const qint64 size = state.range(0);
    const QString out = setupOnce().program.path() + QStringLiteral("/dl") + fileName(size);
    for (auto _ : state) {
        QFile::remove(out);
        auto* thread = new QThread;
        auto* dl =
            new commonFileDownloader(thread, setupOnce().url(size), QStringLiteral("dl/files"),
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
        if (!ok || QFileInfo(out).size() != size)
            state.SkipWithError("download failed");
    }
    state.SetBytesProcessed(state.iterations() * size);
}

void BM_DownloadCurl(benchmark::State& state) {
    if (!setupOnce().ok) {
        state.SkipWithError("setup failed");
        return;
    }
    const qint64 size = state.range(0);
    const QString out = setupOnce().program.path() + QStringLiteral("/curl.bin");
    for (auto _ : state) {
        QFile::remove(out);
        const int rc =
            QProcess::execute(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("-o"),
                                                       out, setupOnce().url(size)});
        if (rc != 0 || QFileInfo(out).size() != size)
            state.SkipWithError("curl failed");
    }
    state.SetBytesProcessed(state.iterations() * size);
}

BENCHMARK(BM_DownloadTavix)
    ->Arg(kSmall)
    ->Arg(kLarge)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_DownloadCurl)
    ->Arg(kSmall)
    ->Arg(kLarge)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

} // namespace
