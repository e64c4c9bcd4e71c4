// tonetool from-midi: MIDI files written by Debian's python3-mido (an
// independent writer) give the melody's notes and units through melodyc;
// MIDI files tonetool midi writes come back as the records they were made
// of; hand-made bytes give one line naming what is wrong.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "tonetool_fixture.h"

namespace {

namespace fs = std::filesystem;

// Builds in.mid with mido: line() gives a track's events from (key,
// ticks, rest before) triples, save() writes the file.
const char mido_preamble[] = R"(
from mido import MidiFile, MidiTrack, Message, MetaMessage
def line(notes, ch=0, zero_on=False):
    ev = []
    for key, ticks, rest in notes:
        ev.append((rest, Message('note_on', note=key, velocity=64, channel=ch)))
        off = Message('note_on', note=key, velocity=0, channel=ch) if zero_on else Message('note_off', note=key, channel=ch)
        ev.append((ticks, off))
    return ev
def tempo(us, delta=0):
    return [(delta, MetaMessage('set_tempo', tempo=us))]
def chord(keys, ticks, ch=0):
    ev = [(0, Message('note_on', note=k, velocity=64, channel=ch)) for k in keys]
    return ev + [(ticks if i == 0 else 0, Message('note_off', note=k, channel=ch)) for i, k in enumerate(keys)]
import random
def track_of(events):
    # Absolute (tick, message) pairs as delta times, note-offs first at a tick.
    events.sort(key=lambda e: (e[0], 0 if e[1].type == 'note_off' else 1))
    out, last = [], 0
    for tick, msg in events:
        out.append((tick - last, msg))
        last = tick
    return out
def notes(placed, ch=0):
    ev = []
    for key, start, end in placed:
        ev.append((start, Message('note_on', note=key, velocity=64, channel=ch)))
        ev.append((end, Message('note_off', note=key, channel=ch)))
    return ev
def melody(count, step, start=0, low=60, early=0, span=12, seed=1):
    # A tune of `count` notes a step apart, played: note-offs up to `early` ticks early.
    rnd = random.Random(seed)
    keys = [low + rnd.randrange(span + 1) for _ in range(count)]
    return [(k, start + i * step, start + (i + 1) * step - (rnd.randint(1, early) if early else 0))
            for i, k in enumerate(keys)]
def save(tracks, tpq=480, fmt=1):
    m = MidiFile(type=fmt, ticks_per_beat=tpq)
    for events in tracks:
        t = MidiTrack()
        for delta, msg in events:
            t.append(msg.copy(time=delta))
        m.tracks.append(t)
    m.save('in.mid')
)";

class from_midi_program : public tonetool_program {
 protected:
  void SetUp() override {
    tonetool_program::SetUp();
    if (shell("/usr/bin/python3 -c 'import mido' 2>/dev/null") != 0) {
      GTEST_SKIP() << "Debian's python3-mido is not installed: no independent MIDI writer";
    }
  }

  // from-midi ARGUMENTS on in.mid, through melodyc and tonetool list: the
  // notes and units, or "" when a step fails (err_ then says why).
  std::string notes_of(const std::string &arguments) {
    const std::string d = "'" + dir_.string() + "'";
    const int status = shell("cd " + d + " && " + TONETOOL_PATH + " from-midi " + arguments +
                             " in.mid >melody 2>err && " + MELODYC_PATH + " <melody >tones && " + TONETOOL_PATH +
                             " list tones >listing");
    err_ = slurp(dir_ / "err");
    return status == 0 ? notes_and_units(slurp(dir_ / "listing")) : "";
  }

  void make_with_mido(const std::string &script) {
    std::ofstream(dir_ / "make.py") << mido_preamble << script << "\n";
    ASSERT_EQ(shell("cd '" + dir_.string() + "' && /usr/bin/python3 make.py"), 0) << script;
  }
};

