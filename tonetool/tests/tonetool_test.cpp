#include <fcntl.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "note_lookup.h"
#include "scoped_mount.h"
#include "sound/render.h"
#include "sound/sound_file.h"
#include "tone_records.h"
#include "tonetool_fixture.h"
#include "under_sanitizer.h"

namespace {

namespace fs = std::filesystem;

std::vector<short> read_sound(const fs::path &path, SF_INFO &info) {
  info = {};
  SNDFILE *file = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
  if (!file) return {};
  std::vector<short> samples(static_cast<std::size_t>(info.frames));
  EXPECT_EQ(sf_read_short(file, samples.data(), info.frames), info.frames);
  sf_close(file);
  return samples;
}

// Frequency from the sign changes between `begin` and `end`: the span from
// the first to the last change holds (changes - 1) half cycles.
double measured_frequency(const std::vector<short> &s, std::int64_t begin, std::int64_t end,
                          int rate) {
  std::int64_t first = -1, last = -1, changes = 0;
  for (std::int64_t i = begin + 1; i < end; ++i) {
    const auto a = s[static_cast<std::size_t>(i - 1)], b = s[static_cast<std::size_t>(i)];
    if ((a < 0) != (b < 0) && a != 0 && b != 0) {
      if (first < 0) first = i;
      last = i;
      ++changes;
    }
  }
  if (changes < 3) return 0;
  return (static_cast<double>(changes - 1) / 2.0) / (static_cast<double>(last - first) / rate);
}

TEST_F(tonetool_program, rendered_file_has_the_length_pitches_and_silences_of_the_melody) {
  // Tempo 2: base duration 4 units of 125 ms, so each plain note lasts 0.5 s.
  const std::vector<tone> tones = compile_tones("2 A1 P D#0 A3.5 P.5 C#22 E1");
  for (const char *ext : {".wav", ".flac"}) {
    const fs::path sound = dir_ / (std::string("melody") + ext);
    ASSERT_EQ(run("wav --rate 22050 -o " + sound.string(), record_bytes(tones)), 0) << err_;
    SF_INFO info{};
    const std::vector<short> samples = read_sound(sound, info);
    render_settings settings;
    settings.rate = 22050;
    ASSERT_EQ(info.samplerate, 22050);
    ASSERT_EQ(info.channels, 1);

    std::int64_t units = 0;
    for (const tone &t : tones) units += t.duration;
    ASSERT_EQ(info.frames, sample_at(units, settings)) << ext;
    EXPECT_EQ(info.frames, 22050 * 7 / 2);  // 28 units of 125 ms

    units = 0;
    for (const tone &t : tones) {
      const std::int64_t begin = sample_at(units, settings);
      units += t.duration;
      const std::int64_t end = sample_at(units, settings);
      EXPECT_EQ(samples[static_cast<std::size_t>(begin)], 0) << "tone starts at silence";
      if (t.period == 0) {
        for (std::int64_t i = begin; i < end; ++i) {
          ASSERT_EQ(samples[static_cast<std::size_t>(i)], 0) << "pause at sample " << i;
        }
        continue;
      }
      const double expected = tone_frequency(t);
      const double measured = measured_frequency(samples, begin, end, settings.rate);
      EXPECT_NEAR(measured, expected, expected * 0.01) << ext << " period " << t.period;
    }
  }
}

TEST_F(tonetool_program, a_ringtone_plays_at_its_pitches_and_lengths) {
  // b=120: a quarter note is 500 ms, 4 units of 125 ms.
  std::ofstream(dir_ / "ring.txt") << "t:d=4,o=5,b=120:a4,8p,c#6,4e.5\n";
  const std::string d = "'" + dir_.string() + "'";
  ASSERT_EQ(shell("cd " + d + " && " + TONETOOL_PATH + " rtttl ring.txt 2>/dev/null | " + MELODYC_PATH +
                  " | " + TONETOOL_PATH + " wav -o ring.wav"),
            0);
  SF_INFO info{};
  const std::vector<short> samples = read_sound(dir_ / "ring.wav", info);
  const struct {
    double hz, ms;
  } parts[] = {{440.0, 500}, {0, 250}, {1108.73, 500}, {659.26, 750}};
  ASSERT_EQ(info.frames, 44100 * 2);
  double at = 0;
  for (const auto &p : parts) {
    const auto begin = static_cast<std::int64_t>(at * 44.1), end = static_cast<std::int64_t>((at + p.ms) * 44.1);
    at += p.ms;
    if (p.hz == 0) {
      EXPECT_TRUE(std::all_of(samples.begin() + begin, samples.begin() + end, [](short v) { return v == 0; }));
    } else {
      EXPECT_NEAR(measured_frequency(samples, begin, end, 44100), p.hz, p.hz * 0.01) << p.hz;
    }
  }
}

TEST_F(tonetool_program, standard_output_gets_a_wav_stream) {
  const std::vector<tone> tones = compile_tones("8 A1 P");
  ASSERT_EQ(run("wav --unit-ms 10 --rate 8000", record_bytes(tones)), 0) << err_;
  ASSERT_GT(out_.size(), 44u);
  EXPECT_EQ(out_.substr(0, 4), "RIFF");
  EXPECT_EQ(out_.substr(8, 4), "WAVE");
  EXPECT_EQ(out_.size(), 44u + 2 * 160);  // 2 units of 10 ms at 8 kHz, 16-bit
}

TEST_F(tonetool_program, check_reports_status_summary_and_werror) {
  const struct {
    const char *arguments;
    std::string melody;
    int status;
    std::string err;
  } cases[] = {
      {"check", "2 A1 B1\n", 0, ""},
      {"check", "2 A1X\n", 0,
       "(standard input):1:5: warning: the text 'X' after the note is ignored\n    1 | 2 A1X\n      |     ^\n"
       "tonetool: (standard input): 0 errors, 1 warning\n"},
      {"check --werror", "2 A1X\n", 1,
       "(standard input):1:5: error: the text 'X' after the note is ignored [--werror]\n    1 | 2 A1X\n"
       "      |     ^\ntonetool: (standard input): 1 error, 0 warnings\n"},
      {"check", "2 A9\n", 1,
       "(standard input):1:3: error: note 'A9' is out of range: playable notes run from D#0 to A3\n"
       "    1 | 2 A9\n      |   ^~\ntonetool: (standard input): 1 error, 0 warnings\n"},
      {"check /", "", 1, "tonetool: /: is a directory, not a file\n"},
      {"check --max-errors 1", "2 X1 Y1 Z1\n", 1,
       "(standard input):1:3: error: invalid note 'X1': a note is a name (C C# D D# E F F# G G# A A# B, or P for a "
       "pause), an octave digit 0 to 3 and an optional duration multiplier, as in A1, C#2.5 or P2\n"
       "    1 | 2 X1 Y1 Z1\n      |   ^~\ntonetool: (standard input): stopped after 1 errors; --max-errors N shows "
       "more, 0 all\ntonetool: (standard input): 3 errors, 0 warnings\n"},
      // A tune in musicians' octaves: one error that says so, then a count.
      {"check", "2 C4 E4 G4 C5\n", 1,
       "(standard input):1:3: error: note 'C4' is out of range: playable notes run from D#0 to A3; the tune lies 3 "
       "octaves too high for this format, where A1 is the 440 Hz A, musicians' A4: move every note down 3 octaves "
       "(tonetool rtttl and from-midi move tunes by themselves)\n    1 | 2 C4 E4 G4 C5\n      |   ^~\n"
       "tonetool: (standard input): note: and 3 more notes out of range, each 3 octaves too high with the rest\n"
       "tonetool: (standard input): 4 errors, 0 warnings\n"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(run(c.arguments, c.melody), c.status) << c.arguments << " " << c.melody;
    EXPECT_EQ(err_, c.err) << c.arguments << " " << c.melody;
    EXPECT_EQ(out_, "");
  }
  // Colour on a terminal, as compilers give it; none with NO_COLOR.
  std::ofstream(dir_ / "tune.mel") << "2 A9\n";
  if (shell("command -v script >/dev/null") == 0) {
    for (const char *no_colour : {"", "NO_COLOR=1 "}) {
      shell("cd '" + dir_.string() + "' && " + no_colour + "script -qfec '" + TONETOOL_PATH +
            " check tune.mel' /dev/null > shown");
      const std::string shown = slurp(dir_ / "shown");
      EXPECT_EQ(shown.find("\033[1;31merror:\033[m") != std::string::npos, *no_colour == '\0') << shown;
      EXPECT_NE(shown.find("error:"), std::string::npos) << shown;
    }
  }
  // A file is named as given.
  std::ofstream(dir_ / "tune.mel") << "2 H1\n";
  EXPECT_EQ(run("check " + (dir_ / "tune.mel").string(), ""), 1);
  EXPECT_EQ(err_.rfind((dir_ / "tune.mel").string() + ":1:3: error: invalid note 'H1'", 0), 0u) << err_;
}

// The streamed sound, in every way it is written, holds exactly the
// samples of the whole-buffer render, across many blocks.
TEST_F(tonetool_program, streamed_sound_equals_the_whole_render) {
  const std::vector<tone> tones = compile_tones("1 A1 P.5 C#2.25 D#0 A3 P E1 G#2.75 B0");
  render_settings settings;
  settings.unit_ms = 100;
  settings.rate = 48000;
  const std::vector<std::int16_t> expected = render_tones(tones, settings);
  ASSERT_GT(expected.size(), 3 * render_block_samples);
  const std::string options = "wav --unit-ms 100 --rate 48000";
  for (const char *ext : {".wav", ".flac", ".caf", ".aiff"}) {
    const fs::path sound = dir_ / (std::string("s") + ext);
    ASSERT_EQ(run(options + " -o " + sound.string(), record_bytes(tones)), 0) << err_;
    SF_INFO info{};
    const std::vector<short> samples = read_sound(sound, info);
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), expected.begin(), expected.end())) << ext;
  }
  ASSERT_EQ(run(options, record_bytes(tones)), 0) << err_;
  std::ofstream(dir_ / "stdout.wav", std::ios::binary) << out_;
  SF_INFO info{};
  const std::vector<short> samples = read_sound(dir_ / "stdout.wav", info);
  EXPECT_TRUE(std::equal(samples.begin(), samples.end(), expected.begin(), expected.end()));
}

