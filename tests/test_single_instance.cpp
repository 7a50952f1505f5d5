// One copy at a time: real first and second copies (this binary started again with --copy) on the
// suite's private X server, and clients that misbehave on purpose.
#include "platform/os/single_instance.h"
#include "support/desktop.h"
#include "support/xvfb.h"

#include <gtest/gtest.h>
// After GoogleTest: Xlib's macros (None, Bool) would clash with its names.
#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes)
        out += {digits[c >> 4], digits[c & 15]};
    return out;
}

// --- The copies, run in a process of their own --------------------------------------------------

void Say(const std::string& line) {
    const std::string text = line + '\n';
    (void)!write(STDOUT_FILENO, text.data(), text.size());
}

intptr_t CopyProc(WindowHandle window, const Message& message) {
    if (message.id == WM_DROPFILES) {
        std::string line = "drop " + std::to_string(message.files->size());
        for (const std::string& file : *message.files)
            line += ' ' + Hex(file);
        Say(line);
    }
    if (message.id == WM_COPYDATA)
        Say("copydata " + std::to_string(message.wParam) + ' ' + Hex(*message.text));
    if (message.id == WM_SIZE) Say("size");
    if (message.id == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProc(window, message);
}

// --copy second NAME [FILE]: exits 0 once handed over, 3 when it became the first copy.
// --copy listen NAME [SOURCE]: the same with a request to listen.
// --copy first NAME TITLE DELAY_MS [quit]: claims, waits, then opens its window and listens (or,
// with "quit", ends before it has a window).
// --copy start NAME TITLE FILE: as the program starts: hands FILE over and exits 0, or else opens
// its own window, says it plays FILE, and listens.
int RunCopy(int argc, char** argv) {
    const std::string role = argv[2];
    const char* name = argv[3];
    if (role == "second" || role == "listen") {
        if (ClaimSingleInstance(name)) return 3;
        const char* text = argc > 4 ? argv[4] : nullptr;
        return (role == "listen" ? HandRequestToRunningCopy(name, kHandOverListen, text)
                                 : HandToRunningCopy(name, text))
                   ? 0
                   : 3;
    }
    if (role == "start") {
        if (!ClaimSingleInstance(name) && HandToRunningCopy(name, argv[5])) return 0;
    } else {
        if (!ClaimSingleInstance(name)) return 4;
        Say("claimed");
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[5])));
        if (argc > 6) return 0;
    }
    WindowHandle window = CreateMainWindow(argv[4], 320, 200, CopyProc);
    if (!window) return 5;
    if (role == "start") Say("playing " + Hex(argv[5]));
    ShowMainWindow(window);
    if (!ListenForOtherCopies(window)) return 6;
    Say("listening");
    const int code = RunMessageLoop();
    ReleaseSingleInstance();
    return code;
}

// --- The test's side ----------------------------------------------------------------------------

std::string gSelf;

