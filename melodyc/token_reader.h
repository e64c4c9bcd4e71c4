// Lexical layer of the melody text: white-space separated tokens,
// upper-cased, with "%" comments removed, and the input line number.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

// Room for 79 token bytes and the terminating zero byte.
inline constexpr int token_capacity = 80;

// Bytes read from the stream at a time.
inline constexpr int token_input_capacity = 64 * 1024;

// Past the data of a block: a space that stops every scan at the block's
// end without a bounds test per byte, and room for 16-byte loads from any
// position up to it.
inline constexpr int token_input_slack = 1 + 16;

enum class token_status {
  end_of_input,  // no token byte before the input ended; token is ""
  token,         // token holds at least one byte
  too_long,      // an 80th byte would have been stored
  read_error,    // the stream failed with something other than end of input
};

// The reader's view of its input stream: a block read ahead with fread,
// upper-cased in place as it arrives, with a bit for each of its bytes
// that white space or "%" (or the block's end) makes a token's end.
struct token_input {
  std::FILE *stream = nullptr;
  // Where the last token delivered began: the line counter's value and the
  // byte column (1-based) of its first byte.
  std::int64_t token_line = 0;
  std::int64_t token_column = 0;
  // The column of block[0] counted from the start of the current line
  // (zero or negative once a newline in the block has been counted).
  std::int64_t column_bias = 1;
  // Bytes in the last token delivered (a zero byte among them included).
  int token_length = 0;
  int position = 0;
  int size = 0;
  // The newline that ended the last token has been stepped over but not
  // yet counted; the next call counts it, which is the newline's push-back.
  bool newline_pending = false;
  bool ended = false;
  bool failed = false;
  unsigned char block[token_input_capacity + token_input_slack];
  // Bit i % 8 of byte i / 8: block[i] ends a token. Eight bytes more allow
  // a 64-bit load from any position's byte.
  unsigned char stop_bits[(token_input_capacity + token_input_slack + 7) / 8 + 8];
};

// Starts reading `stream` from its current position.
void start_token_input(token_input &input, std::FILE *stream);

// read_token for every case: comments, line ends, block ends, long tokens.
token_status read_token_in_full(token_input &input, char (&token)[token_capacity],
                                std::int64_t &line);

// Reads the next token into `token` (zero-terminated in every case).
// `line` starts at 1 before the first call and is only ever incremented
// here: after a token it names the line on which that token ended; a
// newline that ends a token is counted by the next call.
//
// Nearly every token starts right at the reader's position and ends within
// 16 bytes at white space inside the block: that case is handled here, in
// line, from the stop bits alone; every other case in full.
inline token_status read_token(token_input &input, char (&token)[token_capacity],
                               std::int64_t &line) {
  const int position = input.position;
  std::uint64_t stops;
  std::memcpy(&stops, input.stop_bits + (position >> 3), sizeof stops);
  stops >>= position & 7;
  // Bit 0 clear: the first byte belongs to a token.
  if ((stops & 1) != 0 || (stops & 0x1FFFE) == 0) return read_token_in_full(input, token, line);
  const int length = __builtin_ctzll(stops);
  const int end = position + length;
  const unsigned char after = input.block[end];
  if (after == '%' || end == input.size) return read_token_in_full(input, token, line);
  if (input.newline_pending) {
    ++line;
    input.column_bias = 1 - position;
  }
  input.newline_pending = after == '\n';
  input.position = end + 1;
  input.token_line = line;
  input.token_column = input.column_bias + position;
  input.token_length = length;
  // The token's bytes, zero from its end on, go out in two whole 8-byte
  // stores, so that a reader of its first bytes gets them straight from
  // the store.
  std::uint64_t low, high;
  std::memcpy(&low, input.block + position, 8);
  std::memcpy(&high, input.block + position + 8, 8);
  const std::uint64_t all = ~std::uint64_t{0};
  low &= length >= 8 ? all : ~(all << (8 * length));
  high &= length >= 16 ? all : length <= 8 ? 0 : ~(all << (8 * (length - 8)));
  std::memcpy(token, &low, 8);
  std::memcpy(token + 8, &high, 8);
  token[16] = '\0';
  return token_status::token;
}
