// Drops files on a window through the X server as a file manager's drag does (XDND): the window,
// found by its title, is offered the files as text/uri-list (file:// URIs, percent-encoded) with
// the pointer over its middle, and is given them once it accepts. Uses an X connection of its own.
#pragma once

#include <string>
#include <vector>

// True when the window took the drop; false when there is no such window, it takes no drops, or
// it did not answer within a few seconds. Blocks until the drop is over: a window of the calling
// process needs its message loop running meanwhile, so call it from another thread there.
bool DropFiles(const char* title, const std::vector<std::string>& paths);
