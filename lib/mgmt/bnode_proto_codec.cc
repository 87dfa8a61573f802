// The byte encoding of requests and responses.
//
//   request:  service id (2), type (2), length (4), message id (4),
//             transaction id (4), audit user information (string),
//             node count (4), node records, body by type
//   response: service id (2), type (2), length (4), message id (4),
//             transaction id (4), request message id (4), return code (4),
//             return message (string), node count (4), node records, body
//   node:     node id (4), absolute flag (1), name parts (count (4) and
//             strings), attribute count (4), attribute records (the copy
//             table of the attribute types), per-node body (query and set
//             requests: sub-operation (4), flags (4), and for "reparent" two
//             strings)
//
// Integers are big-endian; a string is a 32-bit length and the bytes.  The
// length field counts the bytes from the service id on.  Writing goes
// through placeholders patched at their offsets; reading checks the bytes
// left before every field, and a count is compared with the smallest record
// it announces before anything is built for it, so no length or count from
// the wire sizes an allocation beyond the bytes actually present.
#include <algorithm>
#include <cstring>
#include <utility>

#include "mgmt/bnode_proto.h"
#include "mgmt/bnode_proto_internal.h"
#include "util/byte_cursor.h"
#include "util/tstr_array.h"

namespace
{

// Header layouts.
constexpr uint32 off_service_id = 0;
constexpr uint32 off_msg_type = 2;
constexpr uint32 off_length = 4;
constexpr uint32 off_msg_id = 8;
constexpr uint32 off_transaction_id = 12;
constexpr uint32 off_req_msg_id = 16;
constexpr uint32 request_header_size = 16;
constexpr uint32 response_header_size = 20;
static_assert(off_transaction_id + 4 == request_header_size);
static_assert(off_req_msg_id + 4 == response_header_size);

// The smallest records, for checking counts against the bytes present.
constexpr uint32 string_min_size = 4;
// id, absolute flag, part count, attribute count
constexpr uint32 node_min_size = 4 + 1 + 4 + 4;
// sub-operation and flags of a query or set node
constexpr uint32 node_body_min_size = 8;
// header and the smallest value (a length, or an empty string)
constexpr uint32 attrib_min_size = bn_attrib_wire_header_size + 4;

bool has_node_body(uint16 type)
{
    return type == bbmt_query_request || type == bbmt_set_request;
}

// ---------------------------------------------------------------------------
// Writing

// A string: its length and its bytes.
int write_str(lc_tbuf_writer &w, const tstring *ts)
{
    return ts ? w.counted_be32(ts->buf, ts->length) : w.be32(0);
}

int write_attribs(lc_tbuf_writer &w, const bn_binding *b)
{
    uint32 count_off = 0;
    bail_error(w.hole_be32(&count_off));
    uint32 count = 0;
    const uint32 n = bn_attrib_array_length_quick(b->attribs);
    for (uint32 i = 0; i < n; ++i) {
        const bn_attrib *a = bn_attrib_array_get_quick(b->attribs, i);
        if (a == nullptr) continue; // absent attributes are not counted
        bail_require(a->type >= 1 && a->type <= bt_LAST);
        const bn_attrib_copy_out_func out = bn_attrib_copy_funcs[a->type].copy_out;
        if (out == nullptr) {
            lc_log_basic(LCL_ERR, "Couldn't get attrib copy out func for type %s",
                         bn_type_to_name(a->type));
            return lc_err_bad_type;
        }
        bail_error_quiet(out(a, w.buf()));
        ++count;
    }
    return w.patch_be32(count_off, count);
}

// A name held only as text is split straight into the buffer, with the
// tokeniser and options of bn_binding_name_to_parts, so that encoding
// builds no part array.
struct part_sink {
    lc_tbuf_writer *w;
    uint32 count;
    uint32 first_len;
};

int write_part(void *ctx, const char *token, uint32 len)
{
    auto *ps = static_cast<part_sink *>(ctx);
    if (ps->count++ == 0) ps->first_len = len;
    return ps->w->counted_be32(token, len);
}

int write_name_parts(lc_tbuf_writer &w, const tstring *name)
{
    bail_null(name);
    const char *text = name->buf;
    bail_error(w.u8(text[0] == '/' ? 1 : 0));
    uint32 count_off = 0;
    bail_error(w.hole_be32(&count_off));
    part_sink ps{&w, 0, 0};
    bail_error(detail::ts_tokenize_each(text, uint32(strnlen(text, name->length)), '/', '\\', 0,
                                        bn_name_tokenize_options, write_part, &ps));
    // As the splitter does: a single empty part is no part at all.
    if (ps.count == 1 && ps.first_len == 0) {
        bail_error(tb_delete_bytes(w.buf(), count_off + 4, string_min_size));
        ps.count = 0;
    }
    return w.patch_be32(count_off, ps.count);
}

int write_binding(lc_tbuf_writer &w, const bn_binding *b)
{
    if (b->name_parts == nullptr) {
        bail_error_quiet(write_name_parts(w, b->name));
    } else {
        bail_error(w.u8(b->name_is_absolute ? 1 : 0));
        const uint32 n = tstr_array_length_quick(b->name_parts);
        bail_error(w.be32(n));
        for (uint32 i = 0; i < n; ++i)
            bail_error(write_str(w, tstr_array_get_quick(b->name_parts, i)));
    }
    return write_attribs(w, b);
}

// Node records of either message: `body` writes the per-node body.
template <class Arr, class Node, class Body>
int write_nodes(lc_tbuf_writer &w, const Arr *nodes, uint32 (*length)(const Arr *),
                Node *(*get)(const Arr *, uint32), Body body)
{
    uint32 count_off = 0;
    bail_error(w.hole_be32(&count_off));
    uint32 count = 0;
    const uint32 n = length(nodes);
    for (uint32 i = 0; i < n; ++i) {
        const Node *node = get(nodes, i);
        if (node == nullptr || node->binding == nullptr) continue;
        bail_error(w.be32(node->node_id));
        bail_error_quiet(write_binding(w, node->binding));
        bail_error_quiet(body(node));
        ++count;
    }
    return w.patch_be32(count_off, count);
}

int start(uint32 reserve, uint32 header_size, tbuf **ret)
{
    bail_error(tb_new_size(ret, reserve + 256));
    bail_error(tb_append_bytes(*ret, 0, reserve + header_size));
    return 0;
}

// The fields common to both headers, written over the placeholder.
int finish_header(lc_tbuf_writer &w, uint32 reserve, uint16 service_id, uint16 type, uint32 msg_id,
                  uint32 transaction_id, uint32 *ret_length)
{
    constexpr auto be = lc_bytes::order::big;
    const uint32 length = w.offset() - reserve;
    bail_error(w.patch<be>(reserve + off_service_id, service_id));
    bail_error(w.patch<be>(reserve + off_msg_type, type));
    bail_error(w.patch<be>(reserve + off_length, length));
    bail_error(w.patch<be>(reserve + off_msg_id, msg_id));
    bail_error(w.patch<be>(reserve + off_transaction_id, transaction_id));
    *ret_length = length;
    return 0;
}

int illegal_type(uint32 type, int code)
{
    lc_log_basic(LCL_ERR, "illegal messsage of type %d", int(type));
    return code;
}

} // namespace

