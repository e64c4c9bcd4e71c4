// Playing rendered sound on an ALSA device.
#include "sound_device.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "diagnostics.h"

namespace {

// ALSA's library prints its own messages on standard error; tonetool says
// one line of its own instead, with the library's last word in it.
char alsa_said[256];

void keep_alsa_message(const char *, int, const char *, int err, const char *format, ...) {
  if (alsa_said[0] != '\0') return;  // the first word is the cause; later ones follow from it
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(alsa_said, sizeof alsa_said, format, args);
  va_end(args);
  // The system's reason, where the library gives one (a write or an open
  // of the file plugin's file that failed).
  if (err > 0 && length >= 0 && static_cast<std::size_t>(length) < sizeof alsa_said) {
    std::snprintf(alsa_said + length, sizeof alsa_said - static_cast<std::size_t>(length), "%s",
                  with_errno("", err).c_str());
  }
}

// `text` without the quotes ALSA's arguments may stand in.
std::string unquoted(const std::string &text) {
  if (text.size() >= 2 && (text.front() == '\'' || text.front() == '"') && text.back() == text.front()) {
    return text.substr(1, text.size() - 2);
  }
  return text;
}

// How far ahead of the speaker the samples are queued: short enough that
// a record from a live stream sounds at once, long enough not to run dry.
constexpr unsigned latency_us = 100000;

// Hands `count` samples to the device, waiting for room; an underrun (the
// device ran dry while the input was slow) is recovered from. The ALSA
// error code of a failure, else 0.
int write_samples(snd_pcm_t *pcm, const std::int16_t *samples, std::size_t count) {
  while (count > 0) {
    snd_pcm_sframes_t n = snd_pcm_writei(pcm, samples, count);
    if (n < 0) n = snd_pcm_recover(pcm, static_cast<int>(n), 1);
    if (n < 0) return static_cast<int>(n);
    samples += n;
    count -= static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace

bool play_sound(const std::string &device, sound_source &source, const render_settings &settings,
                std::string &error) {
  alsa_said[0] = '\0';
  snd_lib_error_set_handler(keep_alsa_message);
  snd_pcm_t *pcm = nullptr;
  int code = snd_pcm_open(&pcm, device.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
  if (code < 0) {
    error = std::string("cannot open: ") + (alsa_said[0] != '\0' ? std::string(alsa_said) + " (" : "") +
            snd_strerror(code) + (alsa_said[0] != '\0' ? ")" : "") +
            "; name another ALSA device (aplay -L lists them), or without one write a file: tonetool wav -o "
            "tune.wav, or --device file:FILE=tune.raw,FORMAT=raw";
    return false;
  }
  code = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1,
                            static_cast<unsigned>(settings.rate), 1, latency_us);
  if (code < 0) {
    error = "cannot play 16-bit mono at " + std::to_string(settings.rate) + " Hz: " + snd_strerror(code);
    snd_pcm_close(pcm);
    return false;
  }
  render_stream(source.reader, settings, [&](const std::int16_t *samples, std::size_t count) {
    code = write_samples(pcm, samples, count);
    return code == 0;
  });
  if (code == 0) code = snd_pcm_drain(pcm);
  snd_pcm_close(pcm);
  if (code < 0) {
    error = std::string("cannot play: ") + snd_strerror(code) +
            (alsa_said[0] != '\0' ? " (" + std::string(alsa_said) + ")" : "");
    return false;
  }
  if (!source.input_whole()) {
    error.clear();  // reported
    return false;
  }
  return true;
}

std::string device_file(const std::string &device) {
  const std::string prefix = "file:";
  if (device.compare(0, prefix.size(), prefix) != 0) return "";
  // FILE=NAME or NAME first, then FORMAT, split at commas outside quotes.
  std::vector<std::string> arguments{""};
  char quote = 0;
  for (std::size_t i = prefix.size(); i < device.size(); ++i) {
    const char c = device[i];
    if (quote != 0) {
      quote = c == quote ? 0 : quote;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == ',') {
      arguments.emplace_back();
      continue;
    }
    arguments.back() += c;
  }
  std::string file;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string &a = arguments[i];
    if (a.compare(0, 5, "FILE=") == 0) {
      file = a.substr(5);
    } else if (i == 0 && a.find('=') == std::string::npos) {
      file = a;
    }
  }
  file = unquoted(file);
  // "|command" pipes the samples to a command: no file is written.
  return !file.empty() && file.front() == '|' ? "" : file;
}