TEST_F(from_midi_program, the_melody_of_files_mido_writes) {
  // At 120 beats a minute a quarter note is 500 ms: 4 units of 125 ms.
  const struct {
    const char *what, *script, *arguments, *notes;
  } cases[] = {
      {"format 0, quarter notes", "save([line([(69, 480, 0), (71, 480, 0), (72, 480, 0)])], fmt=0)", "",
       "A1:4 B1:4 C2:4"},
      {"96 ticks a quarter", "save([line([(69, 96, 0), (71, 48, 0), (72, 192, 0)])], tpq=96)", "",
       "A1:4 B1:2 C2:8"},
      {"a tempo change in the middle",
       "save([tempo(500000) + line([(69, 480, 0), (69, 480, 0)]) + tempo(250000) + line([(69, 480, 0)])])", "",
       "A1:4 A1:4 A1:2"},
      {"a tempo change in another track", "save([tempo(1000000), line([(69, 480, 0), (71, 480, 0)])])", "",
       "A1:8 B1:8"},
      {"a chord gives its top note", "save([chord([60, 64, 69], 480) + chord([62, 65, 71], 480)])", "",
       "A1:4 B1:4"},
      {"a bass line in another track is not the melody",
       "save([line([(69, 480, 0), (71, 480, 0)]), line([(45, 960, 0)], ch=1)])", "", "A1:4 B1:4"},
      {"--channel takes the bass, moved up into range",
       "save([line([(69, 480, 0), (71, 480, 0)]), line([(45, 960, 0)], ch=1)])", "--channel 2", "A0:8"},
      {"--track takes one track's notes",
       "save([line([(69, 480, 0)]), line([(64, 480, 0)], ch=1)])", "--track 2", "E1:4"},
      {"drums are never the melody",
       "save([line([(69, 480, 0), (71, 480, 0)]), line([(81, 240, 0), (82, 240, 0), (81, 480, 0)], ch=9)])", "",
       "A1:4 B1:4"},
      {"note-off as note-on of velocity 0", "save([line([(69, 240, 0), (71, 480, 0)], zero_on=True)])", "",
       "A1:2 B1:4"},
      {"a rest between notes is a pause; leading silence is dropped",
       "save([line([(69, 480, 960), (71, 480, 480)])])", "", "A1:4 P:4 B1:4"},
      {"an overlapping note ends where the next begins",
       "save([[(0, Message('note_on', note=69, velocity=64)), (480, Message('note_on', note=71, velocity=64)),"
       " (480, Message('note_off', note=69)), (480, Message('note_off', note=71))]])",
       "", "A1:4 B1:8"},
      {"repeated notes stay separate", "save([line([(69, 480, 0), (69, 480, 0)])])", "", "A1:4 A1:4"},
      {"a note past 255 units is several records", "save([tempo(5000000) + line([(69, 3840, 0)])])", "",
       "A1:255 A1:65"},
      {"a track that ends one tick after its last note",
       "save([line([(69, 480, 0)] * 8) + [(1, MetaMessage('end_of_track'))]])", "",
       "A1:4 A1:4 A1:4 A1:4 A1:4 A1:4 A1:4 A1:4"},
  };
  for (const auto &c : cases) {
    make_with_mido(c.script);
    EXPECT_EQ(notes_of(c.arguments), c.notes) << c.what << "\n" << err_;
  }
}

