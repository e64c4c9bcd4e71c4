// Tone records as C source for firmware: a const unsigned char array of
// three bytes a record, a comment per record, and its length.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tone_records.h"

// True for a C identifier that is no keyword of C or C++.
bool is_c_identifier(std::string_view name);

// Why `name` cannot name the array (it is no C identifier, a keyword, a
// name of the C library or POSIX, reserved, or ends as another array's
// symbols do); "" when it can.
std::string c_name_problem(std::string_view name);

// The array name a file name suggests: its last component up to the first
// dot, with '-' and ' ' as '_'; "" when that is no C identifier.
std::string c_name_for_file(const std::string &path);

// The source text: NAME[] and NAME_length (bytes), NAME_records (unsigned
// long, at least 32 bits); `source`
// names where the records came from, for the leading comment.
std::string c_source(const std::vector<tone> &tones, const std::string &name,
                     const std::string &source);
