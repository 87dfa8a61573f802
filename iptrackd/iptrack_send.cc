// Building and sending the engine's requests (see iptrack_send.h).
#include "iptrack_send.h"

#include "iptrackd_mgmt.h"
#include "log/logging.h"
#include "mgmt/mdc_main.h"
#include "util/tstring.h"

iptrack_bindings::iptrack_bindings()
{
    err_ = bn_binding_array_new(arr_.out());
}

iptrack_bindings &iptrack_bindings::append(int err, bn_binding *binding)
{
    owned<bn_binding> held{binding};
    if (err_ != 0) return *this;
    if (err == 0) err = held ? 0 : lc_err_unexpected_null;
    if (err == 0) {
        bn_binding *b = held.release();
        err = bn_binding_array_append_takeover(arr_.get(), &b);
        held.reset(b);
    }
    err_ = err;
    return *this;
}

iptrack_bindings &iptrack_bindings::add_u8(const char *name, uint8 value)
{
    bn_binding *b = nullptr;
    int err = bn_binding_new_uint8(&b, name, ba_value, 0, value);
    return append(err, b);
}

iptrack_bindings &iptrack_bindings::add_u16(const char *name, uint16 value)
{
    bn_binding *b = nullptr;
    int err = bn_binding_new_uint16(&b, name, ba_value, 0, value);
    return append(err, b);
}

iptrack_bindings &iptrack_bindings::add_u32(const char *name, uint32 value)
{
    bn_binding *b = nullptr;
    int err = bn_binding_new_uint32(&b, name, ba_value, 0, value);
    return append(err, b);
}

iptrack_bindings &iptrack_bindings::add_bool(const char *name, bool value)
{
    bn_binding *b = nullptr;
    int err = bn_binding_new_tbool(&b, name, ba_value, 0, value ? 1 : 0);
    return append(err, b);
}

iptrack_bindings &iptrack_bindings::add_str(const char *name, const char *value)
{
    bn_binding *b = nullptr;
    int err = bn_binding_new_str(&b, name, ba_value, bt_string, 0, value ? value : "");
    return append(err, b);
}

int iptrack_send_action(const char *action_name, const iptrack_bindings &bindings,
                        bn_binding_array **ret_results)
{
    if (ret_results) *ret_results = nullptr;
    bail_null(action_name);
    bail_error(bindings.error());

    uint32 code = 0;
    owned<tstring> msg;
    owned<bn_binding_array> results;
    bail_error(mdc_send_action_with_bindings_and_results(
        iptrackd_mcc, &code, msg.out(), action_name, bindings.get(), results.out()));
    if (code != 0) {
        lc_log_basic(LCL_ERR, "%s: %s refused with code %u: %s", __func__, action_name, code,
                     msg ? ts_str_maybe(msg.get()) : "");
        return lc_err_generic_error;
    }
    if (ret_results) *ret_results = results.release();
    return 0;
}

int iptrack_send_event_oneway(const char *event_name, const iptrack_bindings &bindings)
{
    bail_null(event_name);
    bail_error(bindings.error());
    bail_error(mdc_send_event_with_bindings_oneway(iptrackd_mcc, event_name, bindings.get()));
    return 0;
}
