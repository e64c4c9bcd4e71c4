#include "sound_file.h"

#include <sndfile.h>

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

// Writes every sample and closes `file`; false with `error` set otherwise.
bool write_and_close(SNDFILE *file, const std::vector<std::int16_t> &samples, std::string &error) {
  const auto count = static_cast<sf_count_t>(samples.size());
  const bool written = sf_write_short(file, samples.data(), count) == count;
  if (!written) error = sf_strerror(file);
  const int closed = sf_close(file);
  if (written && closed != 0) error = sf_error_number(closed);
  return written && closed == 0;
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

// The whole sound file in `memory`.
bool write_to_memory(memory_file &memory, int format, int rate,
                     const std::vector<std::int16_t> &samples, std::string &error) {
  SF_VIRTUAL_IO io{mem_length, mem_seek, mem_read, mem_write, mem_tell};
  SF_INFO info = info_for(format, rate);
  SNDFILE *file = sf_open_virtual(&io, SFM_WRITE, &info, &memory);
  if (!file) {
    error = sf_strerror(nullptr);
    return false;
  }
  return write_and_close(file, samples, error);
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
  if (major == 0) return 0;
  SF_INFO info = info_for(major | SF_FORMAT_PCM_16, 44100);
  return sf_format_check(&info) ? info.format : 0;
}

bool write_sound_file(const std::string &path, int format, int rate,
                      const std::vector<std::int16_t> &samples, std::string &error) {
  output_file out;
  if (!open_output(out, path, error)) return false;
  if (out.direct) {
    // A device or FIFO cannot be sought back to for the header: the file
    // is made in memory and written out whole.
    memory_file memory;
    if (!write_to_memory(memory, format, rate, samples, error)) {
      discard_output(out);
      return false;
    }
    if (std::fwrite(memory.data.data(), 1, memory.data.size(), out.stream) != memory.data.size()) {
      error = std::string("write error: ") + std::strerror(errno);
      discard_output(out);
      return false;
    }
    return commit_output(out, error);
  }
  std::fflush(out.stream);
  SF_INFO info = info_for(format, rate);
  SNDFILE *file = sf_open_fd(fileno(out.stream), SFM_WRITE, &info, SF_FALSE);
  if (!file) {
    error = sf_strerror(nullptr);
    discard_output(out);
    return false;
  }
  if (!write_and_close(file, samples, error)) {
    discard_output(out);
    return false;
  }
  return commit_output(out, error);
}

bool write_sound_stdout(int rate, const std::vector<std::int16_t> &samples, std::string &error) {
  // WAV needs its header patched after the samples, so the stream is
  // built in memory and written out whole.
  memory_file memory;
  if (!write_to_memory(memory, SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, samples, error)) return false;
  if (std::fwrite(memory.data.data(), 1, memory.data.size(), stdout) != memory.data.size() ||
      std::fflush(stdout) != 0) {
    error = std::string("write error: ") + std::strerror(errno);
    return false;
  }
  return true;
}
