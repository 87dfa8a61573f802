// Replays the seed corpora of the message fuzz targets through the
// decoders, so that every build checks them, with or without a fuzzer.
// Seeds named "bad_*" must be refused; "regress_*" (inputs that once
// crashed a fuzzer) only have to be handled, either way; the others must
// decode and encode back to the same bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mgmt/bnode_proto.h"
#include "support/log_capture.h"

namespace
{

namespace fs = std::filesystem;
using bytes = std::vector<uint8>;

bytes read_file(const fs::path &p)
{
    std::ifstream f(p, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

template <class Msg>
void replay(const char *dir, int (*decode)(const uint8 *, uint32, Msg **),
            int (*encode)(Msg *, uint32, tbuf **), int (*release)(Msg **))
{
    const fs::path root = fs::path(IPT_SOURCE_DIR) / "fuzz" / "corpus" / dir;
    ASSERT_TRUE(fs::is_directory(root)) << root;
    size_t seen = 0;
    for (const auto &entry : fs::directory_iterator(root)) {
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        const bytes in = read_file(entry.path());
        LogCapture cap;
        Msg *msg = nullptr;
        const int err = decode(in.data(), uint32(in.size()), &msg);
        if (name.rfind("regress_", 0) == 0) {
            if (err == 0) {
                tbuf *out = nullptr;
                EXPECT_EQ(encode(msg, 0, &out), 0);
                (void)tb_free(&out);
            }
        } else if (name.rfind("bad_", 0) == 0) {
            EXPECT_NE(err, 0);
            EXPECT_EQ(msg, nullptr);
            EXPECT_EQ(cap.lines().size(), 1u) << cap.dump();
        } else {
            ASSERT_EQ(err, 0) << cap.dump();
            tbuf *out = nullptr;
            ASSERT_EQ(encode(msg, 0, &out), 0);
            EXPECT_EQ(bytes(tb_buf(out), tb_buf(out) + tb_length(out)), in);
            (void)tb_free(&out);
        }
        (void)release(&msg);
        ++seen;
    }
    EXPECT_GT(seen, 0u);
}

TEST(FuzzCorpusReplay, RequestSeeds)
{
    // The management client's target starts from whole requests too.
    for (const char *dir : {"bn_request", "mdc_request"})
        replay<bn_request>(dir, bn_request_msg_deserialize, bn_request_msg_serialize,
                           bn_request_msg_free);
}

TEST(FuzzCorpusReplay, ResponseSeeds)
{
    replay<bn_response>("bn_response", bn_response_msg_deserialize, bn_response_msg_serialize,
                        bn_response_msg_free);
}

} // namespace
