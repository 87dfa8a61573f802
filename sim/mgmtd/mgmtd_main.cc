// mgmtd: the stand-in for the appliance's management daemon on a machine
// that has none.  It loads a node database from a file, listens as the
// provider "mgmtd" on the session layer's socket path and serves the
// management service until SIGINT or SIGTERM.
//
//   mgmtd [-v] [-l LEVEL] DATABASE
//
// -v also writes the log lines to stderr; -l sets the highest level logged
// (a name of lc_log_level_config_names, "info" by default).  The exit
// status is 0 after a signal, 2 for a bad command line, 1 when the database
// does not load or the socket cannot be served.
#include <signal.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "event/libevent_wrapper.h"
#include "log/logging.h"
#include "mgmtd_db.h"
#include "mgmtd_server.h"

namespace
{

constexpr uint32 mgmtd_component = 5;

void usage()
{
    fprintf(stderr, "usage: mgmtd [-v] [-l LEVEL] DATABASE\n");
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
    int32 level = LCL_INFO;
    int opt = 0;
    while ((opt = getopt(argc, argv, "vl:h")) != -1) {
        switch (opt) {
        case 'v':
            verbose = true;
            break;
        case 'l':
            if (lc_string_to_enum(lc_log_level_config_names, optarg, &level) != 0) {
                fprintf(stderr, "mgmtd: unknown log level \"%s\"\n", optarg);
                return 2;
            }
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
    const std::string db_path = argv[optind];

    uint32 outputs = lc_log_output_syslog;
    if (verbose) outputs |= lc_log_output_stderr;
    if (lc_log_init("mgmtd", nullptr, lc_log_flag_none, lc_log_component_word(mgmtd_component),
                    level, LOG_DAEMON, outputs) != 0) {
        fprintf(stderr, "mgmtd: cannot start the logger\n");
        return 1;
    }
    // The stand-in has no logging configuration of its own to follow: the
    // level asked for on the command line holds.
    lc_log_set_daemon_log_level(static_cast<uint8>(level));
    signal(SIGPIPE, SIG_IGN);

    mgmtd::node_db db;
    std::string error;
    if (db.load_file(db_path, &error) != 0) {
        lc_log_basic(LCL_ERR, "Cannot load the database: %s", error.c_str());
        fprintf(stderr, "mgmtd: %s\n", error.c_str());
        return 1;
    }

    owned<lew_context> loop;
    if (lew_init(loop.out()) != 0) return 1;
    lew_event *sigint = nullptr;
    lew_event *sigterm = nullptr;
    if (lew_event_reg_signal(loop.get(), &sigint, SIGINT, on_signal, nullptr) != 0 ||
        lew_event_reg_signal(loop.get(), &sigterm, SIGTERM, on_signal, nullptr) != 0)
        return 1;

    int status = 0;
    {
        mgmtd::server srv(loop.get(), &db);
        if (srv.start() != 0) {
            lc_log_basic(LCL_ERR, "Cannot serve as the provider mgmtd");
            fprintf(stderr, "mgmtd: cannot serve as the provider mgmtd\n");
            status = 1;
        } else {
            lc_log_basic(LCL_NOTICE, "Management stand-in ready with %zu nodes from %s", db.size(),
                         db_path.c_str());
            tbool no_events = 0;
            tbool escaped = 0;
            if (lew_dispatch(loop.get(), &no_events, &escaped) != 0) status = 1;
        }
        srv.stop();
    }
    (void)lew_event_delete(loop.get(), &sigint);
    (void)lew_event_delete(loop.get(), &sigterm);
    lc_log_basic(LCL_NOTICE, "Management stand-in exiting");
    lc_log_close();
    return status;
}