int bn_request_msg_serialize(bn_request *msg, uint32 reserve, tbuf **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(msg);
    if (!bn_msg_type_is_request(msg->msg_type))
        return illegal_type(msg->msg_type, lc_err_unexpected_case);

    owned<tbuf> buf;
    bail_error(start(reserve, request_header_size, buf.out()));
    lc_tbuf_writer w(buf.get());
    bail_error(write_str(w, msg->audit_user_info));
    const uint16 type = msg->msg_type;
    auto node_body = [&](const bn_request_per_node *node) -> int {
        if (!has_node_body(type)) return 0;
        bail_error(w.be32(node->subop));
        bail_error(w.be32(node->node_flags));
        if (type == bbmt_set_request && node->subop == bsso_reparent) {
            bail_error(write_str(w, node->reparent_parent));
            bail_error(write_str(w, node->reparent_name));
        }
        return 0;
    };
    bail_error_quiet(write_nodes(w, msg->nodes, bn_request_per_node_array_length_quick,
                                 bn_request_per_node_array_get_quick, node_body));
    switch (type) {
    case bbmt_query_request:
    case bbmt_set_request:
        bail_error(w.be32(msg->flags));
        bail_error(write_str(w, msg->db_name));
        bail_error(w.be32(uint32(msg->cond_db_revision_id)));
        break;
    case bbmt_action_request:
        bail_error(write_str(w, msg->action_name));
        break;
    case bbmt_event_request:
        bail_error(write_str(w, msg->event_name));
        break;
    }
    uint32 length = 0;
    bail_error(finish_header(w, reserve, msg->service_id, type, msg->msg_id, msg->transaction_id,
                             &length));
    msg->length = length;
    *ret = buf.release();
    return 0;
}

