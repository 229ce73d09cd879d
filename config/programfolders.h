#pragma once

#include "platform/result.h"

#include <QString>
#include <QStringList>

// Where the program's files are; the one answer for the whole program. A staged build folder is
// all of them at once: binaries, page, defaults and everything the program writes. An installed
// copy runs from <prefix>/lib/tavix, reads the page and the defaults from <prefix>/share/tavix,
// which it never writes, and keeps everything it writes in the user's data folder, seeded from
// the defaults.
class ProgramFolders {
public:
    // The layout of the program whose executable is in `binaryFolder`: staged when the page
    // lies beside it, installed when <prefix>/share/tavix holds it.
    static ProgramFolders forProgram(const QString& binaryFolder);
    static ProgramFolders staged(const QString& folder);
    // `launcher` is the folder of the command that starts the program.
    static ProgramFolders installed(const QString& binaries, const QString& share,
                                    const QString& data, const QString& launcher);

    // $XDG_DATA_HOME/tavix, else ~/.local/share/tavix (a relative XDG_DATA_HOME does not count);
    // empty when neither is known.
    static QString userDataFolder();

    bool isInstalled() const { return m_installed; }
    // The program, the device library, the updater and the crash reporter.
    QString binaries() const { return m_binaries; }
    // Read-only: the page and the defaults the data folder is seeded from.
    QString share() const { return m_share; }
    // Everything the program writes and reads back: conf.xml, profiles, key maps, device pages,
    // downloads, updates, crash dumps.
    QString data() const { return m_data; }
    // The folder of the command that starts the program, for the autostart entry.
    QString launcher() const { return m_launcher; }

    // A file the page or a popup loads: the data folder's copy when it has one, else the share
    // folder's. `relative` may start with "/".
    QString locate(const QString& relative) const;
    // The file:// address of locate(relative).
    QString pageUrl(const QString& relative) const;

    // What seeding changed, as paths relative to the data folder.
    struct Seeded {
        QStringList copied;   // missing, taken from the defaults
        QStringList replaced; // the user had not changed it: the newer default took its place
        // The user had changed it: kept, and the newer default written beside it with
        // kNewDefaultSuffix.
        QStringList keptBeside;
        QStringList failed; // could not be written; tried again at the next start
    };
    static constexpr const char* kNewDefaultSuffix = ".new-default";
    // The seeded parts of the defaults; the rest of the share folder is only read.
    static QStringList seededFolders();
    // Installed only: brings the data folder in step with the defaults. Missing files are
    // copied; a default that changed since the last seeding replaces the user's copy only when
    // the user left that copy as it was seeded. What each default was when seeded is kept in
    // the data folder's ".defaults" (SHA-1 and path a line). A staged folder is left alone.
    // Fails only when there is no data folder to write.
    platform::ResultOf<Seeded> seed() const;

private:
    ProgramFolders() = default;

    bool m_installed = false;
    QString m_binaries;
    QString m_share;
    QString m_data;
    QString m_launcher;
};
