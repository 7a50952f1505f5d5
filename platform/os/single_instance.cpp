// One copy per user and display: the name is an abstract Unix socket, the first copy listens on
// it once its window exists, and later copies hand it their request over it.
#include "platform/os/single_instance.h"

#include "platform/os/files.h"
#include "platform/os/hand_over.h"
#include "platform/os/window_tree.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// How long a second copy waits for the first to answer one request: far longer than the first
// copy spends on a client, so only a copy that hangs or has gone makes it run out.
constexpr int kAckTimeoutMs = 5000;
// A first copy that listens but keeps refusing (it cannot reach its own message loop) is given up
// after this many requests, so that the second copy does not wait unseen for ever.
constexpr int kMaxRefusedHandOvers = 20;

struct Address {
    sockaddr_un addr{};
    socklen_t length = 0;
};

// The display this process shows on: two copies on different displays (two sessions of one user)
// must not hand requests to each other, as a window on one display cannot be raised on the other.
// ":0" and ":0.0" name the same display.
std::string DisplayName() {
    if (const char* x = std::getenv("DISPLAY"); x && *x) {
        std::string name = x;
        const size_t colon = name.rfind(':');
        const size_t dot = name.rfind('.');
        if (colon != std::string::npos && dot != std::string::npos && dot > colon) name.resize(dot);
        return name;
    }
    if (const char* wayland = std::getenv("WAYLAND_DISPLAY")) return wayland;
    return std::string();
}

Address InstanceAddress(const char* name) {
    const std::string text = SingleInstanceAddress(name);
    Address a;
    a.addr.sun_family = AF_UNIX;
    const size_t length = std::min(text.size(), sizeof a.addr.sun_path);
    std::memcpy(a.addr.sun_path, text.data(), length);
    a.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
    return a;
}

bool PeerIsThisUser(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && size == sizeof peer &&
           peer.uid == geteuid();
}

// --- The first copy -----------------------------------------------------------------------------

// How long the listener waits for the message loop to take a request before it takes it back
// unanswered: well inside a second copy's kAckTimeoutMs, so a request it gave up on is never
// obeyed behind its back.
constexpr int kObeyTimeoutMs = 3000;

// The one request between the listener and the message loop (the listener serves one connection
// at a time). It is answered only once the loop has obeyed it: a request acknowledged on being
// queued would be lost with a loop that ends before it gets there, and the second copy that sent
// it would end believing it was served.
struct PendingRequest {
    std::mutex lock;
    HandOverRequest request; // a play without a path asks only for the raise
    bool waiting = false;    // queued for the loop, not taken yet
    bool answered = false;   // the loop took it and said whether it obeyed
    bool obeyed = false;
    UniqueFd answer; // an eventfd the loop signals once it has answered
};
PendingRequest gPending;

// Defined after the request, so that at exit the listener is stopped before the request goes.
struct Instance {
    UniqueFd socket; // bound to the name while this process holds it
    UniqueFd stop;   // an eventfd that tells the listener to end
    std::thread listener;

    void StopListening() {
        if (!listener.joinable()) return;
        const uint64_t one = 1;
        while (write(stop.get(), &one, sizeof one) < 0 && errno == EINTR) {
        }
        listener.join();
    }
    ~Instance() { StopListening(); }
};

Instance gInstance;
WindowHandle gListeningWindow = nullptr; // the message loop's thread alone touches it

