// The melody text's tokens: upper-cased, comments removed, with their
// line numbers.
#include "token_reader.h"

#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Upper-cases the block in place and sets its stop bits: for every byte of
// data, and for the space and slack after it, which are all stops.
void prepare_block(token_input &input) {
  unsigned char *const block = input.block;
  const int size = input.size;
  std::memset(block + size, ' ', token_input_slack);
  std::memset(input.stop_bits, 0xFF, sizeof input.stop_bits);
  int i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= size + 1; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + i));
    // \t \n \v \f \r are the codes 9 to 13: x - 9 is at most 4.
    const __m128i from_tab = _mm_sub_epi8(x, _mm_set1_epi8('\t'));
    const __m128i control_space =
        _mm_cmpeq_epi8(_mm_min_epu8(from_tab, _mm_set1_epi8(4)), from_tab);
    const __m128i stop =
        _mm_or_si128(control_space, _mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8(' ')),
                                                 _mm_cmpeq_epi8(x, _mm_set1_epi8('%'))));
    const __m128i from_a = _mm_sub_epi8(x, _mm_set1_epi8('a'));
    const __m128i lower = _mm_cmpeq_epi8(_mm_min_epu8(from_a, _mm_set1_epi8(25)), from_a);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(block + i),
                     _mm_sub_epi8(x, _mm_and_si128(lower, _mm_set1_epi8(0x20))));
    const auto bits = static_cast<std::uint16_t>(_mm_movemask_epi8(stop));
    input.stop_bits[i / 8] = static_cast<unsigned char>(bits);
    input.stop_bits[i / 8 + 1] = static_cast<unsigned char>(bits >> 8);
  }
#endif
  // The rest one byte at a time, in groups of eight.
  for (; i < size + 1; i += 8) {
    unsigned bits = 0;
    for (int j = 0; j < 8; ++j) {
      const unsigned char c = block[i + j];
      block[i + j] = static_cast<unsigned char>(upper_case[c]);
      if (byte_classes[c] != ordinary) bits |= 1u << j;
    }
    input.stop_bits[i / 8] = static_cast<unsigned char>(bits);
  }
}

// Reads the next block. False at the end of the input or on a read error
// (then `failed` is set); a short block is used before either is reported.
bool refill(token_input &input) {
  input.column_bias += input.size;
  input.position = 0;
  if (!input.ended) {
    input.size = static_cast<int>(
        std::fread(input.block, 1, token_input_capacity, input.stream));
    if (input.size == 0) {
      input.ended = true;
      input.failed = std::ferror(input.stream) != 0;
    }
  } else {
    input.size = 0;
  }
  prepare_block(input);
  return input.size > 0;
}

// Copies the run of ordinary bytes at `p` (upper-cased already, with the
// block) to `t`, advancing both; it ends at a byte of another class, which
// the block always holds. False, with `t` at `t_full`, when the run does
// not fit.
bool copy_token_bytes(const unsigned char *&p, char *&t, char *const t_full) {
  do {
    if (t == t_full) return false;
    *t++ = static_cast<char>(*p++);
  } while (byte_classes[*p] == ordinary);
  return true;
}

}  // namespace

void start_token_input(token_input &input, std::FILE *stream) {
  input.stream = stream;
  input.column_bias = 1;
  input.token_line = 0;
  input.token_column = 0;
  input.token_length = 0;
  input.position = 0;
  input.size = 0;
  input.ended = false;
  input.failed = false;
  input.newline_pending = false;
  // An empty block: the first call reads.
  prepare_block(input);
}

token_status read_token_in_full(token_input &input, char (&token)[token_capacity],
                                std::int64_t &line) {
  // Everything the loops touch is held in locals: the token's char stores
  // could otherwise alias the record and force reloads at every byte.
  char *t = token;
  char *const t_full = token + (token_capacity - 1);
  std::int64_t lines = line;
  bool in_comment = false;
  const unsigned char *p = input.block + input.position;
  const unsigned char *end = input.block + input.size;
  token_status status = token_status::token;
  if (input.newline_pending) {
    input.newline_pending = false;
    ++lines;
    input.column_bias = 1 - (p - input.block);
  }
  for (;;) {
    if (p == end) {
      const bool more = refill(input);
      p = input.block;
      end = input.block + input.size;
      if (!more) {
        if (input.failed) status = token_status::read_error;
        break;
      }
    }
    if (in_comment) {
      // Everything up to the newline is dropped.
      const void *found = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
      if (found == nullptr) {
        p = end;
        continue;
      }
      p = static_cast<const unsigned char *>(found);
    } else {
      const byte_class kind = byte_classes[*p];
      if (kind == ordinary) {
        if (t == token) {
          input.token_line = lines;
          input.token_column = input.column_bias + (p - input.block);
        }
        // The space after the block ends this run at the block's end.
        if (!copy_token_bytes(p, t, t_full)) {
          status = token_status::too_long;
          break;
        }
        // Nearly always the run ends at white space inside the block.
        if (p != end) {
          const byte_class after = byte_classes[*p];
          if (after == space) {
            ++p;
            break;
          }
          if (after == newline) break;
        }
        continue;
      }
      if (kind == comment_mark) {
        in_comment = true;
        ++p;
        continue;
      }
      if (t != token) {
        // The next call counts this newline, so the counter names the
        // token's own line until then.
        if (kind != newline) ++p;
        break;
      }
      if (kind == space) {
        // White space before the token: skip the run of it.
        do ++p; while (p != end && byte_classes[*p] == space);
        continue;
      }
    }
    // A newline: counted here, and it ends any comment.
    ++p;
    ++lines;
    in_comment = false;
    input.column_bias = -(p - input.block) + 1;
  }
  input.position = static_cast<int>(p - input.block);
  line = lines;
  *t = '\0';
  input.token_length = static_cast<int>(t - token);
  if (status == token_status::token && t == token) return token_status::end_of_input;
  return status;
}
