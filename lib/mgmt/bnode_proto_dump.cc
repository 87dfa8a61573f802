// Message dumps: one log line for the header, one for the names or the
// return, the node count, then each node (at most bn_dump_max_nodes) with
// its sub-operation and attributes.  Nothing is formatted unless the level
// is enabled.
#include <cstdio>
#include <cstdlib>

#include "mgmt/bnode_proto.h"
#include "mgmt/bnode_proto_internal.h"

namespace
{

// The five texts after "<prefix>:" of the header line naming the session:
// " session <id> (<peer>)", or all empty without a session.
struct session_tag {
    char id[16];
    const char *a, *b, *c, *d, *e;
};

void tag_session(const gcl_session *session, session_tag *t)
{
    t->a = t->b = t->c = t->d = t->e = "";
    t->id[0] = '\0';
    if (session == nullptr) return;
    uint32 id = 0;
    const char *peer = nullptr;
    detail::proto_session_describe(session, &id, &peer);
    snprintf(t->id, sizeof t->id, "%u", id);
    t->a = " session ";
    t->b = t->id;
    t->c = " (";
    t->d = peer ? peer : "";
    t->e = ")";
}

// Whether a dump at `level` is logged; if so, fills the prefix (never
// null) and the session tag.
bool dump_start(const gcl_session *session, int32 level, const char **prefix, session_tag *t)
{
    if (level < 0 || !lc_log_check_level(level)) return false;
    if (*prefix == nullptr) *prefix = "";
    tag_session(session, t);
    return true;
}

const char *str_or_empty(const tstring *ts)
{
    return ts ? ts_str(ts) : "";
}

void dump_binding(int32 level, const char *prefix, uint32 index, uint32 node_id,
                  const bn_binding *b)
{
    lc_log_basic(level, "%s: rn[%d]: id %d %s", prefix, int(index), int(node_id),
                 str_or_empty(b->name));
}

void dump_attribs(int32 level, const char *prefix, uint32 index, const bn_binding *b)
{
    const uint32 n = bn_attrib_array_length_quick(b->attribs);
    for (uint32 i = 0; i < n; ++i) {
        const bn_attrib *a = bn_attrib_array_get_quick(b->attribs, i);
        if (a == nullptr) continue;
        char *raw = nullptr;
        // A value that cannot be printed is shown empty: the dump goes on.
        if (bn_attrib_get_str(a, nullptr, 0, nullptr, &raw) != 0) raw = nullptr;
        const lc_malloc_ptr<char> text{raw};
        lc_log_basic(level, "%s: rn[%d]: attrib %d(%s) type %d(%s) value \"%.1023s\"", prefix,
                     int(index), int(a->attribute_id),
                     lc_enum_to_string_quiet(bn_attribute_id_name_map, int32(a->attribute_id)),
                     int(a->type), bn_type_to_name(a->type), text ? text.get() : "");
    }
}

// The node count line; returns how many nodes to dump.
uint32 dump_count(int32 level, const char *prefix, uint32 n)
{
    if (n > bn_dump_max_nodes) {
        lc_log_basic(level, "%s: num nodes: %d (but only logging the first %d)", prefix, int(n),
                     int(bn_dump_max_nodes));
        return bn_dump_max_nodes;
    }
    lc_log_basic(level, "%s: num nodes: %d", prefix, int(n));
    return n;
}

} // namespace

int bn_request_msg_dump(const gcl_session *session, const bn_request *msg, int32 level,
                        const char *prefix)
{
    bail_null(msg);
    session_tag t;
    if (!dump_start(session, level, &prefix, &t)) return 0;
    lc_log_basic(level, "%s:%s%s%s%s%s service %d type %d (%s) msg id %d", prefix, t.a, t.b, t.c,
                 t.d, t.e, int(msg->service_id), int(msg->msg_type),
                 lc_enum_to_string_quiet(bn_msg_type_map, msg->msg_type), int(msg->msg_id));
    if (msg->msg_type == bbmt_action_request)
        lc_log_basic(level, "%s: action name: %s", prefix, str_or_empty(msg->action_name));
    else if (msg->msg_type == bbmt_event_request)
        lc_log_basic(level, "%s: event name: %s", prefix, str_or_empty(msg->event_name));
    lc_log_basic(level, "%s: audit userinfo string - %s", prefix,
                 str_or_empty(msg->audit_user_info));

    const uint32 shown =
        dump_count(level, prefix, bn_request_per_node_array_length_quick(msg->nodes));
    for (uint32 i = 0; i < shown; ++i) {
        const bn_request_per_node *node = bn_request_per_node_array_get_quick(msg->nodes, i);
        if (node == nullptr || node->binding == nullptr) continue;
        dump_binding(level, prefix, i, node->node_id, node->binding);
        if (msg->msg_type == bbmt_query_request)
            lc_log_basic(level, "%s: rn[%d]: query subop: %s flags: %08x", prefix, int(i),
                         lc_enum_to_string_quiet(bn_query_subop_map, int32(node->subop)),
                         node->node_flags);
        else if (msg->msg_type == bbmt_set_request)
            lc_log_basic(level, "%s: rn[%d]: set subop: %s flags: %08x", prefix, int(i),
                         lc_enum_to_string_quiet(bn_set_subop_map, int32(node->subop)),
                         node->node_flags);
        dump_attribs(level, prefix, i, node->binding);
    }
    return 0;
}

int bn_response_msg_dump(const gcl_session *session, const bn_response *msg, int32 level,
                         const char *prefix)
{
    bail_null(msg);
    session_tag t;
    if (!dump_start(session, level, &prefix, &t)) return 0;
    lc_log_basic(level, "%s:%s%s%s%s%s service %d type %d (%s) msg id %d to %d", prefix, t.a, t.b,
                 t.c, t.d, t.e, int(msg->service_id), int(msg->msg_type),
                 lc_enum_to_string_quiet(bn_msg_type_map, msg->msg_type), int(msg->msg_id),
                 int(msg->req_msg_id));
    lc_log_basic(level, "%s: ret code: %d ret msg: \"%s\"", prefix, int(msg->return_code),
                 str_or_empty(msg->return_msg));

    const uint32 shown =
        dump_count(level, prefix, bn_response_per_node_array_length_quick(msg->nodes));
    for (uint32 i = 0; i < shown; ++i) {
        const bn_response_per_node *node = bn_response_per_node_array_get_quick(msg->nodes, i);
        if (node == nullptr || node->binding == nullptr) continue;
        dump_binding(level, prefix, i, node->node_id, node->binding);
        dump_attribs(level, prefix, i, node->binding);
    }
    return 0;
}
