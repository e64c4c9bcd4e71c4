// Lexical layer of the melody text: white-space separated tokens,
// upper-cased, with "%" comments removed, and the input line number.
#pragma once

#include <cstdint>
#include <cstdio>

// Room for 79 token bytes and the terminating zero byte.
inline constexpr int token_capacity = 80;

enum class token_status {
  end_of_input,  // no token byte before the input ended; token is ""
  token,         // token holds at least one byte
  too_long,      // an 80th byte would have been stored
  read_error,    // the stream failed with something other than end of input
};

// Reads the next token from `in` into `token` (zero-terminated in every
// case). `line` starts at 1 before the first call and is only ever
// incremented here: after a token it names the line on which that token
// ended. A newline that ends a token is pushed back, so the next call is
// the one that counts it.
token_status read_token(std::FILE *in, char (&token)[token_capacity],
                        std::int64_t &line);
