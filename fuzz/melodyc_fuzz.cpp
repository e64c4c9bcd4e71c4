// Feeds arbitrary bytes to the melody compiler in-process.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "compiler.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static std::FILE *sink = std::fopen("/dev/null", "w");
  // fmemopen refuses an empty buffer; an empty input reads from /dev/null.
  std::FILE *in = size == 0 ? std::fopen("/dev/null", "r")
                            : fmemopen(const_cast<std::uint8_t *>(data), size, "r");
  if (!in) return 0;
  melody_failure failure{};
  if (!compile_melody_core(in, sink, failure)) {
    // Every diagnostic is one line that ends the message.
    const std::size_t length = std::strlen(failure.message);
    if (length == 0 || failure.message[length - 1] != '\n' ||
        std::memchr(failure.message, '\n', length - 1) != nullptr) {
      __builtin_trap();
    }
  }
  std::fclose(in);
  return 0;
}