int bn_response_msg_serialize(bn_response *msg, uint32 reserve, tbuf **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(msg);
    if (!bn_msg_type_is_response(msg->msg_type))
        return illegal_type(msg->msg_type, lc_err_unexpected_case);

    owned<tbuf> buf;
    bail_error(start(reserve, response_header_size, buf.out()));
    lc_tbuf_writer w(buf.get());
    bail_error(w.be32(msg->return_code));
    bail_error(write_str(w, msg->return_msg));
    bail_error_quiet(write_nodes(w, msg->nodes, bn_response_per_node_array_length_quick,
                                 bn_response_per_node_array_get_quick,
                                 [](const bn_response_per_node *) { return 0; }));
    if (msg->msg_type == bbmt_query_response || msg->msg_type == bbmt_set_response)
        bail_error(w.be32(uint32(msg->db_revision_id)));
    uint32 length = 0;
    bail_error(finish_header(w, reserve, msg->service_id, msg->msg_type, msg->msg_id,
                             msg->transaction_id, &length));
    bail_error(w.patch_be32(reserve + off_req_msg_id, msg->req_msg_id));
    msg->length = length;
    *ret = buf.release();
    return 0;
}

// ---------------------------------------------------------------------------
// Reading.

namespace
{

// The one failure of a message cut short, or of a count that the bytes
// left cannot hold.
int short_message()
{
    bail_force(lc_err_no_buffer_space);
}

// `count` records of at least `each` bytes must fit in what is left.
int need_count(const lc_byte_reader &r, uint32 count, uint32 each)
{
    return r.holds(count, each) ? 0 : short_message();
}

int read_u8(lc_byte_reader &r, uint8 *v)
{
    return r.u8(v) ? 0 : short_message();
}

int read_u32(lc_byte_reader &r, uint32 *v)
{
    return r.be32(v) ? 0 : short_message();
}

int read_i32(lc_byte_reader &r, int32 *v)
{
    return r.get<lc_bytes::order::big>(v) ? 0 : short_message();
}

// A string; `keep_empty` makes an empty string rather than none.
int read_str(lc_byte_reader &r, tstring **ret, bool keep_empty)
{
    *ret = nullptr;
    uint32 n = 0;
    const uint8 *text = nullptr;
    if (!(r.be32(&n) && r.view(n, &text))) return short_message();
    if (n == 0 && !keep_empty) return 0;
    bail_error(detail::ts_new_buffer(ret, reinterpret_cast<const char *>(text), n));
    return 0;
}

int read_attribs(lc_byte_reader &r, bn_binding *b)
{
    uint32 count = 0;
    bail_error_quiet(read_u32(r, &count));
    bail_error_quiet(need_count(r, count, attrib_min_size));
    for (uint32 i = 0; i < count; ++i) {
        bn_type type = 0;
        if (!r.holds(1, bn_attrib_wire_header_size) ||
            !r.get_at<lc_bytes::order::big>(bn_attrib_wire_type_offset, &type))
            return short_message();
        const bn_attrib_copy_in_func in =
            type >= 1 && type <= bt_LAST ? bn_attrib_copy_funcs[type].copy_in : nullptr;
        if (in == nullptr) {
            lc_log_basic(LCL_ERR, "Couldn't get attrib copy in func for type %u", type);
            return lc_err_parse_error;
        }
        owned<bn_attrib> a;
        bail_error(bn_attrib_new(a.out()));
        uint32 used = 0;
        bail_error_quiet(in(a.get(), r.data(), uint32(r.remaining()), &used));
        bail_require(r.skip(used));
        // One attribute per id: a second one would be lost on the way in.
        const bn_attribute_id id = a->attribute_id;
        if (bn_attrib_array_get_quick(b->attribs, id) != nullptr) bail_force(lc_err_parse_error);
        bn_attrib *raw = a.release();
        bail_error(bn_binding_set_attrib_takeover(b, id, &raw));
    }
    return 0;
}

int read_binding(lc_byte_reader &r, bn_binding **ret)
{
    uint8 abs = 0;
    bail_error_quiet(read_u8(r, &abs));
    if (abs > 1) bail_force(lc_err_parse_error);
    uint32 count = 0;
    bail_error_quiet(read_u32(r, &count));
    bail_error_quiet(need_count(r, count, string_min_size));
    owned<tstr_array> parts;
    bail_error(tstr_array_new(parts.out(), nullptr));
    for (uint32 i = 0; i < count; ++i) {
        tstring *part = nullptr;
        bail_error_quiet(read_str(r, &part, true));
        bail_error(tstr_array_append_takeover(parts.get(), &part));
    }
    tstr_array *raw_parts = parts.release();
    owned<bn_binding> b;
    bail_error(
        bn_binding_new_parts_components_takeover(b.out(), nullptr, &raw_parts, abs != 0, nullptr));
    bail_error_quiet(read_attribs(r, b.get()));
    *ret = b.release();
    return 0;
}

// Node records of either message into `nodes`; `body` reads the per-node
// body into the entry.  Returns the highest node id seen.
template <class Node, class Arr, class Body>
int read_nodes(lc_byte_reader &r, Arr *nodes, int (*append)(Arr *, Node **), uint32 body_min,
               Body body, uint32 *ret_max_id)
{
    uint32 count = 0;
    bail_error_quiet(read_u32(r, &count));
    bail_error_quiet(need_count(r, count, node_min_size + body_min));
    for (uint32 i = 0; i < count; ++i) {
        owned<Node> node{new (std::nothrow) Node{}};
        bail_null(node);
        bail_error_quiet(read_u32(r, &node->node_id));
        bail_error_quiet(read_binding(r, &node->binding));
        bail_error_quiet(body(node.get()));
        *ret_max_id = std::max(*ret_max_id, node->node_id);
        Node *raw = node.release();
        bail_error(append(nodes, &raw));
    }
    return 0;
}

// `used` bytes of `total` were read.
int check_used(uint32 total, uint32 used, uint32 length_field)
{
    if (used != length_field || used != total) {
        lc_log_basic(LCL_ERR, "total bytes: %d  used: %d",
                     int(length_field != used ? length_field : total), int(used));
        return lc_err_parse_error;
    }
    return 0;
}

uint32 next_node_id_after(uint32 max_id)
{
    return max_id < bn_first_node_id ? bn_first_node_id : max_id + 1;
}

struct header {
    uint16 service_id;
    uint16 msg_type;
    uint32 length;
    uint32 msg_id;
    uint32 transaction_id;
};

int read_header(lc_byte_reader &r, header *h)
{
    const bool ok = r.be16(&h->service_id) && r.be16(&h->msg_type) && r.be32(&h->length) &&
                    r.be32(&h->msg_id) && r.be32(&h->transaction_id);
    return ok ? 0 : short_message();
}

} // namespace

