// The command line language shared by the management stand-in and its
// client: splitting a line into words, and turning "NAME TYPE VALUE" words
// into a binding.
//
// A database file of the stand-in is a script of `set` lines that the client
// could replay, so both programs read lines the same way: this small library
// (sim_common) is linked by the stand-ins and the tools alike.
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
bool split_words(std::string_view line, std::vector<std::string> *words, std::string *error);

// Quotes `word` when it would not read back as one word.
std::string quote_word(std::string_view word);

// The type code named `type_name` (the names of bn_type_name_map).  The
// placeholder types "none" and "any" carry no value and are refused.
bool parse_type(const std::string &type_name, bn_type *ret, std::string *error);

// A binding `name` whose value is `value` parsed as the type `type_name`.
// False with a reason in `*error` when the type is unknown or the text does
// not parse; `*ret` is then null.
bool make_binding(const std::string &name, const std::string &type_name, const std::string &value,
                  bn_binding **ret, std::string *error);

} // namespace script
