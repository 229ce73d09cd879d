#pragma once

// Records the user's key presses, with the pauses between them, as "macroItem" events for the
// page: a key item ("0", "1" press / "0" release, scan code, extended bit) and before every
// event but the first a pause item ("2", milliseconds, "0", "0"). Typematic repeats of a held
// key are not recorded. Lives on the GUI thread; hook events are handed to it in order.

#include "platform/keyhook.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <map>

class Recorder : public QObject {
    Q_OBJECT
public:
    // Receives the four texts of each item.
    using Push = std::function<void(const QStringList& item)>;

    explicit Recorder(Push push, QObject* parent = nullptr);
    ~Recorder() override;

    // Installs the hook (replacing one installed before). False when the system refused it.
    bool startRecord();
    void stopRecord();

    // One hook event, on the GUI thread.
    void handle(const platform::keyhook::KeyEvent& event);

private:
    void pushPause(uint64_t now);

    Push m_push;
    bool m_installed = false;
    bool m_firstEvent = false;
    uint64_t m_lastEventMs = 0;
    std::map<uint32_t, int> m_held; // scan code -> extended bit
};
