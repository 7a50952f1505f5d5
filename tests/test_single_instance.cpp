// One copy at a time: real first and second copies (this binary started again with --copy) on the
// suite's private X server, and clients that misbehave on purpose.
#include "platform/os/single_instance.h"
#include "support/desktop.h"
#include "support/xvfb.h"

#include <gtest/gtest.h>
// After GoogleTest: Xlib's macros (None, Bool) would clash with its names.
#include <X11/Xlib.h>

#include <atomic>
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

// A file with this in its name does not play, and the window says why.
constexpr const char* kUnplayable = "unplayable";

intptr_t CopyProc(WindowHandle window, const Message& message) {
    if (message.id == WM_COPYDATA) {
        Say("copydata " + std::to_string(message.wParam) + ' ' + Hex(*message.text));
        if (message.text->find(kUnplayable) == std::string::npos) return 1;
        *message.reply = "cannot play " + *message.text + ": it is made up";
        return 0;
    }
    if (message.id == WM_SIZE) Say("size");
    if (message.id == WM_CLOSE) Say("close");
    if (message.id == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProc(window, message);
}

// A later copy's exit code for each outcome of its hand-over.
int ExitCode(HandOver outcome) {
    switch (outcome) {
    case HandOver::Obeyed:
        return 0;
    case HandOver::StartHere:
        return 3;
    case HandOver::NoAnswer:
        return 4;
    case HandOver::Refused:
        return 5;
    case HandOver::Interrupted:
        return 6;
    }
    return 7;
}

// --copy hand REQUEST NAME [TEXT]: hands the request over; once obeyed, says the answer ("answer
// RESULT HEX") and exits 0, else with ExitCode's code.
// --copy first NAME TITLE DELAY_MS [quit|stall|linger]: claims, waits, then opens its window and
// listens; "quit" ends before it has a window, "stall" runs its loop only a while after it
// listens, "linger" stays a while after its window is gone before it gives the name up.
// --copy start NAME TITLE FILE: as the program starts: hands FILE over and exits 0, or else opens
// its own window, says it plays FILE, and listens.
int RunCopy(int argc, char** argv) {
    const std::string role = argv[2];
    if (role == "hand") {
        const char* name = argv[4];
        if (ClaimSingleInstance(name)) return 3;
        Say("handing");
        HandOverAnswer answer;
        const HandOver outcome = HandToRunningCopy(name, static_cast<uint16_t>(std::atoi(argv[3])),
                                                   argc > 5 ? argv[5] : nullptr, &answer);
        if (outcome == HandOver::Obeyed)
            Say("answer " + std::to_string(answer.result) + ' ' + Hex(answer.line));
        return ExitCode(outcome);
    }
    const char* name = argv[3];
    const std::string how = argc > 6 ? argv[6] : "";
    if (role == "start") {
        if (!ClaimSingleInstance(name) &&
            HandToRunningCopy(name, kHandOverPlay, argv[5]) != HandOver::StartHere)
            return 0;
    } else {
        if (!ClaimSingleInstance(name)) return 4;
        Say("claimed");
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[5])));
        if (how == "quit") return 0;
    }
    WindowHandle window = CreateMainWindow(argv[4], 320, 200, CopyProc);
    if (!window) return 5;
    if (role == "start") Say("playing " + Hex(argv[5]));
    ShowMainWindow(window);
    if (!ListenForOtherCopies(window)) return 6;
    Say("listening");
    if (how == "stall") std::this_thread::sleep_for(1500ms);
    const int code = RunMessageLoop();
    if (how == "linger") {
        Say("ended");
        std::this_thread::sleep_for(3s);
    }
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

// A socket connected to (or, with listening, bound and listening on; with bound only, bound) a
// name as SingleInstanceAddress gives it; -1 when that fails.
int Socket(const std::string& address, bool listening = false, bool bound = false) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, address.data(), address.size());
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size());
    const auto* at = reinterpret_cast<sockaddr*>(&a);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (bound       ? bind(fd, at, size) == 0
        : listening ? bind(fd, at, size) == 0 && listen(fd, 1) == 0
                    : connect(fd, at, size) == 0)
        return fd;
    close(fd);
    return -1;
}