// Files shaped as real ones are: played timing, ornaments, intros, format
// 2, wide ranges, tempo maps and every common division. Each is written at
// the defaults, from its lead, and melodyc compiles it.
TEST_F(from_midi_program, real_shapes_give_their_lead_at_the_defaults) {
  const struct {
    const char *what, *script, *arguments;
    const char *heading;   // in the melody's first comment line
    std::size_t records;   // in the compiled melody
    const char *summary;   // the start of the summary after "note: "
  } cases[] = {
      {"note-offs 1 to 3 ticks early and grace notes",
       "m = melody(200, 240, early=3)\n"
       "g = [(m[i][0] + 1, m[i][1] - 30, m[i][1] - 2) for i in (20, 60, 100, 140, 180)]\n"
       "save([track_of(notes(m + g))])",
       "", "channel 1, 205 notes", 200, "the tune plays at the file's tempo; every note keeps its length"},
      {"a sparse high descant over the lead",
       "save([track_of(notes(melody(300, 240)) + notes([(96 + i % 5, i * 6000, i * 6000 + 240) for i in range(12)], ch=1))])",
       "", "channel 1, 300 notes", 300, "the tune plays at the file's tempo; every note keeps its length"},
      {"a lead after an 8-bar intro",
       "acc = notes(melody(160, 480, low=40, span=7, seed=2), ch=1)\n"
       "save([track_of(acc), track_of(notes(melody(192, 240, start=15360, low=64)))])", "",
       "channel 1, 192 notes", 192, "the tune plays at the file's tempo; every note keeps its length"},
      {"format 2, one sequence", "save([track_of(notes(melody(40, 480)))], fmt=2)", "",
       "sequence 1 of 1, channel 1, 40 notes", 40, "the tune plays at the file's tempo"},
      {"format 2, drums first", 
       "save([track_of(notes([(36, i * 480, i * 480 + 100) for i in range(16)], ch=9)),"
       " track_of(notes(melody(50, 480))), track_of(notes(melody(30, 240, seed=3)))], fmt=2)",
       "", "sequence 2 of 3, channel 1, 50 notes", 50, "sequence 2 of 3 (--track N takes another): the tune plays"},
      {"format 2, --track picks another sequence",
       "save([track_of(notes([(36, i * 480, i * 480 + 100) for i in range(16)], ch=9)),"
       " track_of(notes(melody(50, 480))), track_of([(0, MetaMessage('set_tempo', tempo=250000))] +"
       " notes(melody(30, 480, seed=3)))], fmt=2)",
       "--track 3", "sequence 3 of 3, channel 1, 30 notes", 30,
       "sequence 3 of 3 (--track N takes another): the tune plays at the file's tempo"},
      {"55 semitones fold into range", "save([track_of(notes(melody(120, 240, low=36, span=55)))])", "",
       "channel 1, 120 notes", 120, "the tune plays at the file's tempo; every note keeps its length"},
      {"a ritardando in the tempo map",
       "t = [(i * 480, MetaMessage('set_tempo', tempo=500000 + 20000 * max(0, i - 24))) for i in range(32)]\n"
       "save([track_of(t + notes(melody(32, 480)))])",
       "", "channel 1, 32 notes", 32, "the tune plays at the file's tempo; largest rhythm error -16.7%"},
      {"100 beats a minute: the tempo figure is the records' tempo",
       "save([track_of([(0, MetaMessage('set_tempo', tempo=600000))] + notes(melody(64, 240)))])", "",
       "channel 1, 64 notes", 64, "the tune plays 20.0% faster than the file's tempo; every note keeps its length"},
      {"96 ticks a quarter, 16ths played", "save([track_of(notes(melody(64, 24, early=2)))], tpq=96)", "",
       "grid of 16th notes (24 ticks)", 64, "the tune plays at the file's tempo; every note keeps its length"},
      {"120 ticks a quarter", "save([track_of(notes(melody(64, 30, early=2)))], tpq=120)", "",
       "grid of 16th notes (30 ticks)", 64, "the tune plays at the file's tempo; every note keeps its length"},
      {"192 ticks a quarter, triplets", "save([track_of(notes(melody(63, 64, early=2)))], tpq=192)", "",
       "grid of 8th-note triplets (64 ticks)", 63, "the tune plays"},
      {"384 ticks a quarter", "save([track_of(notes(melody(64, 96, early=3)))], tpq=384)", "",
       "grid of 16th notes (96 ticks)", 64, "the tune plays at the file's tempo; every note keeps its length"},
      {"480 ticks a quarter", "save([track_of(notes(melody(64, 120, early=3)))], tpq=480)", "",
       "grid of 16th notes (120 ticks)", 64, "the tune plays at the file's tempo; every note keeps its length"},
  };
  for (const auto &c : cases) {
    make_with_mido(c.script);
    const std::string units = notes_of(c.arguments);
    const std::string melody = slurp(dir_ / "melody");
    EXPECT_NE(melody.substr(0, melody.find("\n% The base")).find(c.heading), std::string::npos) << c.what << "\n" << melody;
    EXPECT_EQ(static_cast<std::size_t>(std::count(units.begin(), units.end(), ':')), c.records) << c.what << "\n" << err_;
    EXPECT_NE(err_.find("in.mid: note: " + std::string(c.summary)), std::string::npos) << c.what << "\n" << err_;
  }
}

