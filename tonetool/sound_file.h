// Writing the rendered tones as 16-bit PCM sound, streamed block by block:
// WAV by a writer of our own (RIFF, or RF64 for sound that passes what
// RIFF's 32-bit sizes hold), other formats through libsndfile.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// Renders `tones` into `path` in `format`, complete or not at all (see
// output_file.h). Sets `error` on failure, also for sound too large for
// the format.
bool write_sound_file(const std::string &path, int format, const std::vector<tone> &tones,
                      const render_settings &settings, std::string &error);

// Renders `tones` as a WAV stream to standard output.
bool write_sound_stdout(const std::vector<tone> &tones, const render_settings &settings,
                        std::string &error);
