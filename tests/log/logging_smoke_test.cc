#include <gtest/gtest.h>

#include "log/logging.h"

namespace {
int fails_quietly() { bail_error(lc_err_cancelled); return 0; }
}

TEST(Logging, CancelledPassesUpUnchanged) { EXPECT_EQ(fails_quietly(), lc_err_cancelled); }
