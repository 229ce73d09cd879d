#pragma once

// Plays the command list of one key map entry on a task thread of its own: key and button
// presses through the virtual device, pauses, opening a file, typing a text through the
// virtual keyboard or into the window under the cursor. playType 0 plays the list playCount
// times; 1 and 2 repeat it every 50 ms until stop_display().
//
// "down" holds one key alone and "up" releases every key; "keyDown" and "keyUp" (a usage,
// hexadecimal) press and release one key and keep the others held, modifiers (E0 to E7)
// included, so lists can play chords and capitals.

#include "input/keymap.h"

#include <QList>
#include <QObject>

#include <atomic>
#include <future>
#include <memory>

class QThread;
class QTimer;
class VirtualDeviceClient;

class commandExec : public QObject {
    Q_OBJECT
public:
    static constexpr int kRepeatIntervalMs = 50;

    // Without parent, moved to `thread`; start() runs when the thread starts. `client` may be
    // null (then key and button commands do nothing).
    commandExec(QThread* thread, const CommandList& commands, VirtualDeviceClient* client,
                int32_t playType, int32_t playCount);
    // A player cut short releases what it left held in the virtual device; one that completed
    // its list keeps it (a "mouseDown" without "mouseUp" is what the list asks for). Then
    // ended() becomes ready. A player started before the virtual device's emergency stop
    // (VirtualDeviceClient::halt) stops between two commands and writes nothing more.
    ~commandExec() override;

    // Set from any thread, `flag` makes the player stop between two commands and cut pauses
    // short: for program exit, so no player outlives the virtual device client. Before start.
    void setAbandonFlag(std::shared_ptr<const std::atomic<bool>> flag) {
        m_abandon = std::move(flag);
    }
    // Whether the list repeats until stopped (toggle and hold plays).
    bool repeats() const;
    // From any thread: a repeating player stops between two commands and cuts its pause short,
    // as it is being replaced.
    void cutShort() { m_cut = true; }
    // Ready once the player is gone and its release, if any, was sent.
    std::shared_future<void> ended() const { return m_ended; }
    // This player plays nothing before `previous` has ended (at most kPredecessorWaitMs), so
    // that the replaced player's release never comes after this one's first press. Before start.
    void playAfter(std::shared_future<void> previous) { m_previous = std::move(previous); }
    static constexpr int kPredecessorWaitMs = 1000;

signals:
    void taskFinished();

public slots:
    void start();
    void stop_display();
    void executeCommand();

private:
    void run(const CommandItem& command);
    void sleep(int milliseconds);
    void releaseHeld();
    void keyDown(const QString& value);
    void keyUp(const QString& value);
    void typeText(const QString& text);
    bool abandoned() const;

    CommandList m_commands;
    VirtualDeviceClient* m_client;
    int32_t m_playType;
    int32_t m_playCount;
    QTimer* m_timer = nullptr;
    // What this player's own reports left held: a "down" or "mouseDown" not yet followed by
    // its "up", and the keys of "keyDown" not yet released.
    bool m_keysHeld = false;
    bool m_buttonsHeld = false;
    QList<uint8_t> m_pressed;
    uint32_t m_generation = 0; // the virtual device's, when this player was made
    // Every repetition of a play-count list ran.
    bool m_completed = false;
    std::shared_ptr<const std::atomic<bool>> m_abandon;
    std::atomic<bool> m_cut{false};
    std::promise<void> m_end;
    std::shared_future<void> m_ended{m_end.get_future().share()};
    std::shared_future<void> m_previous;
};
