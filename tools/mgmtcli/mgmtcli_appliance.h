// `mgmtcli appliance ...`: the simulated appliance's tables and outcome, and
// changes to it while it runs (see mgmtcli_appliance.cc).
#pragma once

#include <string>
#include <vector>

#include "log/common.h"

// Runs the words after "appliance" as client `client`; the exit status.
int mgmtcli_appliance(const std::string &client, bool wait, int32 timeout_ms,
                      const std::vector<std::string> &words);
