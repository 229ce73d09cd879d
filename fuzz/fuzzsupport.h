#pragma once

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

// What the fuzz targets share: a scratch program folder inside a folder of its own, with a file
// next to the program folder that nothing may touch, and the end of a run when a rule is broken.
namespace fuzzsupport {

// Log lines would drown the fuzzer's output and cost most of its time.
inline void quiet() {
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& msg) {
        if (type == QtFatalMsg) {
            std::fprintf(stderr, "%s\n", qPrintable(msg));
            std::abort();
        }
    });
}

// Ends the run as a finding.
[[noreturn]] inline void broken(const char* rule, const QString& detail = {}) {
    std::fprintf(stderr, "fuzz: %s %s\n", rule, qPrintable(detail));
    std::abort();
}

class Scratch {
public:
    Scratch() {
        if (!m_root.isValid())
            broken("no temporary folder");
        writeFile(outsidePath(), kOutside);
        reset();
    }

    QString root() const { return m_root.path(); }
    // The program folder, without a trailing "/".
    QString folder() const { return m_root.path() + QStringLiteral("/prog"); }
    QString outsidePath() const { return m_root.path() + QStringLiteral("/outside.txt"); }

    // An empty program folder again.
    void reset() {
        QDir(folder()).removeRecursively();
        QDir().mkpath(folder());
    }

    // Nothing beside the program folder was created, changed or removed.
    void checkOutside() const {
        QStringList entries =
            QDir(root()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        entries.removeOne(QStringLiteral("prog"));
        if (entries != QStringList{QStringLiteral("outside.txt")})
            broken("written outside the program folder:", entries.join(QLatin1Char(' ')));
        if (readFile(outsidePath()) != kOutside)
            broken("the file outside the program folder changed");
    }

    static bool writeFile(const QString& path, const QByteArray& bytes) {
        QDir().mkpath(path.left(path.lastIndexOf(QLatin1Char('/'))));
        QFile f(path);
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
    }

    static QByteArray readFile(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    static constexpr const char* kOutside = "outside the program folder\n";
    QTemporaryDir m_root;
};

} // namespace fuzzsupport
