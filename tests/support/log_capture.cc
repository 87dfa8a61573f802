#include "support/log_capture.h"

// The capture pins the effective level so that a logger created or
// re-initialised during the test (lc_log_init, the "-UNINIT" fallback) does
// not lower it under the test's feet.
LogCapture::LogCapture(int level) : saved_level_(lc_log_get_effective_log_level())
{
    lc_log_set_effective_level_for_tests(level);
    lc_log_set_sink(&LogCapture::sink, this);
}

LogCapture::~LogCapture()
{
    lc_log_set_sink(nullptr, nullptr);
    lc_log_set_effective_level_for_tests(saved_level_);
    lc_log_set_effective_level_for_tests(-1);
}

void LogCapture::sink(int priority, const char *line, void *data)
{
    auto *self = static_cast<LogCapture *>(data);
    std::lock_guard<std::mutex> g(self->mu_);
    self->lines_.emplace_back(line);
    self->prios_.push_back(priority & 7);
}

std::vector<std::string> LogCapture::lines() const
{
    std::lock_guard<std::mutex> g(mu_);
    return lines_;
}

std::vector<int> LogCapture::priorities() const
{
    std::lock_guard<std::mutex> g(mu_);
    return prios_;
}

size_t LogCapture::count(std::string_view needle) const
{
    std::lock_guard<std::mutex> g(mu_);
    size_t n = 0;
    for (const auto &l : lines_)
        if (l.find(needle) != std::string::npos) ++n;
    return n;
}

void LogCapture::clear()
{
    std::lock_guard<std::mutex> g(mu_);
    lines_.clear();
    prios_.clear();
}

std::string LogCapture::dump() const
{
    std::lock_guard<std::mutex> g(mu_);
    std::string out;
    for (const auto &l : lines_) out += l + "\n";
    return out;
}