// Everything the peer sends until it closes, or until the time is up.
std::string ReadToEnd(int fd, std::chrono::milliseconds limit) {
    std::string bytes;
    for (const auto end = Clock::now() + limit;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        pollfd p{fd, POLLIN, 0};
        char chunk[4096];
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return bytes;
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return bytes;
        bytes.append(chunk, static_cast<size_t>(n));
    }
}

// Sends the bytes as one client: 1 when the first copy answered that it took them, 0 when it
// closed the connection unanswered, -1 when nobody listens. *answer: all it answered.
int Answered(const std::string& address, const std::string& bytes, std::string* answer = nullptr) {
    const int fd = Socket(address);
    if (fd < 0) return -1;
    (void)!send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    shutdown(fd, SHUT_WR);
    const std::string reply = ReadToEnd(fd, 5s);
    close(fd);
    if (answer) *answer = reply;
    return !reply.empty() && static_cast<uint8_t>(reply[0]) == kHandOverAck ? 1 : 0;
}

// A later copy handing a request over.
std::unique_ptr<Copy> Hand(uint16_t request, const std::string& name, const std::string& text = "",
                           const std::string& folder = "") {
    std::vector<std::string> args{"hand", std::to_string(request), name};
    if (!text.empty()) args.push_back(text);
    return std::make_unique<Copy>(args, folder);
}

std::string AnswerLine(int32_t result, const std::string& line = "") {
    return "answer " + std::to_string(result) + ' ' + Hex(line);
}

class SingleInstance : public testing::Test {
  protected:
    // A first copy with its window shown and listening; how: as RunCopy's "first" takes it.
    void StartFirst(const char* what, const char* how = nullptr) {
        name_ = UniqueName(what);
        title_ = "first " + name_;
        std::vector<std::string> args{"first", name_, title_, "0"};
        if (how) args.push_back(how);
        first_ = std::make_unique<Copy>(args);
        ASSERT_NE(first_->WaitFor("listening", 20s), "");
        ASSERT_TRUE(Eventually([&] { return desktop_.IsShown(title_.c_str()); }, 10s));
    }
    void TearDown() override { ReleaseSingleInstance(); }

    FakeDesktop desktop_;
    std::string name_;
    std::string title_;
    std::unique_ptr<Copy> first_;
};

