// jpeg2pnm run on images a test makes, in a scratch folder: outside the
// sanitizers with its address space held to 1 GB, so that a decoder that
// took what a bomb asks for would fail; and the plan and decode of one
// image in memory, as jpeg2pnm runs them.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "decode/decode_image.h"
#include "pnm_file.h"
#include "program_test.h"
#include "under_sanitizer.h"

class image_program : public program_test {
 protected:
  // Runs jpeg2pnm in dir_. Outside the sanitizers (whose shadow memory
  // needs more), with its address space held to 1 GB: a decoder that took
  // what a bomb asks for would fail.
  int run(const std::string &arguments) {
#ifdef TAMLO_UNDER_SANITIZER
    const std::string guard = "ulimit -t 60";
#else
    const std::string guard = "ulimit -t 60 && ulimit -v 1000000";
#endif
    const int status = shell("cd '" + dir_.string() + "' && " + guard + " && " + JPEG2PNM_PATH + " " +
                             arguments + " 2>err");
    err_ = slurp(dir_ / "err");
    std::filesystem::remove(dir_ / "err");
    return status;
  }

  pnm_image image(const std::string &name) { return parse_pnm(read_file(dir_ / name)); }

  std::string err_;
};

// What planning and decoding one image in memory gave.
struct convert_result {
  bool ok = false;
  std::string message;  // the plan's refusal, the decode's failure or its first warning
  int warnings = 0;
  std::string exif_damage;
};

// The image the plan and decode of `file` write, in memory; `result`,
// when given, gets how it went (else a failure fails the test).
inline pnm_image decode_in_memory(const std::vector<unsigned char> &file, const convert_options &options,
                                  convert_result *result = nullptr) {
  convert_result r;
  const image_plan plan = plan_image({file.data(), file.size()}, options);
  r.exif_damage = plan.exif_damage;
  r.message = plan.refusal;
  std::vector<unsigned char> written;
  if (plan.ok) {
    char *buffer = nullptr;
    std::size_t size = 0;
    std::FILE *out = open_memstream(&buffer, &size);
    block_ring ring;
    const decode_result decoded = decode_image({file.data(), file.size()}, plan, out, ring);
    std::fclose(out);
    written.assign(buffer, buffer + size);
    std::free(buffer);
    r.ok = decoded.ok;
    r.message = decoded.message;
    r.warnings = decoded.warnings;
  }
  if (result != nullptr) {
    *result = r;
  } else {
    EXPECT_TRUE(r.ok) << r.message;
  }
  return r.ok ? parse_pnm(written) : pnm_image{};
}
