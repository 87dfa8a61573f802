// The configuration intake: turns configuration nodes into small effects on
// the engine's tables.
//
// Read in full once at start-up (iptrackd_config_query) and afterwards one
// changed binding at a time as the management session delivers change
// events (iptrackd_config_handle_change), plus the tunnel daemon's
// interface-change event (iptrackd_config_if_change).  Each binding becomes
// an attribute string copied into an entry and flagged for re-parsing, a
// deletion mark, an administrative status, a note, a route label id, or a
// change flag for the engine's next tick; parsing and acting are the
// engine's work.  Stateless; runs on the event-loop thread.
#pragma once

#include "bnode/bnode.h"

// The full read of start-up: every binding below the configuration root
// through iptrackd_config_handle_change, then the log levels.  A failing
// binding is logged, the walk goes on, and the read fails with
// lc_err_generic_error.
[[nodiscard]] int iptrackd_config_query();
// One binding (a bn_binding_array_foreach callback).  0, or the failure of
// a read or lookup, already logged.
int iptrackd_config_handle_change(const bn_binding_array *bindings, uint32 index,
                                  bn_binding *binding, void *data);
// The interface-change event: some operation waiting for its port makes
// the engine look at interfaces again.
[[nodiscard]] int iptrackd_config_if_change(const bn_binding_array *bindings);
// Stores an action's attribute string for the next tick's parse (creating
// the action).  Always 0; null arguments do nothing.
int iptrackd_config_update_action(const char *name, const char *attribs);
