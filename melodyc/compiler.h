// The melody compiler: a tempo token, then one three-byte tone record per
// note token.
#pragma once

#include <cstdint>
#include <cstdio>

#include "note_rules.h"
#include "token_reader.h"

// Why a compilation stopped: the complete diagnostic line, newline included.
struct melody_failure {
  char message[192];
};

// Compiles all of `in` to `out`, flushing `out` at the end. Returns false,
// with the diagnostic in `failure`, at the first error; the records of
// earlier tokens have then been handed to `out` already.
bool compile_melody_core(std::FILE *in, std::FILE *out,
                         melody_failure &failure);

// melodyc's diagnostics, for the failure classes of the rules and the
// reader, naming input line `line`.
void describe_tempo_failure(tempo_error error, std::int64_t line, melody_failure &failure);
void describe_note_failure(const note_outcome &note, const char *token, std::int64_t line,
                           melody_failure &failure);
void describe_read_failure(token_status status, std::int64_t line, melody_failure &failure);

// The program's behaviour: compiles `in` to `out` and closes `out`; on an
// error (also one that shows only as `out` is closed) writes the
// diagnostic to standard error and ends the process with status 1.
void compile_melody(std::FILE *in, std::FILE *out);
