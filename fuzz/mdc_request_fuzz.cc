// What mgmtd sends the management client arrives as decoded requests whose
// bindings are the peer's to choose: configuration-change and action
// notifications, and forwarded queries.  Taking them apart must return a
// code or a whole result, never crash, leak or half-fill its outputs, and an
// answer built for any query must encode.
#include "fuzz_common.h"
#include "mgmt/mdc_misc.h"

namespace
{

using fuzz::require;

int answer_get(const char *name, const tstr_array *, void *, bn_binding_array *out)
{
    bn_binding *b = nullptr;
    if (bn_binding_new_str(&b, name, ba_value, bt_string, 0, "x") != 0) return lc_err_bad_name;
    return bn_binding_array_append_takeover(out, &b);
}

int answer_iterate(const char *, const tstr_array *, void *, bn_binding_array *)
{
    return lc_err_cancelled;
}

void take_apart_event(const bn_request *msg)
{
    owned<bn_binding_array> bindings, prev, next, params;
    require(bn_request_get(msg, nullptr, nullptr, bindings.out(), nullptr, nullptr, nullptr) == 0);
    if (mdc_event_config_change_notif_extract(bindings.get(), prev.out(), next.out()) != 0)
        require(!prev && !next);
    else
        require(prev && next);
    owned<tstring> action;
    if (mdc_event_action_notif_extract(bindings.get(), action.out(), params.out()) != 0)
        require(!action && !params);
}

void answer_query(const bn_request *msg)
{
    owned<bn_response> resp;
    owned<tbuf> wire;
    require(mdc_mon_build_response(msg, answer_get, nullptr, answer_iterate, nullptr, resp.out()) ==
            0);
    require(bn_response_msg_serialize(resp.get(), bn_frame_header_reserve, wire.out()) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::quiet_logs();
    if (size > 0xFFFFFFFFu) return 0;
    owned<bn_request> msg;
    if (bn_request_msg_deserialize(data, uint32(size), msg.out()) != 0) return 0;
    if (msg->msg_type == bbmt_query_request)
        answer_query(msg.get());
    else
        take_apart_event(msg.get());
    return 0;
}
