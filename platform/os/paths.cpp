// Where the program lives on disk.
#include "platform/os/window.h"

#include <string>
#include <unistd.h>

std::string ExecutableFolder() {
    // /proc/self/exe names the executable with every link resolved.
    std::string path(256, '\0');
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
        if (n < 0) return std::string();
        if (static_cast<size_t>(n) < path.size()) {
            path.resize(static_cast<size_t>(n));
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ResourceFolder() {
    return ExecutableFolder() + "Resource/";
}