// A long pause at a low rate passes 4 GiB: WAV becomes RF64, AIFF and AU
// are refused before anything is written.
TEST_F(tonetool_program, sound_past_4_gib_is_rf64_or_refused) {
  std::string pauses;
  for (int i = 0; i < 20; ++i) pauses += std::string("\x00\x00\xFF", 3);  // 20 x 255 units
  const std::int64_t samples = std::int64_t{20} * 255 * 60 * 8000;  // at 60 s a unit, 8 kHz
  ASSERT_TRUE(needs_rf64(samples));
  std::ofstream(dir_ / "pauses", std::ios::binary) << pauses;
  const std::string tonetool = TONETOOL_PATH;
  const std::string d = "'" + dir_.string() + "'";
  // head ends the pipe early: what counts is the 80 bytes it kept.
  EXPECT_EQ(shell("cd " + d + " && { " + tonetool + " wav --rate 8000 --unit-ms 60000 pauses; true; } | head -c 80 "
                  "> head.wav"),
            0);
  const std::string head = slurp(dir_ / "head.wav");
  ASSERT_EQ(head.size(), 80u);
  const auto le = [&](std::size_t at, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(head[at + static_cast<std::size_t>(i)]);
    return v;
  };
  const std::uint64_t data = 2 * static_cast<std::uint64_t>(samples);
  EXPECT_EQ(head.substr(0, 4), "RF64");
  EXPECT_EQ(le(4, 4), 0xFFFFFFFFu);  // the sizes are in ds64
  EXPECT_EQ(head.substr(8, 8), "WAVEds64");
  EXPECT_EQ(le(20, 8), 72 + data);   // RIFF size: all after its field
  EXPECT_EQ(le(28, 8), data);
  EXPECT_EQ(le(36, 8), static_cast<std::uint64_t>(samples));
  EXPECT_EQ(head.substr(48, 4), "fmt ");
  EXPECT_EQ(le(56, 2), 1u);     // PCM
  EXPECT_EQ(le(60, 4), 8000u);  // the rate
  EXPECT_EQ(head.substr(72, 4), "data");
  EXPECT_EQ(le(76, 4), 0xFFFFFFFFu);
  for (const char *ext : {".aiff", ".au"}) {
    EXPECT_EQ(run(std::string("wav --rate 8000 --unit-ms 60000 -o big") + ext, pauses), 1) << ext;
    EXPECT_EQ(err_, std::string("tonetool: big") + ext + ": the sound would be 4.6 GiB, and " +
                        (std::string(ext) == ".aiff" ? "AIFF" : "AU") +
                        " holds at most 4 GiB: write .wav (RF64 beyond 4 GiB), .caf or .flac\n");
    EXPECT_FALSE(fs::exists(dir_ / (std::string("big") + ext)));
  }
  // Just below the limit is plain RIFF; an RF64 header reads back.
  EXPECT_FALSE(needs_rf64((0xFFFFFFFFll - 36) / 2));
  EXPECT_TRUE(needs_rf64((0xFFFFFFFFll - 36) / 2 + 1));
  std::string small = wav_header(4, 8000, true) + std::string("\x01\x00\x02\x00\x03\x00\x04\x00", 8);
  std::ofstream(dir_ / "small_rf64.wav", std::ios::binary) << small;
  SF_INFO info{};
  const std::vector<short> back = read_sound(dir_ / "small_rf64.wav", info);
  EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_RF64);
  EXPECT_EQ(back, (std::vector<short>{1, 2, 3, 4}));
}

