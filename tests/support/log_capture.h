// Collects the lines the logger would send to syslog, for tests that assert
// prescribed log texts.  One capture at a time; it pins the effective level
// at `level` while alive, and restores the level and syslog output when
// destroyed.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "log/logging.h"

class LogCapture
{
  public:
    explicit LogCapture(int level = LCL_DEBUG);
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    // Whole bodies, in order, without the trailing newline.
    std::vector<std::string> lines() const;
    // Priorities (level | facility bits dropped) matching lines().
    std::vector<int> priorities() const;
    // Lines containing `needle`.
    size_t count(std::string_view needle) const;
    bool contains(std::string_view needle) const { return count(needle) > 0; }
    void clear();
    // Everything captured, one line each, for failure messages.
    std::string dump() const;

  private:
    static void sink(int priority, const char *line, void *data);
    mutable std::mutex mu_;
    std::vector<std::string> lines_;
    std::vector<int> prios_;
    int saved_level_;
};
