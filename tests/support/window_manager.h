// A real window manager (openbox) on the test's X server, for tests of what only a window manager
// does: keeping a window to its smallest size, moving it, keeping it above others. Start it in a
// process with an X server of its own (a death test's child, say): it manages every window there.
#pragma once

// Starts openbox on $DISPLAY and waits until it manages the screen; it is stopped when the process
// exits. False, with the reason on standard error, when it cannot be had.
bool StartWindowManager();
