// The crash handler: a forked child installs it and crashes; the dump, the reporter's start and
// the way the child ends are checked from outside.

#include "platform/sim/crash.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace crash = platform::crash;

namespace {

enum class Fault {
    NullWrite,
    Abort,
    StackOverflow,
    SentBus,
    ThreadStackOverflow, // on a thread the process started, not the one that installed
    TwoThreads,          // two threads fault at once
    InsideMalloc,        // a thread is signalled while threads loop on malloc and free
};

volatile int g_depth = 0;
volatile bool g_deeper = true; // never cleared; hides the endless recursion from the compiler

int recurse(int n) {
    volatile char pad[256]; // smaller than the guard page, so the overflow meets it
    pad[0] = static_cast<char>(n);
    g_depth = g_depth + 1;
    return g_deeper ? recurse(n + 1) + pad[0] : pad[0];
}

void* allocateForever(void*) {
    std::minstd_rand random(unsigned(::gettid()));
    for (;;) {
        // Past the per-thread caches, so the arena's lock is taken.
        void* p = std::malloc(2048 + random() % 60000);
        if (p)
            static_cast<volatile char*>(p)[0] = 1;
        std::free(p);
    }
    return nullptr;
}

[[noreturn]] void crashInsideMalloc() {
    pthread_t threads[3];
    for (pthread_t& t : threads)
        pthread_create(&t, nullptr, allocateForever, nullptr);
    std::minstd_rand random(unsigned(::getpid()));
    ::usleep(useconds_t(1000 + random() % 4000));
    pthread_kill(threads[0], SIGSEGV);
    for (;;)
        ::pause();
}

[[noreturn]] void crashTwoThreadsAtOnce() {
    std::atomic<int> ready{0};
    auto crash = [&ready] {
        ready.fetch_add(1);
        while (ready.load() < 2) {
        }
        crash::crashNow();
    };
    std::thread one(crash), two(crash);
    one.join();
    two.join();
    ::_exit(3);
}

[[noreturn]] void fault(Fault kind) {
    switch (kind) {
    case Fault::NullWrite:
        crash::crashNow();
    case Fault::Abort:
        std::abort();
    case Fault::StackOverflow:
        recurse(0);
        break;
    case Fault::SentBus:
        ::raise(SIGBUS);
        break;
    case Fault::ThreadStackOverflow:
        std::thread([] { recurse(0); }).join();
        break;
    case Fault::TwoThreads:
        crashTwoThreadsAtOnce();
    case Fault::InsideMalloc:
        crashInsideMalloc();
    }
    ::_exit(3);
}

struct ChildEnd {
    bool ended = false; // within the time limit; a child that did not is killed
    int status = 0;
    QByteArray errors; // what the child wrote to standard error
};

// Runs a child that installs the handler for `folder` with `reporter` and then faults.
ChildEnd crashChild(const QString& folder, const QString& reporter, Fault kind,
                    int timeLimitMs = 60000) {
    int errorPipe[2];
    if (::pipe2(errorPipe, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(errorPipe[1], STDERR_FILENO);
        ::close(errorPipe[0]);
        if (!crash::setReporterPath(reporter.toStdString()) ||
            !crash::install(folder.toStdString()))
            ::_exit(2);
        fault(kind);
    }
    ::close(errorPipe[1]);
    ChildEnd end;
    QElapsedTimer clock;
    clock.start();
    pollfd errors{errorPipe[0], POLLIN, 0};
    while (!end.ended && clock.elapsed() < timeLimitMs) {
        if (::poll(&errors, 1, 20) > 0) {
            char buffer[256];
            const ssize_t n = ::read(errorPipe[0], buffer, sizeof(buffer));
            if (n > 0)
                end.errors.append(buffer, static_cast<int>(n));
            else
                errors.fd = -1; // closed: only the end is left to wait for
        }
        end.ended = ::waitpid(pid, &end.status, WNOHANG) == pid;
    }
    if (!end.ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    ::close(errorPipe[0]);
    return end;
}

// A reporter that writes what it was given next to the dump.
QString writeReporter(const QString& folder) {
    const QString path = folder + QStringLiteral("/reporter");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write("#!/bin/sh\nprintf '%s\\n' \"$#\" \"$1\" > \"$1.reported.tmp\"\n"
               "mv \"$1.reported.tmp\" \"$1.reported\"\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

QStringList dumps(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("*.dmp")}, QDir::Files);
}

} // namespace

class CrashTest : public QObject {
    Q_OBJECT
private slots:
    void crashWritesDumpAndStartsReporter_data();
    void crashWritesDumpAndStartsReporter();
    void crashInsideMallocEndsEveryTime();
    void missingReporterIsReportedAndDumpStays();
    void installReachesTheBackendOnce();
    void reporterPathLongerThanTheBufferIsRefused();
    void commandLine_data();
    void commandLine();
};

void CrashTest::crashWritesDumpAndStartsReporter_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("addressLine");
    QTest::newRow("null write") << int(Fault::NullWrite) << SIGSEGV
                                << QStringLiteral("address: 0x0000000000000000");
    QTest::newRow("abort") << int(Fault::Abort) << SIGABRT << QString();
    // Only the alternate stack leaves room to handle this one.
    QTest::newRow("stack overflow") << int(Fault::StackOverflow) << SIGSEGV << QString();
    QTest::newRow("sent signal") << int(Fault::SentBus) << SIGBUS << QString();
    QTest::newRow("stack overflow on another thread")
        << int(Fault::ThreadStackOverflow) << SIGSEGV << QString();
    // The second waits for the first's dump instead of ending the process half way.
    QTest::newRow("two threads at once")
        << int(Fault::TwoThreads) << SIGSEGV << QStringLiteral("address: 0x0000000000000000");
}

void CrashTest::crashWritesDumpAndStartsReporter() {
    QFETCH(int, kind);
    QFETCH(int, signal);
    QFETCH(QString, addressLine);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString reporter = writeReporter(dir.path());

    const ChildEnd end = crashChild(dir.path(), reporter, Fault(kind));
    // Handled, then ended by the default action of the same signal.
    QVERIFY(end.ended);
    QVERIFY2(WIFSIGNALED(end.status), end.errors.constData());
    QCOMPARE(WTERMSIG(end.status), signal);
    QVERIFY(end.errors.isEmpty());

    const QStringList found = dumps(dir.path());
    QCOMPARE(found.size(), 1);
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}\\.dmp$"))
                .match(found.first())
                .hasMatch());
    const QString dumpPath = dir.path() + QLatin1Char('/') + found.first();
    QFile dump(dumpPath);
    QVERIFY(dump.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(dump.readAll());
    QVERIFY(text.startsWith(QStringLiteral("tavix crash dump\nsignal: %1 ").arg(signal)));
    if (!addressLine.isEmpty())
        QVERIFY(text.contains(addressLine + QLatin1Char('\n')));
    for (const char* section : {"\nregisters:\n", "\nbacktrace:\n", "\nmemory map:\n"})
        QVERIFY2(text.contains(QLatin1String(section)), section);
    // The first frame is where the fault happened, named by its module and offset.
    QVERIFY2(
        QRegularExpression(QStringLiteral("\nbacktrace:\n  #0 0x[0-9a-f]+ /\\S+\\+0x[0-9a-f]+\n"))
            .match(text)
            .hasMatch(),
        qPrintable(text.section(QStringLiteral("backtrace:"), 1).left(300)));
    // The memory map names this program, so the backtrace's addresses can be placed.
    QVERIFY(text.section(QStringLiteral("memory map:\n"), 1)
                .contains(QCoreApplication::applicationFilePath()));

    // The reporter gets exactly one argument: the dump's path.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dumpPath + QStringLiteral(".reported")), 20000);
    QFile reported(dumpPath + QStringLiteral(".reported"));
    QVERIFY(reported.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(reported.readAll()), QStringLiteral("1\n%1\n").arg(dumpPath));
}

