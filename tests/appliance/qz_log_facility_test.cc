// Facility file lookup: own line first, then the "system" line, then local1.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <syslog.h>
#include <unistd.h>

#include "appliance/qz_log_facility.h"

namespace
{

class FacilityFile : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/ipt_facility.XXXXXX";
        const int fd = mkstemp(tmpl);
        ASSERT_GE(fd, 0);
        close(fd);
        path_ = tmpl;
    }
    void TearDown() override { unlink(path_.c_str()); }
    void write(const std::string &text) { std::ofstream(path_) << text; }
    int32 lookup(const char *name) { return lc_log_get_facility_from(path_.c_str(), name); }
    std::string path_;
};

} // namespace

TEST_F(FacilityFile, OwnLineWinsOverTheSystemLine)
{
    write("# facilities\n"
          "firewall 144\n"
          "system 152   # the daemons\n"
          "iptrackd 160\n");
    EXPECT_EQ(lookup("iptrackd"), 160);
    EXPECT_EQ(lookup("tunneld"), 152);
    EXPECT_EQ(lookup(nullptr), 152);
}

TEST_F(FacilityFile, FallsBackToLocal1)
{
    EXPECT_EQ(qz_log_facility_default, LOG_LOCAL1);
    write("firewall 144\n");
    EXPECT_EQ(lookup("iptrackd"), LOG_LOCAL1);
    EXPECT_EQ(lc_log_get_facility_from("/nonexistent/facility", "iptrackd"), LOG_LOCAL1);
    EXPECT_EQ(lc_log_get_facility_from(nullptr, "iptrackd"), LOG_LOCAL1);
    write("");
    EXPECT_EQ(lookup("iptrackd"), LOG_LOCAL1);
}

TEST_F(FacilityFile, MalformedLinesAreSkipped)
{
    write("system\n"           // no number
          "system 13\n"        // not a facility code
          "system 999\n"       // out of range
          "system 8x\n"        // trailing garbage
          "system 136 extra\n" // extra field
          "iptrackd -8\n"      // negative
          + std::string(400, 'x') +
          " 8\n" // overlong line
          "system\t176\n");
    EXPECT_EQ(lookup("iptrackd"), 176);
}
