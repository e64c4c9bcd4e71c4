// Feeds arbitrary bytes to tonetool from-midi's reader and melody writer.
// The first byte picks the unit and the channel. Every message is one
// line; a melody written compiles with melodyc, with no error.
#include <cstdint>
#include <cstdio>
#include <string>

#include "compiler.h"
#include "importers/from_midi.h"
#include "importers/midi_reader.h"

namespace {

bool one_line(const std::string &text) { return !text.empty() && text.find('\n') == std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1) return 0;
  const std::string bytes(reinterpret_cast<const char *>(data) + 1, size - 1);
  midi_song song;
  std::string error;
  if (!read_midi(bytes, song, error)) {
    if (!one_line(error)) __builtin_trap();
    return 0;
  }
  if (midi_listing(song).find('\0') != std::string::npos) __builtin_trap();
  from_midi_options options;
  options.unit_ms = 1 + (data[0] & 0x3F) * 10.0;
  options.channel = data[0] >> 6 == 3 ? 2 : 0;
  options.strict = (data[0] & 0x40) != 0;
  const from_midi_result result = melody_from_midi(song, "fuzz", options);
  for (const std::string &w : result.warnings) {
    if (!one_line(w)) __builtin_trap();
  }
  if (!result.error.empty()) {
    if (!one_line(result.error) || !result.melody.empty()) __builtin_trap();
    return 0;
  }
  // The melody compiles without an error.
  std::FILE *in = fmemopen(const_cast<char *>(result.melody.data()), result.melody.size(), "r");
  std::FILE *out = std::fopen("/dev/null", "w");
  melody_failure failure{};
  const bool compiled = in != nullptr && out != nullptr && compile_melody_core(in, out, failure);
  if (in != nullptr) std::fclose(in);
  if (out != nullptr) std::fclose(out);
  if (!compiled) __builtin_trap();
  return 0;
}
