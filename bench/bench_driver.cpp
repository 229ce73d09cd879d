// Reports per second from the virtual device client through the simulated HID bus and the
// driver to a decoded input report, against the same write sent straight to the HID class
// model (no client, no facility) as the baseline.
#include "hidclassmodel.h"
#include "input/virtualdeviceclient.h"
#include "platform/sim/hidbus.h"

#include <atomic>

#include <benchmark/benchmark.h>

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

void BM_sendKeysToDecodedReport(benchmark::State& state) {
    namespace sim = platform::hid::sim;
    sim::configure(sim::Options{});
    VirtualDeviceClient client(VirtualDeviceClient::Printer{});
    if (!client.openVirtualDevice()) {
        state.SkipWithError("virtual device not found");
        return;
    }
    std::atomic<int64_t> decoded{0};
    const int observer = sim::addInputObserver([&](const sim::InputEvent& e) {
        if (e.device == "keyboard")
            ++decoded;
    });
    bool down = false;
    for (auto _ : state) {
        down = !down;
        if (!client.sendKeys({uint8_t(down ? 0x04 : 0), 0, 0, 0, 0, 0})) {
            state.SkipWithError("write failed");
            break;
        }
    }
    sim::removeInputObserver(observer);
    if (decoded.load() != int64_t(state.iterations()))
        state.SkipWithError("a report was not decoded");
    state.SetItemsProcessed(state.iterations());
}

void BM_baselineClassModelWrite(benchmark::State& state) {
    hidclass::HidClassModel model(DriverEntry);
    std::string error;
    if (!model.start(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    int64_t decoded = 0;
    model.setInputListener(
        [&](int, const std::vector<uint8_t>&, const hidclass::DecodedReport&) { ++decoded; });
    uint8_t report[65] = {0x40, 9, 0x07, 0, 0, 0x04};
    size_t written = 0;
    bool down = false;
    for (auto _ : state) {
        down = !down;
        report[5] = down ? 0x04 : 0;
        if (!NT_SUCCESS(model.writeReport(3, report, sizeof report, &written))) {
            state.SkipWithError("write failed");
            break;
        }
    }
    if (decoded != int64_t(state.iterations()))
        state.SkipWithError("a report was not decoded");
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_sendKeysToDecodedReport);
BENCHMARK(BM_baselineClassModelWrite);

} // namespace

BENCHMARK_MAIN();
