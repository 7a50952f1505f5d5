// One copy per user and display: the name is an abstract Unix socket, the first copy listens on
// it once its window exists, and later copies hand it their request over it.
#include "platform/os/single_instance.h"

#include "platform/os/files.h"
#include "platform/os/hand_over.h"
#include "platform/os/window_tree.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Address {
    sockaddr_un addr{};
    socklen_t length = 0;
};

// An X display as "[host]:number[.screen]". Two copies on one display must find each other however
// each was told it, and the screen belongs to the display: the name keeps the host ("unix" and none
// both mean this machine's own socket) and the number without its leading zeros. A display of
// another form is named as it is spelled.
std::string XDisplayName(std::string_view display) {
    const size_t colon = display.rfind(':');
    if (colon == std::string_view::npos) return std::string(display);
    std::string_view host = display.substr(0, colon);
    const std::string_view screen = display.substr(colon + 1);
    const std::string_view number = screen.substr(0, screen.find('.'));
    if (number.empty() || number.size() > 9 ||
        number.find_first_not_of("0123456789") != std::string_view::npos)
        return std::string(display);
    if (host == "unix") host = {};
    return std::string(host) + ':' + std::to_string(std::stoul(std::string(number)));
}

// A Wayland display is a socket in the runtime folder unless its name is a path.
std::string WaylandDisplayName(const char* display) {
    const char* folder = std::getenv("XDG_RUNTIME_DIR");
    if (display[0] == '/' || !folder || !*folder) return display;
    return std::string(folder) + '/' + display;
}

