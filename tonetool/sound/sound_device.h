// Playing the rendered tones on a sound device through ALSA's library
// (so that PipeWire and PulseAudio, which stand behind ALSA's "default",
// play them too): 16-bit mono samples at the rate in use, rendered and
// handed to the device block by block as the records arrive.
#pragma once

#include <string>

#include "render.h"
#include "sound_file.h"

// Plays the source on the ALSA PCM `device` ("default", "hw:0",
// "file:FILE=x.raw,FORMAT=raw", as aplay -D takes it) and waits for the
// last sample to sound. Sets `error` on failure: a device that does not
// open ("cannot open: REASON") or fails while playing. False with `error`
// empty when the input was not whole (reported by input_whole).
bool play_sound(const std::string &device, sound_source &source, const render_settings &settings,
                std::string &error);

// The file that ALSA's file plugin writes for `device` ("file:FILE=x.raw",
// "file:x.raw,raw", "file:'x.raw'"), so that it can be checked before the
// device opens and truncates it; "" for any other device.
std::string device_file(const std::string &device);