// Records are read as they arrive: an endless input runs in flat memory
// until stopped, a live one is listed at once, and WAV from a pipe gets a
// header that is right for where it goes.
#ifdef TONETOOL_PLAY
// tonetool play on ALSA's own file plugin, which records what a device is
// given (its slave, the null device, takes it at once): the samples are
// those wav writes, a pipe plays as its records arrive, Ctrl-C stops it,
// and a device that does not open is one line.
TEST_F(tonetool_program, play_gives_the_device_the_samples_wav_writes) {
  const std::string melody = record_bytes(compile_tones("2 A1 C#2.5 P A3 D#0.25 B2 P.5 G#1"));
  write_file(dir_ / "tune.tones", melody);
  const std::string device = "file:FILE=" + (dir_ / "played.raw").string() + ",FORMAT=raw";
  for (const char *options : {"", "--rate 8000", "--unit-ms 40 --volume 0.9", "--rate 192000 --unit-ms 7.5"}) {
    ASSERT_EQ(run(std::string("play --device '") + device + "' " + options + " " + (dir_ / "tune.tones").string(), ""), 0)
        << options << ": " << err_;
    ASSERT_EQ(run(std::string("wav ") + options + " -o " + (dir_ / "tune.wav").string() + " " +
                      (dir_ / "tune.tones").string(), ""),
              0);
    EXPECT_TRUE(slurp(dir_ / "played.raw") == slurp(dir_ / "tune.wav").substr(44)) << options;
  }
  EXPECT_EQ(run("play --device nosuch", melody), 1);
  EXPECT_EQ(err_, "tonetool: nosuch: cannot open: Unknown PCM nosuch (No such file or directory); name another "
                  "ALSA device (aplay -L lists them), or without one write a file: tonetool wav -o tune.wav, or "
                  "--device file:FILE=tune.raw,FORMAT=raw\n");
  // The device's file is never the input, and a device that fails says
  // why in the system's words.
  const std::string tune = (dir_ / "tune.tones").string();
  scoped_tmpfs full(dir_ / "full", "size=4k");
  const struct {
    std::string device, message;
  } refusals[] = {
      {"file:FILE=" + tune + ",FORMAT=raw", "the device's file is this input file itself; choose another file"},
      {"file:'" + tune + "',raw", "the device's file is this input file itself; choose another file"},
      {"file:FILE=" + dir_.string() + "/nodir/x.raw",
       "cannot write " + dir_.string() + "/nodir/x.raw: No such file or directory"},
      {"file:FILE=" + dir_.string() + "/full/x.raw",
       "cannot play: Input/output error (" + dir_.string() +
           "/full/x.raw write failed, file data may be corrupt: No space left on device)"},
  };
  for (const auto &r : refusals) {
    if (r.device.find("/full/") != std::string::npos && !full.skip_reason.empty()) {
      std::printf("full disk row skipped: %s\n", full.skip_reason.c_str());
      continue;
    }
    EXPECT_EQ(run("play --device \"" + r.device + "\" " + tune, ""), 1) << r.device;
    EXPECT_EQ(err_, "tonetool: " + r.device + ": " + r.message + "\n");
    EXPECT_EQ(slurp(dir_ / "tune.tones"), melody) << r.device;
  }
  // From a pipe: a record plays before the pipe closes, and SIGINT ends
  // the program at once.
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  std::filesystem::remove(dir_ / "played.raw");
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipe_fds[0], 0);
    close(pipe_fds[1]);
    execl(TONETOOL_PATH, TONETOOL_PATH, "play", "--device", device.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  close(pipe_fds[0]);
  ASSERT_EQ(write(pipe_fds[1], melody.data(), 3), 3);
  std::uintmax_t played = 0;
  for (int i = 0; i < 500 && played == 0; ++i) {
    usleep(10000);
    std::error_code ec;
    played = std::filesystem::file_size(dir_ / "played.raw", ec);
    if (ec) played = 0;
  }
  EXPECT_GT(played, 0u);
  kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  close(pipe_fds[1]);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
}
#endif