// A copy started from the test, its standard output read line by line.
class Copy {
  public:
    explicit Copy(std::vector<std::string> args, const std::string& folder = "") {
        args.insert(args.begin(), {gSelf, "--copy"});
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
        if (posix_spawn(&pid_, gSelf.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        out_ = out[0];
    }
    ~Copy() {
        Kill();
        close(out_);
    }
    void Signal(int signal) const {
        if (pid_ > 0) kill(pid_, signal);
    }
    void Kill() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }
    // The exit code, or -1 when the copy did not end in time.
    int WaitForExit(std::chrono::milliseconds limit) {
        for (const auto end = Clock::now() + limit; Clock::now() < end;) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = 0;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(2ms);
        }
        return -1;
    }
    // Waits until the copy has said a line starting with prefix; returns the line, or "" in time.
    std::string WaitFor(const std::string& prefix, std::chrono::milliseconds limit = 10s) {
        for (const auto end = Clock::now() + limit;;) {
            for (size_t eol; (eol = pending_.find('\n')) != std::string::npos;) {
                std::string line = pending_.substr(0, eol);
                pending_.erase(0, eol + 1);
                if (line.rfind(prefix, 0) == 0) return line;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            pollfd p{out_, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return "";
            char buffer[8192];
            const ssize_t n = read(out_, buffer, sizeof buffer);
            if (n <= 0) return "";
            pending_.append(buffer, static_cast<size_t>(n));
        }
    }

  private:
    pid_t pid_ = 0;
    int out_ = -1;
    std::string pending_;
};

std::string DropLine(const std::string& path) {
    return "drop 1 " + Hex(path);
}

// The X server's own view: which top-level window lies above which, and a window to cover others.
class Stacking {
  public:
    Stacking() : d_(XOpenDisplay(nullptr)) {}
    ~Stacking() {
        if (d_) XCloseDisplay(d_);
    }
    // Maps a screen-sized window above everything there is.
    void Cover() {
        if (!cover_) {
            cover_ = XCreateSimpleWindow(d_, DefaultRootWindow(d_), 0, 0, 1280, 1024, 0, 0, 0);
            XMapWindow(d_, cover_);
        }
        XRaiseWindow(d_, cover_);
        XSync(d_, False);
    }
    bool IsAboveCover(const char* title) {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        XQueryTree(d_, DefaultRootWindow(d_), &root, &parent, &children, &count);
        int window = -1, cover = -1; // bottom to top
        for (unsigned i = 0; i < count; ++i) {
            char* name = nullptr;
            if (XFetchName(d_, children[i], &name) && name) {
                if (std::strcmp(name, title) == 0) window = static_cast<int>(i);
                XFree(name);
            }
            if (children[i] == cover_) cover = static_cast<int>(i);
        }
        if (children) XFree(children);
        return window > cover && cover >= 0;
    }

    // Top-level windows on show whose title ends with suffix.
    int Shown(const std::string& suffix) {
        // A window of a copy that is ending may vanish while it is asked about.
        auto* previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        XQueryTree(d_, DefaultRootWindow(d_), &root, &parent, &children, &count);
        int shown = 0;
        for (unsigned i = 0; i < count; ++i) {
            char* name = nullptr;
            XWindowAttributes attributes{};
            if (!XFetchName(d_, children[i], &name) || !name) continue;
            const std::string title = name;
            XFree(name);
            shown += title.size() >= suffix.size() &&
                     title.compare(title.size() - suffix.size(), suffix.size(), suffix) == 0 &&
                     XGetWindowAttributes(d_, children[i], &attributes) &&
                     attributes.map_state == IsViewable;
        }
        if (children) XFree(children);
        XSync(d_, False);
        XSetErrorHandler(previous);
        return shown;
    }

  private:
    Display* d_;
    Window cover_ = 0;
};

template <typename Condition> bool Eventually(Condition condition, std::chrono::seconds limit) {
    for (const auto end = Clock::now() + limit; Clock::now() < end;
         std::this_thread::sleep_for(5ms))
        if (condition()) return true;
    return condition();
}

std::string UniqueName(const char* what) {
    return std::string("vormel-test-") + what + '-' + std::to_string(getpid());
}

// The request as a second copy sends it, for clients that then spoil it.
std::string Request(const std::string& path, size_t announced, uint16_t kind = kHandOverPlay,
                    uint16_t version = kHandOverVersion) {
    std::string bytes(kHandOverMagic, 4);
    for (const uint16_t field : {version, kind})
        bytes += {static_cast<char>(field & 0xFF), static_cast<char>(field >> 8)};
    for (int shift = 0; shift < 32; shift += 8)
        bytes += static_cast<char>((announced >> shift) & 0xFF);
    return bytes + path;
}

// What a copy of the first version sent: no version, no request.
std::string FirstVersionRequest(const std::string& path) {
    std::string bytes(kHandOverMagic, 4);
    for (int shift = 0; shift < 32; shift += 8)
        bytes += static_cast<char>((path.size() >> shift) & 0xFF);
    return bytes + path;
}

std::string CopyDataLine(uint16_t kind, const std::string& text) {
    return "copydata " + std::to_string(kind) + ' ' + Hex(text);
}

// A socket connected to (or, with listening, bound and listening on) a name as
// SingleInstanceAddress gives it; -1 when that fails.
int Socket(const std::string& address, bool listening = false) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, address.data(), address.size());
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size());
    const auto* at = reinterpret_cast<sockaddr*>(&a);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listening ? bind(fd, at, size) == 0 && listen(fd, 1) == 0 : connect(fd, at, size) == 0)
        return fd;
    close(fd);
    return -1;
}

