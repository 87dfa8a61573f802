// The command line language shared by the management stand-in and its
// client: splitting a line into words, and turning "NAME TYPE VALUE" words
// into a binding.
//
// A database file of the stand-in is a script of `set` lines that the client
// could replay, so both programs read lines the same way.  The header is
// self-contained (inline) because the two programs are built separately.
//
// Words are separated by blanks.  A word that starts with a double quote
// runs to the next unescaped double quote; inside it \" is a quote and \\ a
// backslash, any other backslash stays as it is (node names escape "/" as
// "\/").  Outside quotes every character is literal.  A "#" at the start of
// a word begins a comment that runs to the end of the line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "bnode/bnode.h"
#include "log/logging.h"

namespace script
{

// Splits `line` into `*words`.  False with a reason in `*error` on an
// unterminated quote; `*words` then holds nothing.
inline bool split_words(std::string_view line, std::vector<std::string> *words, std::string *error)
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

// Quotes `word` when it would not read back as one word.
inline std::string quote_word(std::string_view word)
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

// The type code named `type_name` (the names of bn_type_name_map).  The
// placeholder types "none" and "any" carry no value and are refused.
inline bool parse_type(const std::string &type_name, bn_type *ret, std::string *error)
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

// A binding `name` whose value is `value` parsed as the type `type_name`.
// False with a reason in `*error` when the type is unknown or the text does
// not parse; `*ret` is then null.
inline bool make_binding(const std::string &name, const std::string &type_name,
                         const std::string &value, bn_binding **ret, std::string *error)
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
