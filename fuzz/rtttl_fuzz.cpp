// Feeds arbitrary ringtones to tonetool rtttl's converter. The first two
// bytes pick the unit and the transposition. Whatever it accepts, melodyc
// must compile to one record per note token; every message is one line.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "compiler.h"
#include "importers/rtttl.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 2) return 0;
  rtttl_options options;
  options.unit_ms = 1 + data[0] * 2.5;  // 1 to 638.5 ms
  options.strict = (data[1] & 0x40) != 0;
  if (data[1] & 0x80) {
    options.transpose_given = true;
    options.transpose = (data[1] & 0x7F) - 64;
  }
  const std::string_view text(reinterpret_cast<const char *>(data) + 2, size - 2);
  const rtttl_conversion result = convert_rtttl(text, options);
  for (const rtttl_message &m : result.messages) {
    if (m.text.empty() || m.text.find('\n') != std::string::npos || m.line < 1 || m.column < 1) {
      __builtin_trap();
    }
  }
  if (result.errors > 0) {
    if (!result.melody.empty()) __builtin_trap();
    return 0;
  }
  // Note tokens: the words of the lines after the tempo line, which
  // follows the comment lines.
  std::size_t tokens = 0;
  bool past_tempo = false;
  std::size_t start = 0;
  for (std::size_t end; (end = result.melody.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = result.melody.substr(start, end - start);
    if (line.empty() || line[0] == '%') continue;
    if (!past_tempo) {
      past_tempo = true;
      continue;
    }
    bool in_word = false;
    for (const char c : line) {
      if (c != ' ' && !in_word) ++tokens;
      in_word = c != ' ';
    }
  }
  std::string melody = result.melody;
  std::FILE *in = fmemopen(melody.data(), melody.size(), "r");
  char *bytes = nullptr;
  std::size_t length = 0;
  std::FILE *out = open_memstream(&bytes, &length);
  melody_failure failure{};
  const bool compiled = compile_melody_core(in, out, failure);
  std::fclose(in);
  std::fclose(out);
  std::free(bytes);
  if (!compiled || length != 3 * tokens) __builtin_trap();
  return 0;
}
