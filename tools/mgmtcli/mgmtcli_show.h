// mgmtcli's "show" commands: the tracking daemon's state records, read
// through mgmtd and printed for an operator or, with --json, for scripts.
//
//   show managers [--json]        every manager, one line each, under the
//                                 engine summary
//   show manager NAME [--json]    one manager in full: operation, results,
//                                 both actions with their descriptions
//   show summary [--json]         the engine summary
#pragma once

#include <string>
#include <vector>

#include "mgmtcli_session.h"

namespace mgmtcli
{

// Checks the shape of a "show" command; false with `*why` when it is wrong.
bool show_check(const std::vector<std::string> &words, std::string *why);
// Runs it: 0, or the exit status (1 failed, 3 unreachable) with `*why`.
int show_run(session &s, const std::vector<std::string> &words, std::string *why);

} // namespace mgmtcli