// The display this process shows on: two copies on different displays (two sessions of one user)
// must not hand requests to each other, as a window on one display cannot be raised on the other.
std::string DisplayName() {
    if (const char* x = std::getenv("DISPLAY"); x && *x) return XDisplayName(x);
    if (const char* wayland = std::getenv("WAYLAND_DISPLAY"); wayland && *wayland)
        return WaylandDisplayName(wayland);
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

// --- The first copy -----------------------------------------------------------------------------

// How long the listener waits for the message loop to take a request before it takes it back
// unanswered: well inside a second copy's kHandOverWaitMs, so a request it gave up on is never
// obeyed behind its back.
constexpr int kObeyTimeoutMs = 3000;
// Connections read at once. One more drops the oldest, which is the likeliest to be idle: a real
// start sends its request the moment it connects.
constexpr size_t kMaxClients = 32;

// The one request between the listener and the message loop (the listener hands over one at a
// time). It is answered only once the loop has obeyed it: a request acknowledged on being queued
// would be lost with a loop that ends before it gets there, and the second copy that sent it would
// end believing it was served.
struct PendingRequest {
    std::mutex lock;
    HandOverRequest request;
    bool waiting = false;  // queued for the loop, not taken yet
    bool answered = false; // the loop took it and said whether it obeyed
    bool obeyed = false;
    HandOverAnswer answer; // what the window answered, once obeyed
    int client = -1;       // the connection it came on, which the listener keeps open meanwhile
    UniqueFd signal;       // an eventfd the loop signals once it has answered
};
PendingRequest gPending;

// Defined after the request, so that at exit the listener is stopped before the request goes.
struct Instance {
    UniqueFd socket; // bound to the name while this process holds it
    UniqueFd stop;   // an eventfd that tells the listener to end
    std::thread listener;

    void StopListening() {
        if (!listener.joinable()) return;
        Signal(stop.get());
        listener.join();
    }
    ~Instance() { StopListening(); }
};

Instance gInstance;
WindowHandle gListeningWindow = nullptr; // the message loop's thread alone touches it

// The window does the request as a user would have done it by hand: it comes back and to the
// front, and its procedure hears the rest.
HandOverAnswer Obey(OsWindow* window, HandOverRequest* request) {
    if (IsIconic(window)) RestoreWindow(window);
    SetForegroundWindow(window);
    HandOverAnswer answer;
    Message copy;
    copy.id = WM_COPYDATA;
    copy.wParam = request->kind;
    copy.text = &request->text;
    copy.reply = &answer.line;
    answer.result = static_cast<int32_t>(Send(window, copy));
    return answer;
}

// Whether the copy that sent a request still waits for the answer. One that has given up (it told
// its user that nobody answers) has closed its end, and its request, read only now from a
// connection that waited while this copy was stopped, say, is not obeyed behind its back.
bool AskerWaits(int client) {
    pollfd p{client, 0, 0};
    return poll(&p, 1, 0) == 0 || !(p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

// On the message loop's thread: one request, unless the window is closing, when a file dropped
// on it would be lost with it. An end is answered before the window closes, as the closing stops
// the listener that sends the answer.
void ObeyRequest(void*) {
    HandOverRequest request;
    int client = -1;
    {
        std::lock_guard<std::mutex> lock(gPending.lock);
        if (!gPending.waiting) return; // taken back, or obeyed at an earlier posting
        gPending.waiting = false;
        request = std::move(gPending.request);
        client = gPending.client;
    }
    OsWindow* window = Live(gListeningWindow);
    const bool obeyed = window && !IsClosing(window) && AskerWaits(client);
    const bool quit = (request.kind & kHandOverRequestMask) == kHandOverQuit;
    HandOverAnswer answer;
    if (obeyed && !quit) answer = Obey(window, &request);
    {
        std::lock_guard<std::mutex> lock(gPending.lock);
        gPending.answered = true;
        gPending.obeyed = obeyed;
        gPending.answer = std::move(answer);
    }
    Signal(gPending.signal.get());
    if (obeyed && quit) {
        Message close;
        close.id = WM_CLOSE;
        Send(window, close);
    }
}

// Has the message loop obey the request and waits for its word. False when the loop cannot be
// reached, does not take the request in time, finds its window closing, or this copy stops
// listening meanwhile: then the request is taken back, so it is either obeyed and answered or
// neither.
bool ObeyedByLoop(HandOverRequest request, int client, int stopFd, HandOverAnswer* answer) {
    {
        std::lock_guard<std::mutex> lock(gPending.lock);
        gPending.request = std::move(request);
        gPending.client = client;
        gPending.waiting = true;
        gPending.answered = false;
        Drain(gPending.signal.get());
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
        pollfd fds[2] = {{gPending.signal.get(), POLLIN, 0}, {stopFd, POLLIN, 0}};
        const int ready = poll(fds, 2, taken ? -1 : MillisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR) continue;
        const bool stopped = ready < 0 || fds[1].revents != 0;
        std::lock_guard<std::mutex> lock(gPending.lock);
        if (gPending.answered) {
            *answer = std::move(gPending.answer);
            return gPending.obeyed;
        }
        if (stopped || (ready == 0 && gPending.waiting)) {
            gPending.waiting = false;
            return false;
        }
        taken = !gPending.waiting;
    }
}

// A connection of a later copy, read as its bytes come, until its own deadline.
struct Client {
    UniqueFd fd;
    Clock::time_point deadline;
    HandOverReader reader;
};

// Reads what the client sent; once its request is whole, has it obeyed and answers.
void Serve(Client* client, int stopFd) {
    if (client->reader.ReadFrom(client->fd.get()) != HandOverReader::State::Whole) return;
    HandOverAnswer answer;
    if (!ObeyedByLoop(client->reader.Request(), client->fd.get(), stopFd, &answer)) return;
    const std::string bytes = EncodeHandOverAnswer(answer.result, answer.line);
    SendAll(client->fd.get(), bytes.data(), bytes.size(),
            Clock::now() + std::chrono::milliseconds(kHandOverReadTimeoutMs));
}

// Takes every connection waiting. Another user's is closed at once, unread.
void AcceptClients(int listenFd, int stopFd, std::vector<Client>* clients) {
    for (;;) {
        UniqueFd fd(accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!fd) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            // Out of descriptors, say: wait a little rather than spin on the same failure.
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                pollfd stop{stopFd, POLLIN, 0};
                poll(&stop, 1, 10);
            }
            return;
        }
        if (!PeerIsThisUser(fd.get())) continue;
        if (clients->size() == kMaxClients) clients->erase(clients->begin());
        const auto deadline = Clock::now() + std::chrono::milliseconds(kHandOverReadTimeoutMs);
        clients->push_back({std::move(fd), deadline, HandOverReader{}});
    }
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

// One poll over the name, the stop and every connection, so that connections that idle, or
// trickle their bytes, hold no other up beyond their own deadline.
void ListenLoop(int listenFd, int stopFd) {
    std::vector<Client> clients;
    std::vector<pollfd> fds;
    clients.reserve(kMaxClients);
    fds.reserve(kMaxClients + 2);
    for (;;) {
        fds.assign({{listenFd, POLLIN, 0}, {stopFd, POLLIN, 0}});
        Clock::time_point soonest = Clock::time_point::max();
        for (const Client& client : clients) {
            fds.push_back({client.fd.get(), POLLIN, 0});
            soonest = std::min(soonest, client.deadline);
        }
        const int timeout = clients.empty() ? -1 : MillisecondsLeft(soonest);
        if (poll(fds.data(), fds.size(), timeout) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
        for (size_t i = 0; i < clients.size(); ++i)
            if (fds[i + 2].revents) Serve(&clients[i], stopFd);
        const Clock::time_point now = Clock::now();
        std::erase_if(clients, [now](const Client& client) {
            return client.reader.state() != HandOverReader::State::Reading ||
                   now >= client.deadline;
        });
        if (fds[0].revents & POLLIN) AcceptClients(listenFd, stopFd, &clients);
    }
}

// --- A later copy -------------------------------------------------------------------------------

// The write end of the pipe a waiting copy's signals go to; -1 while it does not wait.
volatile sig_atomic_t gSignalPipe = -1;

void SignalCame(int) {
    const int saved = errno;
    const char byte = 1;
    if (gSignalPipe >= 0) (void)!write(gSignalPipe, &byte, 1);
    errno = saved;
}

// While a later copy waits for the running one, SIGTERM, SIGINT and SIGHUP end the wait instead of
// the process, so that it ends as the program does on them, with 0. Signals this process ignores
// stay ignored.
class SignalWatch {
  public:
    SignalWatch() {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
        read_.Reset(ends[0]);
        write_.Reset(ends[1]);
        gSignalPipe = write_.get();
        struct sigaction action {};
        action.sa_handler = SignalCame;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < std::size(kSignals); ++i) {
            sigaction(kSignals[i], nullptr, &previous_[i]);
            if (previous_[i].sa_handler != SIG_IGN) sigaction(kSignals[i], &action, nullptr);
        }
    }
    ~SignalWatch() {
        if (!read_) return;
        for (size_t i = 0; i < std::size(kSignals); ++i)
            sigaction(kSignals[i], &previous_[i], nullptr);
        gSignalPipe = -1;
    }
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    int fd() const { return read_.get(); }
    // Waits up to ms milliseconds; true as soon as a signal has come.
    bool Wait(int ms) const {
        pollfd p{read_.get(), POLLIN, 0};
        return poll(&p, 1, ms) == 1;
    }

  private:
    static constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
    UniqueFd read_;
    UniqueFd write_;
    struct sigaction previous_[std::size(kSignals)]{};
};

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

enum class Try {
    Taken,       // the first copy answered
    NotListened, // nobody listens on the name (yet, or any more)
    Refused,     // the connection ended without an answer, or with nonsense
    NoAnswer,    // nothing came back before the deadline, or the first copy accepts nobody
    Stranger,    // the name is held by another user's process
    Interrupted, // a signal came
};

// Reads the first copy's answer to the end.
Try ReadAnswer(int fd, Clock::time_point deadline, int signalFd, HandOverAnswer* answer) {
    std::string bytes;
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {signalFd, POLLIN, 0}};
        const int ready = poll(fds, 2, MillisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready > 0 && fds[1].revents) return Try::Interrupted;
        if (ready <= 0) {
            // An answer that began with the acknowledgement was obeyed, whatever else it lacks.
            if (bytes.empty()) return Try::NoAnswer;
            return bytes[0] == static_cast<char>(kHandOverAck) ? Try::Taken : Try::Refused;
        }
        char chunk[1024];
        const ssize_t n = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (n <= 0) return DecodeHandOverAnswer(bytes, answer) ? Try::Taken : Try::Refused;
        bytes.append(chunk, static_cast<size_t>(n));
        if (bytes.size() > kHandOverAnswerHeaderSize + kHandOverMaxLine) return Try::Refused;
    }
}

