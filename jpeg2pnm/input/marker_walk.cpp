// Walking a JPEG file's marker segments as libjpeg reads them.
#include "marker_walk.h"

#include <cstring>

namespace {

constexpr unsigned char soi = 0xD8, eoi = 0xD9, sos = 0xDA, tem = 0x01;

bool has_no_length(unsigned char code) {
  return code == soi || code == eoi || code == tem || is_restart_marker(code);
}

// Markers libjpeg skips by their length, reading on after the length field
// when it is under 2: APPn, COM and DNL.
bool is_skipped(unsigned char code) { return (code >= 0xE0 && code <= 0xEF) || code == 0xFE || code == 0xDC; }

// Markers libjpeg parses and refuses with a bad length: the frame headers
// it decodes, DHT, DAC, SOS, DQT and DRI.
bool is_parsed(unsigned char code) {
  return code == 0xC0 || code == 0xC1 || code == 0xC2 || code == 0xC9 || code == 0xCA || code == 0xC4 ||
         code == 0xCC || code == sos || code == 0xDB || code == 0xDD;
}

// The offset just past the entropy-coded data that starts at `at`.
std::size_t end_of_entropy_data(const unsigned char *data, std::size_t size, std::size_t at) {
  while (at < size) {
    const void *next = std::memchr(data + at, 0xFF, size - at);
    if (next == nullptr) return size;
    std::size_t ff = static_cast<std::size_t>(static_cast<const unsigned char *>(next) - data);
    std::size_t code = ff + 1;
    while (code < size && data[code] == 0xFF) ++code;  // fill bytes
    if (code >= size) return size;
    if (data[code] != 0x00 && !is_restart_marker(data[code])) return ff;
    at = code + 1;
  }
  return size;
}

}  // namespace

marker_walk start_marker_walk(const unsigned char *data, std::size_t size) {
  marker_walk walk;
  walk.data = data;
  walk.size = size;
  walk.failed = size < 2 || data[0] != 0xFF || data[1] != soi;
  return walk;
}

bool next_marker(marker_walk &walk, jpeg_marker &marker) {
  if (walk.failed || walk.at >= walk.size) return false;
  const unsigned char *data = walk.data;
  const std::size_t size = walk.size;
  std::size_t at = walk.in_scan ? end_of_entropy_data(data, size, walk.at) : walk.at;
  walk.in_scan = false;
  // As libjpeg's next_marker: skip to an FF, swallow fill bytes, and take
  // FF 00 as a stuffed byte to skip.
  for (;;) {
    const void *next = at < size ? std::memchr(data + at, 0xFF, size - at) : nullptr;
    if (next == nullptr) return false;
    at = static_cast<std::size_t>(static_cast<const unsigned char *>(next) - data) + 1;
    while (at < size && data[at] == 0xFF) ++at;
    if (at >= size) return false;
    if (data[at] != 0x00) break;
    ++at;
  }
  marker = jpeg_marker{};
  marker.code = data[at++];
  marker.payload = at;
  walk.at = at;
  if (marker.code == soi && at != 2) {
    walk.failed = true;  // a second SOI
    return false;
  }
  if (marker.code == eoi) {
    walk.at = size;
    return true;
  }
  if (has_no_length(marker.code)) return true;
  if (!is_skipped(marker.code) && !is_parsed(marker.code)) {
    walk.failed = true;  // unknown or unsupported: libjpeg stops there
    return false;
  }
  if (size - at < 2) return false;
  const std::size_t length = static_cast<std::size_t>(data[at]) << 8 | data[at + 1];
  if (length < 2 && is_parsed(marker.code)) {
    walk.failed = true;
    return false;
  }
  marker.payload = at + 2;
  marker.length = length < 2 ? 0 : length - 2;
  if (marker.length > size - marker.payload) {
    marker.length = size - marker.payload;  // cut short: libjpeg meets the end of the data
    walk.at = size;
    return true;
  }
  walk.at = marker.payload + marker.length;
  walk.in_scan = marker.code == sos;
  return true;
}
