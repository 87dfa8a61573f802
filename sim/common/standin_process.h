// The process frame every stand-in shares: the -v and -l LEVEL options,
// logging to syslog (and stderr with -v) at a fixed level, SIGPIPE ignored,
// one event loop that SIGINT and SIGTERM escape, and the words for a failed
// connection to mgmtd (shared with the tools).
//
// A stand-in parses its own options with getopt and hands -v and -l to
// standin_option; it then starts logging and runs its loop:
//
//     standin_options o;
//     while ((opt = getopt(argc, argv, "vl:h")) != -1)
//         if (standin_option(opt, optarg, "mgmtd", &o) != 0) return 2;
//     if (standin_start_logging("mgmtd", component, o) != 0) return 1;
//     standin_loop loop;
//     if (loop.open() != 0) return 1;
//     ... start the stand-in on loop.get() ...
//     status = loop.run();
//
// The loop owns its signal events and deletes them before the loop itself.
#pragma once

#include <string>

#include "event/libevent_wrapper.h"
#include "log/logging.h"
#include "mgmt/mdc_transport.h"

struct standin_options {
    bool verbose = false;
    int32 level = LCL_INFO;
};

// Takes -v and -l LEVEL into `o`.  0 when taken; otherwise the usage or
// the bad level has been printed to stderr and the caller exits with 2.
[[nodiscard]] int standin_option(int opt, const char *arg, const char *program, standin_options *o);
// Starts logging as `program` with `component`; the level asked for holds
// (a stand-in follows no logging configuration).  Ignores SIGPIPE.
[[nodiscard]] int standin_start_logging(const char *program, uint32 component,
                                        const standin_options &o);

// What a failed mdc_transport_connect of `transport` means, for a person:
// a bad client name, no mgmtd to connect to, or no management service.
std::string standin_connect_failure(const mdc_transport *transport, const std::string &client_name);

class standin_loop
{
  public:
    standin_loop() = default;
    standin_loop(const standin_loop &) = delete;
    standin_loop &operator=(const standin_loop &) = delete;
    ~standin_loop();

    // The loop with SIGINT and SIGTERM registered to escape it.
    [[nodiscard]] int open();
    lew_context *get() const { return loop_.get(); }
    // Dispatches until a signal (or the stand-in) escapes the loop: 0, or 1
    // when dispatching failed.
    int run();

  private:
    owned<lew_context> loop_;
    lew_event *sigint_ = nullptr;
    lew_event *sigterm_ = nullptr;
};
