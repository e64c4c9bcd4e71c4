// Reading the EXIF Orientation of a JPEG file, and saying what is wrong
// with a damaged one.
#include "exif_orientation.h"

#include <cstring>
#include <iterator>
#include <string>

#include "marker_walk.h"

namespace {

constexpr unsigned orientation_tag = 0x0112;
constexpr unsigned short_type = 3;

// TIFF numbers in the block's byte order; false past its end.
struct tiff_reader {
  const unsigned char *data;
  std::size_t size;
  bool big_endian;

  bool u16(std::size_t at, unsigned &value) const {
    if (at > size || size - at < 2) return false;
    const unsigned first = data[at], second = data[at + 1];
    value = big_endian ? (first << 8 | second) : (second << 8 | first);
    return true;
  }
  bool u32(std::size_t at, std::size_t &value) const {
    unsigned high = 0, low = 0;
    if (!u16(at, big_endian ? high : low) || !u16(at + 2, big_endian ? low : high)) return false;
    value = static_cast<std::size_t>(high) << 16 | low;
    return true;
  }
};

// TIFF's name of a field type, as EXIF readers show it.
std::string type_name(unsigned type) {
  static const char *const names[] = {"BYTE",   "ASCII", "SHORT",     "LONG",  "RATIONAL", "SBYTE",
                                      "UNDEFINED", "SSHORT", "SLONG", "SRATIONAL", "FLOAT", "DOUBLE"};
  return type >= 1 && type <= std::size(names) ? names[type - 1] : "type " + std::to_string(type);
}

exif_reading damaged(const std::string &why) {
  exif_reading r;
  r.damage = why;
  return r;
}

}  // namespace

exif_reading orientation_of_exif(const unsigned char *payload, std::size_t length) {
  if (length < 6 || std::memcmp(payload, "Exif\0\0", 6) != 0) return {};
  tiff_reader tiff{payload + 6, length - 6, false};
  if (tiff.size < 8) return damaged("its TIFF header is cut short");
  if (std::memcmp(tiff.data, "MM", 2) == 0) {
    tiff.big_endian = true;
  } else if (std::memcmp(tiff.data, "II", 2) != 0) {
    return damaged("its TIFF header names no byte order");
  }
  unsigned magic = 0;
  std::size_t ifd = 0;
  if (!tiff.u16(2, magic) || magic != 42 || !tiff.u32(4, ifd)) return damaged("its TIFF header is not TIFF's");
  unsigned entries = 0;
  if (ifd < 8 || !tiff.u16(ifd, entries)) return damaged("its first directory lies outside it");
  for (unsigned i = 0; i < entries; ++i) {
    const std::size_t entry = ifd + 2 + 12 * static_cast<std::size_t>(i);
    unsigned tag = 0, type = 0, value = 0;
    std::size_t count = 0;
    if (!tiff.u16(entry, tag) || !tiff.u16(entry + 2, type) || !tiff.u32(entry + 4, count) ||
        !tiff.u16(entry + 8, value)) {
      return damaged("its first directory runs past its end");
    }
    if (tag != orientation_tag) continue;
    if (type != short_type) return damaged("its Orientation is stored as " + type_name(type) + ", not as a SHORT");
    if (count != 1) return damaged("its Orientation holds " + std::to_string(count) + " values, not one");
    if (value < 1 || value > 8) return damaged("its Orientation is " + std::to_string(value) + ", not one of 1 to 8");
    exif_reading r;
    r.orientation = static_cast<int>(value);
    return r;
  }
  return {};
}

exif_reading read_exif_orientation(const unsigned char *data, std::size_t size) {
  marker_walk walk = start_marker_walk(data, size);
  for (jpeg_marker m; next_marker(walk, m);) {
    if (m.code == 0xDA) break;  // metadata comes before the first scan
    if (m.code == 0xE1 && m.length >= 6 && std::memcmp(data + m.payload, "Exif\0\0", 6) == 0) {
      return orientation_of_exif(data + m.payload, m.length);
    }
  }
  return {};
}

void stored_pixel(int orientation, unsigned width, unsigned height, unsigned u, unsigned v, unsigned &x,
                  unsigned &y) {
  switch (orientation) {
    case 2: x = width - 1 - u, y = v; break;
    case 3: x = width - 1 - u, y = height - 1 - v; break;
    case 4: x = u, y = height - 1 - v; break;
    case 5: x = v, y = u; break;
    case 6: x = v, y = height - 1 - u; break;
    case 7: x = width - 1 - v, y = height - 1 - u; break;
    case 8: x = width - 1 - v, y = u; break;
    default: x = u, y = v; break;
  }
}
