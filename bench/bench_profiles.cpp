// A page edit (modifyProfile) and a read-back (queryProfile) on profiles of 100 kB, 1 MB and
// 10 MB, against the floor: the XML library parsing and saving the same text once, alone (for
// queryProfile: parsing it once). Each benchmark measures the floor itself and prints it
// (floor_ms, CPU time) beside its own CPU time per command (cpu_ms) and their ratio (x_floor).
// BM_tenProfilesResident prints the resident size with ten 10 MB profiles cached.
#include "config/profilecache.h"
#include "config/profilecommands.h"
#include "countingcallback.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <unistd.h>

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

double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

void parseSave(const QByteArray& text) {
    pugi::xml_document doc;
    doc.load_buffer(text.constData(), size_t(text.size()), pugi::parse_default,
                    pugi::encoding_utf8);
    ByteSink sink;
    sink.bytes.reserve(text.size());
    doc.save(sink, "\t", pugi::format_default, pugi::encoding_utf8);
    benchmark::DoNotOptimize(sink.bytes.data());
}

void parseOnly(const QByteArray& text) {
    pugi::xml_document doc;
    doc.load_buffer(text.constData(), size_t(text.size()), pugi::parse_default,
                    pugi::encoding_utf8);
    benchmark::DoNotOptimize(doc.first_child());
}

// The floor of `text` in CPU milliseconds: the best of a few parse+save runs (a query's floor:
// parse runs).
double floorMs(const QByteArray& text, bool save = true) {
    double best = 1e300;
    for (int i = 0; i < 5; ++i) {
        const double start = cpuMs();
        if (save)
            parseSave(text);
        else
            parseOnly(text);
        best = std::min(best, cpuMs() - start);
    }
    return best;
}

void BM_floorParseSave(benchmark::State& state) {
    const QByteArray text = profileText(int(state.range(0)));
    for (auto _ : state)
        parseSave(text);
    state.SetBytesProcessed(state.iterations() * text.size());
}

bool writeProfile(const QString& path, const QByteArray& text) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

const QVariantMap kQuery{{"filePath", "p.xml"}, {"xpath", "/root/keys/key[@id='7']"}};

QVariantMap modifyArgs(long long n) {
    QVariantMap modify = kQuery;
    modify.insert("attribute", "name;type");
    modify.insert("attributeValue", QStringLiteral("v%1;%2").arg(n).arg(n % 7));
    return modify;
}

// Runs `command` (0 modifyProfile, 1 queryProfile) on a cached profile of state.range(0)
// bytes, after one modifyProfile that brings the profile into the cache.
void runCommand(benchmark::State& state, int command) {
    QTemporaryDir dir;
    const QByteArray text = profileText(int(state.range(0)));
    if (!writeProfile(dir.path() + "/p.xml", text)) {
        state.SkipWithError("cannot write the profile");
        return;
    }
    // An edit's floor is a parse and a save; a query's is a parse.
    const double floor = floorMs(text, command == 0);
    ProfileCache cache;
    ProfileCommands commands(cache, dir.path());
    auto cb = std::make_shared<CountingCallback>();
    long long n = 0;
    commands.modifyProfile(modifyArgs(n++), cb);
    const double start = cpuMs();
    for (auto _ : state) {
        if (command == 0)
            commands.modifyProfile(modifyArgs(n++), cb);
        else
            commands.queryProfile(kQuery, cb);
    }
    const double perCommand = (cpuMs() - start) / double(state.iterations());
    if (cb->failures)
        state.SkipWithError("a command failed");
    state.counters["floor_ms"] = floor;
    state.counters["cpu_ms"] = perCommand;
    state.counters["x_floor"] = perCommand / floor;
    state.SetBytesProcessed(state.iterations() * text.size());
}

void BM_modifyProfile(benchmark::State& state) {
    runCommand(state, 0);
}

void BM_queryProfile(benchmark::State& state) {
    runCommand(state, 1);
}

// The page's usual round: an edit and its read-back.
void BM_modifyAndQuery(benchmark::State& state) {
    QTemporaryDir dir;
    const QByteArray text = profileText(int(state.range(0)));
    if (!writeProfile(dir.path() + "/p.xml", text)) {
        state.SkipWithError("cannot write the profile");
        return;
    }
    const double floor = floorMs(text);
    ProfileCache cache;
    ProfileCommands commands(cache, dir.path());
    auto cb = std::make_shared<CountingCallback>();
    long long n = 0;
    const double start = cpuMs();
    for (auto _ : state) {
        commands.modifyProfile(modifyArgs(n++), cb);
        commands.queryProfile(kQuery, cb);
    }
    const double perRound = (cpuMs() - start) / double(state.iterations());
    if (cb->failures)
        state.SkipWithError("a command failed");
    state.counters["floor_ms"] = floor;
    state.counters["cpu_ms"] = perRound;
    state.counters["x_floor"] = perRound / floor;
    state.SetBytesProcessed(state.iterations() * text.size());
}

// The resident size in MiB.
double residentMiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// Ten 10 MB profiles, each edited and queried once, so all ten are cached. Prints the resident
// size before and after (freed memory handed back first) and the text whose documents are kept.
void BM_tenProfilesResident(benchmark::State& state) {
    QTemporaryDir dir;
    const QByteArray text = profileText(10 << 20);
    for (int i = 0; i < 10; ++i) {
        if (!writeProfile(dir.path() + QStringLiteral("/p%1.xml").arg(i), text)) {
            state.SkipWithError("cannot write the profiles");
            return;
        }
    }
    auto cb = std::make_shared<CountingCallback>();
    for (auto _ : state) {
        state.PauseTiming();
#ifdef __GLIBC__
        malloc_trim(0);
#endif
        const double before = residentMiB();
        state.ResumeTiming();
        ProfileCache cache;
        ProfileCommands commands(cache, dir.path());
        for (int i = 0; i < 10; ++i) {
            QVariantMap modify = modifyArgs(i);
            modify.insert("filePath", QStringLiteral("p%1.xml").arg(i));
            commands.modifyProfile(modify, cb);
            modify.remove("attribute");
            commands.queryProfile(modify, cb);
        }
        state.PauseTiming();
#ifdef __GLIBC__
        malloc_trim(0);
#endif
        state.counters["rss_before_MiB"] = before;
        state.counters["rss_MiB"] = residentMiB();
        state.counters["kept_doc_text_MiB"] = double(cache.keptDocumentText()) / (1024.0 * 1024.0);
        state.ResumeTiming();
    }
    if (cb->failures)
        state.SkipWithError("a command failed");
}

BENCHMARK(BM_floorParseSave)
    ->Arg(100 << 10)
    ->Arg(1 << 20)
    ->Arg(10 << 20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_modifyProfile)
    ->Arg(100 << 10)
    ->Arg(1 << 20)
    ->Arg(10 << 20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_queryProfile)
    ->Arg(100 << 10)
    ->Arg(1 << 20)
    ->Arg(10 << 20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_modifyAndQuery)
    ->Arg(100 << 10)
    ->Arg(1 << 20)
    ->Arg(10 << 20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_tenProfilesResident)->Iterations(1)->Unit(benchmark::kMillisecond);

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