int bn_request_msg_deserialize(const uint8 *bytes, uint32 length, bn_request **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(bytes);
    lc_byte_reader r(bytes, length);
    header h{};
    bail_error_quiet(read_header(r, &h));
    if (!bn_msg_type_is_request(h.msg_type)) return illegal_type(h.msg_type, lc_err_parse_error);

    owned<bn_request> msg;
    bail_error(bn_request_msg_create(msg.out(), h.msg_type));
    msg->service_id = h.service_id;
    msg->msg_id = h.msg_id;
    msg->transaction_id = h.transaction_id;
    bail_error_quiet(read_str(r, &msg->audit_user_info, false));

    const uint16 type = h.msg_type;
    uint32 max_id = 0;
    auto node_body = [&](bn_request_per_node *node) -> int {
        if (!has_node_body(type)) return 0;
        bail_error_quiet(read_u32(r, &node->subop));
        bail_error_quiet(read_u32(r, &node->node_flags));
        if (type == bbmt_set_request && node->subop == bsso_reparent) {
            bail_error_quiet(read_str(r, &node->reparent_parent, false));
            bail_error_quiet(read_str(r, &node->reparent_name, false));
        }
        return 0;
    };
    bail_error_quiet(read_nodes<bn_request_per_node>(
        r, msg->nodes, bn_request_per_node_array_append_takeover,
        has_node_body(type) ? node_body_min_size : 0, node_body, &max_id));
    msg->next_node_id = next_node_id_after(max_id);

    switch (type) {
    case bbmt_query_request:
    case bbmt_set_request:
        bail_error_quiet(read_u32(r, &msg->flags));
        bail_error_quiet(read_str(r, &msg->db_name, false));
        bail_error_quiet(read_i32(r, &msg->cond_db_revision_id));
        break;
    case bbmt_action_request:
        bail_error_quiet(read_str(r, &msg->action_name, false));
        break;
    case bbmt_event_request:
        bail_error_quiet(read_str(r, &msg->event_name, false));
        break;
    }
    bail_error_quiet(check_used(length, length - uint32(r.remaining()), h.length));
    msg->length = h.length;
    *ret = msg.release();
    return 0;
}