// Every request as a later start makes it: the window comes back and to the front, and hears the
// request with its text; the start hears the window's answer.
TEST_F(SingleInstance, SecondCopyRaisesRestoresAndHandsItsRequestOver) {
    StartFirst("handover");
    Stacking stacking;
    const std::string folder = std::filesystem::temp_directory_path();
    const std::string tricky = "/tmp/Some Music/\xC3\x9C"
                               "ber \xFF\n"
                               "Night.OGG";
    const std::string unplayable = std::string("/music/") + kUnplayable + ".ogg";
    const std::string source = "alsa_output.pci-0000_00_1b.0.analog-stereo.monitor";
    struct Case {
        const char* what;
        bool minimised;
        uint16_t request;
        std::string given; // as given on the command line
        std::string heard; // what the first copy's window hears
        std::string answer;
    } cases[] = {
        {"raise only", false, kHandOverPlay, "", "", AnswerLine(1)},
        {"case, spaces, non-ASCII bytes", false, kHandOverPlay, tricky, tricky, AnswerLine(1)},
        {"minimised, relative path", true, kHandOverPlay, "Song 1.flac", folder + "/Song 1.flac",
         AnswerLine(1)},
        {"longest path", false, kHandOverPlay, "/" + std::string(kHandOverMaxPath - 1, 'a'),
         "/" + std::string(kHandOverMaxPath - 1, 'a'), AnswerLine(1)},
        {"path too long: only the raise", true, kHandOverPlay,
         "/" + std::string(kHandOverMaxPath, 'b'), "", AnswerLine(1)},
        {"a file that does not play: the window says why", false, kHandOverPlay, unplayable,
         unplayable, AnswerLine(0, "cannot play " + unplayable + ": it is made up")},
        {"full screen, minimised, with a file", true, kHandOverPlay | kHandOverFullScreen,
         "/full/screen.ogg", "/full/screen.ogg", AnswerLine(1)},
        {"listen to the default output, minimised", true, kHandOverListen, "", "", AnswerLine(1)},
        {"listen to a source: its name travels as it is", false, kHandOverListen, source, source,
         AnswerLine(1)},
        {"listen, full screen", false, kHandOverListen | kHandOverFullScreen, "", "",
         AnswerLine(1)},
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
        auto second = Hand(c.request, name_, c.given, folder);
        EXPECT_EQ(second->WaitFor("answer"), c.answer);
        EXPECT_EQ(second->WaitForExit(10s), 0);
        EXPECT_EQ(first_->WaitFor("copydata"), CopyDataLine(c.request, c.heard));
        EXPECT_TRUE(Eventually([&] { return desktop_.IsShown(title_.c_str()); }, 5s));
        EXPECT_TRUE(Eventually([&] { return stacking.IsAboveCover(title_.c_str()); }, 5s));
    }
    // Every request was matched above: nothing arrived twice.
    EXPECT_EQ(first_->WaitFor("copydata", 300ms), "");

    // An end is answered, then the window hears its close as from the close button: not a
    // request of its own (the first thing it says is the close).
    auto quit = Hand(kHandOverQuit, name_);
    EXPECT_EQ(quit->WaitFor("answer"), AnswerLine(1));
    EXPECT_EQ(quit->WaitForExit(10s), 0);
    EXPECT_EQ(first_->WaitFor("c"), "close");
    EXPECT_EQ(first_->WaitForExit(10s), 0);
}

