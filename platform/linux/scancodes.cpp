#include "platform/linux/scancodes.h"

namespace platform::scancodes {
namespace {

// Codes 1 to 83 and 86 to 88 equal their scan code without prefix; these are the others.
struct Entry {
    uint16_t evdev;
    uint16_t scan;
    bool e0;
    bool e1;
};
constexpr Entry kTable[] = {
    {96, 0x1C, true, false},   // keypad enter
    {97, 0x1D, true, false},   // right control
    {98, 0x35, true, false},   // keypad slash
    {99, 0x37, true, false},   // print screen
    {100, 0x38, true, false},  // right alt
    {102, 0x47, true, false},  // home
    {103, 0x48, true, false},  // up
    {104, 0x49, true, false},  // page up
    {105, 0x4B, true, false},  // left
    {106, 0x4D, true, false},  // right
    {107, 0x4F, true, false},  // end
    {108, 0x50, true, false},  // down
    {109, 0x51, true, false},  // page down
    {110, 0x52, true, false},  // insert
    {111, 0x53, true, false},  // delete
    {113, 0x20, true, false},  // mute
    {114, 0x2E, true, false},  // volume down
    {115, 0x30, true, false},  // volume up
    {116, 0x5E, true, false},  // power
    {117, 0x59, false, false}, // keypad equal
    {119, 0x45, false, true},  // pause
    {121, 0x7E, false, false}, // keypad comma
    {122, 0x72, false, false}, // hangeul
    {123, 0x71, false, false}, // hanja
    {124, 0x7D, false, false}, // yen
    {125, 0x5B, true, false},  // left meta
    {126, 0x5C, true, false},  // right meta
    {127, 0x5D, true, false},  // menu
    {128, 0x68, true, false},  // stop
    {140, 0x21, true, false},  // calculator
    {142, 0x5F, true, false},  // sleep
    {143, 0x63, true, false},  // wake up
    {155, 0x6C, true, false},  // mail
    {156, 0x66, true, false},  // bookmarks
    {157, 0x6B, true, false},  // computer
    {158, 0x6A, true, false},  // back
    {159, 0x69, true, false},  // forward
    {163, 0x19, true, false},  // next song
    {164, 0x22, true, false},  // play/pause
    {165, 0x10, true, false},  // previous song
    {166, 0x24, true, false},  // stop playing
    {172, 0x32, true, false},  // home page
    {173, 0x67, true, false},  // refresh
    {183, 0x64, false, false}, // F13 to F23
    {184, 0x65, false, false}, {185, 0x66, false, false}, {186, 0x67, false, false},
    {187, 0x68, false, false}, {188, 0x69, false, false}, {189, 0x6A, false, false},
    {190, 0x6B, false, false}, {191, 0x6C, false, false}, {192, 0x6D, false, false},
    {193, 0x6E, false, false}, {194, 0x76, false, false}, // F24
    {217, 0x65, true, false},                             // search
    {226, 0x6D, true, false},                             // media
    {89, 0x73, false, false},                             // ro
    {92, 0x79, false, false},                             // henkan
    {93, 0x70, false, false},                             // katakana/hiragana
    {94, 0x7B, false, false},                             // muhenkan
};

bool plain(uint16_t code) {
    return (code >= 1 && code <= 83) || (code >= 86 && code <= 88);
}

} // namespace

bool fromEvdev(uint16_t evdevCode, ScanCode* scan) {
    if (plain(evdevCode)) {
        *scan = ScanCode{evdevCode, false, false};
        return true;
    }
    for (const Entry& e : kTable) {
        if (e.evdev == evdevCode) {
            *scan = ScanCode{e.scan, e.e0, e.e1};
            return true;
        }
    }
    return false;
}

uint16_t toEvdev(const ScanCode& scan) {
    if (!scan.e0 && !scan.e1 && plain(scan.code))
        return scan.code;
    for (const Entry& e : kTable)
        if (e.scan == scan.code && e.e0 == scan.e0 && e.e1 == scan.e1)
            return e.evdev;
    return 0;
}

} // namespace platform::scancodes
