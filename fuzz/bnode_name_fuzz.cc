// Node names arrive from the wire: splitting, re-joining and pattern
// matching must hold up on any bytes.  The input is a name and a pattern
// separated by the first NUL byte; seeds are in fuzz/corpus/bnode_name.
#include <cstdlib>
#include <cstring>
#include <string>

#include "bnode/bnode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);
    const size_t nul = input.find('\0');
    const std::string name = input.substr(0, nul);
    const std::string pattern = nul == std::string::npos ? "/**" : input.substr(nul + 1).c_str();

    tstr_array *parts = nullptr;
    bool abs = false;
    if (bn_binding_name_to_parts(name.c_str(), &parts, &abs) != 0) abort();

    // The text walker decides exactly as the split parts do.
    tstr_array *pattern_parts = nullptr;
    bool pattern_abs = false;
    if (bn_binding_name_to_parts(pattern.c_str(), &pattern_parts, &pattern_abs) != 0) abort();
    const bool by_text = bn_binding_name_pattern_match(name.c_str(), pattern.c_str());
    if (by_text != bn_binding_name_parts_pattern_match(parts, abs, pattern.c_str())) abort();
    if (by_text !=
        bn_binding_name_parts_pattern_parts_match(parts, abs, pattern_parts, pattern_abs))
        abort();

    // Joining the parts and splitting again gives the same parts, unless the
    // first part is empty (it cannot be told from the leading separator).
    const char *first = tstr_array_get_str_quick(parts, 0);
    if (first == nullptr || *first != '\0') {
        char *joined = nullptr;
        if (bn_binding_name_parts_to_name(parts, abs, &joined) != 0) abort();
        tstr_array *again = nullptr;
        if (bn_binding_name_to_parts(joined, &again, nullptr) != 0) abort();
        if (tstr_array_compare(parts, again) != 0) abort();
        (void)tstr_array_free(&again);
        free(joined);
    }
    (void)tstr_array_free(&pattern_parts);
    (void)tstr_array_free(&parts);
    return 0;
}
