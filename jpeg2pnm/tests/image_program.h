// jpeg2pnm run on images a test makes, in a scratch folder: outside the
// sanitizers with its address space held to 1 GB, so that a decoder that
// took what a bomb asks for would fail; and convert_jpeg in memory.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "convert.h"
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

// The image convert_jpeg writes for `file`, in memory; `result`, when
// given, gets what it returned (else a failure fails the test).
inline pnm_image decode_in_memory(const std::vector<unsigned char> &file, const convert_options &options,
                                  convert_result *result = nullptr) {
  char *buffer = nullptr;
  std::size_t size = 0;
  std::FILE *out = open_memstream(&buffer, &size);
  const convert_result r =
      convert_jpeg(file.data(), file.size(), options, [&](int, bool, std::string &) { return out; });
  std::fclose(out);
  const std::vector<unsigned char> written(buffer, buffer + size);
  std::free(buffer);
  if (result != nullptr) {
    *result = r;
  } else {
    EXPECT_TRUE(r.ok) << r.message;
  }
  return r.ok ? parse_pnm(written) : pnm_image{};
}
