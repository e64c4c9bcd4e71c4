// Writing 16-bit PCM sound with libsndfile.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The libsndfile format for a file name's extension (.wav, .flac, .aiff,
// .aif, .au, .caf), 16-bit PCM; 0 when the extension names none that this
// libsndfile can write.
int sound_format_for(const std::string &path);

// Writes mono `samples` at `rate` to `path` in `format`, complete or not at
// all (a temporary file renamed on success). Sets `error` on failure.
bool write_sound_file(const std::string &path, int format, int rate,
                      const std::vector<std::int16_t> &samples, std::string &error);

// Writes a WAV stream to standard output. Sets `error` on failure.
bool write_sound_stdout(int rate, const std::vector<std::int16_t> &samples, std::string &error);
