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
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "log/logging.h"
#include "mgmtd_db.h"
#include "mgmtd_server.h"
#include "standin_process.h"

namespace
{

constexpr uint32 mgmtd_component = 5;

void usage()
{
    fprintf(stderr, "usage: mgmtd [-v] [-l LEVEL] DATABASE\n");
}

} // namespace

int main(int argc, char **argv)
{
    standin_options o;
    int opt = 0;
    while ((opt = getopt(argc, argv, "vl:h")) != -1) {
        if (standin_option(opt, optarg, "mgmtd", &o) != 0) {
            if (opt != 'l') usage();
            return 2;
        }
    }
    if (optind != argc - 1) {
        usage();
        return 2;
    }
    const std::string db_path = argv[optind];
    if (standin_start_logging("mgmtd", mgmtd_component, o) != 0) return 1;

    mgmtd::node_db db;
    std::string error;
    if (db.load_file(db_path, &error) != 0) {
        lc_log_basic(LCL_ERR, "Cannot load the database: %s", error.c_str());
        fprintf(stderr, "mgmtd: %s\n", error.c_str());
        return 1;
    }

    standin_loop loop;
    if (loop.open() != 0) return 1;
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
            status = loop.run();
        }
        srv.stop();
    }
    lc_log_basic(LCL_NOTICE, "Management stand-in exiting");
    lc_log_close();
    return status;
}
