// Tokeniser and joiner on arbitrary bytes: any input splits without fault
// under any options, and the parts it gives, joined and split again with the
// same characters (every separator ending a part), come back unchanged.
//
// Input layout: options (1 byte), separator, escape, quote, then the text.
#include <vector>

#include "fuzz_common.h"
#include "util/tstr_array.h"
#include "util/tstring.h"

namespace
{

// The parts' bytes, which may hold NULs.
std::vector<std::string_view> texts(const tstr_array *a)
{
    std::vector<std::string_view> v;
    for (uint32 i = 0; i < tstr_array_length_quick(a); ++i)
        v.emplace_back(tstr_array_get_quick(a, i)->buf, tstr_array_get_quick(a, i)->length);
    return v;
}

} // namespace

using fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::quiet_logs(); // refused character choices log a line each
    if (size < 4 || size > 4096) return 0;
    const uint32 options = data[0] & 0x3F;
    const char sep = char(data[1]), esc = char(data[2]), quote = char(data[3]);

    owned<tstring> text, joined;
    owned<tstr_array> parts, again;
    require(ts_new(text.out()) == 0 &&
            ts_append_buffer(text.get(), data + 4, uint32(size - 4)) == 0);
    if (ts_tokenize(text.get(), sep, esc, quote, options, parts.out()) != 0) return 0;
    if (!parts || esc == '\0') return 0;

    require(ts_join_tokens(parts.get(), sep, esc, quote, 0, joined.out()) == 0);
    require(ts_tokenize(joined.get(), sep, esc, quote, ts_tokenize_empty_tokens, again.out()) == 0);
    require(again && texts(parts.get()) == texts(again.get()));
    return 0;
}
