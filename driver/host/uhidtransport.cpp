#include "uhidtransport.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace uhid {

struct Transport::State {
    int fd = -1;
    int wake = -1;
    Handlers handlers;
    std::thread reader;
    std::mutex mutex;
    std::condition_variable changed;
    bool started = false;

    bool write(const uhid_event& event) {
        const ssize_t n = ::write(fd, &event, sizeof event);
        return n == ssize_t(sizeof event);
    }

    void answerGet(const uhid_get_report_req& request) {
        uhid_event reply{};
        reply.type = UHID_GET_REPORT_REPLY;
        reply.u.get_report_reply.id = request.id;
        std::vector<uint8_t> data;
        const int err =
            handlers.getReport
                ? handlers.getReport(request.rnum, request.rtype == UHID_FEATURE_REPORT, &data)
                : EIO;
        reply.u.get_report_reply.err = uint16_t(err);
        if (!err) {
            const size_t n = std::min(data.size(), size_t(UHID_DATA_MAX));
            std::memcpy(reply.u.get_report_reply.data, data.data(), n);
            reply.u.get_report_reply.size = uint16_t(n);
        }
        write(reply);
    }

    void answerSet(const uhid_set_report_req& request) {
        uhid_event reply{};
        reply.type = UHID_SET_REPORT_REPLY;
        reply.u.set_report_reply.id = request.id;
        const size_t size = std::min(size_t(request.size), size_t(UHID_DATA_MAX));
        reply.u.set_report_reply.err =
            uint16_t(handlers.setReport
                         ? handlers.setReport(request.rnum, request.rtype == UHID_FEATURE_REPORT,
                                              request.data, size)
                         : EIO);
        write(reply);
    }

    void read() {
        for (;;) {
            pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (fds[1].revents || (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)))
                return;
            uhid_event event{};
            if (::read(fd, &event, sizeof event) <= 0)
                continue;
            switch (event.type) {
            case UHID_START: {
                std::lock_guard<std::mutex> lock(mutex);
                started = true;
                changed.notify_all();
                break;
            }
            case UHID_OUTPUT:
                if (handlers.output)
                    handlers.output(event.u.output.data,
                                    std::min(size_t(event.u.output.size), size_t(UHID_DATA_MAX)));
                break;
            case UHID_GET_REPORT:
                answerGet(event.u.get_report);
                break;
            case UHID_SET_REPORT:
                answerSet(event.u.set_report);
                break;
            default: // open, close, stop: nothing to do
                break;
            }
        }
    }
};

Transport::Transport(std::unique_ptr<State> state) : d(std::move(state)) {}

std::unique_ptr<Transport> Transport::create(const DeviceInfo& info, Handlers handlers,
                                             std::string* error, int* errnoValue, int startMs) {
    auto fail = [&](const std::string& why, int err) -> std::unique_ptr<Transport> {
        if (error)
            *error = why + (err ? std::string(": ") + std::strerror(err) : std::string());
        if (errnoValue)
            *errnoValue = err;
        return nullptr;
    };
    if (info.reportDescriptor.empty() || info.reportDescriptor.size() > HID_MAX_DESCRIPTOR_SIZE)
        return fail("the report descriptor is empty or too long", EINVAL);
    auto state = std::make_unique<State>();
    state->handlers = std::move(handlers);
    state->fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (state->fd < 0)
        return fail("cannot open /dev/uhid", errno);
    state->wake = ::eventfd(0, EFD_CLOEXEC);
    if (state->wake < 0) {
        const int err = errno;
        ::close(state->fd);
        return fail("no eventfd", err);
    }
    uhid_event create{};
    create.type = UHID_CREATE2;
    auto copy = [](uint8_t* to, size_t room, const std::string& text) {
        std::strncpy(reinterpret_cast<char*>(to), text.c_str(), room - 1);
    };
    copy(create.u.create2.name, sizeof create.u.create2.name, info.name);
    copy(create.u.create2.phys, sizeof create.u.create2.phys, info.phys);
    copy(create.u.create2.uniq, sizeof create.u.create2.uniq, info.uniq);
    create.u.create2.rd_size = uint16_t(info.reportDescriptor.size());
    create.u.create2.bus = info.bus;
    create.u.create2.vendor = info.vendor;
    create.u.create2.product = info.product;
    create.u.create2.version = info.version;
    std::memcpy(create.u.create2.rd_data, info.reportDescriptor.data(),
                info.reportDescriptor.size());
    if (!state->write(create)) {
        const int err = errno;
        ::close(state->wake);
        ::close(state->fd);
        return fail("the kernel refused the device", err);
    }
    State* s = state.get();
    s->reader = std::thread([s] { s->read(); });
    std::unique_ptr<Transport> transport(new Transport(std::move(state)));
    std::unique_lock<std::mutex> lock(s->mutex);
    if (!s->changed.wait_for(lock, std::chrono::milliseconds(startMs),
                             [s] { return s->started; })) {
        lock.unlock();
        transport.reset();
        return fail("the kernel did not start the device", ETIMEDOUT);
    }
    return transport;
}

Transport::~Transport() {
    const uint64_t one = 1;
    (void)!::write(d->wake, &one, sizeof one);
    if (d->reader.joinable())
        d->reader.join();
    uhid_event destroy{};
    destroy.type = UHID_DESTROY;
    d->write(destroy);
    ::close(d->wake);
    ::close(d->fd);
}

bool Transport::sendInput(const uint8_t* data, size_t size) {
    if (!data || size == 0 || size > UHID_DATA_MAX)
        return false;
    uhid_event input{};
    input.type = UHID_INPUT2;
    input.u.input2.size = uint16_t(size);
    std::memcpy(input.u.input2.data, data, size);
    return d->write(input);
}

} // namespace uhid
