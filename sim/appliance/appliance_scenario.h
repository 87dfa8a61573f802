// What the simulated appliance starts with: its interfaces, interface
// labels, route labels, tunnels, alarm hierarchy, VRRP priorities and
// synthetic probe count, read from a scenario file.
//
// A scenario file has one item per line, its words split as the stand-in
// mgmtd's database lines are ("#" comments, double quotes around words with
// blanks).  Columns first, then optional KEY=VALUE words:
//
//   interface NAME KIND ADDRESS [label=L] [members=A,B] [tunnel=T]
//                              [version=4|6] [incomplete] [down]
//   label     ID NAME TEXT
//   rtlabel   ID NAME and|or
//   tunnel    NAME ALIAS ID SOURCE
//   alarm     ID KIND TEMPLATE [KIND TEMPLATE]...
//   vrrp      PORT PRIORITY
//   synthetic COUNT
//
// KIND of an interface is "port" (0), "bridge" (1), "vti" (11) or a number;
// ADDRESS is an IPv4 or IPv6 address, or "-" for none; the IP version is
// the address's unless version= says otherwise.  `down` starts it withdrawn
// from the interface table.  A label's TEXT is its display text.  A route
// label's last word is its mode: "and" (down when any manager is down) or
// "or".  An alarm hierarchy lists up to four levels, each a level kind (0 a
// port-level entity) and a text template with {alarm}, {tunnel}, {entity}
// and {port}.  A port without a `vrrp` line has priority 100.
//
// Names and texts are checked against the table fields (interface names,
// labels and texts 15 characters, tunnel names and aliases 63); an
// interface's label must be defined by a `label` line; route label ids run
// from 1 to below the model's limit.  Loading stops at the first bad line.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "appliance/qz_shm_tables.h"

namespace appliance
{

// Priority of a port without a `vrrp` line.
constexpr uint32 default_vrrp_priority = 100;

struct interface_row {
    qz_l3if_info info{};
    bool up = true; // false: withdrawn from the interface table
};

struct label_row {
    uint32 id = 0;
    std::string name;
    std::string text;
};

struct rtlabel_row {
    uint32 id = 0;
    std::string name;
    bool and_mode = false;
};

struct scenario {
    std::vector<interface_row> interfaces;
    std::vector<label_row> labels;
    std::vector<rtlabel_row> rtlabels;
    std::vector<qz_tunbin> tunnels;
    std::vector<qz_alm_hier> alarms;
    std::map<std::string, uint32> vrrp; // configured priority per port
    uint32 synthetic = 0;
};

// Reads `path` into `*ret`.  On failure `*error` names the line and why.
[[nodiscard]] int scenario_load(const std::string &path, scenario *ret, std::string *error);
// Reads scenario text (what scenario_load reads from a file).
[[nodiscard]] int scenario_parse(const std::string &text, scenario *ret, std::string *error);

// Names of interface kinds ("port", "bridge", "vti", else the number).
std::string kind_name(uint8 kind);
// The text form of an address ("" for none).
std::string address_text(const lc_ipaddr &addr);

} // namespace appliance
