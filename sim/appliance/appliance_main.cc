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
#include <unistd.h>

#include <cstdio>
#include <string>

#include "appliance.h"
#include "log/logging.h"
#include "standin_process.h"

namespace
{

// The appliance logs as the system daemon, the peer it mostly plays.
constexpr uint32 appliance_component = 260;

void usage()
{
    fprintf(stderr, "usage: appliance [-v] [-l LEVEL] [-n NAME] SCENARIO\n");
}

} // namespace

int main(int argc, char **argv)
{
    standin_options o;
    o.level = LCL_NOTICE;
    std::string name = "appliance";
    int opt = 0;
    while ((opt = getopt(argc, argv, "vl:n:h")) != -1) {
        if (opt == 'n') {
            name = optarg;
        } else if (standin_option(opt, optarg, "appliance", &o) != 0) {
            if (opt != 'l') usage();
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
    if (standin_start_logging("appliance", appliance_component, o) != 0) return 1;

    standin_loop loop;
    if (loop.open() != 0) return 1;
    int status = 0;
    {
        appliance::sim sim(loop.get(), std::move(s));
        if (sim.start(name, &error) != 0) {
            if (error.empty()) error = "start-up failed";
            lc_log_basic(LCL_ERR, "Cannot start: %s", error.c_str());
            fprintf(stderr, "appliance: %s\n", error.c_str());
            status = 1;
        } else {
            status = loop.run();
        }
        sim.stop();
    }
    lc_log_basic(LCL_NOTICE, "Appliance exiting");
    lc_log_close();
    return status;
}