TEST_F(tonetool_program, list_and_wav_stream_what_arrives) {
  const std::string d = "'" + dir_.string() + "'";
  const std::string tonetool = TONETOOL_PATH;
#ifdef TAMLO_UNDER_SANITIZER
  const std::string guard = "true";  // the sanitizer's shadow memory needs more address space
#else
  const std::string guard = "ulimit -v 200000";
#endif
  // Timed out (124), not dead of exhausted memory, after the first lines.
  for (const char *command : {"list /dev/zero", "wav /dev/zero", "wav --rate 8000 < /dev/zero"}) {
    EXPECT_EQ(shell("cd " + d + " && " + guard + " && timeout 1 " + tonetool + " " + command + " > out"), 124)
        << command;
  }
  ASSERT_EQ(mkfifo((dir_ / "live").c_str(), 0600), 0);
  EXPECT_EQ(shell("cd " + d + " && { printf '\\015\\121\\001'; sleep 2; } > live & cd " + d + " && timeout 1 " +
                  tonetool + " list live > listed; wait"),
            0);
  EXPECT_NE(slurp(dir_ / "listed").find("A1"), std::string::npos) << slurp(dir_ / "listed");

  const std::vector<tone> tones = compile_tones("8 A1 P C#2");
  std::ofstream(dir_ / "tones", std::ios::binary) << record_bytes(tones);
  render_settings settings;
  const std::vector<std::int16_t> samples = render_tones(tones, settings);
  std::string data;
  for (const std::int16_t v : samples) {
    data += static_cast<char>(static_cast<std::uint16_t>(v) & 0xFF);
    data += static_cast<char>(static_cast<std::uint16_t>(v) >> 8);
  }
  const std::string exact = wav_header(static_cast<std::int64_t>(samples.size()), 44100, false) + data;
  const struct {
    const char *command;
    std::string expected;
  } outputs[] = {
      {"wav < tones > out.wav", exact},
      {"cat tones | tonetool wav > out.wav", exact},
      {"cat tones | tonetool wav -o out.wav", exact},
      {"cat tones | tonetool wav | cat > out.wav", streamed_wav_header(44100) + data},
      {"echo old > out.wav; cat tones | tonetool wav >> out.wav", "old\n" + streamed_wav_header(44100) + data},
  };
  for (const auto &o : outputs) {
    ASSERT_EQ(shell("cd " + d + " && PATH=" + fs::path(tonetool).parent_path().string() + ":$PATH && " +
                    (std::string(o.command).rfind("cat", 0) == 0 || std::string(o.command).rfind("echo", 0) == 0
                         ? ""
                         : "tonetool ") +
                    o.command),
              0)
        << o.command;
    EXPECT_TRUE(slurp(dir_ / "out.wav") == o.expected) << o.command;
    fs::remove(dir_ / "out.wav");
  }
}

