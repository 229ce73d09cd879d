// The emulated adapter's files: kx.json and a device's state file. The first input byte chooses
// which the rest is (even: kx.json; odd: the state file of the one device a fixed kx.json
// names). The adapter then loads its folder and serves the calls the program makes; a damaged
// file may be moved aside, but nothing outside the folder may be touched.
#include "fuzzsupport.h"

#include "kx/adapter.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

fuzzsupport::Scratch* scratch = nullptr;

const QByteArray kConfig =
    R"({"devices": [{"DeviceID": "04D9A0F1", "SN": "KX0001", "Version": "1.0.0", "MASK": "01",
       "VendorId": "0x04D9", "ProductId": "0xA0F1", "HardwareID": "HID\\Vid_04d9&Pid_a0f1",
       "MemorySize": 4096, "Properties": {"1": "0x01", "2": "0x03,0x20"},
       "StateFile": "d.state"}]})";
const std::u16string kId = u"HID\\Vid_04d9&Pid_a0f1";
const std::u16string kSub;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::quiet();
    scratch = new fuzzsupport::Scratch;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    scratch->reset();
    const QString folder = scratch->folder();
    const QByteArray rest(reinterpret_cast<const char*>(data) + 1, int(size - 1));
    if (data[0] & 1) {
        fuzzsupport::Scratch::writeFile(folder + "/kx.json", kConfig);
        fuzzsupport::Scratch::writeFile(folder + "/d.state", rest);
    } else {
        fuzzsupport::Scratch::writeFile(folder + "/kx.json", rest);
    }
    {
        kx::Adapter adapter(folder);
        const kxchar* id = reinterpret_cast<const kxchar*>(kId.c_str());
        const kxchar* sub = reinterpret_cast<const kxchar*>(kSub.c_str());
        const uint32_t filters[20] = {};
        std::vector<uint8_t> list(KX_LIST_SIZE);
        adapter.devices(filters, list.data(), KX_LIST_SIZE);
        adapter.deviceExist(id);
        uint8_t buffer[KX_BUFFER_SIZE] = {};
        adapter.ask(id, sub, KX_KEY, buffer, 21);
        adapter.read(id, sub, KX_KEY, buffer, 64, 0);
        adapter.readProp(id, sub, KX_KEY, buffer, 8, 2);
        const uint8_t bytes[4] = {1, 2, 3, 4};
        adapter.write(id, sub, KX_KEY, bytes, 4, 16);
        adapter.writeProp(id, sub, KX_KEY, bytes, 4, 7);
    }
    scratch->checkOutside();
    return 0;
}
