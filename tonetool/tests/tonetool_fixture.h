// What the tonetool tests share: melodies compiled in-process to their
// records, records as bytes, and the program run on a scratch folder.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "compiler.h"
#include "memory_stream.h"
#include "note_rules.h"
#include "program_test.h"
#include "tone_records.h"


// Compiles a melody in-process to its tone records.
inline std::vector<tone> compile_tones(const std::string &melody) {
  input_text in(melody);
  output_bytes out;
  melody_failure failure{};
  const bool ok = compile_melody_core(in.file(), out.file(), failure);
  EXPECT_TRUE(ok) << melody << ": " << failure.message;
  const std::string bytes = out.bytes();
  if (bytes.empty()) return {};
  input_text records(bytes);
  return read_tones(records.file()).tones;
}

class tonetool_program : public program_test {
 protected:
  // Runs tonetool ARGUMENTS with `records` on standard input.
  int run(const std::string &arguments, const std::string &records) {
    std::ofstream(dir_ / "in", std::ios::binary) << records;
    const std::string command = std::string(TONETOOL_PATH) + " " + arguments + " <" +
                                (dir_ / "in").string() + " >" + (dir_ / "out").string() +
                                " 2>" + (dir_ / "err").string();
    const int status = shell(command);
    out_ = slurp(dir_ / "out");
    err_ = slurp(dir_ / "err");
    return status;
  }

  std::string slurp_help(const std::string &command) {
    run(command + " --help", "");
    return out_;
  }

  std::string out_, err_;
};

// "NOTE:UNITS ..." from the lines of `tonetool list`.
inline std::string notes_and_units(const std::string &listing) {
  std::istringstream lines(listing);
  std::string line, result;
  std::getline(lines, line);  // the header
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string word; words >> word;) w.push_back(word);
    if (w.size() < 2) continue;
    result += (result.empty() ? "" : " ") + w[w.size() - 2] + ":" + w.back();
  }
  return result;
}

inline std::string record_bytes(const std::vector<tone> &tones) {
  std::string bytes;
  for (const tone &t : tones) {
    const tone_record record = make_tone_record(t.period, t.duration);
    bytes.append(reinterpret_cast<const char *>(record.bytes), sizeof record.bytes);
  }
  return bytes;
}

