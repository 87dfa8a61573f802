#include <gtest/gtest.h>

#include "log/logging.h"
#include "support/log_capture.h"

namespace {
int fails_quietly() { bail_error(lc_err_cancelled); return 0; }
}

TEST(Logging, CancelledPassesUpUnchanged)
{
    LogCapture cap;
    EXPECT_EQ(fails_quietly(), lc_err_cancelled);
    EXPECT_TRUE(cap.lines().empty()) << cap.dump();
}