// 43,520 one-tick notes that snap onto one onset among 200,000 plain ones
// (a 2.3 MB file): a tenth of a second of work, where a count of the
// notes sharing the onset for each of them took seconds.
TEST_F(from_midi_program, notes_collapsing_onto_one_onset_cost_linear_time) {
  make_with_mido(R"(
import struct
tpq, N, W = 32767, 200000, 170
def vlq(n):
    b = [n & 0x7f]; n >>= 7
    while n: b.append(0x80 | (n & 0x7f)); n >>= 7
    return bytes(reversed(b))
ev = [(i * tpq + d, d == 0, bytes([0x90 if d == 0 else 0x80, 60 + i % 12, 64])) for i in range(N) for d in (0, tpq)]
G = N // 2 * tpq
ev += [(t + d, d == 0, bytes([0x90 if d == 0 else 0x80, k, 64])) for t in range(G - W, G + W) for k in range(128) for d in (0, 1)]
ev.sort(key=lambda e: (e[0], e[1]))
data, last = bytearray(), 0
for t, _, b in ev:
    data += vlq(t - last) + b; last = t
data += b'\x00\xff\x2f\x00'
open('in.mid', 'wb').write(b'MThd' + struct.pack('>IHHH', 6, 0, 1, tpq) + b'MTrk' + struct.pack('>I', len(data)) + data))");
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  const std::string seconds = "12";
#else
  const std::string seconds = "2";
#endif
  EXPECT_EQ(shell("cd '" + dir_.string() + "' && ulimit -t " + seconds + " && " + TONETOOL_PATH +
                  " from-midi in.mid >melody 2>err"),
            0)
      << slurp(dir_ / "err");
}

// What tonetool midi writes comes back as the records it was made of.
TEST_F(from_midi_program, records_survive_a_round_trip) {
  for (const auto &entry : fs::directory_iterator(EXAMPLES_DIR)) {
    if (entry.path().extension() != ".mel") continue;
    const std::string d = "'" + dir_.string() + "'", mel = "'" + entry.path().string() + "'";
    ASSERT_EQ(shell("cd " + d + " && " + MELODYC_PATH + " <" + mel + " >a.tones && " + TONETOOL_PATH +
                    " midi -o in.mid a.tones && " + TONETOOL_PATH + " from-midi in.mid 2>err | " + MELODYC_PATH +
                    " >b.tones"),
              0)
        << entry.path() << ": " << slurp(dir_ / "err");
    EXPECT_EQ(slurp(dir_ / "a.tones"), slurp(dir_ / "b.tones")) << entry.path();
  }
}

TEST_F(from_midi_program, list_names_every_track_and_channel) {
  make_with_mido(
      "save([[(0, MetaMessage('track_name', name='Lead'))] + line([(69, 480, 0), (76, 480, 0)]),"
      " line([(45, 960, 0)], ch=1), line([(36, 240, 0)], ch=9)])");
  EXPECT_EQ(run("from-midi --list " + (dir_ / "in.mid").string(), ""), 0) << err_;
  EXPECT_EQ(out_,
            "track 1, channel 1: 2 notes, A4 to E5, 'Lead'\n"
            "track 2, channel 2: 1 note, A2 to A2\n"
            "track 3, channel 10: 1 note, C2 to C2 (percussion)\n"
            "melody candidates, best first (--channel N takes another):\n"
            "  channel 1: score 1.00 (2 notes, 100% one at a time, 0% stepwise, on top 100%, named as the tune), the "
            "melody\n"
            "  channel 2: score 0.15 (1 note, 100% one at a time, 0% stepwise, on top 0%)\n");
}

// A standard MIDI file of one track holding `events` (after the delta
// times), with `division` ticks a quarter note.
std::string midi_bytes(const std::string &events, const std::string &division = std::string("\x01\xE0", 2),
                       const std::string &format = std::string("\0\0", 2)) {
  const auto size = static_cast<unsigned>(events.size());
  return std::string("MThd\0\0\0\6", 8) + format + std::string("\0\1", 2) + division + "MTrk" +
         std::string{static_cast<char>(size >> 24), static_cast<char>(size >> 16), static_cast<char>(size >> 8),
                     static_cast<char>(size)} +
         events;
}

