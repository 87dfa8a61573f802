// End-to-end helpers for the simulated appliance (see e2e_appliance.h).
#include "support/e2e_appliance.h"

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>

namespace
{

std::string read_host_file(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Polls `done` every 20 ms until it holds or `timeout` passes.
bool poll_until(const std::function<bool()> &done, e2e_ms timeout)
{
    for (const auto deadline = e2e_clock::now() + timeout; e2e_clock::now() < deadline;
         usleep(20000))
        if (done()) return true;
    return false;
}

} // namespace

std::string E2eAppliance::example_db() const
{
    return read_host_file(source_dir_ + "/sim/examples/iptrackd.db");
}

std::string E2eAppliance::example_scenario() const
{
    return read_host_file(source_dir_ + "/sim/examples/appliance.scenario");
}

pid_t E2eAppliance::start_appliance(const std::string &scenario,
                                    const std::vector<std::string> &args)
{
    EXPECT_EQ(h_.write_file("/tmp/test.scenario", scenario), 0);
    std::vector<std::string> a = args;
    a.push_back("/tmp/test.scenario");
    const pid_t pid = h_.start(appliance_, a, {}, "/tmp/appliance.out");
    const auto ready = [&] {
        return h_.run(mgmtcli_, {"appliance", "peers"}, "/tmp/ready.out", "/tmp/ready.err") == 0;
    };
    if (pid > 0 && !poll_until(ready, e2e_default_timeout)) {
        std::string out;
        (void)h_.read_file("/tmp/appliance.out", &out);
        ADD_FAILURE() << "the appliance did not get ready\n" << out << h_.dump();
        return -1;
    }
    return pid;
}

E2eCliResult E2eAppliance::cli(const std::vector<std::string> &args)
{
    E2eCliResult r;
    r.status = h_.run(mgmtcli_, args, "/tmp/cli.out", "/tmp/cli.err");
    EXPECT_EQ(h_.read_file("/tmp/cli.out", &r.out), 0);
    EXPECT_EQ(h_.read_file("/tmp/cli.err", &r.err), 0);
    return r;
}

bool E2eAppliance::wait_file(const std::string &path, const std::string &needle,
                             std::string *content, e2e_ms timeout)
{
    return poll_until(
        [&] {
            return h_.read_file(path, content) == 0 && content->find(needle) != std::string::npos;
        },
        timeout);
}

nlohmann::json E2eAppliance::show(const std::string &table)
{
    const E2eCliResult r = cli({"appliance", "--json", table});
    if (r.status != 0) return nullptr;
    const nlohmann::json doc = nlohmann::json::parse(r.out, nullptr, false);
    if (doc.is_discarded() || !doc.contains(table)) return nullptr;
    return doc[table];
}

bool E2eAppliance::wait_in_ns(const std::function<bool()> &check, e2e_ms timeout)
{
    const auto limit = timeout.count();
    return h_.run_in_ns([&] {
        const auto deadline = e2e_clock::now() + e2e_ms(limit);
        while (e2e_clock::now() < deadline) {
            if (check()) return 0;
            usleep(1000);
        }
        return 1;
    }) == 0;
}

double E2eAppliance::time_change(const std::vector<std::string> &args,
                                 const std::function<bool()> &check, e2e_ms timeout)
{
    // The poller enters the namespace while the client starts up, so its
    // first look comes long before the client can have changed anything.
    const auto t0 = e2e_clock::now();
    const pid_t pid = h_.start(mgmtcli_, args, {}, "/dev/null");
    const bool seen = pid > 0 && wait_in_ns(check, timeout);
    const double ms = std::chrono::duration<double, std::milli>(e2e_clock::now() - t0).count();
    if (pid > 0) (void)h_.wait_exit(pid);
    return seen ? ms : -1;
}
