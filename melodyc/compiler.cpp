#include "compiler.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "decimal_text.h"
#include "note_table.h"
#include "token_reader.h"

tone_record make_tone_record(std::uint16_t period, std::uint8_t duration) {
  return {{static_cast<unsigned char>(period >> 8),
           static_cast<unsigned char>(period & 0xFF), duration}};
}

namespace {

// Records are gathered here and handed to the output stream in blocks.
constexpr std::size_t pending_capacity = 3 * 4096;

struct compiler_state {
  std::FILE *in;
  std::FILE *out;
  melody_failure *failure;
  std::int64_t line = 1;
  unsigned base_duration = 0;
  char token[token_capacity] = {};
  // Periods by cell and octave bits, worked out on first use; 0 marks a
  // note out of range (no in-range note has period 0).
  std::uint16_t period_cache[note_cell_count][32] = {};
  bool period_known[note_cell_count][32] = {};
  unsigned char pending[pending_capacity] = {};
  std::size_t pending_size = 0;
};

[[gnu::format(printf, 2, 3)]] bool fail(compiler_state &s, const char *format,
                                        ...) {
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(s.failure->message, sizeof s.failure->message, format, args);
  va_end(args);
  return false;
}

bool fail_reading(compiler_state &s, token_status status) {
  if (status == token_status::too_long) {
    return fail(s, "Line %" PRId64 ": Token too long\n", s.line);
  }
  return fail(s, "Error reading input file\n");
}

// Hands the gathered records to the output stream.
bool flush_pending(compiler_state &s) {
  const std::size_t size = s.pending_size;
  s.pending_size = 0;
  return fwrite_unlocked(s.pending, 1, size, s.out) == size;
}

bool write_record(compiler_state &s, const tone_record &record) {
  if (s.pending_size == pending_capacity && !flush_pending(s)) {
    return fail(s, "Error writing to output file\n");
  }
  std::memcpy(s.pending + s.pending_size, record.bytes, sizeof record.bytes);
  s.pending_size += sizeof record.bytes;
  return true;
}

// round() of the melody format: add one half, then truncate toward zero.
// Returns -1 for anything that does not land in 0..255 (NaN included), so
// no value is converted that an 8-bit count cannot hold.
int round_units(long double value) {
  const long double shifted = value + 0.5L;
  if (!(shifted >= 0.0L && shifted < 256.0L)) return -1;
  return static_cast<int>(shifted);
}

bool read_tempo(compiler_state &s) {
  const token_status status = read_token(s.in, s.token, s.line);
  if (status == token_status::too_long || status == token_status::read_error) {
    return fail_reading(s, status);
  }
  const float tempo =
      status == token_status::token ? leading_float_value(s.token) : 0.0f;
  if (tempo == 0.0f) return fail(s, "Line %" PRId64 ": Invalid tempo\n", s.line);
  const int base = round_units(1.0L / (static_cast<long double>(tempo) * 0.125L));
  if (base < 1) return fail(s, "Line %" PRId64 ": Tempo out of range\n", s.line);
  s.base_duration = static_cast<unsigned>(base);
  return true;
}

// Period for a note cell at an octave value, or 0 when out of range.
std::uint16_t note_period(compiler_state &s, int cell, int octave_value) {
  const int k = octave_value & 31;
  if (!s.period_known[cell][k]) {
    const float frequency = scaled_frequency(cell, octave_value);
    s.period_cache[cell][k] =
        frequency_in_range(frequency) ? tone_period(frequency) : 0;
    s.period_known[cell][k] = true;
  }
  return s.period_cache[cell][k];
}

bool is_duration_char(char c) { return (c >= '0' && c <= '9') || c == '.'; }

// Duration in units for the digits-and-dots `text`, or -1 with the failure
// set.
int note_duration(compiler_state &s, std::string_view text) {
  if (text.empty()) return static_cast<int>(s.base_duration);
  char scratch[token_capacity];
  std::memcpy(scratch, text.data(), text.size());
  scratch[text.size()] = '\0';
  const float multiplier =
      digits_and_dots_value(scratch, static_cast<int>(text.size()));
  if (multiplier == 0.0f) {
    fail(s, "Line %" PRId64 ": Invalid duration %s\n", s.line, scratch);
    return -1;
  }
  const int duration = round_units(static_cast<long double>(s.base_duration) *
                                   static_cast<long double>(multiplier));
  if (duration < 0) {
    fail(s, "Line %" PRId64 ": duration out of range\n", s.line);
    return -1;
  }
  return duration;
}

bool compile_note(compiler_state &s) {
  const char *p = s.token;

  const char *const name_start = p;
  while (is_note_name_char(*p)) ++p;
  const std::string_view name(name_start, static_cast<std::size_t>(p - name_start));
  const int name_length = static_cast<int>(name.size());
  const auto cell = note_cell(name);
  if (!cell) {
    return fail(s, "Line %" PRId64 ": Invalid note %.*s\n", s.line, name_length,
                name.data());
  }

  std::uint16_t period = 0;
  if (*cell != pause_cell) {
    // The octave is the next byte's code minus '0'; the end of the token
    // counts as code 0. Read as unsigned so the value never depends on the
    // signedness of char.
    const int octave_value = static_cast<unsigned char>(*p) - '0';
    if (*p != '\0') ++p;
    period = note_period(s, *cell, octave_value);
    if (period == 0) {
      return fail(s, "Line %" PRId64 ": Note %.*s%d out of range\n", s.line,
                  name_length, name.data(), octave_value);
    }
  }

  // Whatever follows the duration text is ignored.
  const char *const duration_start = p;
  while (is_duration_char(*p)) ++p;
  const int duration = note_duration(
      s, std::string_view(duration_start, static_cast<std::size_t>(p - duration_start)));
  if (duration < 0) return false;

  return write_record(s, make_tone_record(period, static_cast<std::uint8_t>(duration)));
}

bool compile_all(compiler_state &s) {
  if (!read_tempo(s)) return false;
  for (;;) {
    const token_status status = read_token(s.in, s.token, s.line);
    if (status == token_status::end_of_input) return true;
    if (status != token_status::token) return fail_reading(s, status);
    if (!compile_note(s)) return false;
  }
}

}  // namespace

bool compile_melody_core(std::FILE *in, std::FILE *out,
                         melody_failure &failure) {
  compiler_state s{in, out, &failure};
  const bool compiled = compile_all(s);
  // Records of the tokens before a failure stay in the output. A write
  // error may only show when the stream itself is flushed.
  const bool written = flush_pending(s) && std::fflush(out) == 0 && !std::ferror(out);
  if (!compiled) return false;
  if (!written) return fail(s, "Error writing to output file\n");
  return true;
}

void compile_melody(std::FILE *in, std::FILE *out) {
  melody_failure failure{};
  if (!compile_melody_core(in, out, failure)) {
    std::fputs(failure.message, stderr);
    std::exit(1);
  }
}