TEST_F(tonetool_program, from_midi_refuses_what_is_no_melody_in_one_line) {
  const std::string a_note = std::string("\0\x90\x45\x40\x83\x60\x80\x45\x40\0\xFF\x2F\0", 13);
  const struct {
    const char *what;
    std::string bytes, message;
    const char *arguments = "";
  } cases[] = {
      {"not MIDI", "hello, world", "not a standard MIDI file (it does not start with MThd)"},
      {"a truncated header", std::string("MThd\0\0\0\6\0\0", 10), "the file ends inside its header"},
      {"a track's length past the end", midi_bytes(a_note).substr(0, 30),
       "track 1's length 13 runs past the end of the file (at byte 14)"},
      {"a number of five bytes", midi_bytes(std::string("\xFF\xFF\xFF\xFF\x7F\x90\x45\x40", 8)),
       "track 1: a variable-length number of more than four bytes (at byte 26)"},
      {"running status with no status", midi_bytes(std::string("\0\x45\x40", 3)),
       "track 1: a data byte with no status before it (at byte 24)"},
      {"no notes", midi_bytes(std::string("\0\xFF\x2F\0", 4)), "the file holds no notes"},
      {"percussion only", midi_bytes(std::string("\0\x99\x24\x40\x83\x60\x89\x24\x40\0\xFF\x2F\0", 13)),
       "the file's notes are all percussion (channel 10), never a melody; --list shows them"},
      {"notes of 0 ticks", midi_bytes(std::string("\0\x90\x45\x40\0\x80\x45\x40\0\xFF\x2F\0", 12)),
       "every note of the file ends where it starts (0 ticks long), so none sounds; --list shows them"},
      {"a channel with no notes", midi_bytes(a_note), "no notes on that track and channel, percussion aside; "
       "--list shows where the notes are", "--channel 3"},
      {"a tune no octave shift fits, --strict",
       midi_bytes(std::string("\0\x90\x10\x40\x60\x80\x10\x40\0\x90\x7F\x40\x60\x80\x7F\x40", 16)),
       "the note E0 at 0.000 s is E0 (21 Hz), outside melodyc's D#0 to A3; the tune spans 111 semitones, more than "
       "melodyc's 42 (without --strict the notes outside move by octaves into it) (and 1 more note like it)",
       "--strict"},
      {"a rhythm the unit cannot keep, --strict",
       midi_bytes(std::string("\0\x90\x45\x40\x83\x60\x80\x45\x40\0\x90\x47\x40\x0F\x80\x47\x40", 17)),
       "the note B4 at 0.500 s is 0.12 units of 125 ms: too short for a unit of its own, it would join its "
       "neighbours; no unit of 20 ms or more keeps every note; without --strict the nearest tune is written",
       "--strict"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(run(std::string("from-midi ") + c.arguments, c.bytes), 1) << c.what;
    EXPECT_EQ(err_, "tonetool: (standard input): " + c.message + "\n") << c.what;
    EXPECT_EQ(out_, "") << c.what;
  }
  // SMPTE time: 25 frames a second of 40 ticks, so 1000 ticks a second; a
  // note of 500 ticks is 4 units.
  EXPECT_EQ(run("from-midi", midi_bytes(std::string("\0\x90\x45\x40\x83\x74\x80\x45\x40\0\xFF\x2F\0", 13),
                                        std::string("\xE7\x28", 2))),
            0)
      << err_;
  EXPECT_EQ(out_.substr(out_.rfind('\n', out_.size() - 2) + 1), "A1\n");
  // A tempo event that sets no tempo is ignored, with one line saying so.
  const struct {
    std::string event;
    const char *what;
  } tempos[] = {{std::string("\0\xFF\x51\x03\0\0\0", 7), "of 0 microseconds a quarter note"},
                {std::string("\0\xFF\x51\x01\x07", 5), "of 1 byte, not 3"}};
  for (const auto &t : tempos) {
    EXPECT_EQ(run("from-midi", midi_bytes(t.event + a_note)), 0) << t.what;
    EXPECT_EQ(err_.substr(0, err_.find('\n') + 1),
              std::string("tonetool: (standard input): warning: track 1: a tempo event ") + t.what +
                  " (at byte 26) is ignored; the tempo stays at 500000 microseconds a quarter note (120 quarter "
                  "notes a minute)\n");
  }
}

}  // namespace
