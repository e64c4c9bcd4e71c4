#include "token_reader.h"

#include <array>

namespace {

// How the reader treats each byte value.
enum byte_class : unsigned char { ordinary, space, newline, comment_mark };

// White space of the POSIX locale: space, \t, \n, \v, \f, \r.
constexpr std::array<byte_class, 256> byte_classes = [] {
  std::array<byte_class, 256> classes{};
  for (int c : {' ', '\t', '\v', '\f', '\r'}) classes[static_cast<unsigned>(c)] = space;
  classes['\n'] = newline;
  classes['%'] = comment_mark;
  return classes;
}();

// Upper-casing of the POSIX locale: only a to z change.
constexpr std::array<char, 256> upper_case = [] {
  std::array<char, 256> upper{};
  for (int c = 0; c < 256; ++c) {
    const int u = c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c;
    upper[static_cast<unsigned>(c)] = static_cast<char>(static_cast<unsigned char>(u));
  }
  return upper;
}();

}  // namespace

token_status read_token(std::FILE *in, char (&token)[token_capacity],
                        std::int64_t &line) {
  int length = 0;
  bool in_comment = false;
  for (;;) {
    // The stream is used by this thread alone; skip per-byte locking.
    const int c = getc_unlocked(in);
    if (c == EOF) {
      if (ferror_unlocked(in)) {
        token[length] = '\0';
        return token_status::read_error;
      }
      break;
    }
    const byte_class kind = byte_classes[static_cast<unsigned>(c)];
    if (!in_comment) {
      if (kind == ordinary) {
        if (length == token_capacity - 1) {
          token[length] = '\0';
          return token_status::too_long;
        }
        token[length++] = upper_case[static_cast<unsigned>(c)];
        continue;
      }
      if (kind == comment_mark) {
        in_comment = true;
      } else if (length > 0) {
        // The next call counts this newline, so the counter names the
        // token's own line until then.
        if (kind == newline) ungetc(c, in);
        break;
      }
    }
    if (kind == newline) {
      ++line;
      in_comment = false;
    }
  }
  token[length] = '\0';
  return length > 0 ? token_status::token : token_status::end_of_input;
}