Try TryHandOver(const Address& address, const std::string& request, Clock::time_point deadline,
                int signalFd, HandOverAnswer* answer) {
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) return Try::NotListened;
    int connected = 0;
    do {
        connected =
            connect(fd.get(), reinterpret_cast<const sockaddr*>(&address.addr), address.length);
    } while (connected != 0 && errno == EINTR);
    // A full backlog: the first copy accepts nobody (it is stopped, say).
    if (connected != 0) return errno == EAGAIN ? Try::NoAnswer : Try::NotListened;
    if (!PeerIsThisUser(fd.get())) return Try::Stranger;
    if (!SendAll(fd.get(), request.data(), request.size(), deadline))
        return Clock::now() >= deadline ? Try::NoAnswer : Try::Refused;
    shutdown(fd.get(), SHUT_WR);
    return ReadAnswer(fd.get(), deadline, signalFd, answer);
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
    // Non-blocking, so that the listener's accepts never wait for a connection that went.
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) return true; // as a mutex that cannot be made: run as the first copy
    const Address address = InstanceAddress(name);
    if (bind(fd.get(), reinterpret_cast<const sockaddr*>(&address.addr), address.length) != 0)
        return errno != EADDRINUSE;
    gInstance.socket = std::move(fd);
    return true;
}

