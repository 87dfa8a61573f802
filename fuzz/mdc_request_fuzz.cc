// What mgmtd sends the management client arrives as decoded requests whose
// bindings are the peer's to choose: configuration-change and action
// notifications, and forwarded queries.  Taking them apart must return a
// code or a whole result, never crash, leak or half-fill its outputs, and an
// answer built for any query must encode.
#include <cstdlib>

#include "mgmt/mdc_misc.h"

namespace
{

void drop_line(int, const char *, void *) {}

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
    bn_binding_array *bindings = nullptr;
    if (bn_request_get(msg, nullptr, nullptr, &bindings, nullptr, nullptr, nullptr) != 0) abort();
    bn_binding_array *prev = nullptr, *next = nullptr;
    if (mdc_event_config_change_notif_extract(bindings, &prev, &next) != 0) {
        if (prev || next) abort();
    } else if (!prev || !next) {
        abort();
    }
    bn_binding_array_free(&prev);
    bn_binding_array_free(&next);

    tstring *action = nullptr;
    bn_binding_array *params = nullptr;
    if (mdc_event_action_notif_extract(bindings, &action, &params) != 0) {
        if (action || params) abort();
    }
    ts_free(&action);
    bn_binding_array_free(&params);
    bn_binding_array_free(&bindings);
}

void answer_query(const bn_request *msg)
{
    bn_response *resp = nullptr;
    if (mdc_mon_build_response(msg, answer_get, nullptr, answer_iterate, nullptr, &resp) != 0)
        abort();
    tbuf *wire = nullptr;
    if (bn_response_msg_serialize(resp, bn_frame_header_reserve, &wire) != 0) abort();
    tb_free(&wire);
    bn_response_msg_free(&resp);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = [] {
        lc_log_set_sink(drop_line, nullptr);
        lc_log_set_effective_level_for_tests(LCL_DEBUG);
        return true;
    }();
    (void)quiet;
    if (size > 0xFFFFFFFFu) return 0;

    bn_request *msg = nullptr;
    if (bn_request_msg_deserialize(data, uint32(size), &msg) != 0) return 0;
    if (msg->msg_type == bbmt_query_request)
        answer_query(msg);
    else
        take_apart_event(msg);
    bn_request_msg_free(&msg);
    return 0;
}