TEST_F(SingleInstance, MisbehavingClientsAreDroppedAndTheNextRequestServed) {
    StartFirst("hostile");
    const std::string address = SingleInstanceAddress(name_.c_str());
    const std::string path = "/music/song.ogg";
    const std::string valid = Request(path, path.size());
    struct Case {
        std::string what;
        std::string bytes;
        bool taken;
    };
    std::vector<Case> cases = {
        {"half a header", valid.substr(0, 3), false},
        {"truncated path", Request(path, path.size() + 5), false},
        {"bytes to spare", Request(path, path.size() - 3), false},
        {"NUL inside", Request(std::string("/a\0b", 4), 4), false},
        {"announced too long",
         Request(std::string(kHandOverMaxPath + 1, 'x'), kHandOverMaxPath + 1), false},
        {"a flood", Request(path, 12) + std::string(1 << 20, 'x'), false},
        {"valid", Request("/valid/one", 10), true},
        {"empty", "", false},
        {"the first version's request", FirstVersionRequest("/old/copy.ogg"), false},
        {"an older version", Request(path, path.size(), kHandOverPlay, kHandOverVersion - 1),
         false},
        {"a later version", Request(path, path.size(), kHandOverPlay, kHandOverVersion + 1), false},
        {"an unknown request", Request(path, path.size(), kHandOverQuit + 1), false},
        {"no request", Request(path, path.size(), 0), false},
        {"full screen alone", Request(path, path.size(), kHandOverFullScreen), false},
        {"an unknown option", Request(path, path.size(), kHandOverPlay | 0x0200), false},
        {"an end with a text", Request(path, path.size(), kHandOverQuit), false},
        {"an end in full screen", Request("", 0, kHandOverQuit | kHandOverFullScreen), false},
        {"listen, with a NUL", Request(std::string("a\0b", 3), 3, kHandOverListen), false},
        {"valid again", Request("/valid/two", 10), true},
        {"listen to a source", Request("sink.monitor", 12, kHandOverListen), true},
        {"full screen with a file", Request("/valid/3", 8, kHandOverPlay | kHandOverFullScreen),
         true},
    };
    // Another program's magic differs in any one of its bytes.
    for (size_t i = 0; i < sizeof kHandOverMagic; ++i) {
        Case spoiled{"magic byte " + std::to_string(i) + " wrong", valid, false};
        spoiled.bytes[i] ^= 0x20;
        cases.push_back(spoiled);
    }
    for (const Case& c : cases) {
        std::string answer;
        EXPECT_EQ(Answered(address, c.bytes, &answer), c.taken ? 1 : 0) << c.what;
        // Taken: acknowledged, done (1), nothing to say.
        if (c.taken) {
            EXPECT_EQ(Hex(answer), "06" + Hex(std::string("\1\0\0\0\0\0\0\0", 8))) << c.what;
        }
    }
    EXPECT_EQ(first_->WaitFor("copydata"), CopyDataLine(kHandOverPlay, "/valid/one"));
    EXPECT_EQ(first_->WaitFor("copydata"), CopyDataLine(kHandOverPlay, "/valid/two"));
    EXPECT_EQ(first_->WaitFor("copydata"), CopyDataLine(kHandOverListen, "sink.monitor"));
    EXPECT_EQ(first_->WaitFor("copydata"),
              CopyDataLine(kHandOverPlay | kHandOverFullScreen, "/valid/3"));

    // Clients that connect and say nothing, more of them than are read at once, or stop halfway,
    // hold no real start up: it is served while they are all still connected.
    std::vector<int> idle;
    for (int i = 0; i < 40; ++i)
        idle.push_back(Socket(address));
    const std::string half = valid.substr(0, 10);
    (void)!send(idle.back(), half.data(), half.size(), MSG_NOSIGNAL);
    EXPECT_EQ(HandToRunningCopy(name_.c_str(), kHandOverPlay, "/after/silence"), HandOver::Obeyed);
    EXPECT_EQ(first_->WaitFor("copydata"), CopyDataLine(kHandOverPlay, "/after/silence"));
    for (int fd : idle)
        close(fd);
    EXPECT_EQ(first_->WaitFor("copydata", 300ms), "");
}

TEST_F(SingleInstance, StartsBeforeTheFirstListensOrAfterItEnded) {
    // A second copy waits while the first has the name but no window yet, and hands over then.
    name_ = UniqueName("early");
    Copy slow({"first", name_, "slow " + name_, "700"});
    ASSERT_NE(slow.WaitFor("claimed"), "");
    auto second = Hand(kHandOverPlay, name_, "/early/song.ogg");
    EXPECT_EQ(second->WaitForExit(10s), 0);
    EXPECT_EQ(slow.WaitFor("copydata"), CopyDataLine(kHandOverPlay, "/early/song.ogg"));

    // A first copy that ends before its window appears leaves the name to the waiting copy.
    const std::string quitter = UniqueName("quitter");
    Copy first({"first", quitter, "quitter", "300", "quit"});
    ASSERT_NE(first.WaitFor("claimed"), "");
    EXPECT_EQ(Hand(kHandOverPlay, quitter, "/x.ogg")->WaitForExit(10s),
              ExitCode(HandOver::StartHere));

    // A first copy killed outright leaves no name behind.
    StartFirst("killed");
    first_->Kill();
    EXPECT_TRUE(ClaimSingleInstance(name_.c_str()));
    EXPECT_TRUE(ClaimSingleInstance(name_.c_str())); // holding it already
    auto later = Hand(kHandOverPlay, name_);
    EXPECT_EQ(later->WaitForExit(300ms), -1); // it waits for this process to listen
    ReleaseSingleInstance();
    EXPECT_EQ(later->WaitForExit(10s), ExitCode(HandOver::StartHere));
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
            EXPECT_EQ(HandToRunningCopy(name_.c_str(), kHandOverPlay, "/later.ogg"),
                      HandOver::Obeyed);
            EXPECT_EQ(heir.WaitFor("copydata"), CopyDataLine(kHandOverPlay, "/later.ogg"));
        }
    }
}

