// Counts the opens of the entries of one folder as the kernel reports them (inotify), so a test can
// see how often a program touched a file without looking inside it.
#pragma once

#include <sys/inotify.h>
#include <unistd.h>

#include <string>

class OpenCounter {
  public:
    explicit OpenCounter(const std::string& folder) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        inotify_add_watch(fd_, folder.c_str(), IN_OPEN);
    }
    ~OpenCounter() { close(fd_); }
    OpenCounter(const OpenCounter&) = delete;
    OpenCounter& operator=(const OpenCounter&) = delete;

    // Opens of the entry name since the last call.
    int Take(const std::string& name) {
        alignas(inotify_event) char buffer[4096];
        int opens = 0;
        for (ssize_t got; (got = read(fd_, buffer, sizeof buffer)) > 0;) {
            for (char* at = buffer; at < buffer + got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                opens += event->len > 0 && name == event->name;
                at += sizeof(inotify_event) + event->len;
            }
        }
        return opens;
    }

  private:
    int fd_;
};
