// A page edit and read-back (modifyProfile + queryProfile) on profiles of 100 kB, 1 MB and
// 10 MB, against the floor: the XML library parsing and saving the same text once, alone.
#include "config/profilecache.h"
#include "config/profilecommands.h"
#include "countingcallback.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

class ByteSink : public pugi::xml_writer {
public:
    void write(const void* data, size_t size) override {
        bytes.append(static_cast<const char*>(data), int(size));
    }
    QByteArray bytes;
};

// A key map of about `bytes` bytes: one element per key, a few attributes each.
QByteArray profileText(int bytes) {
    QByteArray text = "<?xml version=\"1.0\"?>\n<root>\n\t<keys>\n";
    for (int i = 0; text.size() < bytes; ++i)
        text += "\t\t<key id=\"" + QByteArray::number(i) +
                "\" name=\"k\" type=\"1\" code=\"0x02,%,0x00,%\" />\n";
    return text + "\t</keys>\n</root>\n";
}

void BM_floorParseSave(benchmark::State& state) {
    const QByteArray text = profileText(int(state.range(0)));
    for (auto _ : state) {
        pugi::xml_document doc;
        doc.load_buffer(text.constData(), size_t(text.size()), pugi::parse_default,
                        pugi::encoding_utf8);
        ByteSink sink;
        sink.bytes.reserve(text.size());
        doc.save(sink, "\t", pugi::format_default, pugi::encoding_utf8);
        benchmark::DoNotOptimize(sink.bytes.data());
    }
    state.SetBytesProcessed(state.iterations() * text.size());
}

void BM_modifyAndQuery(benchmark::State& state) {
    QTemporaryDir dir;
    const QByteArray text = profileText(int(state.range(0)));
    {
        QFile f(dir.path() + "/p.xml");
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size()) {
            state.SkipWithError("cannot write the profile");
            return;
        }
    }
    ProfileCache cache;
    ProfileCommands commands(cache, dir.path());
    auto cb = std::make_shared<CountingCallback>();
    const QVariantMap query{{"filePath", "p.xml"}, {"xpath", "/root/keys/key[@id='7']"}};
    QVariantMap modify = query;
    modify.insert("attribute", "name;type");
    long long n = 0;
    for (auto _ : state) {
        modify.insert("attributeValue", QStringLiteral("v%1;%2").arg(n).arg(n % 7));
        ++n;
        commands.modifyProfile(modify, cb);
        commands.queryProfile(query, cb);
    }
    if (cb->failures)
        state.SkipWithError("a command failed");
    state.SetBytesProcessed(state.iterations() * text.size());
}

BENCHMARK(BM_floorParseSave)
    ->Arg(100 << 10)
    ->Arg(1 << 20)
    ->Arg(10 << 20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_modifyAndQuery)
    ->Arg(100 << 10)
    ->Arg(1 << 20)
    ->Arg(10 << 20)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
#ifdef __GLIBC__
    // Keep freed memory in the process. Otherwise every iteration maps fresh pages for the
    // multi-megabyte buffers, and on a virtualised machine the page faults outweigh the XML work
    // by an order of magnitude, depending on which run happened to warm the heap.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
