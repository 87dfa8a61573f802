// The process frame every stand-in shares (declared in standin_process.h).
#include "standin_process.h"

#include <syslog.h>

#include <csignal>
#include <cstdio>

namespace
{

int on_signal(int signum, lew_event_type, void *, lew_context *loop)
{
    lc_log_basic(LCL_NOTICE, "Received %s; exiting", lc_signal_num_to_name(signum));
    lew_escape_from_dispatch(loop);
    return 0;
}

} // namespace

int standin_option(int opt, const char *arg, const char *program, standin_options *o)
{
    if (opt == 'v') {
        o->verbose = true;
        return 0;
    }
    if (opt == 'l') {
        if (lc_string_to_enum(lc_log_level_config_names, arg, &o->level) == 0) return 0;
        fprintf(stderr, "%s: unknown log level \"%s\"\n", program, arg);
        return 1;
    }
    return 1;
}

int standin_start_logging(const char *program, uint32 component, const standin_options &o)
{
    uint32 outputs = lc_log_output_syslog;
    if (o.verbose) outputs |= lc_log_output_stderr;
    if (lc_log_init(program, nullptr, lc_log_flag_none, lc_log_component_word(component), o.level,
                    LOG_DAEMON, outputs) != 0) {
        fprintf(stderr, "%s: cannot start the logger\n", program);
        return 1;
    }
    lc_log_set_daemon_log_level(static_cast<uint8>(o.level));
    signal(SIGPIPE, SIG_IGN);
    return 0;
}

std::string standin_connect_failure(const mdc_transport *transport, const std::string &client_name)
{
    switch (mdc_transport_get_stage(transport)) {
    case mts_unconnected:
        return "invalid client name \"" + client_name + "\"";
    case mts_session:
        return "cannot connect to mgmtd (is the stand-in running?)";
    default:
        return "mgmtd did not open the management service";
    }
}

standin_loop::~standin_loop()
{
    if (loop_) {
        (void)lew_event_delete(loop_.get(), &sigint_);
        (void)lew_event_delete(loop_.get(), &sigterm_);
    }
}

int standin_loop::open()
{
    bail_error(lew_init(loop_.out()));
    bail_error(lew_event_reg_signal(loop_.get(), &sigint_, SIGINT, on_signal, nullptr));
    bail_error(lew_event_reg_signal(loop_.get(), &sigterm_, SIGTERM, on_signal, nullptr));
    return 0;
}

int standin_loop::run()
{
    tbool no_events = 0;
    tbool escaped = 0;
    return lew_dispatch(loop_.get(), &no_events, &escaped) != 0 ? 1 : 0;
}
