// appliance: the simulated appliance beside the stand-in mgmtd (see
// appliance.h for what it plays, appliance_scenario.h for its file and
// appliance_control.cc for the actions that change it while it runs).
//
//   appliance [-v] [-l LEVEL] [-n NAME] SCENARIO
//
// -v also writes the log lines to stderr; -l sets the highest level logged
// ("notice" by default); -n is the client name ("appliance").  It runs
// until SIGINT or SIGTERM, or until mgmtd goes away.  The exit status is 0
// after a signal, 2 for a bad command line, 1 when the scenario does not
// load, mgmtd cannot be reached or the tables cannot be published.
#include <signal.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "appliance.h"
#include "log/logging.h"

namespace
{

// The appliance logs as the system daemon, the peer it mostly plays.
constexpr uint32 appliance_component = 260;

void usage()
{
    fprintf(stderr, "usage: appliance [-v] [-l LEVEL] [-n NAME] SCENARIO\n");
}

int on_signal(int signum, lew_event_type, void *, lew_context *loop)
{
    lc_log_basic(LCL_NOTICE, "Received %s; exiting", lc_signal_num_to_name(signum));
    lew_escape_from_dispatch(loop);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    bool verbose = false;
    int32 level = LCL_NOTICE;
    std::string name = "appliance";
    int opt = 0;
    while ((opt = getopt(argc, argv, "vl:n:h")) != -1) {
        switch (opt) {
        case 'v':
            verbose = true;
            break;
        case 'l':
            if (lc_string_to_enum(lc_log_level_config_names, optarg, &level) != 0) {
                fprintf(stderr, "appliance: unknown log level \"%s\"\n", optarg);
                return 2;
            }
            break;
        case 'n':
            name = optarg;
            break;
        default:
            usage();
            return 2;
        }
    }
    if (optind != argc - 1) {
        usage();
        return 2;
    }

    appliance::scenario s;
    std::string error;
    if (appliance::scenario_load(argv[optind], &s, &error) != 0) {
        fprintf(stderr, "appliance: %s\n", error.c_str());
        return 1;
    }
    uint32 outputs = lc_log_output_syslog;
    if (verbose) outputs |= lc_log_output_stderr;
    if (lc_log_init("appliance", nullptr, lc_log_flag_none,
                    lc_log_component_word(appliance_component), level, LOG_DAEMON, outputs) != 0) {
        fprintf(stderr, "appliance: cannot start the logger\n");
        return 1;
    }
    lc_log_set_daemon_log_level(static_cast<uint8>(level));
    signal(SIGPIPE, SIG_IGN);

    owned<lew_context> loop;
    if (lew_init(loop.out()) != 0) return 1;
    lew_event *sigint = nullptr;
    lew_event *sigterm = nullptr;
    if (lew_event_reg_signal(loop.get(), &sigint, SIGINT, on_signal, nullptr) != 0 ||
        lew_event_reg_signal(loop.get(), &sigterm, SIGTERM, on_signal, nullptr) != 0)
        return 1;

    int status = 0;
    {
        appliance::sim sim(loop.get(), std::move(s));
        if (sim.start(name, &error) != 0) {
            if (error.empty()) error = "start-up failed";
            lc_log_basic(LCL_ERR, "Cannot start: %s", error.c_str());
            fprintf(stderr, "appliance: %s\n", error.c_str());
            status = 1;
        } else {
            tbool no_events = 0;
            tbool escaped = 0;
            if (lew_dispatch(loop.get(), &no_events, &escaped) != 0) status = 1;
        }
        sim.stop();
    }
    (void)lew_event_delete(loop.get(), &sigint);
    (void)lew_event_delete(loop.get(), &sigterm);
    lc_log_basic(LCL_NOTICE, "Appliance exiting");
    lc_log_close();
    return status;
}
