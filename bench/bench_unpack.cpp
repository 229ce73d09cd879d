// Unpacking a 50 MB update package (digest, LZMA, data stream, files written) against the same
// work by standard tools: `xz --format=raw` decoding the same payload to a file and `sha1sum`
// over the package.
#include "online/package.h"
#include "online/signature.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

constexpr int kFiles = 50;
constexpr int kFileSize = 1024 * 1024;

struct Setup {
    int argc = 1;
    char* argv[2] = {const_cast<char*>("bench"), nullptr};
    QCoreApplication app{argc, argv}; // first member, so that it goes last
    QTemporaryDir dir;
    QByteArray packageFile;
    QString packagePath, rawStreamPath;

    Setup() : ok(start()) {}
    bool ok;

    bool start() {
        // Text-like data from a small vocabulary mixed with noise: compresses about like pages.
        static const char* const words[] = {"device", "profile", "<key code=\"", "\"/>",  "macro",
                                            " ",      "\r\n",    "0x1f",         "value", "layer"};
        QList<package::File> files;
        quint64 x = 88172645463325252ull;
        for (int f = 0; f < kFiles; ++f) {
            QByteArray data;
            data.reserve(kFileSize);
            while (data.size() < kFileSize) {
                x ^= x << 13;
                x ^= x >> 7;
                x ^= x << 17;
                if ((x & 7) == 0)
                    data += static_cast<char>(x >> 24);
                else
                    data += words[(x >> 8) % 10];
            }
            data.truncate(kFileSize);
            files.append({QStringLiteral("view/device/f%1.dat").arg(f), data});
        }
        const QString version = QStringLiteral("1.0");
        const QByteArray payload = package::writePayload(files, &version);
        const platform::ResultOf<QByteArray> built = package::build(payload);
        if (!built)
            return false;
        packageFile = built.value;
        // Signed as the program signs: the check is part of the work measured.
        QByteArray publicKey, secretKey;
        if (!signature::generateKeyPair(&publicKey, &secretKey) ||
            !signature::sign(&packageFile, secretKey, QStringLiteral("html")))
            return false;
        signature::setUpdateKey(publicKey);
        packagePath = dir.path() + QStringLiteral("/pkg.bin");
        QFile p(packagePath);
        if (!p.open(QIODevice::WriteOnly) || p.write(packageFile) != packageFile.size())
            return false;
        p.close();
        // The baseline decodes the same payload, compressed by xz itself with the same settings.
        const QString payloadPath = dir.path() + QStringLiteral("/payload.bin");
        QFile pl(payloadPath);
        if (!pl.open(QIODevice::WriteOnly) || pl.write(payload) != payload.size())
            return false;
        pl.close();
        rawStreamPath = dir.path() + QStringLiteral("/payload.lzma");
        QProcess xz;
        xz.setStandardInputFile(payloadPath);
        xz.setStandardOutputFile(rawStreamPath);
        xz.start(QStringLiteral("xz"),
                 {QStringLiteral("--format=raw"),
                  QStringLiteral("--lzma1=preset=5,dict=16MiB,lc=3,lp=0,pb=2,nice=32"),
                  QStringLiteral("-c")});
        return xz.waitForFinished(-1) && xz.exitCode() == 0;
    }
};

// Built on first use, since benchmark's own main runs these; torn down at exit.
Setup& setupOnce() {
    static Setup s;
    return s;
}

void BM_UnpackTavix(benchmark::State& state) {
    if (!setupOnce().ok) {
        state.SkipWithError("setup failed");
        return;
    }
    const QString program = setupOnce().dir.path() + QStringLiteral("/program/");
    const QString target = program + QStringLiteral("tupdates/html/pkg.bin");
    for (auto _ : state) {
        state.PauseTiming();
        QDir(program).removeRecursively();
        QDir().mkpath(program + QStringLiteral("tupdates/html"));
        QFile::copy(setupOnce().packagePath, target);
        state.ResumeTiming();
        if (!package::unpackUpdatePackage(program, QStringLiteral("html"), target))
            state.SkipWithError("unpack failed");
    }
    state.SetBytesProcessed(state.iterations() * kFiles * qint64(kFileSize));
}

void BM_UnpackXzSha1sum(benchmark::State& state) {
    if (!setupOnce().ok) {
        state.SkipWithError("setup failed");
        return;
    }
    const QString out = setupOnce().dir.path() + QStringLiteral("/xz-out.bin");
    for (auto _ : state) {
        const QString cmd = QStringLiteral("xz --format=raw --lzma1=lc=3,lp=0,pb=2,dict=16MiB -dc "
                                           "'%1' > '%2' && sha1sum '%3' > /dev/null")
                                .arg(setupOnce().rawStreamPath, out, setupOnce().packagePath);
        if (QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), cmd}) != 0)
            state.SkipWithError("xz or sha1sum failed");
    }
    state.SetBytesProcessed(state.iterations() * kFiles * qint64(kFileSize));
}

BENCHMARK(BM_UnpackTavix)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_UnpackXzSha1sum)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace
