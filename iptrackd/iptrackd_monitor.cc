// Answers to the monitoring queries (declared in iptrackd_monitor.h).
#include "iptrackd_monitor.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "iptrack.h"
#include "iptrack_show_layout.h"
#include "iptrackd_main.h"
#include "util/tbuffer.h"

const char *tmp_str = nullptr;

namespace
{

constexpr const char *mon_root = "/qz/iptrackd";
constexpr const char *mon_iterate_root = "/qz/iptrackd/";
constexpr const char *mon_is_alive = "/qz/iptrackd/state/is_alive";
constexpr const char *mon_mgr = "/qz/iptrackd/state/mgr";
constexpr const char *mon_summary = "/qz/iptrackd/state/summary";

bool has_prefix(const char *name, const char *prefix)
{
    return strncmp(name, prefix, strlen(prefix)) == 0;
}

// True when the node's parts are exactly those of `wanted` (an absolute name
// without escapes).  Without parts the name itself is compared.
bool is_node(const char *name, const tstr_array *parts, const char *wanted)
{
    if (!parts) return strcmp(name, wanted) == 0;
    const char *p = wanted;
    const uint32 n = tstr_array_length_quick(parts);
    for (uint32 i = 0; i < n; ++i) {
        if (*p != '/') return false;
        ++p;
        const char *part = tstr_array_get_str_quick(parts, i);
        if (!part) return false;
        const size_t len = strlen(part);
        if (strncmp(p, part, len) != 0) return false;
        p += len;
    }
    return *p == '\0';
}

int append_takeover(bn_binding_array *results, owned<bn_binding> *binding)
{
    bn_binding *b = binding->release();
    bail_error(bn_binding_array_append_takeover(results, &b));
    return 0;
}

// A zero-filled record buffer of `size` bytes filled by `fill`, wrapped as
// the binary value of a binding named `name`, appended to `results`.
template <class Fill>
int append_record(const char *name, uint32 size, Fill fill, bn_binding_array *results)
{
    std::unique_ptr<uint8, void (*)(void *)> bytes(static_cast<uint8 *>(calloc(1, size)), free);
    bail_null(bytes.get());
    bail_error(fill(bytes.get()));
    owned<tbuf> buf;
    uint8 *raw_bytes = bytes.release();
    // Takes the block over (and frees it on failure).
    bail_error(tb_new_takeover(buf.out(), &raw_bytes, size, size));
    owned<bn_binding> binding;
    tbuf *raw = buf.release();
    bail_error(bn_binding_new_binary_takeover(binding.out(), name, ba_value, 0, &raw));
    return append_takeover(results, &binding);
}

int answer_is_alive(const char *name, bn_binding_array *results)
{
    tmp_str = lc_enum_to_string(iptrackd_daemon_status_map, m_daemon_status);
    if (m_daemon_status == iptrackd_status_ready) {
        lc_log_basic(LCL_INFO, "iptrackd: thread liveness test passed.  Building response ...");
    } else if (m_daemon_status >= iptrackd_status_failed_partial &&
               m_daemon_status <= iptrackd_status_failed_thread_initialization) {
        lc_log_basic(LCL_NOTICE,
                     "Liveness check ignored since init Failed.  Building response ...");
    } else {
        lc_log_basic(LCL_NOTICE, "Liveness check shows still initializing, not ready.");
    }
    owned<bn_binding> binding;
    bail_error(bn_binding_new_str(binding.out(), name, ba_value, bt_string, 0, tmp_str));
    return append_takeover(results, &binding);
}

int answer_mgr(const char *name, bn_binding_array *results)
{
    const uint16 count = iptrack_get_num_mgrs();
    lc_log_basic(LCL_NOTICE, "%s: Rcvd show mgr request mgr cnt %u, syn cnt %u",
                 "iptrackd_mon_handle_get", unsigned(count), iptrack_get_synthetic_probes());
    const uint32 size = iptrack_show_mgr_table_size(count);
    return append_record(
        name, size,
        [&](uint8 *bytes) {
            if (count == 0) return 0;
            bail_error(iptrack_show_mgrs(bytes, size));
            return 0;
        },
        results);
}

int answer_summary(const char *name, bn_binding_array *results)
{
    lc_log_basic(LCL_NOTICE, "%s: Rcvd show summary request", "iptrackd_mon_handle_get");
    return append_record(
        name, iptrack_show_summary_size,
        [](uint8 *bytes) {
            bail_error(iptrack_show_summary(bytes));
            return 0;
        },
        results);
}

} // namespace

int iptrackd_mon_handle_get(const char *node_name, const tstr_array *node_name_parts, void *,
                            bn_binding_array *ret_bindings)
{
    bail_null(node_name);
    bail_null(ret_bindings);
    lc_log_basic(LCL_INFO, "iptrackd mon get $$$$$$$$$$$$$$$$: %s", node_name);
    if (!has_prefix(node_name, mon_root)) {
        lc_log_basic(LCL_NOTICE, "iptrackd mon get: not for us - %s", node_name);
        return 0;
    }
    if (is_node(node_name, node_name_parts, mon_is_alive))
        return answer_is_alive(node_name, ret_bindings);
    if (m_daemon_status != iptrackd_status_ready) {
        lc_log_basic(LCL_NOTICE, "Discard monitor req because init not ready");
        return 0;
    }
    if (is_node(node_name, node_name_parts, mon_mgr)) return answer_mgr(node_name, ret_bindings);
    if (is_node(node_name, node_name_parts, mon_summary))
        return answer_summary(node_name, ret_bindings);

    // The empty entry: no value for this node (see the header).
    bn_binding *none = nullptr;
    bail_error(bn_binding_array_append_takeover(ret_bindings, &none));
    lc_log_basic(LCL_NOTICE, "iptrackd mon get: unknown binding - %s", node_name);
    return 0;
}

int iptrackd_mon_handle_iterate(const char *node_name, const tstr_array *, void *,
                                bn_binding_array *)
{
    const char *name = node_name ? node_name : "";
    lc_log_basic(LCL_NOTICE, "iptrackd: mon_handle_iterate %s", name);
    if (!has_prefix(name, mon_iterate_root))
        lc_log_basic(LCL_NOTICE, "iptrackd: mon_handle_iterate: not for us - %s", name);
    return 0;
}
