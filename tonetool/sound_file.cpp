#include "sound_file.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "output_file.h"

namespace {

std::string lower_extension(const std::string &path) {
  const auto slash = path.rfind('/');
  const auto dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return ext;
}

SF_INFO info_for(int format, int rate) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = format;
  return info;
}

// Renders every sample into `file` and closes it; false with `error` set
// otherwise.
bool render_and_close(SNDFILE *file, const std::vector<tone> &tones, const render_settings &settings,
                      std::string &error) {
  const bool written = render_tones_in_blocks(
      tones, settings, [&](const std::int16_t *samples, std::size_t count) {
        return sf_write_short(file, samples, static_cast<sf_count_t>(count)) ==
               static_cast<sf_count_t>(count);
      });
  if (!written) error = sf_strerror(file);
  const int closed = sf_close(file);
  if (written && closed != 0) error = sf_error_number(closed);
  return written && closed == 0;
}

void put_le(std::string &out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Writes the WAV stream of `tones` to `out`: header, then the samples,
// little-endian, block by block.
bool write_wav_stream(std::FILE *out, const std::vector<tone> &tones,
                      const render_settings &settings, std::string &error) {
  const std::int64_t samples = rendered_length(tones, settings);
  const std::string header = wav_header(samples, settings.rate, needs_rf64(samples));
  bool ok = std::fwrite(header.data(), 1, header.size(), out) == header.size();
  std::vector<unsigned char> bytes(2 * render_block_samples);
  ok = ok && render_tones_in_blocks(tones, settings, [&](const std::int16_t *block, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      const auto v = static_cast<std::uint16_t>(block[i]);
      bytes[2 * i] = static_cast<unsigned char>(v & 0xFF);
      bytes[2 * i + 1] = static_cast<unsigned char>(v >> 8);
    }
    return std::fwrite(bytes.data(), 1, 2 * count, out) == 2 * count;
  });
  if (!ok) error = std::string("write error: ") + std::strerror(errno);
  return ok;
}

// Formats whose sizes are 32-bit fields: AIFF's FORM and AU's data size.
bool holds_at_most_4_gib(int format) {
  const int major = format & SF_FORMAT_TYPEMASK;
  return major == SF_FORMAT_AIFF || major == SF_FORMAT_AU;
}

// A growing in-memory file for libsndfile's virtual I/O.
struct memory_file {
  std::vector<unsigned char> data;
  sf_count_t position = 0;
};

memory_file &mem(void *user) { return *static_cast<memory_file *>(user); }

sf_count_t mem_length(void *user) { return static_cast<sf_count_t>(mem(user).data.size()); }

sf_count_t mem_seek(sf_count_t offset, int whence, void *user) {
  memory_file &m = mem(user);
  const sf_count_t base = whence == SEEK_CUR   ? m.position
                          : whence == SEEK_END ? static_cast<sf_count_t>(m.data.size())
                                               : 0;
  if (base + offset < 0) return -1;
  m.position = base + offset;
  return m.position;
}

sf_count_t mem_read(void *out, sf_count_t count, void *user) {
  memory_file &m = mem(user);
  const auto size = static_cast<sf_count_t>(m.data.size());
  const sf_count_t n = std::max<sf_count_t>(0, std::min(count, size - m.position));
  std::memcpy(out, m.data.data() + m.position, static_cast<std::size_t>(n));
  m.position += n;
  return n;
}

sf_count_t mem_write(const void *in, sf_count_t count, void *user) {
  memory_file &m = mem(user);
  const auto end = static_cast<std::size_t>(m.position + count);
  if (end > m.data.size()) m.data.resize(end);
  std::memcpy(m.data.data() + m.position, in, static_cast<std::size_t>(count));
  m.position += count;
  return count;
}

sf_count_t mem_tell(void *user) { return mem(user).position; }

// The whole sound file in `memory`: for a format that must seek back and
// an output that cannot.
bool write_to_memory(memory_file &memory, int format, const std::vector<tone> &tones,
                     const render_settings &settings, std::string &error) {
  SF_VIRTUAL_IO io{mem_length, mem_seek, mem_read, mem_write, mem_tell};
  SF_INFO info = info_for(format, settings.rate);
  SNDFILE *file = sf_open_virtual(&io, SFM_WRITE, &info, &memory);
  if (!file) {
    error = sf_strerror(nullptr);
    return false;
  }
  return render_and_close(file, tones, settings, error);
}

}  // namespace