// Sends the bytes as one client: 1 when the first copy answered that it took them, 0 when it
// closed the connection unanswered, -1 when nobody listens.
int Answered(const std::string& address, const std::string& bytes) {
    const int fd = Socket(address);
    if (fd < 0) return -1;
    (void)!send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    shutdown(fd, SHUT_WR);
    pollfd p{fd, POLLIN, 0};
    char answer = 0;
    const bool yes = poll(&p, 1, 3000) == 1 && recv(fd, &answer, 1, 0) == 1 &&
                     static_cast<uint8_t>(answer) == kHandOverAck;
    close(fd);
    return yes ? 1 : 0;
}

class SingleInstance : public testing::Test {
  protected:
    // A first copy with its window shown and listening.
    void StartFirst(const char* what) {
        name_ = UniqueName(what);
        title_ = "first " + name_;
        first_ = std::make_unique<Copy>(std::vector<std::string>{"first", name_, title_, "0"});
        ASSERT_NE(first_->WaitFor("listening", 20s), "");
        ASSERT_TRUE(Eventually([&] { return desktop_.IsShown(title_.c_str()); }, 10s));
    }
    void TearDown() override { ReleaseSingleInstance(); }

    FakeDesktop desktop_;
    std::string name_;
    std::string title_;
    std::unique_ptr<Copy> first_;
};

