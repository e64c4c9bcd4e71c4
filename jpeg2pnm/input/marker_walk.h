// The marker segments of a JPEG file, found the way libjpeg's marker
// reader finds them, so that whatever reads segment positions agrees with
// the decoder on every file, odd ones too:
// - the file starts with SOI (FF D8) exactly;
// - any bytes before a marker are skipped, and so are fill bytes (FF)
//   before its code;
// - SOI, EOI, RST0..RST7 and TEM have no length field;
// - a segment's length counts its own two bytes; APPn, COM and DNL with a
//   length under 2 hold nothing, and the next marker is looked for right
//   after the length field, as libjpeg reads on there;
// - after SOS the entropy-coded data runs to the first marker that is
//   neither a stuffed byte (FF 00) nor a restart marker;
// - any other marker, and a bad length of a segment libjpeg parses, ends
//   the walk as an error, as it ends libjpeg's decode.
#pragma once

#include <cstddef>

struct jpeg_marker {
  unsigned char code = 0;
  std::size_t payload = 0;  // offset of the first byte after the length field (or the code)
  std::size_t length = 0;   // bytes of payload: 0 for markers without a length
};

struct marker_walk {
  const unsigned char *data = nullptr;
  std::size_t size = 0;
  std::size_t at = 0;          // where the search for the next marker starts
  bool in_scan = false;        // entropy-coded data follows `at`
  bool failed = false;         // the walk met what libjpeg refuses
};

marker_walk start_marker_walk(const unsigned char *data, std::size_t size);

// The next marker segment; false at the end of the data, after EOI, or
// when the walk fails (`failed` set).
bool next_marker(marker_walk &walk, jpeg_marker &marker);

inline bool is_restart_marker(unsigned char code) { return code >= 0xD0 && code <= 0xD7; }