int sound_format_for(const std::string &path) {
  const std::string ext = lower_extension(path);
  int major = 0;
  if (ext == ".wav") major = SF_FORMAT_WAV;
  else if (ext == ".flac") major = SF_FORMAT_FLAC;
  else if (ext == ".aiff" || ext == ".aif") major = SF_FORMAT_AIFF;
  else if (ext == ".au") major = SF_FORMAT_AU;
  else if (ext == ".caf") major = SF_FORMAT_CAF;
  // A device, FIFO or open descriptor without an extension takes WAV, as
  // standard output does.
  struct stat st {};
  if (major == 0 && stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    major = SF_FORMAT_WAV;
  }
  if (major == 0) return 0;
  SF_INFO info = info_for(major | SF_FORMAT_PCM_16, 44100);
  return sf_format_check(&info) ? info.format : 0;
}

bool needs_rf64(std::int64_t samples) {
  // RIFF's size field counts the 36 bytes after it before the data.
  return 36 + 2 * static_cast<std::uint64_t>(samples) > 0xFFFFFFFFu;
}

std::string wav_header(std::int64_t samples, int rate, bool rf64) {
  const std::uint64_t data = 2 * static_cast<std::uint64_t>(samples);
  std::string h;
  h += rf64 ? "RF64" : "RIFF";
  put_le(h, rf64 ? 0xFFFFFFFFu : 36 + data, 4);
  h += "WAVE";
  if (rf64) {
    h += "ds64";
    put_le(h, 28, 4);
    put_le(h, 72 + data, 8);  // the RIFF size: everything after its field
    put_le(h, data, 8);
    put_le(h, static_cast<std::uint64_t>(samples), 8);
    put_le(h, 0, 4);  // no table
  }
  h += "fmt ";
  put_le(h, 16, 4);
  put_le(h, 1, 2);  // PCM
  put_le(h, 1, 2);  // mono
  put_le(h, static_cast<std::uint64_t>(rate), 4);
  put_le(h, 2 * static_cast<std::uint64_t>(rate), 4);  // bytes a second
  put_le(h, 2, 2);                                      // bytes a frame
  put_le(h, 16, 2);                                     // bits a sample
  h += "data";
  put_le(h, rf64 ? 0xFFFFFFFFu : data, 4);
  return h;
}

bool write_sound_file(const std::string &path, int format, const std::vector<tone> &tones,
                      const render_settings &settings, std::string &error) {
  const std::int64_t samples = rendered_length(tones, settings);
  if (holds_at_most_4_gib(format) && needs_rf64(samples)) {
    char size[32];
    std::snprintf(size, sizeof size, "%.1f", 2.0 * static_cast<double>(samples) / (1u << 30));
    error = std::string("the sound would be ") + size + " GiB, and " +
            ((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_AIFF ? "AIFF" : "AU") +
            " holds at most 4 GiB: write .wav (RF64 beyond 4 GiB), .caf or .flac";
    return false;
  }
  output_file out;
  if (!open_output(out, path, error)) return false;
  bool ok;
  if ((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV) {
    ok = write_wav_stream(out.stream, tones, settings, error);
  } else if (out.direct) {
    // A device or FIFO cannot be sought back to for the header: the file
    // is made in memory and written out whole.
    memory_file memory;
    ok = write_to_memory(memory, format, tones, settings, error);
    if (ok && std::fwrite(memory.data.data(), 1, memory.data.size(), out.stream) != memory.data.size()) {
      error = std::string("write error: ") + std::strerror(errno);
      ok = false;
    }
  } else {
    std::fflush(out.stream);
    SF_INFO info = info_for(format, settings.rate);
    SNDFILE *file = sf_open_fd(fileno(out.stream), SFM_WRITE, &info, SF_FALSE);
    if (file == nullptr) {
      error = sf_strerror(nullptr);
      ok = false;
    } else {
      ok = render_and_close(file, tones, settings, error);
    }
  }
  if (!ok) {
    discard_output(out);
    return false;
  }
  return commit_output(out, error);
}

bool write_sound_stdout(const std::vector<tone> &tones, const render_settings &settings,
                        std::string &error) {
  if (!write_wav_stream(stdout, tones, settings, error)) return false;
  if (std::fflush(stdout) != 0) {
    error = std::string("write error: ") + std::strerror(errno);
    return false;
  }
  return true;
}
