// The stand-in peer monitors' state: the monitors that are running and the
// script of what each target reports.
//
// Ping and HTTP monitors live from Start to Delete and are keyed by kind
// ("ip_mon", "http_mon"), operation name, port and IP version, as a peer
// keeps them.  A Poll of a monitor that was never started is refused, as a
// real monitor refuses it; one that was deleted answers down (it no longer
// probes, but the peer still knows it).  A Start of a running monitor
// restarts it, and a Delete of an unknown one is accepted (deletes are
// idempotent).  The interface and VRRP monitors ("port_mon", "vrrp_mon")
// answer every request for their port.
//
// What a monitor reports comes from script rules keyed by kind, target,
// port and IP version, each field a value or a wildcard ("*", version 0).
// The most specific matching rule wins (ties: the latest); without one a
// target is up, resolves, and is answered at once.
//
// Plain C++ over std containers; no I/O, so the process (monitors_main.cc)
// and tests drive it alike.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace monitors
{

// Request codes of "mon_action" / "http_mon_action".
enum mon_code : uint16_t {
    mon_start = 1,
    mon_poll = 2,
    mon_delete = 5,
};

// What a rule makes a monitor report and how it answers.
struct behaviour {
    bool up = true;
    bool dns_fail = false;
    bool fail = false;     // refuse the request (non-zero return code)
    uint32_t delay_ms = 0; // answer this much later
};

struct rule {
    std::string kind = "*";
    std::string target = "*";
    std::string port = "*";
    uint8_t version = 0;
    behaviour what;
};

// One request as the monitor sees it.
struct request {
    std::string kind;   // "ip_mon", "http_mon", "port_mon", "vrrp_mon"
    uint16_t code = 0;  // ping and HTTP only
    std::string name;   // operation name (ping and HTTP)
    std::string target; // "dst_ip" / "http_dst_url_str"
    std::string port;
    uint8_t version = 0;
};

// The answer: a refusal (code and message) or the state to report.
struct answer {
    uint32_t code = 0;
    std::string message;
    bool has_state = false;
    bool up = false;
    bool dns_fail = false;
    uint32_t delay_ms = 0;
    // "ip_state" / "http_state": low half up, high half resolution failed.
    uint32_t family_state() const { return (up ? 1u : 0u) | (dns_fail ? 1u << 16 : 0u); }
};

class table
{
  public:
    void add_rule(const rule &r);
    void clear();
    answer handle(const request &req);

    // "kind name port version" of every running monitor, in key order.
    std::vector<std::string> running() const;
    const std::vector<rule> &rules() const { return rules_; }

  private:
    behaviour lookup(const request &req) const;
    using key = std::tuple<std::string, std::string, std::string, uint8_t>;
    std::map<key, std::string> running_; // -> target it was started for
    std::map<key, std::string> stopped_; // deleted since their Start
    std::vector<rule> rules_;
};

} // namespace monitors
