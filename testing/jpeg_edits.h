// Edits of JPEG files' bytes that tests make to build odd and hostile
// files from good ones: a marker found, a segment inserted, a frame
// claiming another size, scans repeated or cut off.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

namespace jpeg_edits {

using bytes = std::vector<unsigned char>;

// Offset of the first marker `code` (FF code) in a JPEG file.
inline std::size_t marker_at(const bytes &file, unsigned char code) {
  for (std::size_t i = 0; i + 1 < file.size(); ++i) {
    if (file[i] == 0xFF && file[i + 1] == code) return i;
  }
  ADD_FAILURE() << "no marker " << static_cast<int>(code);
  return 0;
}

// The file with the frame header claiming another size: what a bomb is.
inline bytes with_claimed_size(bytes file, unsigned width, unsigned height) {
  std::size_t sof = 0;
  while (sof + 9 < file.size() && !(file[sof] == 0xFF && (file[sof + 1] == 0xC0 || file[sof + 1] == 0xC2))) {
    ++sof;
  }
  file[sof + 5] = static_cast<unsigned char>(height >> 8);
  file[sof + 6] = static_cast<unsigned char>(height);
  file[sof + 7] = static_cast<unsigned char>(width >> 8);
  file[sof + 8] = static_cast<unsigned char>(width);
  return file;
}

// Where the scan whose SOS marker is at `sos` ends: at the next marker
// other than a stuffed byte or a restart.
inline std::size_t scan_end(const bytes &file, std::size_t sos) {
  std::size_t end = sos + 2;
  while (end + 1 < file.size() &&
         !(file[end] == 0xFF && file[end + 1] != 0x00 && (file[end + 1] < 0xD0 || file[end + 1] > 0xD7))) {
    ++end;
  }
  return end;
}

// A progressive file whose first scan is repeated to make `scans` scans.
inline bytes with_many_scans(const bytes &progressive, int scans) {
  const std::size_t first = marker_at(progressive, 0xDA);
  const std::size_t end = scan_end(progressive, first);
  bytes file(progressive.begin(), progressive.begin() + static_cast<std::ptrdiff_t>(first));
  for (int i = 0; i < scans; ++i) {
    file.insert(file.end(), progressive.begin() + static_cast<std::ptrdiff_t>(first),
                progressive.begin() + static_cast<std::ptrdiff_t>(end));
  }
  file.push_back(0xFF);
  file.push_back(0xD9);
  return file;
}

// The file closed with EOI after its first `scans` scans, as a clean file
// that ends early (an empty result when it has fewer).
inline bytes cut_after_scan(const bytes &file, int scans) {
  std::size_t at = 0;
  for (int i = 0; i < scans; ++i) {
    while (at + 1 < file.size() && !(file[at] == 0xFF && file[at + 1] == 0xDA)) ++at;
    if (at + 1 >= file.size()) return {};
    at = scan_end(file, at);
  }
  bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(at));
  cut.push_back(0xFF);
  cut.push_back(0xD9);
  return cut;
}

// `file` with `extra` inserted before its first marker `code`.
inline bytes inserted_before(bytes file, unsigned char code, const bytes &extra) {
  const std::size_t at = marker_at(file, code);
  file.insert(file.begin() + static_cast<std::ptrdiff_t>(at), extra.begin(), extra.end());
  return file;
}

}  // namespace jpeg_edits
