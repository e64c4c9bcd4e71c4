// Writing rendered sound as WAV (streamed) or through libsndfile.
#include "sound_file.h"

#include <sndfile.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "diagnostics.h"
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
// otherwise. `limit` samples at most (0: none), for formats with 32-bit
// sizes.
bool render_and_close(SNDFILE *file, sound_source &source, const render_settings &settings,
                      std::int64_t limit, std::string &error) {
  std::int64_t written_samples = 0;
  bool too_long = false;
  const bool written = render_stream(source.reader, settings, [&](const std::int16_t *samples, std::size_t count) {
    written_samples += static_cast<std::int64_t>(count);
    if (limit != 0 && written_samples > limit) return !(too_long = true);
    return sf_write_short(file, samples, static_cast<sf_count_t>(count)) == static_cast<sf_count_t>(count);
  });
  if (too_long) error = "the sound passes 4 GiB, more than this format holds: write .wav (RF64 beyond 4 GiB), .caf or .flac";
  else if (!written) error = sf_strerror(file);
  const int closed = sf_close(file);
  if (written && closed != 0) error = sf_error_number(closed);
  return written && closed == 0;
}

void put_le(std::string &out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

bool fail_with_errno(std::string &error) {
  error = write_error_text(errno);
  return false;
}

// Whether `out` is a file whose start can be written again once the
// sound's length is known: a regular file not opened for appending.
bool can_rewrite(std::FILE *out) {
  struct stat st {};
  const int flags = fcntl(fileno(out), F_GETFL);
  return fstat(fileno(out), &st) == 0 && S_ISREG(st.st_mode) && flags >= 0 && (flags & O_APPEND) == 0 &&
         ftello(out) >= 0;
}

// Moves the `bytes` bytes at `from` in the file `fd` forward by `by`,
// from the end, so that nothing is overwritten before it is moved.
bool move_forward(int fd, off_t from, off_t bytes, off_t by) {
  std::vector<char> buffer(1 << 20);
  for (off_t end = from + bytes; end > from;) {
    const off_t start = std::max(from, end - static_cast<off_t>(buffer.size()));
    const auto n = static_cast<std::size_t>(end - start);
    if (pread(fd, buffer.data(), n, start) != static_cast<ssize_t>(n)) return false;
    if (pwrite(fd, buffer.data(), n, start + by) != static_cast<ssize_t>(n)) return false;
    end = start;
  }
  return true;
}

// Writes the sound as WAV to `out`: header, then the samples, little-endian,
// block by block. With its length unknown, the header is the streamed one,
// or on a file that can be rewritten a RIFF header put right at the end
// (RF64, with the samples moved up, past 4 GiB).
bool write_wav_stream(std::FILE *out, sound_source &source, const render_settings &settings,
                      std::string &error) {
  const std::int64_t known = source.known ? sample_at(static_cast<std::int64_t>(source.units), settings) : -1;
  const bool rewrite = known < 0 && can_rewrite(out);
  const off_t start = rewrite ? ftello(out) : 0;
  const std::string header = known >= 0 ? wav_header(known, settings.rate, needs_rf64(known))
                             : rewrite  ? wav_header(0, settings.rate, false)
                                        : streamed_wav_header(settings.rate);
  if (std::fwrite(header.data(), 1, header.size(), out) != header.size()) return fail_with_errno(error);
  std::vector<unsigned char> bytes(2 * render_block_samples);
  std::int64_t samples = 0;
  const bool ok = render_stream(source.reader, settings, [&](const std::int16_t *block, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      const auto v = static_cast<std::uint16_t>(block[i]);
      bytes[2 * i] = static_cast<unsigned char>(v & 0xFF);
      bytes[2 * i + 1] = static_cast<unsigned char>(v >> 8);
    }
    samples += static_cast<std::int64_t>(count);
    return std::fwrite(bytes.data(), 1, 2 * count, out) == 2 * count;
  });
  if (!ok || std::fflush(out) != 0) return fail_with_errno(error);
  if (!rewrite) return true;
  const bool rf64 = needs_rf64(samples);
  const std::string final_header = wav_header(samples, settings.rate, rf64);
  const off_t data = static_cast<off_t>(header.size());
  if (rf64 && !move_forward(fileno(out), start + data, 2 * static_cast<off_t>(samples),
                            static_cast<off_t>(final_header.size()) - data)) {
    return fail_with_errno(error);
  }
  if (pwrite(fileno(out), final_header.data(), final_header.size(), start) !=
      static_cast<ssize_t>(final_header.size())) {
    return fail_with_errno(error);
  }
  return fseeko(out, 0, SEEK_END) == 0 || fail_with_errno(error);
}

