// Node names arrive from the wire: splitting, re-joining and pattern
// matching must hold up on any bytes.  The input is a name and a pattern
// separated by the first NUL byte; seeds are in fuzz/corpus/bnode_name.
#include "bnode/bnode.h"
#include "fuzz_common.h"

using fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string input = fuzz::text(data, size);
    const size_t nul = input.find('\0');
    const std::string name = input.substr(0, nul);
    const std::string pattern = nul == std::string::npos ? "/**" : input.substr(nul + 1).c_str();

    owned<tstr_array> parts, pattern_parts, again;
    bool abs = false, pattern_abs = false;
    require(bn_binding_name_to_parts(name.c_str(), parts.out(), &abs) == 0);

    // The text walker decides exactly as the split parts do.
    require(bn_binding_name_to_parts(pattern.c_str(), pattern_parts.out(), &pattern_abs) == 0);
    const bool by_text = bn_binding_name_pattern_match(name.c_str(), pattern.c_str());
    require(by_text == bn_binding_name_parts_pattern_match(parts.get(), abs, pattern.c_str()));
    require(by_text == bn_binding_name_parts_pattern_parts_match(parts.get(), abs,
                                                                 pattern_parts.get(), pattern_abs));

    // Joining the parts and splitting again gives the same parts, unless the
    // first part is empty (it cannot be told from the leading separator).
    const char *first = tstr_array_get_str_quick(parts.get(), 0);
    if (first != nullptr && *first == '\0') return 0;
    char *joined = nullptr;
    require(bn_binding_name_parts_to_name(parts.get(), abs, &joined) == 0);
    require(bn_binding_name_to_parts(joined, again.out(), nullptr) == 0);
    require(tstr_array_compare(parts.get(), again.get()) == 0);
    free(joined);
    return 0;
}
