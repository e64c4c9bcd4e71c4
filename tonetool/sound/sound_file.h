// Writing the rendered tones as 16-bit PCM sound, streamed block by block:
// WAV by a writer of our own (RIFF, or RF64 for sound that passes what
// RIFF's 32-bit sizes hold), other formats through libsndfile.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "program_output.h"
#include "render.h"
#include "tone_records.h"

// The libsndfile format for a file name's extension (.wav, .flac, .aiff,
// .aif, .au, .caf), 16-bit PCM, or WAV for a device, FIFO or descriptor
// without one; 0 when the name says none that this libsndfile can write.
int sound_format_for(const std::string &path);

// True when a mono 16-bit WAV of `samples` samples is too large for RIFF's
// 32-bit sizes and is written as RF64.
bool needs_rf64(std::int64_t samples);

// The header of a mono 16-bit WAV of `samples` samples at `rate`: 44 bytes
// of RIFF, or 80 of RF64 (with its ds64 chunk) when `rf64`.
std::string wav_header(std::int64_t samples, int rate, bool rf64);

// The header of a WAV stream whose length is not known when it starts (a
// pipe in, a pipe out): RIFF with both sizes 0xFFFFFFFF, which players
// read as "to the end of the stream".
std::string streamed_wav_header(int rate);

// What the sound is made of: the records `reader` delivers, rendered as
// they arrive, and their total length in units when the input is a file
// (`known`), so that the header can be exact before the first sample.
struct sound_source {
  tone_reader &reader;
  bool known = false;
  std::uint64_t units = 0;
  // Called once the input has ended, before a file is put in place: false,
  // after reporting it, when the input was not whole (a read error, a
  // partial record); the file is then not written.
  std::function<bool()> input_whole;
};

// Whether a sound of the source's known length fits `format`: AIFF and AU
// hold at most 4 GiB. False with `error` saying what to write instead.
bool sound_fits(int format, const sound_source &source, const render_settings &settings, std::string &error);

// Renders the source into the opened output `out` in `format` (standard
// output: WAV); the caller commits or discards it. A WAV whose length is
// not known first gets its header when the sound is complete (or the
// streamed header, where it cannot be rewritten); a format other than WAV
// for a device or FIFO is made in an unnamed temporary file first, then
// copied. False with `error` set on failure, or empty when the input was
// not whole (reported by input_whole).
bool write_sound(program_output &out, int format, sound_source &source, const render_settings &settings,
                 std::string &error);