// The two halves of what makes the race above safe, each pinned on its own: a window with a close
// already waiting obeys nothing and answers nothing, and a copy whose window has gone gives the
// name up at once, however long it takes to end.
TEST_F(SingleInstance, AClosingWindowObeysNothingAndAClosedOneHoldsNoName) {
    // The loop has not run yet when SIGTERM comes and a request arrives: the request is taken
    // from the queue first, with the close behind it.
    StartFirst("closing", "stall");
    first_->Signal(SIGTERM);
    EXPECT_EQ(Answered(SingleInstanceAddress(name_.c_str()), Request("/lost.ogg", 9)), 0);
    EXPECT_EQ(first_->WaitForExit(10s), 0);
    EXPECT_EQ(first_->WaitFor("copydata", 300ms), "");

    StartFirst("closed", "linger");
    ASSERT_TRUE(desktop_.AskToClose(title_.c_str()));
    ASSERT_NE(first_->WaitFor("ended"), "");
    EXPECT_TRUE(ClaimSingleInstance(name_.c_str())) << "the copy whose window is gone holds it";
    ReleaseSingleInstance();
    EXPECT_EQ(Answered(SingleInstanceAddress(name_.c_str()), Request("/gone.ogg", 9)), -1);
    EXPECT_EQ(first_->WaitForExit(10s), 0);
}