// The handler takes no lock a crashed thread may hold: each time a dump and the reporter, and the
// process is gone within 5 s.
void CrashTest::crashInsideMallocEndsEveryTime() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString reporter = writeReporter(dir.path());
    constexpr int kRounds = 50;
    for (int round = 0; round < kRounds; ++round) {
        const ChildEnd end = crashChild(dir.path(), reporter, Fault::InsideMalloc, 5000);
        QVERIFY2(end.ended,
                 qPrintable(QStringLiteral("round %1 still running after 5 s").arg(round)));
        QVERIFY(WIFSIGNALED(end.status));
        QCOMPARE(WTERMSIG(end.status), SIGSEGV);
        QCOMPARE(dumps(dir.path()).size(), round + 1);
    }
    QTRY_COMPARE_WITH_TIMEOUT(
        QDir(dir.path()).entryList({QStringLiteral("*.reported")}, QDir::Files).size(), kRounds,
        20000);
}

void CrashTest::missingReporterIsReportedAndDumpStays() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const ChildEnd end =
        crashChild(dir.path(), dir.path() + QStringLiteral("/CrashReporter"), Fault::NullWrite);
    QCOMPARE(end.errors, QByteArray("CreateProcess failed (2).\n"));
    QVERIFY(WIFSIGNALED(end.status));
    QCOMPARE(WTERMSIG(end.status), SIGSEGV);
    QCOMPARE(dumps(dir.path()).size(), 1);
}

void CrashTest::installReachesTheBackendOnce() {
    crash::sim::Backend sim;
    crash::installBackend(&sim);
    QVERIFY(crash::setReporterPath("/opt/tavix/CrashReporter"));
    QVERIFY(crash::install("/opt/tavix"));
    QVERIFY(crash::install("/somewhere/else"));
    crash::installBackend(nullptr);
    QCOMPARE(sim.installs, 1);
    QCOMPARE(sim.folder, std::string("/opt/tavix"));
    QCOMPARE(sim.reporter, std::string("/opt/tavix/CrashReporter"));
}

void CrashTest::reporterPathLongerThanTheBufferIsRefused() {
    QVERIFY(crash::setReporterPath("/opt/tavix/CrashReporter"));
    const std::string exact(crash::kPathCapacity - 1, 'a');
    QVERIFY(crash::setReporterPath(exact));
    QCOMPARE(crash::reporterPath(), exact);
    const platform::Result tooLong = crash::setReporterPath(std::string(crash::kPathCapacity, 'b'));
    QVERIFY(!tooLong.ok);
    QVERIFY(!tooLong.text.empty());
    QCOMPARE(crash::reporterPath(), exact);
}

void CrashTest::commandLine_data() {
    QTest::addColumn<QString>("reporter");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "C:\\tavix\\CrashReporter.exe"
                           << "C:/tavix"
                           << "C:\\tavix\\CrashReporter.exe C:/tavix/0123.dmp";
    QTest::newRow("blanks stay one item")
        << "C:\\Program Files (x86)\\tavix\\CrashReporter.exe"
        << "C:/Program Files (x86)/tavix"
        << "\"C:\\Program Files (x86)\\tavix\\CrashReporter.exe\" "
           "\"C:/Program Files (x86)/tavix/0123.dmp\"";
}

void CrashTest::commandLine() {
    QFETCH(QString, reporter);
    QFETCH(QString, folder);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdString(
                 crash::reporterCommandLine(reporter.toStdString(), folder.toStdString(), "0123")),
             expected);
}

QTEST_GUILESS_MAIN(CrashTest)
#include "tst_crash.moc"
