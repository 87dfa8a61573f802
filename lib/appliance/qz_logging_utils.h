// Log levels and time zone kept in step with the management configuration.
//
// The logger (log/logging.h) holds the system, daemon and override levels;
// mgmtd holds the configuration they come from, under /logging/syslog.
// This module reads those nodes through a management client handle
// (mgmt/mdc_main.h) at start-up, applies the ones that arrive in a
// configuration-change notification, and registers the event interests
// that deliver such notifications and time-zone changes.  It sits in the
// appliance layer rather than beside the logger because it calls the
// management client, a layer above the logger.
//
// Ownership: nothing is kept.  The client handles are borrowed; binding
// arrays are only read, except that the `_detach` form removes (and frees)
// the logging nodes it applies.
#pragma once

#include "bnode/bnode.h"
#include "mgmt/mdc_main.h"

// Node names read and matched.  The "/" of the file path /var/log/messages
// is escaped, as binding names require; the two formats take the process
// name and the facility number N of localN.
#define QZ_LOG_NODE_SYSTEM_LEVEL                                                                   \
    "/logging/syslog/action/file/\\/var\\/log\\/messages/facility/all/min_priority"
#define QZ_LOG_NODE_PROCESS_LEVEL_FMT "/logging/syslog/process/%s/log_level"
#define QZ_LOG_NODE_OVERRIDE_ENABLE                                                                \
    "/logging/syslog/action/file/\\/var\\/log\\/messages/facility/override/enable"
#define QZ_LOG_NODE_LOCAL_LEVEL_FMT                                                                \
    "/logging/syslog/action/file/\\/var\\/log\\/messages/facility/single/local%d/min_priority"

// Event and action names of the interest registrations.
#define QZ_INTEREST_ADD_ACTION "/mgmtd/events/actions/interest/add"
#define QZ_DBCHANGE_EVENT "/mgmtd/notify/dbchange"
#define QZ_TIME_ZONE_EVENT "/time/notify/zonechange"
#define QZ_TIME_ZONE_NODE "/time/zone"

// Size of the buffer the node names are formatted into.
constexpr uint32 qz_log_node_name_size = 256;

// Asks mgmtd for configuration-change notifications of "/logging/**".
[[nodiscard]] int qz_register_log_level_change(md_client_context *mcc);

// Reads the system level, the daemon level of this process, the
// system-wide override switch and the override level of this process's
// localN facility, and applies each one that is set.  A failed read or
// setting ends it with that code (settings made before it stay); a daemon
// level name outside lc_log_level_config_names is lc_err_bad_type.
[[nodiscard]] int qz_init_log_level(md_client_context *mcc);

// Applies the four logging nodes found among the changed bindings of a
// configuration-change notification and removes them from the array, so
// that the caller's later walk does not see them.  A deleted daemon level
// clears the daemon level.  A deleted or empty system level leaves the
// system level alone (there is no level to set it to).
[[nodiscard]] int qz_handle_log_level_change_detach(bn_binding_array *bindings);
// The same, leaving the bindings in the array.
[[nodiscard]] int qz_handle_log_level_change(const bn_binding_array *bindings);

// Asks mgmtd for the time-zone change event.
[[nodiscard]] int qz_register_time_zone_change(md_client_context *mcc);
// Reloads the time zone when `event_name` is the time-zone event and logs
// "Time zone change handled OK"; any other name is lc_err_not_found, not
// logged, so that the caller goes on with its other events.
[[nodiscard]] int qz_handle_time_zone_change(const char *event_name);
// The same, decided by the presence of "/time/zone" among `bindings`.
[[nodiscard]] int qz_handle_time_zone_change_ex(const bn_binding_array *bindings);