// Something holding the name that is not a first copy at work: a later start gives up within its
// bound, says which way, and is never served behind its back once it has given up.
class NameHolder {
  public:
    enum class Kind { Stopped, BoundOnly, Silent, Nonsense, Refuses };
    NameHolder(Kind kind, const std::string& address)
        : fd_(Socket(address, kind != Kind::BoundOnly, kind == Kind::BoundOnly)) {
        if (kind == Kind::Nonsense || kind == Kind::Refuses)
            thread_ = std::thread([this, kind] { Serve(kind); });
    }
    ~NameHolder() {
        stop_ = true;
        shutdown(fd_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
        close(fd_);
    }
    bool holds() const { return fd_ >= 0; }

  private:
    void Serve(Kind kind) {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            const int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            ReadToEnd(client, 1s);
            if (kind == Kind::Nonsense) (void)!send(client, "HTTP/1.0 400\r\n", 14, MSG_NOSIGNAL);
            close(client);
        }
    }
    int fd_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(SingleInstance, AStartThatCannotBeServedGivesUpWithinItsBound) {
    using Kind = NameHolder::Kind;
    const struct {
        const char* what;
        Kind kind;
        HandOver outcome;
    } cases[] = {
        {"a first copy that was stopped", Kind::Stopped, HandOver::NoAnswer},
        {"claimed, never listening", Kind::BoundOnly, HandOver::NoAnswer},
        {"accepting, never answering", Kind::Silent, HandOver::NoAnswer},
        {"answering nonsense", Kind::Nonsense, HandOver::Refused},
        {"closing every connection unanswered", Kind::Refuses, HandOver::Refused},
    };
    StartFirst("stopped");
    first_->Signal(SIGSTOP);
    // All at once: each start waits out its own bound.
    std::vector<std::unique_ptr<NameHolder>> holders;
    std::vector<std::unique_ptr<Copy>> starts;
    for (const auto& c : cases) {
        std::string name = name_;
        if (c.kind != Kind::Stopped) {
            name = UniqueName(c.what);
            holders.push_back(
                std::make_unique<NameHolder>(c.kind, SingleInstanceAddress(name.c_str())));
            ASSERT_TRUE(holders.back()->holds()) << c.what;
        }
        starts.push_back(Hand(kHandOverPlay, name, "/given/up.ogg"));
    }
    for (size_t i = 0; i < starts.size(); ++i)
        EXPECT_EQ(starts[i]->WaitForExit(20s), ExitCode(cases[i].outcome)) << cases[i].what;

    // Woken, the first copy drops what the start that gave up sent it, and serves the next.
    first_->Signal(SIGCONT);
    EXPECT_EQ(Hand(kHandOverPlay, name_, "/woken.ogg")->WaitForExit(10s), 0);
    EXPECT_EQ(first_->WaitFor("copydata"), CopyDataLine(kHandOverPlay, "/woken.ogg"));

    // A start that waits ends at once, as the program does, when it is asked to end.
    first_->Signal(SIGSTOP);
    auto waiting = Hand(kHandOverPlay, name_, "/asked/to/end.ogg");
    ASSERT_NE(waiting->WaitFor("handing"), "");
    std::this_thread::sleep_for(300ms);
    waiting->Signal(SIGTERM);
    EXPECT_EQ(waiting->WaitForExit(10s), ExitCode(HandOver::Interrupted));
    first_->Signal(SIGCONT);
}

// The name says the display by its number, and its host when there is one, however DISPLAY
// spells it; a Wayland display by the path of its socket.
TEST(SingleInstanceAddress, NamesADisplayHoweverItIsSpelled) {
    const struct {
        const char* display;
        const char* wayland;
        const char* runtime;
        const char* named;
    } cases[] = {
        {":1", nullptr, nullptr, ":1"},
        {":01", nullptr, nullptr, ":1"},
        {":1.0", nullptr, nullptr, ":1"},
        {"unix:1", nullptr, nullptr, ":1"},
        {"unix:001.2", nullptr, nullptr, ":1"},
        {":10", nullptr, nullptr, ":10"},
        {":0", "wayland-0", nullptr, ":0"}, // X first, as SDL chooses
        {"localhost:1", nullptr, nullptr, "localhost:1"},
        {"media-pc:2.1", nullptr, nullptr, "media-pc:2"},
        {"[::1]:3", nullptr, nullptr, "[::1]:3"},
        {"not a display", nullptr, nullptr, "not a display"},
        {":x", nullptr, nullptr, ":x"},
        {nullptr, "wayland-1", "/run/user/5", "/run/user/5/wayland-1"},
        {nullptr, "/run/user/5/wayland-1", "/elsewhere", "/run/user/5/wayland-1"},
        {nullptr, "wayland-1", nullptr, "wayland-1"},
        {"", nullptr, nullptr, ""},
    };
    const auto get = [](const char* variable) {
        const char* value = std::getenv(variable);
        return std::string(value ? value : "");
    };
    const std::vector<std::string> saved = {get("DISPLAY"), get("WAYLAND_DISPLAY"),
                                            get("XDG_RUNTIME_DIR")};
    const auto set = [](const char* variable, const char* value) {
        if (value && *value)
            setenv(variable, value, 1);
        else
            unsetenv(variable);
    };
    for (const auto& c : cases) {
        set("DISPLAY", c.display);
        set("WAYLAND_DISPLAY", c.wayland);
        set("XDG_RUNTIME_DIR", c.runtime);
        EXPECT_EQ(SingleInstanceAddress("N"),
                  std::string(1, '\0') + "N." + std::to_string(geteuid()) + '.' + c.named)
            << (c.display ? c.display : "") << ' ' << (c.wayland ? c.wayland : "");
    }
    set("DISPLAY", saved[0].c_str());
    set("WAYLAND_DISPLAY", saved[1].c_str());
    set("XDG_RUNTIME_DIR", saved[2].c_str());
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
    EXPECT_EQ(HandToRunningCopy(name_.c_str(), kHandOverPlay, "/from/owner"), HandOver::Obeyed);
    EXPECT_EQ(first_->WaitFor("copydata"), CopyDataLine(kHandOverPlay, "/from/owner"));

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
    EXPECT_EQ(HandToRunningCopy(squatted.c_str(), kHandOverPlay, "/secret/song.ogg"),
              HandOver::StartHere);
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
