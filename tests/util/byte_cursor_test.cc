// The bounded byte cursors: a failed read or write leaves cursor and
// destination untouched, sub-cursors stop nested reads at their record's
// end, each byte order puts the bytes where its name says, and the tbuf
// writer patches placeholders and grows past its room.
#include "util/byte_cursor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/call_ok.h"
#include "support/log_capture.h"

namespace
{

using lc_bytes::order;

constexpr uint8 seq8[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};

TEST(ByteReader, EveryReadThatDoesNotFitFailsWithoutMovingOrWriting)
{
    lc_byte_reader r(seq8, 3);
    uint32 v32 = 0xdeadbeef;
    uint64 v64 = 0xdeadbeef;
    uint8 dst[4] = {0xaa, 0xaa, 0xaa, 0xaa};
    const uint8 *view = nullptr;
    lc_byte_reader sub;

    EXPECT_FALSE(r.be32(&v32));
    EXPECT_FALSE(r.le64(&v64));
    EXPECT_FALSE(r.bytes(dst, 4));
    EXPECT_FALSE(r.view(4, &view));
    EXPECT_FALSE(r.sub(4, &sub));
    EXPECT_FALSE(r.skip(4));
    EXPECT_FALSE(r.get_at<order::big>(1, &v32)); // 1 + 4 > 3
    EXPECT_FALSE(r.at(2, 2, &sub));
    EXPECT_FALSE(r.at(size_t(-1), 1, &sub)); // no wrap-around on offset + length
    EXPECT_EQ(v32, 0xdeadbeefu);
    EXPECT_EQ(v64, 0xdeadbeefu);
    EXPECT_EQ(dst[0], 0xaa);
    EXPECT_EQ(view, nullptr);
    EXPECT_EQ(r.remaining(), 3u);

    uint16 v16 = 0;
    EXPECT_EQ(ok(r.be16(&v16), v16), 0x0102);
    EXPECT_EQ(r.remaining(), 1u);
    uint8 last = 0;
    EXPECT_EQ(ok(r.u8(&last), last), 0x03);
    EXPECT_TRUE(r.empty());
    EXPECT_TRUE(r.bytes(dst, 0)); // nothing asked, nothing needed

    lc_byte_reader none(nullptr, 100); // null bytes make an empty reader
    EXPECT_EQ(none.remaining(), 0u);
    EXPECT_FALSE(none.u8(&last));
}

TEST(ByteReader, SubCursorsBoundNestedReadsAndCountsCannotOverflow)
{
    lc_byte_reader r(seq8, sizeof seq8);
    uint8 first = 0;
    ASSERT_TRUE(r.u8(&first));
    lc_byte_reader rec;
    ASSERT_TRUE(r.sub(3, &rec)); // bytes 02 03 04
    EXPECT_EQ(r.remaining(), 4u);

    uint32 v32 = 0;
    EXPECT_FALSE(rec.be32(&v32)); // the outer has the bytes, the record does not
    uint16 v16 = 0;
    EXPECT_EQ(ok(rec.be16(&v16), v16), 0x0203);
    EXPECT_FALSE(rec.be16(&v16));
    EXPECT_EQ(rec.remaining(), 1u);

    EXPECT_EQ(ok(r.be32(&v32), v32), 0x05060708u);

    // A record read at an offset leaves the parent where it was.
    lc_byte_reader whole(seq8, sizeof seq8), field;
    ASSERT_TRUE(whole.at(6, 2, &field));
    EXPECT_EQ(ok(field.be16(&v16), v16), 0x0708);
    EXPECT_EQ(whole.remaining(), 8u);

    // Counts of items the bytes cannot carry are refused without overflow.
    EXPECT_TRUE(whole.holds(2, 4));
    EXPECT_FALSE(whole.holds(3, 4));
    EXPECT_FALSE(whole.holds(0xffffffffu, 0x10000000u)); // product past 2^32
    EXPECT_FALSE(whole.holds(uint64(1) << 62, 8));       // product past 2^64
    EXPECT_TRUE(whole.holds(1000, 0));
}

TEST(ByteOrder, EachOrderPlacesTheBytesAsNamedAndValuesRoundTripThroughTheirBits)
{
    uint16 v16 = 0;
    uint32 v32 = 0;
    uint64 v64 = 0;
    EXPECT_EQ(ok(lc_byte_reader(seq8, 8).be16(&v16), v16), 0x0102);
    EXPECT_EQ(ok(lc_byte_reader(seq8, 8).le16(&v16), v16), 0x0201);
    EXPECT_EQ(ok(lc_byte_reader(seq8, 8).be32(&v32), v32), 0x01020304u);
    EXPECT_EQ(ok(lc_byte_reader(seq8, 8).le32(&v32), v32), 0x04030201u);
    EXPECT_EQ(ok(lc_byte_reader(seq8, 8).be64(&v64), v64), 0x0102030405060708u);
    EXPECT_EQ(ok(lc_byte_reader(seq8, 8).le64(&v64), v64), 0x0807060504030201u);
    EXPECT_EQ(ok(lc_byte_reader(seq8, 8).ne64(&v64), v64),
              std::endian::native == std::endian::little ? 0x0807060504030201u
                                                         : 0x0102030405060708u);

    uint8 out[8] = {};
    lc_byte_writer w(out, sizeof out);
    ASSERT_TRUE(w.be16(0x0102) && w.le16(0x0403) && w.be32(0x05060708u));
    EXPECT_EQ(std::vector<uint8>(out, out + 8), std::vector<uint8>(seq8, seq8 + 8));
    lc_byte_writer w64(out, sizeof out);
    ASSERT_TRUE(w64.le64(0x0807060504030201u));
    EXPECT_EQ(std::vector<uint8>(out, out + 8), std::vector<uint8>(seq8, seq8 + 8));

    uint8 b[16] = {};
    lc_bytes::store<order::big>(b, int32(-2));
    EXPECT_EQ(b[0], 0xff);
    EXPECT_EQ(b[3], 0xfe);
    EXPECT_EQ((lc_bytes::load<order::big, int32>(b)), -2);

    lc_bytes::store<order::big>(b, 1.5); // 0x3ff8000000000000
    EXPECT_EQ(b[0], 0x3f);
    EXPECT_EQ(b[1], 0xf8);
    EXPECT_EQ((lc_bytes::load<order::big, double>(b)), 1.5);

    const unsigned __int128 wide =
        (unsigned __int128)(0x0102030405060708u) << 64 | 0x090a0b0c0d0e0f10u;
    lc_bytes::store<order::big>(b, wide);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(b[i], i + 1) << i;
    EXPECT_TRUE((lc_bytes::load<order::big, unsigned __int128>(b)) == wide);
    lc_bytes::store<order::little>(b, wide);
    EXPECT_EQ(b[0], 0x10);
    EXPECT_EQ(b[15], 0x01);
}

TEST(ByteWriter, WritesThatDoNotFitLeaveSpanAndCursorAlone)
{
    uint8 out[6];
    memset(out, 0xaa, sizeof out);
    lc_byte_writer w(out, sizeof out);
    ASSERT_TRUE(w.be32(0x01020304u));
    EXPECT_FALSE(w.be32(0x05060708u));
    EXPECT_FALSE(w.be64(1));
    EXPECT_FALSE(w.bytes(seq8, 3));
    EXPECT_FALSE(w.fill(0, 3));
    EXPECT_FALSE(w.text("ab", 3));
    EXPECT_FALSE(w.put_at<order::big>(4, uint32(1)));
    EXPECT_EQ(w.remaining(), 2u);
    EXPECT_EQ(out[4], 0xaa);
    EXPECT_EQ(out[5], 0xaa);

    lc_byte_writer sub;
    ASSERT_TRUE(w.sub(2, &sub));
    EXPECT_FALSE(sub.be32(0)); // bounded by the sub-span, not the outer room
    ASSERT_TRUE(sub.be16(0x0506));
    EXPECT_EQ(out[5], 0x06);
}

TEST(TextField, WriterCutsAndZeroFillsReaderStopsAtTheFirstNul)
{
    uint8 out[8];
    memset(out, 0xaa, sizeof out);
    lc_byte_writer w(out, sizeof out);
    ASSERT_TRUE(w.text("abcdef", 4)); // cut to three characters and the NUL
    ASSERT_TRUE(w.text(nullptr, 2));  // a missing text is an empty field
    ASSERT_TRUE(w.text("x", 2));
    EXPECT_EQ(w.remaining(), 0u);
    const uint8 expect[8] = {'a', 'b', 'c', 0, 0, 0, 'x', 0};
    EXPECT_EQ(std::vector<uint8>(out, out + 8), std::vector<uint8>(expect, expect + 8));
    EXPECT_FALSE(lc_byte_writer(out, 8).text("a", 0)); // no room even for the NUL

    const uint8 fields[6] = {'h', 'i', 0, 'z', 'o', 'k'};
    lc_byte_reader r(fields, sizeof fields);
    const char *text = nullptr;
    size_t len = 0;
    ASSERT_TRUE(r.text(3, &text, &len));
    EXPECT_EQ(std::string(text, len), "hi");
    ASSERT_TRUE(r.text(2, &text, &len)); // no NUL: the whole field
    EXPECT_EQ(std::string(text, len), "zo");
    EXPECT_FALSE(r.text(2, &text, &len));
    EXPECT_EQ(r.remaining(), 1u);
}

class TbufWriter : public ::testing::Test
{
  protected:
    void SetUp() override { ASSERT_EQ(tb_new(buf.out()), 0); }
    std::vector<uint8> bytes() const { return {buf->bytes, buf->bytes + buf->length}; }
    owned<tbuf> buf;
};

TEST_F(TbufWriter, PlaceholderIsPatchedAtItsOffsetAndPatchesStayInsideTheBytes)
{
    lc_tbuf_writer w(buf.get());
    uint32 hole = 0;
    ASSERT_EQ(w.u8(0x7f), 0);
    ASSERT_EQ(w.hole_be32(&hole), 0);
    ASSERT_EQ(w.be16(0x0102), 0);
    EXPECT_EQ(hole, 1u);
    ASSERT_EQ(w.patch_be32(hole, 0x0a0b0c0du), 0);
    EXPECT_EQ(bytes(), (std::vector<uint8>{0x7f, 0x0a, 0x0b, 0x0c, 0x0d, 0x01, 0x02}));
    EXPECT_EQ(buf->bytes[buf->length], 0); // the tbuf's terminator follows

    EXPECT_EQ(w.patch_be32(4, 0), lc_err_assertion_failed); // would run past the end
    EXPECT_EQ(w.patch_be32(100, 0), lc_err_assertion_failed);
    EXPECT_EQ(w.offset(), 7u);
}

TEST_F(TbufWriter, GrowsPastTheRoomItStartedWith)
{
    lc_tbuf_writer w(buf.get());
    const uint32 start_size = buf->size;
    std::vector<uint8> expect;
    for (uint32 i = 0; i < start_size; ++i) {
        ASSERT_EQ(w.be32(i), 0);
        for (int s = 24; s >= 0; s -= 8) expect.push_back(uint8(i >> s));
    }
    std::vector<uint8> blob(3 * start_size, 0x5a);
    ASSERT_EQ(w.bytes(blob.data(), uint32(blob.size())), 0);
    expect.insert(expect.end(), blob.begin(), blob.end());
    EXPECT_GT(buf->size, start_size);
    EXPECT_EQ(bytes(), expect);
    EXPECT_EQ(w.bytes(nullptr, 0), 0);
}

TEST_F(TbufWriter, CountedValuesAndRecordsInPlaceAndPastTheRoom)
{
    lc_tbuf_writer w(buf.get());
    ASSERT_EQ(w.counted_be32("ab", 2), 0);
    ASSERT_EQ(w.counted_be32(nullptr, 0), 0);
    lc_byte_writer rec;
    ASSERT_EQ(w.record(6, &rec), 0);
    ASSERT_TRUE(rec.put_at<order::big>(2, uint32(0x01020304u)));
    ASSERT_TRUE(rec.put_at<order::little>(0, uint16(0x0605)));
    EXPECT_FALSE(rec.put_at<order::big>(4, uint32(0))); // bounded by the record
    EXPECT_EQ(bytes(), (std::vector<uint8>{0, 0, 0, 2, 'a', 'b', 0, 0, 0, 0, 5, 6, 1, 2, 3, 4}));

    // Past the room the tbuf grows and the same bytes come out.
    const std::string big(2 * buf->size, 'q');
    const uint32 before = w.offset();
    ASSERT_EQ(w.counted_be32(big.data(), uint32(big.size())), 0);
    ASSERT_EQ(w.record(3 * buf->size, &rec), 0);
    EXPECT_EQ(rec.remaining(), size_t(buf->length - before - 4 - big.size()));
    ASSERT_TRUE(rec.fill(0x11, rec.remaining()));
    EXPECT_EQ(buf->bytes[before + 3], big.size() & 0xff);
    EXPECT_EQ(buf->bytes[before + 4], 'q');
    EXPECT_EQ(buf->bytes[buf->length - 1], 0x11);
    EXPECT_EQ(buf->bytes[buf->length], 0);
}

TEST_F(TbufWriter, ConstantBufferRefusesAppendAndPatch)
{
    static const uint8 fixed[4] = {1, 2, 3, 4};
    auto c = create(tb_new_buf_const, fixed, 4);
    lc_tbuf_writer w(c.get());
    LogCapture log; // the refusals are logged, not printed
    EXPECT_NE(w.be32(5), 0);
    EXPECT_NE(w.patch_be32(0, 9), 0);
    EXPECT_EQ(fixed[0], 1);
    EXPECT_EQ(c->length, 4u);
}

} // namespace