HandOver HandToRunningCopy(const char* name, uint16_t request, const char* text,
                           HandOverAnswer* answer) {
    const Address address = InstanceAddress(name);
    std::string given = text ? text : "";
    if ((request & kHandOverRequestMask) == kHandOverPlay)
        given = AbsolutePath(text);
    else if (given.size() > kHandOverMaxPath)
        given.clear();
    const std::string bytes = EncodeHandOver(request, given);
    HandOverAnswer ignored;
    const SignalWatch signals;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kHandOverWaitMs);
    // Refused once is refused: the try the deadline cuts short proves no silence.
    bool refused = false;
    int pauseMs = 1;
    for (;;) {
        switch (TryHandOver(address, bytes, deadline, signals.fd(), answer ? answer : &ignored)) {
        case Try::Taken:
            return HandOver::Obeyed;
        case Try::Stranger:
            return HandOver::StartHere;
        case Try::Interrupted:
            return HandOver::Interrupted;
        case Try::NotListened:
            // Either the first copy has not reached its window yet, or it has ended: then the
            // name is free and this copy takes its place.
            if (ClaimSingleInstance(name)) return HandOver::StartHere;
            pauseMs = 1;
            break;
        case Try::Refused:
            // A window that is closing refuses until its copy gives the name up, a moment later;
            // something that is not Vormel refuses for ever, and is not hammered meanwhile.
            refused = true;
            pauseMs = std::min(pauseMs * 2, 64);
            break;
        case Try::NoAnswer:
            break;
        }
        if (Clock::now() >= deadline) return refused ? HandOver::Refused : HandOver::NoAnswer;
        if (signals.Wait(std::min(pauseMs, MillisecondsLeft(deadline))))
            return HandOver::Interrupted;
    }
}

bool ListenForOtherCopies(WindowHandle mainWindow) {
    if (!gInstance.socket || gInstance.listener.joinable() || !IsWindow(mainWindow)) return false;
    if (listen(gInstance.socket.get(), 16) != 0) return false;
    UniqueFd stop(eventfd(0, EFD_CLOEXEC));
    UniqueFd answered(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!stop || !answered) return false;
    gPending.signal = std::move(answered);
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
