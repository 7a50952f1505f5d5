// A private X server for one test process, so GL and window tests run without a desktop and
// without disturbing each other.
#pragma once

// The screen the GL test main gives its Xvfb unless VORMEL_TEST_SCREEN names another
// ("WIDTHxHEIGHTxDEPTH", or "none" for no display at all).
inline constexpr const char* kDefaultTestScreen = "1280x1024x24";

// An Xvfb of its own for a test that ends it on purpose, stopped when the object goes.
class XServer {
  public:
    XServer();
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    bool running() const { return pid_ > 0; }
    // ":N", the value for DISPLAY.
    const char* display() const { return display_; }
    // Ends the server abruptly, as a crash or a killed session would.
    void Kill();

  private:
    int pid_ = 0;
    char display_[16] = "";
};

// Starts Xvfb with the given screen, points DISPLAY at it and stops it when the process exits.
// Returns false, with the reason on standard error, when it cannot start (Xvfb missing, say).
bool StartPrivateXvfb(const char* screen);

// Prepares the environment of a GL test process: a private Xvfb (or none, as VORMEL_TEST_SCREEN
// asks) and SDL's dummy sound driver. False when the display asked for cannot be had.
bool PrepareGlTestEnvironment();
