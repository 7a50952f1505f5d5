// Acts on the test's X server the way a user and a window manager do: moves the pointer, presses
// buttons, resizes a window, asks it to close. The events travel through the server like real
// ones, so SDL sees them (and its mouse state follows). Uses an X connection of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class FakeDesktop {
  public:
    // On the display named (":N"), or on DISPLAY's.
    explicit FakeDesktop(const char* display = nullptr);
    ~FakeDesktop();
    FakeDesktop(const FakeDesktop&) = delete;
    FakeDesktop& operator=(const FakeDesktop&) = delete;

    bool connected() const;
    void MovePointer(int screenX, int screenY);
    // X button numbers: 1 left, 3 right.
    void PressButton(int button);
    void ReleaseButton(int button);
    // Presses and releases a key, named as X names its keysym ("Right", "Page_Up", "Home"…),
    // with a modifier held if one is named ("Alt_L").
    void TypeKey(const char* keysymName, const char* modifier = nullptr);
    // Keys go to the window under the pointer from now on, as when the X server started.
    void FocusUnderPointer();
    // Windows are found by their title; false when there is no such window.
    bool ResizeWindow(const char* title, int width, int height);
    bool AskToClose(const char* title);
    // What other clients can do to a window: destroy it, or kill its client's connection (as
    // xdotool's windowclose and windowkill do).
    bool DestroyWindow(const char* title);
    bool KillClient(const char* title);
    bool IsShown(const char* title);
    // Where the window's top-left corner lies on the screen.
    bool WindowPosition(const char* title, int* x, int* y);
    // A 32-bit property of a window (format 32, items as Xlib returns them), as a window manager
    // reads it: _NET_WM_ICON, say. False when the window or the property is missing.
    bool ReadProperty(const char* title, const char* property, std::vector<unsigned long>* items);
    // The names of the atoms a window's property holds (_NET_WM_WINDOW_TYPE, say).
    std::vector<std::string> AtomNames(const char* title, const char* property);
    // Whether the window the pointer is over (what a press there reaches) is the window of that
    // title or lies inside it.
    bool PointerIsOver(const char* title);
    // An ordinary window of the test's own, white, of that title, mapped where the window manager
    // puts it; it lives as long as this object.
    bool OpenWindow(const char* title, int x, int y, int width, int height);
    // Asks the window manager to raise the window over the others, as a click on it would.
    bool Raise(const char* title);
    // What the server shows of a window: RGBA bytes, top row first.
    bool Capture(const char* title, int* width, int* height, std::vector<uint8_t>* rgba);
    // The same of the whole screen.
    bool CaptureScreen(int* width, int* height, std::vector<uint8_t>* rgba);
    // Iconifies and restores a window: through the window manager when one runs, else as one
    // would, by unmapping and mapping it.
    bool Minimise(const char* title);
    bool Restore(const char* title);

  private:
    template <typename Action> bool Act(const char* title, Action act);
    struct Connection;
    std::unique_ptr<Connection> x_;
};
