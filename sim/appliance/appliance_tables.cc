// The simulated appliance's shared tables (see appliance.h): publishing the
// scenario, and one interface again when it changes.
#include <cstring>

#include "appliance.h"
#include "appliance/qz_cloudpath_table.h"

namespace appliance
{

interface_row *sim::find_interface(const std::string &name)
{
    for (auto &row : model_.interfaces)
        if (name == row.info.name) return &row;
    return nullptr;
}

const qz_tunbin *sim::find_tunnel(const std::string &name) const
{
    for (const auto &t : model_.tunnels)
        if (name == t.name) return &t;
    return nullptr;
}

int sim::publish_interface(const interface_row &row)
{
    if (row.up) return qz_shm_pub_put_l3if(l3if_.get(), &row.info);
    const int err = qz_shm_pub_remove_l3if(l3if_.get(), row.info.name);
    return err == lc_err_not_found ? 0 : err;
}

int sim::publish_all()
{
    // Blocks are opened (or reopened in place after a restart) with room
    // for what a session may add at run time.
    const uint32 cap = qz_shm_default_capacity;
    bail_error(qz_shm_pub_open(qz_shm_kind_l3if, nullptr, cap, l3if_.out()));
    bail_error(qz_shm_pub_open(qz_shm_kind_iflabel, nullptr, cap, iflabel_.out()));
    bail_error(qz_shm_pub_open(qz_shm_kind_rtlabel, nullptr, qz_max_route_labels, rtlabel_.out()));
    bail_error(qz_shm_pub_open(qz_shm_kind_tunnel, nullptr, cap, tunnel_.out()));
    bail_error(qz_shm_pub_open(qz_shm_kind_alarm_hier, nullptr, cap, alarm_hier_.out()));
    for (const auto &row : model_.interfaces) bail_error(publish_interface(row));
    for (const auto &l : model_.labels)
        bail_error(qz_shm_pub_put_iflabel(iflabel_.get(), l.name.c_str(), l.text.c_str()));
    for (const auto &r : model_.rtlabels)
        bail_error(qz_shm_pub_put_rtlabel(rtlabel_.get(), r.id, r.name.c_str(), r.and_mode));
    for (const auto &t : model_.tunnels) bail_error(qz_shm_pub_put_tunnel(tunnel_.get(), &t));
    for (const auto &a : model_.alarms)
        bail_error(qz_shm_pub_put_alarm_hier(alarm_hier_.get(), &a));

    // The cloud path probe table is ours: a fresh queue of every slot.
    bail_error(ipsla_probes_create());
    bail_error(ipsla_probes_queue_init());
    ipsla_probes_set_synthetic_count(model_.synthetic);
    published_ = true;
    lc_log_basic(LCL_NOTICE,
                 "Published %zu interfaces, %zu labels, %zu route labels, %zu tunnels, %zu alarm "
                 "hierarchies and the cloud path probe table",
                 model_.interfaces.size(), model_.labels.size(), model_.rtlabels.size(),
                 model_.tunnels.size(), model_.alarms.size());
    return 0;
}

} // namespace appliance
