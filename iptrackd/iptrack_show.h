// Show records: what the engine writes for the state queries.
//
// iptrack_show_mgrs and iptrack_show_summary (declared in iptrack.h) fill
// buffers that the caller allocated and zero-filled; the byte layouts are in
// iptrack_show_layout.h, shared with the command-line client.  Records are
// written field by field at the named offsets in the host's byte order.
// This module only reads the tables; it runs on the event-loop thread and
// never sends, so no entry can change under it.
#pragma once

#include "iptrack.h"
#include "iptrack_show_layout.h"

// Writes the description of `action` into `text` (iptrack_show_desc_len
// bytes, NUL-terminated, at most 371 characters).  `oper` is the manager's
// first operation, or null for a manager without operation requests; it
// supplies the port when the action has none and the label of subnet
// actions.  0, or lc_err_unexpected_null for a null text or action (text
// then empty when given).
[[nodiscard]] int iptrack_get_show_action_str(char *text, const iptrack_action *action,
                                              const iptrack_oper *oper);
