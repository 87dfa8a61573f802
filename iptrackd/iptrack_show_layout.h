// The byte layouts of the show records: the manager table answered for
// "/qz/iptrackd/state/mgr" and the summary record answered for
// "/qz/iptrackd/state/summary".
//
// Header-only and free of engine types, so that the daemon writes and the
// command-line client reads the same named offsets without the client
// depending on the engine.  Numbers are in the host's byte order: the
// records never leave the appliance (mgmtd relays them as opaque binary
// values to clients on the same machine).  Texts are NUL-terminated within
// their field and cut to fit; padding and unused fields are zero, because
// the caller zero-fills the buffer before the engine writes.
#pragma once

#include "log/common.h"

// ---------------------------------------------------------------------------
// Manager table: a u32 record count, then one record per manager.

constexpr uint32 iptrack_show_mgr_count_off = 0;
constexpr uint32 iptrack_show_mgr_first_off = 4;
constexpr uint32 iptrack_show_mgr_record_size = 1500;

// Offsets within one manager record.
constexpr uint32 iptrack_show_mgr_name_off = 0;
constexpr uint32 iptrack_show_mgr_name_len = 64;
constexpr uint32 iptrack_show_mgr_desc_off = 64;
constexpr uint32 iptrack_show_mgr_desc_len = 72;
constexpr uint32 iptrack_show_mgr_oper_name_off = 136;
constexpr uint32 iptrack_show_mgr_oper_name_len = 64;
constexpr uint32 iptrack_show_mgr_oper_desc_off = 200;
constexpr uint32 iptrack_show_mgr_up_name_off = 572;
constexpr uint32 iptrack_show_mgr_up_name_len = 64;
constexpr uint32 iptrack_show_mgr_up_desc_off = 636;
constexpr uint32 iptrack_show_mgr_dn_name_off = 1008;
constexpr uint32 iptrack_show_mgr_dn_name_len = 64;
constexpr uint32 iptrack_show_mgr_dn_desc_off = 1072;
// Every description field (operation, up action, down action).
constexpr uint32 iptrack_show_desc_len = 372;
constexpr uint32 iptrack_show_mgr_rtlabel_name_off = 1444;
constexpr uint32 iptrack_show_mgr_rtlabel_name_len = 16;
constexpr uint32 iptrack_show_mgr_status_changes_off = 1460; // u32
constexpr uint32 iptrack_show_mgr_failures_off = 1464;       // u16
constexpr uint32 iptrack_show_mgr_status_off = 1466;         // u8: 1 up, 0 down
constexpr uint32 iptrack_show_mgr_since_down_ms_off = 1468;  // u32, 0 when never down
constexpr uint32 iptrack_show_mgr_since_up_ms_off = 1472;    // u32, since reset when never up
constexpr uint32 iptrack_show_mgr_interval_off = 1476;       // u32 seconds
constexpr uint32 iptrack_show_mgr_ka_off = 1480;             // u16
constexpr uint32 iptrack_show_mgr_up_thresh_off = 1482;      // u16
constexpr uint32 iptrack_show_mgr_dn_thresh_off = 1484;      // u16
constexpr uint32 iptrack_show_mgr_runs_off = 1488;           // u32
constexpr uint32 iptrack_show_mgr_rtlabel_id_off = 1492;     // u32
constexpr uint32 iptrack_show_mgr_flags_off = 1496;          // u8
constexpr uint8 iptrack_show_mgr_flag_enabled = 1 << 0;
constexpr uint32 iptrack_show_mgr_end = 1497; // 3 bytes of padding follow

static_assert(iptrack_show_mgr_desc_off == iptrack_show_mgr_name_off + iptrack_show_mgr_name_len);
static_assert(iptrack_show_mgr_oper_name_off ==
              iptrack_show_mgr_desc_off + iptrack_show_mgr_desc_len);
static_assert(iptrack_show_mgr_oper_desc_off ==
              iptrack_show_mgr_oper_name_off + iptrack_show_mgr_oper_name_len);
static_assert(iptrack_show_mgr_up_name_off ==
              iptrack_show_mgr_oper_desc_off + iptrack_show_desc_len);
static_assert(iptrack_show_mgr_up_desc_off ==
              iptrack_show_mgr_up_name_off + iptrack_show_mgr_up_name_len);
static_assert(iptrack_show_mgr_dn_name_off == iptrack_show_mgr_up_desc_off + iptrack_show_desc_len);
static_assert(iptrack_show_mgr_dn_desc_off ==
              iptrack_show_mgr_dn_name_off + iptrack_show_mgr_dn_name_len);
static_assert(iptrack_show_mgr_rtlabel_name_off ==
              iptrack_show_mgr_dn_desc_off + iptrack_show_desc_len);
static_assert(iptrack_show_mgr_status_changes_off ==
              iptrack_show_mgr_rtlabel_name_off + iptrack_show_mgr_rtlabel_name_len);
static_assert(iptrack_show_mgr_end + 3 == iptrack_show_mgr_record_size);
static_assert(iptrack_show_mgr_record_size == 1500);

// Bytes of the manager table for `count` managers (4 for none).
constexpr uint32 iptrack_show_mgr_table_size(uint32 count)
{
    return iptrack_show_mgr_first_off + iptrack_show_mgr_record_size * count;
}

// ---------------------------------------------------------------------------
// Summary record.

constexpr uint32 iptrack_show_summary_size = 384;
constexpr uint32 iptrack_show_sum_state_off = 0;
constexpr uint32 iptrack_show_sum_state_len = 372;
constexpr uint32 iptrack_show_sum_mgrs_off = 372;         // u16
constexpr uint32 iptrack_show_sum_enabled_mgrs_off = 374; // u16
constexpr uint32 iptrack_show_sum_opers_off = 376;        // u16
constexpr uint32 iptrack_show_sum_actions_off = 378;      // u16
constexpr uint32 iptrack_show_sum_results_off = 380;      // u32
static_assert(iptrack_show_sum_mgrs_off == iptrack_show_sum_state_off + iptrack_show_sum_state_len);
static_assert(iptrack_show_sum_results_off + 4 == iptrack_show_summary_size);
static_assert(iptrack_show_summary_size == 384);
