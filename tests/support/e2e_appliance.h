// End-to-end helpers for tests that run the stand-in mgmtd and the
// simulated appliance (sim/appliance) in a harness: start both on a
// database and a scenario written into the namespace, drive the command-line
// client, and read the appliance's shown tables as JSON.
//
//     E2eAppliance a(h);
//     ASSERT_GT(a.start_mgmtd(a.example_db()), 0);
//     ASSERT_GT(a.start_appliance(a.example_scenario()), 0);
//     auto r = a.cli({"appliance", "interface", "down", "eth1"});
//
// The appliance is ready (every table published, its peers "Ready") when
// start_appliance returns: it answers its own actions only from then on.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/e2e_harness.h"

struct E2eCliResult {
    int status = -1;
    std::string out;
    std::string err;
};

class E2eAppliance
{
  public:
    explicit E2eAppliance(E2eHarness &h) : h_(h) {}

    // The example files of the checkout (sim/examples/), read on the host.
    std::string example_db() const;
    std::string example_scenario() const;

    // Writes `db` to /tmp/mgmtd.db and starts mgmtd on it; waits for its
    // socket.  -1 (with a test failure) when it does not come up.
    pid_t start_mgmtd(const std::string &db) { return h_.start_mgmtd(db); }
    // Writes `scenario` and starts the appliance; waits until it answers
    // its own actions.
    pid_t start_appliance(const std::string &scenario, const std::vector<std::string> &args = {});

    // Runs mgmtcli to its end inside the namespace.
    E2eCliResult cli(const std::vector<std::string> &args);
    // Starts a long-running mgmtcli (watch) with its output in `out`.
    pid_t start_cli(const std::vector<std::string> &args, const std::string &out)
    {
        return h_.start(mgmtcli_, args, {}, out);
    }
    // Waits until the namespace file `path` contains `needle`.
    bool wait_file(const std::string &path, const std::string &needle, std::string *content,
                   e2e_ms timeout = e2e_default_timeout);
    // `mgmtcli appliance --json TABLE` as JSON (null on failure).
    nlohmann::json show(const std::string &table);

    // Runs `check` in the namespace until it is true or `timeout` passes.
    bool wait_in_ns(const std::function<bool()> &check, e2e_ms timeout = e2e_default_timeout);
    // Starts mgmtcli with `args` and polls `check` in the namespace until it
    // holds: the milliseconds from the client's start to the first poll that
    // saw it, or -1 on timeout.  Returns once the client has ended.
    double time_change(const std::vector<std::string> &args, const std::function<bool()> &check,
                       e2e_ms timeout = e2e_default_timeout);

  private:
    E2eHarness &h_;
    // Where the programs and the examples are, as seen by the test program
    // (the support library itself is built without the build tree's paths).
    const std::string appliance_ = E2eHarness::sim_path("appliance");
    const std::string mgmtcli_ = E2eHarness::tool_path("mgmtcli");
#ifdef IPT_SOURCE_DIR
    const std::string source_dir_ = IPT_SOURCE_DIR;
#else
    const std::string source_dir_ = ".";
#endif
};