TEST_F(SingleInstance, SecondCopyRaisesRestoresAndHandsItsFileOver) {
    StartFirst("handover");
    Stacking stacking;
    const std::string folder = std::filesystem::temp_directory_path();
    const std::string tricky = "/tmp/Some Music/\xC3\x9C"
                               "ber \xFF\n"
                               "Night.OGG";
    struct Case {
        const char* what;
        bool minimised;
        std::string file; // as given on the command line
        std::string drop; // what the first copy must hear; "" for nothing
    } cases[] = {
        {"raise only", false, "", ""},
        {"case, spaces, non-ASCII bytes", false, tricky, tricky},
        {"minimised, relative path", true, "Song 1.flac", folder + "/Song 1.flac"},
        {"longest path", false, "/" + std::string(kHandOverMaxPath - 1, 'a'),
         "/" + std::string(kHandOverMaxPath - 1, 'a')},
        {"path too long: only the raise", true, "/" + std::string(kHandOverMaxPath, 'b'), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        stacking.Cover();
        ASSERT_FALSE(stacking.IsAboveCover(title_.c_str()));
        if (c.minimised) {
            ASSERT_TRUE(desktop_.Minimise(title_.c_str()));
            ASSERT_NE(first_->WaitFor("size"), "");
            ASSERT_FALSE(desktop_.IsShown(title_.c_str()));
        }
        const auto start = Clock::now();
        std::vector<std::string> args{"second", name_};
        if (!c.file.empty()) args.push_back(c.file);
        Copy second(args, folder);
        EXPECT_EQ(second.WaitForExit(2s), 0);
        EXPECT_LT(Clock::now() - start, 2s);
        EXPECT_TRUE(Eventually([&] { return desktop_.IsShown(title_.c_str()); }, 5s));
        EXPECT_TRUE(Eventually([&] { return stacking.IsAboveCover(title_.c_str()); }, 5s));
        if (!c.drop.empty()) {
            EXPECT_EQ(first_->WaitFor("drop"), DropLine(c.drop));
        }
    }
    // Every drop was matched above: nothing arrived twice or for the requests without a file.
    EXPECT_EQ(first_->WaitFor("drop", 300ms), "");

    // A request to listen travels as it is, relative or not, and raises the window too.
    for (const char* source : {"", "alsa_output.pci-0000_00_1b.0.analog-stereo.monitor"}) {
        ASSERT_TRUE(desktop_.Minimise(title_.c_str()));
        ASSERT_NE(first_->WaitFor("size"), "");
        std::vector<std::string> args{"listen", name_};
        if (*source) args.push_back(source);
        Copy second(args, folder);
        EXPECT_EQ(second.WaitForExit(2s), 0);
        EXPECT_EQ(first_->WaitFor("copydata"), CopyDataLine(kHandOverListen, source));
        EXPECT_TRUE(Eventually([&] { return desktop_.IsShown(title_.c_str()); }, 5s));
    }
}

TEST_F(SingleInstance, MisbehavingClientsAreDroppedAndTheNextRequestServed) {
    StartFirst("hostile");
    const std::string path = "/music/song.ogg";
    struct Case {
        const char* what;
        std::string bytes;
        bool taken;
    } cases[] = {
        {"wrong magic", "XRML" + Request(path, path.size()).substr(4), false},
        {"half a header", Request(path, path.size()).substr(0, 3), false},
        {"truncated path", Request(path, path.size() + 5), false},
        {"bytes to spare", Request(path, path.size() - 3), false},
        {"NUL inside", Request(std::string("/a\0b", 4), 4), false},
        {"announced too long",
         Request(std::string(kHandOverMaxPath + 1, 'x'), kHandOverMaxPath + 1), false},
        {"a flood", Request(path, 12) + std::string(1 << 20, 'x'), false},
        {"valid", Request("/valid/one", 10), true},
        {"empty", "", false},
        {"the first version's request", FirstVersionRequest("/old/copy.ogg"), false},
        {"a later version", Request(path, path.size(), kHandOverPlay, kHandOverVersion + 1), false},
        {"an unknown request", Request(path, path.size(), 3), false},
        {"no request", Request(path, path.size(), 0), false},
        {"listen, with a NUL", Request(std::string("a\0b", 3), 3, kHandOverListen), false},
        {"valid again", Request("/valid/two", 10), true},
        {"listen to a source", Request("sink.monitor", 12, kHandOverListen), true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Answered(SingleInstanceAddress(name_.c_str()), c.bytes), c.taken ? 1 : 0)
            << c.what;
    EXPECT_EQ(first_->WaitFor("drop"), DropLine("/valid/one"));
    EXPECT_EQ(first_->WaitFor("drop"), DropLine("/valid/two"));
    EXPECT_EQ(first_->WaitFor("copydata"), CopyDataLine(kHandOverListen, "sink.monitor"));

    // Clients that connect and say nothing, or stop halfway, hold the listener only for its read
    // timeout; a real second copy behind them is still served.
    const int silent = Socket(SingleInstanceAddress(name_.c_str()));
    const int stalled = Socket(SingleInstanceAddress(name_.c_str()));
    const std::string half = Request(path, path.size()).substr(0, 10);
    (void)!send(stalled, half.data(), half.size(), MSG_NOSIGNAL);
    const auto start = Clock::now();
    EXPECT_TRUE(HandToRunningCopy(name_.c_str(), "/after/silence"));
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_EQ(first_->WaitFor("drop"), DropLine("/after/silence"));
    close(silent);
    close(stalled);
    EXPECT_EQ(first_->WaitFor("drop", 300ms), "");
}

TEST_F(SingleInstance, StartsBeforeTheFirstListensOrAfterItEnded) {
    // A second copy waits while the first has the name but no window yet, and hands over then.
    name_ = UniqueName("early");
    Copy slow({"first", name_, "slow " + name_, "700"});
    ASSERT_NE(slow.WaitFor("claimed"), "");
    const auto start = Clock::now();
    Copy second({"second", name_, "/early/song.ogg"});
    EXPECT_EQ(second.WaitForExit(10s), 0);
    EXPECT_GE(Clock::now() - start, 500ms);
    EXPECT_EQ(slow.WaitFor("drop"), DropLine("/early/song.ogg"));

    // A first copy that ends before its window appears leaves the name to the waiting copy.
    const std::string quitter = UniqueName("quitter");
    Copy first({"first", quitter, "quitter", "300", "quit"});
    ASSERT_NE(first.WaitFor("claimed"), "");
    Copy heir({"second", quitter, "/x.ogg"});
    EXPECT_EQ(heir.WaitForExit(10s), 3);

    // A first copy killed outright leaves no name behind.
    StartFirst("killed");
    first_->Kill();
    EXPECT_TRUE(ClaimSingleInstance(name_.c_str()));
    EXPECT_TRUE(ClaimSingleInstance(name_.c_str())); // holding it already
    Copy later({"second", name_});
    EXPECT_EQ(later.WaitForExit(300ms), -1); // it waits for this process to listen
    ReleaseSingleInstance();
    EXPECT_EQ(later.WaitForExit(10s), 3);
}

// A start in the last moments of a copy that is closing, by a signal or by its window's close
// button: whatever the delay, the start is never lost. The closing copy cannot serve it any more,
// so the new one opens its own window with its file and takes the name: afterwards exactly one
// window shows, and later starts are served by it.
TEST_F(SingleInstance, AStartWhileTheFirstCopyClosesOpensItsOwnWindow) {
    Stacking stacking;
    const std::string file = "/race/song.ogg";
    int round = 0;
    for (const bool bySignal : {true, false}) {
        for (const int delayMs : {0, 5, 10, 20, 35, 50}) {
            SCOPED_TRACE(std::string(bySignal ? "SIGTERM" : "close button") + ", then " +
                         std::to_string(delayMs) + " ms");
            StartFirst(("race" + std::to_string(++round)).c_str());
            if (bySignal) {
                first_->Signal(SIGTERM);
            } else {
                ASSERT_TRUE(desktop_.AskToClose(title_.c_str()));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            Copy heir({"start", name_, "heir " + name_, file});
            EXPECT_EQ(first_->WaitForExit(10s), 0);
            EXPECT_EQ(heir.WaitFor("playing", 10s), "playing " + Hex(file)) << "the start was lost";
            EXPECT_TRUE(Eventually([&] { return stacking.Shown(' ' + name_) == 1; }, 10s));
            EXPECT_TRUE(desktop_.IsShown(("heir " + name_).c_str()));
            EXPECT_TRUE(HandToRunningCopy(name_.c_str(), "/later.ogg"));
            EXPECT_EQ(heir.WaitFor("drop"), DropLine("/later.ogg"));
        }
    }
}

// Runs fn in a child process that has become the user "nobody"; returns its exit code.
template <typename Fn> int AsNobody(Fn fn) {
    const pid_t pid = fork();
    if (pid == 0) _exit(setgid(65534) == 0 && setuid(65534) == 0 ? fn() : 100);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(SingleInstance, OtherUsersAreNeitherObeyedNorTold) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as another user";
    }
    StartFirst("stranger");
    // The names are this user's: another user finds them only on purpose.
    const std::string address = SingleInstanceAddress(name_.c_str());
    const std::string valid = Request("/from/nobody", 12);
    EXPECT_EQ(AsNobody([&] { return Answered(address, valid) + 1; }), 1); // connected, unanswered
    EXPECT_TRUE(HandToRunningCopy(name_.c_str(), "/from/owner"));
    EXPECT_EQ(first_->WaitFor("drop"), DropLine("/from/owner"));

    // Another user squatting on our name gets no path from a second copy, which starts instead.
    const std::string squatted = UniqueName("squatted");
    const std::string squattedAddress = SingleInstanceAddress(squatted.c_str());
    int ready[2], done[2];
    ASSERT_TRUE(pipe(ready) == 0 && pipe(done) == 0);
    const pid_t squatter = fork();
    if (squatter == 0) {
        const int fd =
            setgid(65534) == 0 && setuid(65534) == 0 ? Socket(squattedAddress, true) : -1;
        char byte = 0;
        (void)!write(ready[1], "r", 1);
        (void)!read(done[0], &byte, 1); // until the second copy has given up
        const int client = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK);
        _exit(fd < 0 ? 100 : client >= 0 && recv(client, &byte, 1, 0) == 1 ? 1 : 0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    EXPECT_FALSE(ClaimSingleInstance(squatted.c_str()));
    EXPECT_FALSE(HandToRunningCopy(squatted.c_str(), "/secret/song.ogg"));
    (void)!write(done[1], "d", 1);
    int status = 0;
    waitpid(squatter, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "100: could not squat, 1: the squatter read our request";
    for (int fd : {ready[0], ready[1], done[0], done[1]})
        close(fd);
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "--copy") == 0) return RunCopy(argc, argv);
    gSelf = std::filesystem::read_symlink("/proc/self/exe");
    testing::InitGoogleTest(&argc, argv);
    if (!PrepareGlTestEnvironment()) return 1;
    return RUN_ALL_TESTS();
}