void Signal(int eventFd) {
    const uint64_t one = 1;
    while (write(eventFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void Drain(int eventFd) {
    uint64_t count = 0;
    while (read(eventFd, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

// On the message loop's thread: one request, as a user would have made it by hand, unless the
// window is closing, when a file dropped on it would be lost with it.
void ObeyRequest(void*) {
    HandOverRequest request;
    {
        std::lock_guard<std::mutex> lock(gPending.lock);
        if (!gPending.waiting) return; // taken back, or obeyed at an earlier posting
        gPending.waiting = false;
        request = std::move(gPending.request);
    }
    OsWindow* window = Live(gListeningWindow);
    const bool obeyed = window && !IsClosing(window);
    if (obeyed) {
        if (IsIconic(window)) RestoreWindow(window);
        SetForegroundWindow(window);
        if (request.kind != kHandOverPlay) {
            Message copy;
            copy.id = WM_COPYDATA;
            copy.wParam = request.kind;
            copy.text = &request.text;
            Send(window, copy);
        } else if (!request.text.empty()) {
            const std::vector<std::string> files{std::move(request.text)};
            Message drop;
            drop.id = WM_DROPFILES;
            drop.files = &files;
            Send(window, drop);
        }
    }
    {
        std::lock_guard<std::mutex> lock(gPending.lock);
        gPending.answered = true;
        gPending.obeyed = obeyed;
    }
    Signal(gPending.answer.get());
}

// Has the message loop obey the request and waits for its word. False when the loop cannot be
// reached, does not take the request in time, finds its window closing, or this copy stops
// listening meanwhile: then the request is taken back, so it is either obeyed and answered or
// neither.
bool ObeyedByLoop(HandOverRequest request, int stopFd) {
    {
        std::lock_guard<std::mutex> lock(gPending.lock);
        gPending.request = std::move(request);
        gPending.waiting = true;
        gPending.answered = false;
        Drain(gPending.answer.get());
    }
    if (!PostToLoop(ObeyRequest, nullptr)) {
        std::lock_guard<std::mutex> lock(gPending.lock);
        gPending.waiting = false;
        return false;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kObeyTimeoutMs);
    bool taken = false;
    for (;;) {
        // Once the loop has taken the request its answer follows at once: no deadline then.
        pollfd fds[2] = {{gPending.answer.get(), POLLIN, 0}, {stopFd, POLLIN, 0}};
        const int ready = poll(fds, 2, taken ? -1 : MillisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR) continue;
        const bool stopped = ready < 0 || fds[1].revents != 0;
        std::lock_guard<std::mutex> lock(gPending.lock);
        if (gPending.answered) return gPending.obeyed;
        if (stopped || (ready == 0 && gPending.waiting)) {
            gPending.waiting = false;
            return false;
        }
        taken = !gPending.waiting;
    }
}

void ServeClient(int fd, int stopFd) {
    if (!PeerIsThisUser(fd)) return;
    HandOverRequest request;
    if (!ReadHandOver(fd, stopFd, &request) || !ObeyedByLoop(std::move(request), stopFd)) return;
    SendAll(fd, &kHandOverAck, 1);
}

// Lives as long as the listening window: a copy whose window goes stops accepting requests at
// once, before its loop stops obeying them, so a later start finds nobody listening and opens a
// window of its own instead of handing its file to a window that is gone.
struct Listening final : WindowAttachment {
    static constexpr AttachmentSlot kSlot = AttachmentSlot::Instance;
    explicit Listening(WindowHandle window) : window(window) {}
    ~Listening() override {
        if (gListeningWindow == window) ReleaseSingleInstance();
    }
    WindowHandle window;
};

void ListenLoop(int listenFd, int stopFd) {
    for (;;) {
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
        if (!(fds[0].revents & POLLIN)) continue;
        UniqueFd client(accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC));
        if (!client) {
            // Out of descriptors, say: wait a little rather than spin on the same failure.
            if (errno != EINTR && errno != ECONNABORTED) poll(&fds[1], 1, 10);
            continue;
        }
        ServeClient(client.get(), stopFd);
    }
}

// --- A later copy -------------------------------------------------------------------------------

std::string AbsolutePath(const char* file) {
    if (!file || !*file) return std::string();
    std::string path;
    if (file[0] != '/') {
        char folder[PATH_MAX];
        if (!getcwd(folder, sizeof folder)) return std::string();
        path = folder;
        if (path.back() != '/') path += '/';
    }
    path += file;
    return path.size() <= kHandOverMaxPath ? path : std::string();
}

enum class HandOver {
    Taken,       // the first copy answered
    NotListened, // nobody listens on the name (yet, or any more)
    Refused,     // the connection ended without an answer
    Stranger,    // the name is held by another user's process
};

HandOver TryHandOver(const Address& address, const std::string& request) {
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) return HandOver::NotListened;
    // A first copy too busy to accept (its backlog full) makes connect wait; not for ever.
    const timeval limit{kAckTimeoutMs / 1000, 0};
    setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    int connected = 0;
    do {
        connected =
            connect(fd.get(), reinterpret_cast<const sockaddr*>(&address.addr), address.length);
    } while (connected != 0 && errno == EINTR);
    if (connected != 0) return errno == EAGAIN ? HandOver::Refused : HandOver::NotListened;
    if (!PeerIsThisUser(fd.get())) return HandOver::Stranger;
    if (!SendAll(fd.get(), request.data(), request.size())) return HandOver::Refused;
    shutdown(fd.get(), SHUT_WR);

    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kAckTimeoutMs);
    for (;;) {
        pollfd p{fd.get(), POLLIN, 0};
        const int ready = poll(&p, 1, MillisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return HandOver::Refused;
        uint8_t answer = 0;
        const ssize_t n = recv(fd.get(), &answer, 1, 0);
        if (n < 0 && errno == EINTR) continue;
        return n == 1 && answer == kHandOverAck ? HandOver::Taken : HandOver::Refused;
    }
}

void PauseOneMillisecond() {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace

// The leading zero byte puts the name in the abstract namespace, where it needs no file and
// vanishes with the last socket bound to it. A name longer than a socket address holds is cut, the
// same way in every copy.
std::string SingleInstanceAddress(const char* name) {
    std::string address(1, '\0');
    address +=
        std::string(name ? name : "") + '.' + std::to_string(geteuid()) + '.' + DisplayName();
    if (address.size() > sizeof(sockaddr_un::sun_path))
        address.resize(sizeof(sockaddr_un::sun_path));
    return address;
}

bool ClaimSingleInstance(const char* name) {
    if (gInstance.socket) return true;
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) return true; // as a mutex that cannot be made: run as the first copy
    const Address address = InstanceAddress(name);
    if (bind(fd.get(), reinterpret_cast<const sockaddr*>(&address.addr), address.length) != 0)
        return errno != EADDRINUSE;
    gInstance.socket = std::move(fd);
    return true;
}

bool HandToRunningCopy(const char* name, const char* file) {
    return HandRequestToRunningCopy(name, kHandOverPlay, file);
}

bool HandRequestToRunningCopy(const char* name, uint16_t kind, const char* text) {
    const Address address = InstanceAddress(name);
    std::string given = text ? text : "";
    if (given.size() > kHandOverMaxPath) given.clear();
    const std::string request =
        EncodeHandOver(kind, kind == kHandOverPlay ? AbsolutePath(text) : given);
    int refused = 0;
    for (;;) {
        switch (TryHandOver(address, request)) {
        case HandOver::Taken:
            return true;
        case HandOver::Stranger:
            return false;
        case HandOver::Refused:
            if (++refused >= kMaxRefusedHandOvers) return false;
            break;
        case HandOver::NotListened:
            // Either the first copy has not reached its window yet, or it has ended: then the
            // name is free and this copy takes its place.
            if (ClaimSingleInstance(name)) return false;
            break;
        }
        PauseOneMillisecond();
    }
}

bool ListenForOtherCopies(WindowHandle mainWindow) {
    if (!gInstance.socket || gInstance.listener.joinable() || !IsWindow(mainWindow)) return false;
    if (listen(gInstance.socket.get(), 16) != 0) return false;
    UniqueFd stop(eventfd(0, EFD_CLOEXEC));
    UniqueFd answer(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!stop || !answer) return false;
    gPending.answer = std::move(answer);
    gListeningWindow = mainWindow;
    try {
        gInstance.listener = std::thread(ListenLoop, gInstance.socket.get(), stop.get());
    } catch (const std::system_error&) {
        gListeningWindow = nullptr;
        return false;
    }
    gInstance.stop = std::move(stop);
    Attach(mainWindow, std::make_unique<Listening>(mainWindow));
    return true;
}

void ReleaseSingleInstance() {
    gInstance.StopListening();
    gInstance.stop.Reset();
    gInstance.socket.Reset();
    gListeningWindow = nullptr;
    std::lock_guard<std::mutex> lock(gPending.lock);
    gPending.waiting = false;
    gPending.request = {};
}
