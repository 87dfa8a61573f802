// Answers to the monitoring queries for the daemon's state nodes.
//
// The management session (iptrackd_mgmt) hands every forwarded query to
// mdc_dispatch_mon_request with the two callbacks below.  Three nodes are
// answered: "/qz/iptrackd/state/is_alive" (the status text, whatever the
// status), and, once the daemon is ready, "/qz/iptrackd/state/mgr" (the
// manager table) and "/qz/iptrackd/state/summary" (the summary record), both
// binary values in the layouts of iptrack_show_layout.h, filled by the
// engine.  The record buffers are handed to the result bindings without a
// copy; the result array owns every binding appended to it.
//
// A node of ours that we do not know is answered with an empty entry (a
// null element of the result array): the dispatcher drops null entries, so
// the answer carries no value and no binding for that node, and the other
// nodes of the same query are answered as usual.
//
// Runs on the event-loop thread inside the handling of one query request;
// the engine is read without locks.
#pragma once

#include "bnode/bnode.h"

// The status text of the last "is_alive" answer (the constant text of the
// status map; null before the first one).
extern const char *tmp_str;

// Answers one "get" node (mdc_mon_get_func): appends at most one binding,
// named exactly as asked, to `ret_bindings`.  0 when the node was answered
// or ignored; a failure to build a record or a binding is logged and
// returned, and nothing is appended for the node.
[[nodiscard]] int iptrackd_mon_handle_get(const char *node_name, const tstr_array *node_name_parts,
                                          void *data, bn_binding_array *ret_bindings);
// Answers one "iterate" node (mdc_mon_iterate_func): the daemon lists no
// children, it only logs.  Always 0.
int iptrackd_mon_handle_iterate(const char *node_name, const tstr_array *node_name_parts,
                                void *data, bn_binding_array *ret_bindings);