// Formats whose sizes are 32-bit fields: AIFF's FORM and AU's data size.
bool holds_at_most_4_gib(int format) {
  const int major = format & SF_FORMAT_TYPEMASK;
  return major == SF_FORMAT_AIFF || major == SF_FORMAT_AU;
}

// Renders the source through libsndfile into the seekable file `fd`.
bool write_with_libsndfile(int fd, int format, sound_source &source, const render_settings &settings,
                           std::string &error) {
  SF_INFO info = info_for(format, settings.rate);
  SNDFILE *file = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
  if (file == nullptr) {
    error = sf_strerror(nullptr);
    return false;
  }
  // Under 4 GiB of data with room for the header.
  const std::int64_t limit = holds_at_most_4_gib(format) ? (0xFFFFFFFFll - 1024) / 2 : 0;
  return render_and_close(file, source, settings, limit, error);
}

// Copies the whole file `from` to `out`.
bool copy_file_to(std::FILE *from, std::FILE *out, std::string &error) {
  std::rewind(from);
  std::vector<char> buffer(1 << 16);
  for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), from)) > 0;) {
    if (std::fwrite(buffer.data(), 1, n, out) != n) return fail_with_errno(error);
  }
  if (std::ferror(from)) {
    error = with_errno("cannot read the sound back");
    return false;
  }
  return true;
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
  // A device, FIFO or open descriptor (/dev/stdout, /dev/fd/N, whatever it
  // is open on) without an extension takes WAV, as standard output does.
  struct stat st {};
  if (major == 0 && (descriptor_named(path) >= 0 ||
                     (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)))) {
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

bool sound_fits(int format, const sound_source &source, const render_settings &settings, std::string &error) {
  if (!source.known || !holds_at_most_4_gib(format)) return true;
  const std::int64_t samples = sample_at(static_cast<std::int64_t>(source.units), settings);
  if (!needs_rf64(samples)) return true;
  char size[32];
  std::snprintf(size, sizeof size, "%.1f", 2.0 * static_cast<double>(samples) / (1u << 30));
  error = std::string("the sound would be ") + size + " GiB, and " +
          ((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_AIFF ? "AIFF" : "AU") +
          " holds at most 4 GiB: write .wav (RF64 beyond 4 GiB), .caf or .flac";
  return false;
}

bool write_sound(program_output &out, int format, sound_source &source, const render_settings &settings,
                 std::string &error) {
  bool ok;
  if (out.to_stdout || (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV) {
    ok = write_wav_stream(out.stream, source, settings, error);
  } else if (out.file.direct) {
    // A device or FIFO cannot be sought back to for the header: the file
    // is made in an unnamed temporary file and copied.
    std::FILE *staging = std::tmpfile();
    ok = staging != nullptr;
    if (!ok) error = with_errno("cannot make a temporary file");
    ok = ok && write_with_libsndfile(fileno(staging), format, source, settings, error) &&
         copy_file_to(staging, out.stream, error);
    if (staging != nullptr) std::fclose(staging);
  } else {
    std::fflush(out.stream);
    ok = write_with_libsndfile(fileno(out.stream), format, source, settings, error);
  }
  if (ok && !source.input_whole()) {
    error.clear();  // reported
    return false;
  }
  return ok;
}

std::string streamed_wav_header(int rate) {
  std::string header = wav_header(0, rate, false);
  header.replace(4, 4, 4, '\xFF');   // RIFF size
  header.replace(40, 4, 4, '\xFF');  // data size
  return header;
}