int bn_response_msg_deserialize(const uint8 *bytes, uint32 length, bn_response **ret)
{
    bail_null(ret);
    *ret = nullptr;
    bail_null(bytes);
    lc_byte_reader r(bytes, length);
    header h{};
    bail_error_quiet(read_header(r, &h));
    if (!bn_msg_type_is_response(h.msg_type)) return illegal_type(h.msg_type, lc_err_parse_error);
    uint32 req_msg_id = 0;
    bail_error_quiet(read_u32(r, &req_msg_id));

    owned<bn_response> msg;
    bail_error(bn_response_msg_create(msg.out(), h.msg_type, req_msg_id, 0, nullptr));
    msg->service_id = h.service_id;
    msg->msg_id = h.msg_id;
    msg->transaction_id = h.transaction_id;
    bail_error_quiet(read_u32(r, &msg->return_code));
    bail_error_quiet(read_str(r, &msg->return_msg, false));
    uint32 max_id = 0;
    bail_error_quiet(read_nodes<bn_response_per_node>(
        r, msg->nodes, bn_response_per_node_array_append_takeover, 0,
        [](bn_response_per_node *) { return 0; }, &max_id));
    msg->next_node_id = next_node_id_after(max_id);
    if (h.msg_type == bbmt_query_response || h.msg_type == bbmt_set_response)
        bail_error_quiet(read_i32(r, &msg->db_revision_id));
    bail_error_quiet(check_used(length, length - uint32(r.remaining()), h.length));
    msg->length = h.length;
    *ret = msg.release();
    return 0;
}
