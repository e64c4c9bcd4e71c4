#include "sound_device.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>

namespace {

// ALSA's library prints its own messages on standard error; tonetool says
// one line of its own instead, with the library's last word in it.
char alsa_said[256];

void keep_alsa_message(const char *, int, const char *, int, const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(alsa_said, sizeof alsa_said, format, args);
  va_end(args);
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
            snd_strerror(code) + (alsa_said[0] != '\0' ? ")" : "") + "; name an ALSA device, such as default, hw:0 or plughw:0";
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
    error = std::string("cannot play: ") + snd_strerror(code);
    return false;
  }
  if (!source.input_whole()) {
    error.clear();  // reported
    return false;
  }
  return true;
}