// Two hours of sound, streamed: memory stays flat.
TEST_F(tonetool_program, two_hours_of_sound_in_little_memory) {
  std::string records;
  for (int i = 0; i < 226; ++i) records += std::string("\x0D\x51\xFF", 3);  // A1, 255 units
  std::ofstream(dir_ / "long", std::ios::binary) << records;
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open((dir_ / "long").c_str(), O_RDONLY);
    const int out = open("/dev/null", O_WRONLY);
    dup2(in, 0);
    dup2(out, 1);
    execl(TONETOOL_PATH, TONETOOL_PATH, "wav", static_cast<char *>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  ASSERT_EQ(wait4(pid, &status, 0, &usage), pid);
  EXPECT_EQ(status, 0);
  const long peak_kib = usage.ru_maxrss;
  std::printf("peak resident memory for 2 h of sound: %ld KiB\n", peak_kib);
#ifdef TAMLO_UNDER_SANITIZER
  std::printf("address sanitizer build: its shadow memory makes the bound meaningless here\n");
#else
  EXPECT_LT(peak_kib, 16 * 1024);
#endif
}

// README shows what the programs print; these keep it so.
TEST_F(tonetool_program, readme_examples_are_what_the_programs_print) {
  const std::string readme = slurp(README_PATH);
  // The melody and its records: "A1 C#2.5 P   ->  0D 51 04 ...".
  const std::string melody = "2 % tempo: base duration 4\nA1 C#2.5 P";
  ASSERT_NE(readme.find(melody + "        ->  0D 51 04  0A 92 02  00 00 04"), std::string::npos);
  const std::vector<tone> tones = compile_tones(melody);
  EXPECT_EQ(record_bytes(tones), std::string("\x0D\x51\x04\x0A\x92\x02\x00\x00\x04", 9));
  // tonetool check's report on a melody with a mistake and a trap.
  std::ofstream(dir_ / "tune.mel") << "2 % tempo\nA1 B1 A4 C#2.5\nG12% held\nA1\n";
  EXPECT_EQ(shell("cd '" + dir_.string() + "' && " + TONETOOL_PATH + " check tune.mel 2>report"), 1);
  const std::string report = slurp(dir_ / "report");
  EXPECT_NE(readme.find("```\n" + report + "```"), std::string::npos) << report;
  // The ringtone, its melody and messages; the C array of the melody.
  const std::string ringtone = "Simple Tune:d=4,o=6,b=63:16e6,8p,4c#.7,e6,2a5,32h6.";
  ASSERT_NE(readme.find("`ring.txt` holding `" + ringtone + "`"), std::string::npos);
  std::ofstream(dir_ / "ring.txt") << ringtone << "\n";
  std::ofstream(dir_ / "tune.tones", std::ios::binary) << record_bytes(tones);
  // --strict refuses it at the default unit; at the unit it names, it is
  // written with every note kept.
  EXPECT_EQ(shell("cd '" + dir_.string() + "' && " + TONETOOL_PATH + " rtttl --strict ring.txt 2>refused.err"), 1);
  EXPECT_EQ(shell("cd '" + dir_.string() + "' && " + TONETOOL_PATH +
                  " rtttl --unit-ms 59.524 ring.txt >ring.mel 2>ring.err && " + TONETOOL_PATH + " c tune.tones >tune.c"),
            0);
  // The MIDI file tonetool midi writes of the melody, read back.
  EXPECT_EQ(shell("cd '" + dir_.string() + "' && " + TONETOOL_PATH + " midi -o tune.mid tune.tones && " + TONETOOL_PATH +
                  " from-midi tune.mid >from.mel 2>from.err"),
            0);
  for (const char *shown : {"refused.err", "ring.mel", "ring.err", "tune.c", "from.mel", "from.err"}) {
    const std::string text = slurp(dir_ / shown);
    EXPECT_NE(readme.find("\n" + text + "```\n"), std::string::npos) << shown << ":\n" << text;
  }
}

// The manual page's examples, with its escapes undone, are real output.
TEST_F(tonetool_program, manual_examples_are_what_the_program_prints) {
  std::string manual = slurp(MANUAL_PATH);
  for (const auto &[escape, text] : {std::pair<std::string, std::string>{"\\(aq", "'"}, {"\\-", "-"}}) {
    for (std::size_t at; (at = manual.find(escape)) != std::string::npos;) manual.replace(at, escape.size(), text);
  }
  const std::string d = "'" + dir_.string() + "'";
  std::ofstream(dir_ / "tune.mel") << "2\nA1 B1 A4 C#2.5\n";
  std::ofstream(dir_ / "ring.txt") << "r:d=4:4c,8x";
  ASSERT_NE(manual.find("holding\n.BR r:d=4:4c,8x :"), std::string::npos);
  EXPECT_EQ(shell("cd " + d + " && " + TONETOOL_PATH + " check tune.mel 2>check.txt; " + TONETOOL_PATH +
                  " rtttl ring.txt 2>rtttl.txt"),
            1);
  for (const char *shown : {"check.txt", "rtttl.txt"}) {
    const std::string text = slurp(dir_ / shown);
    EXPECT_NE(manual.find("\n" + text + "."), std::string::npos) << shown << ":\n" << text;
  }
}

TEST(note_for_period, every_example_melody_round_trips) {
  for (const auto &entry : fs::directory_iterator(EXAMPLES_DIR)) {
    if (entry.path().extension() != ".mel") continue;
    for (const tone &t : compile_tones(slurp(entry.path()))) {
      const std::string name = note_for_period(t.period);
      ASSERT_FALSE(name.empty()) << entry.path() << ": period " << t.period;
      const std::vector<tone> alone = compile_tones("8 " + name);
      ASSERT_EQ(alone.size(), 1u);
      EXPECT_EQ(alone[0].period, t.period) << entry.path() << ": " << name;
    }
  }
}

TEST(note_for_period, names_every_playable_note_and_only_those) {
  int named = 0;
  for (unsigned period = 0; period <= 0xFFFF; ++period) {
    if (!note_for_period(static_cast<std::uint16_t>(period)).empty()) ++named;
  }
  EXPECT_EQ(named, 43 + 1);  // the 43 notes from D#0 to A3, and P
  EXPECT_EQ(note_for_period(9642), "D#0");
  EXPECT_EQ(note_for_period(852), "A3");
  EXPECT_EQ(note_for_period(0), "P");
  EXPECT_EQ(note_for_period(853), "");
}

TEST_F(tonetool_program, list_prints_a_header_and_a_line_per_record) {
  const std::string records = std::string(
      "\x0D\x51\x04\x00\x00\x02\x04\xD2\x01\x00\x01\x01\x03\x54\x01\x25\xAA\x01\xFF\xFF\xFF", 21);
  ASSERT_EQ(run("list", records), 0) << err_;
  EXPECT_EQ(out_,
            " index  start (s)  period      frequency  note             units\n"
            "     0      0.000    3409      440.01 Hz  A1                   4\n"
            "     1      0.500       0                 P                    2\n"
            "     2      0.750    1234     1215.56 Hz  ~D#3 -41 cents       1\n"
            "     3      0.875       1  1500000.00 Hz  ~F#13 -18 cents      1\n"
            "     4      1.000     852     1760.56 Hz  A3                   1\n"
            "     5      1.125    9642      155.57 Hz  D#0                  1\n"
            "     6      1.250   65535       22.89 Hz  ~F#-3 -18 cents    255\n");
  ASSERT_EQ(run("list --unit-ms 10", records.substr(0, 9)), 0) << err_;
  EXPECT_NE(out_.find("     2      0.060    1234"), std::string::npos) << out_;
}

TEST(list_line, columns_line_up_for_every_period) {
  const std::size_t width = list_header().size();
  for (unsigned period = 0; period <= 0xFFFF; ++period) {
    const std::string line = list_line(period, 12345.875, static_cast<std::uint16_t>(period), 255);
    ASSERT_EQ(line.size(), width) << period << ": " << line;
    ASSERT_EQ(line.find("  255", width - 5), width - 5) << line;
  }
}

TEST_F(tonetool_program, bad_input_and_command_lines) {
  // A usage error names its command and points to that command's help.
  const auto try_help = [](const char *command) {
    return std::string("Try 'tonetool ") + command + (*command ? " " : "") + "--help' for more information.\n";
  };
#ifdef TONETOOL_PLAY
  const std::string commands = "list, wav, play, check, rtttl, from-midi, midi or c";
#else
  const std::string commands = "list, wav, check, rtttl, from-midi, midi or c";
#endif
  const struct {
    const char *arguments;
    std::string records;
    int status;
    std::string message;
  } cases[] = {
      {"list", std::string("\x0D\x51\x04\x00", 4), 1,
       "tonetool: (standard input): stream ends inside record 1 (1 of its 3 bytes); "
       "a tone stream is a whole number of 3-byte records\n"},
      {"wav -o x.wav", std::string("\x0D\x51", 2), 1,
       "tonetool: (standard input): stream ends inside record 0 (2 of its 3 bytes); "
       "a tone stream is a whole number of 3-byte records\n"},
      // The wrong kind of input: one line that says what it is and what
      // to run, and nothing listed or written before it.
      {"list", "2 % tempo\nA1 C#2.5 P\n", 1,
       "tonetool: (standard input): this is a melody text, not tone records; compile it first: melodyc < tune.mel | "
       "tonetool list\n"},
      {"wav", "120\nC1 D1\n", 1,
       "tonetool: (standard input): this is a melody text, not tone records; compile it first: melodyc < tune.mel | "
       "tonetool wav\n"},
      {"wav -o x.wav", "", 1,
       "tonetool: (standard input): no tone records: the input is empty (did the command before it in a pipe "
       "fail?)\n"},
      {"check", std::string("\x0D\x51\x04\x0A\x92\x02\x00\x00\x04", 9), 1,
       "tonetool: (standard input): these are tone records, not a melody text: check the melody melodyc compiled "
       "them from, or read them with tonetool list tune.tones\n"},
      {"list /nonexistent", "", 1, "tonetool: /nonexistent: cannot open: No such file or directory\n"},
      {"list /", "", 1, "tonetool: /: is a directory, not a file\n"},
      {"list \"$(printf 'a\\nb')\"", "", 1, "tonetool: 'a\\nb': cannot open: No such file or directory\n"},
      {"wav --rate 100", "", 2, "tonetool: wav: invalid rate '100' (whole hertz, 8000 to 192000)\n" + try_help("wav")},
      {"wav --unit-ms -5", "", 2,
       "tonetool: wav: invalid unit '-5' (milliseconds, above 0 up to 60000)\n" + try_help("wav")},
      {"wav --volume 2", "", 2, "tonetool: wav: invalid volume '2' (above 0 up to 1)\n" + try_help("wav")},
      {"wav -o sound.mp3", "", 2,
       "tonetool: wav: no sound format for 'sound.mp3' (use .wav, .flac, .aiff or .aif, .au or .caf)\n" +
           try_help("wav")},
      {"wav -o /dev/null", std::string("\x0D\x51\x01", 3), 0, ""},
      {"wav -o /dev/stdout", std::string("\x0D\x51\x01", 3), 0, ""},
      {"wav -o ''", "", 2, "tonetool: wav: option '-o' needs a file name, not ''\n" + try_help("wav")},
      {"wav --rat 9000 --vol", "", 2, "tonetool: wav: option '--vol' needs a value\n" + try_help("wav")},
      {"wav --nope", "", 2, "tonetool: wav: unknown option '--nope'\n" + try_help("wav")},
      {"list -x", "", 2, "tonetool: list: unknown option '-x'\n" + try_help("list")},
      {"list a b", "", 2, "tonetool: list: too many inputs: one FILE at most\n" + try_help("list")},
      {"list -h", "", 0, ""},
      {"sing", "", 2, "tonetool: unknown command 'sing': " + commands + "\n" + try_help("")},
      {"", "", 2, "tonetool: missing command: " + commands + "\n" + try_help("")},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(run(c.arguments, c.records), c.status) << c.arguments;
    EXPECT_EQ(err_, c.message) << c.arguments;
  }
  EXPECT_FALSE(fs::exists("x.wav"));
}

TEST_F(tonetool_program, each_command_has_its_own_help) {
  for (const char *command : {"list", "wav", "check", "rtttl", "from-midi", "midi", "c"}) {
    EXPECT_EQ(run(std::string(command) + " --help", ""), 0) << command;
    EXPECT_EQ(out_.rfind(std::string("Usage: tonetool ") + command, 0), 0u) << out_;
    EXPECT_NE(out_.find("\nExit status: 0 "), std::string::npos) << command;
    EXPECT_EQ(err_, "");
    // `tonetool help CMD` is the same.
    const std::string help = out_;
    EXPECT_EQ(run(std::string("help ") + command, ""), 0) << command;
    EXPECT_EQ(out_, help) << command;
  }
  // list writes a file with -o, whole, as the others do.
  write_file(dir_ / "t.tones", std::string("\x0D\x51\x04", 3));
  EXPECT_EQ(run("list -o " + (dir_ / "t.txt").string() + " " + (dir_ / "t.tones").string(), ""), 0) << err_;
  EXPECT_EQ(out_, "");
  EXPECT_EQ(run("list " + (dir_ / "t.tones").string(), ""), 0);
  EXPECT_EQ(slurp(dir_ / "t.txt"), out_);
  EXPECT_NE(slurp_help("wav").find(".aif"), std::string::npos);
  EXPECT_NE(slurp_help("wav").find("above 0 up to 60000"), std::string::npos);
}

}  // namespace
