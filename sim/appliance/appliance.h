// The simulated appliance: a management client of mgmtd that stands for the
// appliance's other daemons, so that the tracking daemon runs against real
// shared tables written by another process and real management traffic.
//
// From its scenario it publishes every shared table (interfaces, interface
// labels, route labels, tunnels, alarm hierarchy), creates and owns the
// cloud path probe table (its free queue and synthetic probe count), and
// writes the system daemon's pid file.  It plays the peers tunneld, sysd
// and redd through their liveness nodes in mgmtd, which turn "Ready" only
// once every table is published, and keeps the configuration nodes that
// mirror its tables (interface labels, route labels, tunnels) in mgmtd, so
// that changes reach the daemon as the configuration-change events of a
// real appliance; an interface that changes is announced with the
// interface-change event.
//
// It handles, through routes registered with mgmtd, the actions the daemon
// sends to the rest of the appliance (VRRP priority, subnets, tunnels,
// route labels) and the alarm events, and keeps their outcome.  Its own
// actions under /sim/appliance change it while it runs and show its tables
// and outcome (appliance_control.cc lists them).
//
// Everything runs on one event loop; a request from mgmtd is handled whole
// before the next one starts (see appliance_session.h).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "appliance/qz_shm_publish.h"
#include "appliance_scenario.h"
#include "appliance_session.h"

namespace appliance
{

// Roots of the appliance's own actions and show output.
#define APPLIANCE_ROOT "/sim/appliance"
#define APPLIANCE_SHOW_ACTION APPLIANCE_ROOT "/show"
#define APPLIANCE_IF_CHANGE_EVENT "/qz/tunneld/system/events/if_change"
#define APPLIANCE_SYSD_PID_FILE "/var/run/sysd.pid"

// One node of a set request to mgmtd (`value` unused for a delete).
struct node_op {
    uint32 subop;
    std::string name;
    bn_type type;
    std::string value;
};

// One cell of a shown table: its binding type and text.
struct cell {
    bn_type type;
    std::string text;
};
struct shown_table {
    std::string name;
    std::vector<std::string> columns;
    std::vector<std::vector<cell>> rows;
};

// What the daemon's actions and alarm events did.
struct outcome {
    struct vrrp_port {
        uint32 configured = default_vrrp_priority;
        uint32 priority = default_vrrp_priority;
        std::string last; // "increment 20", "config"
        uint32 updates = 0;
    };
    struct subnet {
        std::string state; // "advertised", "withdrawn" or "" (never told)
        uint32 metric = 0; // the metric delta total last applied to the port
        uint32 updates = 0;
    };
    struct alarm {
        std::map<std::string, std::string> fields; // binding name -> value
    };
    std::map<std::string, vrrp_port> vrrp;
    std::map<std::string, subnet> subnets;
    std::string sharing; // "enabled", "disabled" or "" (never told)
    std::map<std::string, bool> tunnel_up;
    std::map<uint32, bool> rtlabel_up;
    std::vector<alarm> alarms; // raised and not yet cleared, oldest first
    uint32 raised = 0;
    uint32 cleared = 0;
    uint32 unmatched_clears = 0;
};

class sim
{
  public:
    sim(lew_context *loop, scenario s) : loop_(loop), model_(std::move(s)), session_(loop) {}
    ~sim();
    sim(const sim &) = delete;
    sim &operator=(const sim &) = delete;

    // Connects to mgmtd as `client_name`, publishes everything and reports
    // the peers ready.  `*error` says why on failure.
    [[nodiscard]] int start(const std::string &client_name, std::string *error);
    // Removes the pid file and the blocks' names.
    void stop();
    bool lost() const { return session_.lost(); }

    // Handles one request from mgmtd.
    int on_request(session &s, const bn_request *request);
    int on_sysd_ready_timer();

  private:
    // Tables (appliance_tables.cc).
    [[nodiscard]] int publish_all();
    [[nodiscard]] int publish_interface(const interface_row &row);
    interface_row *find_interface(const std::string &name);
    const qz_tunbin *find_tunnel(const std::string &name) const;

    // mgmtd nodes and events (appliance_control.cc).
    [[nodiscard]] int set_nodes(const std::vector<node_op> &ops);
    [[nodiscard]] int sync_config_all();
    [[nodiscard]] int set_peer(const std::string &peer, const std::string &state);
    [[nodiscard]] int send_if_change(const std::string &ifname);
    [[nodiscard]] int write_pid_file();
    // Where an interface's label lives in the configuration, by its kind.
    std::string interface_label_node(const qz_l3if_info &info) const;
    // The value of /tun/config/<name>/config_bin.
    static std::string tunnel_config_text(const qz_tunbin &t);
    [[nodiscard]] int handle_control(const bn_request *request, std::string *error,
                                     bn_binding_array *results);

    // The daemon's actions and alarms (appliance_outcome.cc).
    [[nodiscard]] int handle_update(const std::string &action, const bn_request *request,
                                    std::string *error);
    void handle_alarm(const std::string &event, const bn_request *request);

    // Show (appliance_show.cc).
    std::vector<shown_table> tables_view();
    std::vector<shown_table> outcome_view() const;

    lew_context *loop_;
    scenario model_;
    session session_;
    owned<qz_shm_publisher> l3if_, iflabel_, rtlabel_, tunnel_, alarm_hier_;
    outcome outcome_;
    // The peers' liveness as last set; the system daemon's pid.
    std::map<std::string, std::string> peers_;
    uint32 sysd_pid_ = 0;
    lew_event *sysd_timer_ = nullptr;
    bool published_ = false;
};

// Table rows as the bindings of a show answer
// (/sim/appliance/show/<table> = row count, then <table>/<row>/<column>),
// and back.
[[nodiscard]] int tables_to_bindings(const std::vector<shown_table> &tables, bn_binding_array *out);

} // namespace appliance
