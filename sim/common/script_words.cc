// The command line language of the stand-ins and tools (declared in
// script_words.h).
#include "script_words.h"

namespace script
{

bool split_words(std::string_view line, std::vector<std::string> *words, std::string *error)
{
    words->clear();
    size_t i = 0;
    const size_t n = line.size();
    while (i < n) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++i;
            continue;
        }
        if (c == '#') break;
        std::string word;
        if (c == '"') {
            ++i;
            bool closed = false;
            while (i < n) {
                const char d = line[i++];
                if (d == '"') {
                    closed = true;
                    break;
                }
                if (d == '\\' && i < n && (line[i] == '"' || line[i] == '\\')) {
                    word += line[i++];
                    continue;
                }
                word += d;
            }
            if (!closed) {
                words->clear();
                *error = "unterminated quote";
                return false;
            }
        } else {
            while (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '\n')
                word += line[i++];
        }
        words->push_back(std::move(word));
    }
    return true;
}

std::string quote_word(std::string_view word)
{
    bool plain = !word.empty() && word[0] != '"' && word[0] != '#';
    for (char c : word)
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') plain = false;
    if (plain) return std::string(word);
    std::string out = "\"";
    for (char c : word) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

bool parse_type(const std::string &type_name, bn_type *ret, std::string *error)
{
    int32 code = 0;
    if (lc_string_to_enum(bn_type_name_map, type_name.c_str(), &code) != 0 || code == bt_none ||
        code == bt_any) {
        *error = "unknown type name \"" + type_name + "\"";
        return false;
    }
    *ret = static_cast<bn_type>(code);
    return true;
}

bool make_binding(const std::string &name, const std::string &type_name, const std::string &value,
                  bn_binding **ret, std::string *error)
{
    *ret = nullptr;
    if (name.empty()) {
        *error = "empty node name";
        return false;
    }
    bn_type type = bt_none;
    if (!parse_type(type_name, &type, error)) return false;
    if (bn_binding_new_str(ret, name.c_str(), ba_value, type, 0, value.c_str()) != 0) {
        *ret = nullptr;
        *error = "value \"" + value + "\" is not a valid " + type_name;
        return false;
    }
    return true;
}

} // namespace script
