#pragma once

// The simulated filter driver's own state, shared by its parts: the slots and what reached the
// system (filterdriver.cpp), the device I/O backend over them (devio.cpp), the configuration
// (filterdriver_config.cpp) and the simctl commands (filterdriver_commands.cpp). Not for use
// outside platform/sim.

#include "platform/sim/filterdriver.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <utility>

namespace platform::devio::filter {

using sim::Options;
using sim::Stroke;
using sim::SystemObserver;
using sim::SystemStroke;

constexpr int kSlots = filterdriver::kSlots;
constexpr size_t kSystemKept = 1000; // strokes that reached the system, kept for reading

struct Slot {
    std::string hardwareId;
    bool present = true;
    Handle opener = 0;
    Handle event = 0;
    uint16_t mask = 0;
    std::deque<Stroke> queue;
};

struct Object {
    bool event = false;
    bool signalled = false;
    int slot = 0;            // device handles
    uint64_t generation = 0; // the configuration it belongs to
};

using Observers = std::vector<std::pair<SystemObserver, void*>>;

// Leaked on purpose: a capture thread may still wait in here while the process exits.
struct State {
    std::mutex mutex;
    std::condition_variable changed;
    Options options;
    uint64_t generation = 1;
    Slot slots[kSlots];
    std::map<Handle, Object> objects;
    Handle nextHandle = 0x100;
    std::deque<SystemStroke> system;
    uint64_t systemSequence = 0;
    std::map<int, std::pair<SystemObserver, void*>> observers;
    int nextObserver = 1;
};

State& state();

// With the lock held: records a stroke that reached the system and returns the observers to
// tell once the lock is released (notify()).
Observers reachSystem(State& st, const Stroke& stroke, bool givenBack);
void notify(const Observers& observers, const std::vector<Stroke>& strokes);

// With the lock held: the live object behind a handle of this configuration, or nullptr.
Object* findLive(State& st, Handle handle, bool event);
void signal(State& st, Handle event, bool on);

// A whole number in min..max (decimal, or hexadecimal with 0x); false otherwise.
bool parseNumber(const std::string& text, long min, long max, long* value);

} // namespace platform::devio::filter
