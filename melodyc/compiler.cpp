// The compiler: tokens of a melody text to tone records, or the one line
// that says why not.
#include "compiler.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "token_reader.h"

namespace {

// Records are gathered here and handed to the output stream in blocks.
constexpr std::size_t pending_capacity = 3 * 4096;

// Melodies repeat a small set of tokens, and a token's record depends only
// on its text and the base duration: records of short tokens are kept by
// text. A token of up to seven bytes is its own key (its bytes and, in the
// top byte, its length), so equal keys always mean equal texts.
constexpr int record_cache_bits = 10;
constexpr std::size_t record_cache_size = std::size_t{1} << record_cache_bits;

struct cached_record {
  std::uint64_t key;  // 0: empty (every key holds a length of 1 or more)
  tone_record record;
};

struct compiler_state {
  std::FILE *out;
  melody_failure *failure;
  std::int64_t line;
  unsigned base_duration;
  char token[token_capacity];
  cached_record records[record_cache_size];
  std::size_t pending_size;
  unsigned char pending[pending_capacity];
  token_input in;
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
  describe_read_failure(status, s.line, *s.failure);
  return false;
}

// Hands the gathered records to the output stream.
bool flush_pending(compiler_state &s) {
  const std::size_t size = s.pending_size;
  s.pending_size = 0;
  return fwrite_unlocked(s.pending, 1, size, s.out) == size;
}

[[gnu::always_inline]] inline bool write_record(compiler_state &s,
                                                const tone_record &record) {
  if (s.pending_size == pending_capacity && !flush_pending(s)) {
    return fail(s, "Error writing to output file\n");
  }
  std::memcpy(s.pending + s.pending_size, record.bytes, sizeof record.bytes);
  s.pending_size += sizeof record.bytes;
  return true;
}

bool read_tempo(compiler_state &s) {
  const token_status status = read_token(s.in, s.token, s.line);
  if (status == token_status::too_long || status == token_status::read_error) {
    return fail_reading(s, status);
  }
  const tempo_outcome tempo =
      apply_tempo(status == token_status::token ? s.token : nullptr);
  if (tempo.error != tempo_error::none) {
    describe_tempo_failure(tempo.error, s.line, *s.failure);
    return false;
  }
  s.base_duration = tempo.base_duration;
  return true;
}

// Applies the note rules to the token; false with the failure set.
bool compile_token(compiler_state &s, tone_record &record) {
  const note_outcome note = apply_note(s.token, s.base_duration);
  if (note.error != note_error::none) {
    describe_note_failure(note, s.token, s.line, *s.failure);
    return false;
  }
  record = note.record;
  return true;
}

// The cache key of the token in s.token, or 0 when it is too long for one.
std::uint64_t token_key(const compiler_state &s) {
  const int length = s.in.token_length;
  if (length > 7) return 0;
  std::uint64_t bytes;
  std::memcpy(&bytes, s.token, sizeof bytes);  // the token buffer holds 80
  const std::uint64_t mask = (std::uint64_t{1} << (8 * length)) - 1;
  return (bytes & mask) | static_cast<std::uint64_t>(length) << 56;
}

bool compile_note(compiler_state &s) {
  const std::uint64_t key = token_key(s);
  tone_record record;
  if (key == 0) {
    return compile_token(s, record) && write_record(s, record);
  }
  // Two slots for each key, so that two frequent tokens whose keys share
  // a slot do not keep replacing each other.
  cached_record *const pair =
      s.records + (((key * 0x9E3779B97F4A7C15u) >> (64 - record_cache_bits)) & ~std::size_t{1});
  if (pair[0].key == key) return write_record(s, pair[0].record);
  if (pair[1].key == key) return write_record(s, pair[1].record);
  if (!compile_token(s, record)) return false;
  cached_record &slot = pair[0].key == 0 ? pair[0] : pair[1];
  slot.key = key;
  slot.record = record;
  return write_record(s, record);
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

void describe_tempo_failure(tempo_error error, std::int64_t line, melody_failure &failure) {
  std::snprintf(failure.message, sizeof failure.message,
                error == tempo_error::invalid_tempo ? "Line %" PRId64 ": Invalid tempo\n"
                                                    : "Line %" PRId64 ": Tempo out of range\n",
                line);
}

void describe_note_failure(const note_outcome &note, const char *token, std::int64_t line,
                           melody_failure &failure) {
  char *const m = failure.message;
  const std::size_t size = sizeof failure.message;
  switch (note.error) {
    case note_error::invalid_note:
      std::snprintf(m, size, "Line %" PRId64 ": Invalid note %.*s\n", line, note.name_end, token);
      break;
    case note_error::note_out_of_range:
      std::snprintf(m, size, "Line %" PRId64 ": Note %.*s%d out of range\n", line, note.name_end,
                    token, note.octave_value);
      break;
    case note_error::invalid_duration:
      std::snprintf(m, size, "Line %" PRId64 ": Invalid duration %.*s\n", line,
                    note.duration_end - note.duration_start, token + note.duration_start);
      break;
    case note_error::duration_out_of_range:
      std::snprintf(m, size, "Line %" PRId64 ": duration out of range\n", line);
      break;
    case note_error::none:
      m[0] = '\0';
      break;
  }
}

void describe_read_failure(token_status status, std::int64_t line, melody_failure &failure) {
  if (status == token_status::too_long) {
    std::snprintf(failure.message, sizeof failure.message, "Line %" PRId64 ": Token too long\n", line);
  } else {
    std::snprintf(failure.message, sizeof failure.message, "Error reading input file\n");
  }
}

bool compile_melody_core(std::FILE *in, std::FILE *out,
                         melody_failure &failure) {
  // The state is large (the input block, the record cache): keep it off
  // the stack. Only the fields that need a start value get one.
  auto *s = static_cast<compiler_state *>(std::malloc(sizeof(compiler_state)));
  if (s == nullptr) {
    std::snprintf(failure.message, sizeof failure.message, "Out of memory\n");
    return false;
  }
  s->out = out;
  s->failure = &failure;
  s->line = 1;
  s->base_duration = 0;
  s->pending_size = 0;
  std::memset(s->records, 0, sizeof s->records);
  start_token_input(s->in, in);
  const bool compiled = compile_all(*s);
  // Records of the tokens before a failure stay in the output. A write
  // error may only show when the stream itself is flushed.
  const bool written = flush_pending(*s) && std::fflush(out) == 0 && !std::ferror(out);
  bool ok = compiled;
  if (compiled && !written) ok = fail(*s, "Error writing to output file\n");
  std::free(s);
  return ok;
}

void compile_melody(std::FILE *in, std::FILE *out) {
  melody_failure failure{};
  bool ok = compile_melody_core(in, out, failure);
  // Some file systems report a failed write only when the file is closed.
  if (std::fclose(out) != 0 && ok) {
    std::snprintf(failure.message, sizeof failure.message, "Error writing to output file\n");
    ok = false;
  }
  if (!ok) {
    std::fputs(failure.message, stderr);
    std::exit(1);
  }
}
