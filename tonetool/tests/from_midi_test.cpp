// tonetool from-midi: MIDI files written by Debian's python3-mido (an
// independent writer) give the melody's notes and units through melodyc;
// MIDI files tonetool midi writes come back as the records they were made
// of; hand-made bytes give one line naming what is wrong.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tonetool_fixture.h"
#include "under_sanitizer.h"

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
def vlq(n):
    b = [n & 0x7f]; n >>= 7
    while n: b.append(0x80 | (n & 0x7f)); n >>= 7
    return bytes(reversed(b))
def save_raw(ev, tpq):
    # (tick, order, bytes) events as the one track of a format 0 file, fast
    # where mido would take long.
    import struct
    data, last = bytearray(), 0
    for t, _, b in sorted(ev, key=lambda e: (e[0], e[1])):
        data += vlq(t - last) + b; last = t
    data += b'\x00\xff\x2f\x00'
    open('in.mid', 'wb').write(b'MThd' + struct.pack('>IHHH', 6, 0, 1, tpq) + b'MTrk' + struct.pack('>I', len(data)) + data)
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

  // from-midi on in.mid within `seconds` of CPU time (five times as many
  // under a sanitizer): its status, or -1 when the limit killed it.
  int from_midi_within(int seconds) {
#ifdef TAMLO_UNDER_SANITIZER
    seconds *= 5;
#endif
    return shell("cd '" + dir_.string() + "' && ulimit -t " + std::to_string(seconds) + " && " + TONETOOL_PATH +
                 " from-midi in.mid >melody 2>err");
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
      {"--approximate is the default, not --strict", "save([line([(69, 480, 0), (71, 15, 0), (72, 480, 0)])])",
       "--approximate", "A1:4 C2:4"},
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
tpq, N, W = 32767, 200000, 170
ev = [(i * tpq + d, d == 0, bytes([0x90 if d == 0 else 0x80, 60 + i % 12, 64])) for i in range(N) for d in (0, tpq)]
G = N // 2 * tpq
ev += [(t + d, d == 0, bytes([0x90 if d == 0 else 0x80, k, 64])) for t in range(G - W, G + W) for k in range(128) for d in (0, 1)]
save_raw(ev, tpq))");
  EXPECT_EQ(from_midi_within(2), 0) << slurp(dir_ / "err");
}

// Arrangements shaped as pop songs are, written and scored by mido: each
// line says the variant, the seed, whether the tune's part was chosen, the
// tune found note by note (F1: the same pitch class, the onset within a
// 16th after the one tempo change the summary names), that change, the
// largest onset error in ms against the tune as written, and the tempo.
const char arrangements[] = R"(import random, re, subprocess, sys
from mido import MidiFile, MidiTrack, Message, MetaMessage, bpm2tempo
T, M = sys.argv[1], sys.argv[2]
NAMES = {'C':0,'C#':1,'D':2,'D#':3,'E':4,'F':5,'F#':6,'G':7,'G#':8,'A':9,'A#':10,'B':11}
def song(seed):
    # Three minutes of a tune in 2-bar phrases, a counter-melody of long
    # notes a third to a sixth around it (above it at times), and a piano:
    # bass on beats 1 and 3, right-hand triads on 8ths, their top above the
    # tune at times. Performed: onsets off by 10-20 ms, legato gaps of 1-5
    # ms, chords spread over 1-3 ticks, a tempo map moving by 3%.
    rnd = random.Random(seed); bpm = rnd.uniform(80, 150); q = 480
    bars = int(3 * bpm / 4); mel, cnt, pia = [], [], []
    key = rnd.randint(62, 70)
    for ph in range(bars // 2):
        t = ph * 8 * q + rnd.choice([0, q // 2, q]); end = ph * 8 * q + 7 * q
        while t < end:
            d = rnd.choice([q // 2, q // 2, q // 4, q // 4, q, q // 2 * 3])
            step = rnd.choice([-2, -1, -1, 0, 1, 1, 2, 2, -3, 3, 4, -4, 5, -5, 7]); key += step
            if key > 79 or key < 60: key -= 2 * step
            mel.append((key, t, min(t + d, end))); t += d
    for b in range(bars):
        if rnd.random() < 0.6:
            for k in range(rnd.choice([1, 2])):
                t = b * 4 * q + k * 2 * q
                near = [m[0] for m in mel if m[1] <= t < m[2]]
                cnt.append((max(55, min(88, (near[0] if near else 67) + rnd.choice([-9, -5, -3, 3, 4]))), t, t + 2 * q - 60))
    for b in range(bars):
        root = rnd.choice([48, 50, 52, 53, 55, 57]); low = rnd.choice([60, 62, 64, 65, 67, 69])
        pia += [(root - 12, (b * 4 + k) * q, (b * 4 + k + 2) * q - 20) for k in (0, 2)]
        pia += [(low + c, b * 4 * q + e * q // 2, b * 4 * q + e * q // 2 + q // 2 - 30) for e in range(8) if rnd.random() < 0.7 for c in (0, 4, 7)]
    ms = 60000 / bpm / q
    def perform(notes, legato=False):
        out, last = [], None
        for k, s, e in sorted(notes, key=lambda n: (n[1], -n[0])):
            s2 = out[-1][1] + rnd.randint(1, 3) if last == s else max(0, s + int(rnd.choice([-1, 1]) * rnd.uniform(10, 20) / ms))
            out.append([k, s2, max(s2 + 5, e + int(rnd.uniform(-10, 10) / ms))]); last = s
        if legato:
            for a, b in zip(out, out[1:]):
                if 0 <= b[1] - a[2] < 60 / ms: a[2] = b[1] - max(1, int(rnd.uniform(1, 5) / ms))
        return out
    tempo = [(b * 16 * q, MetaMessage('set_tempo', tempo=int(bpm2tempo(bpm) * rnd.uniform(0.97, 1.03)))) for b in range(bars // 4 + 1)]
    return bpm, q, mel, perform(mel, True), perform(cnt), perform(pia), tempo
def seconds(tempo, q, tick):
    t, last, cur = 0.0, 0, 500000
    for tk, msg in tempo:
        if tk > tick: break
        t += (tk - last) * cur / 1e6 / q; last, cur = tk, msg.tempo
    return t + (tick - last) * cur / 1e6 / q
def save(parts, q, tempo, path):
    m = MidiFile(type=1, ticks_per_beat=q)
    for events in [[(tk, 1, msg) for tk, msg in tempo]] + parts:
        trk, last = MidiTrack(), 0
        for tick, _, msg in sorted(events, key=lambda e: (e[0], e[1])):
            trk.append(msg.copy(time=tick - last)); last = tick
        m.tracks.append(trk)
    m.save(path)
def events(notes, ch, name=None):
    ev = [(0, -1, MetaMessage('track_name', name=name))] if name else []
    for k, s, e in notes:
        ev += [(s, 1, Message('note_on', note=k, velocity=80, channel=ch)), (e, 0, Message('note_off', note=k, channel=ch))]
    return ev
for seed in (1, 2, 3):
    bpm, q, score, mel, cnt, pia, tempo = song(seed)
    rnd = random.Random(seed)
    chans = rnd.sample([0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12], 3)
    variants = {
        'named': ([events(mel, 0, 'Melody'), events(cnt, 1, 'Counter'), events(pia, 2, 'Piano')], 1),
        'renumbered': ([events(pia, chans[2]), events(mel, chans[0]), events(cnt, chans[1])], chans[0] + 1),
        'merged': ([events(mel, 0) + events(cnt, 0) + events(pia, 0)], 1),
    }
    # the tune as written: its onsets through the tempo map
    truth = [(k % 12, seconds(tempo, q, s)) for k, s, e in sorted(score, key=lambda n: n[1])]
    for name, (parts, channel) in variants.items():
        save(parts, q, tempo, 'in.mid')
        r = subprocess.run(f'{T} from-midi in.mid >melody 2>err && {M} <melody | {T} list', shell=True, capture_output=True, text=True)
        chosen = re.search(r'channel (\d+)', open('melody').read())
        summary = open('err').read()
        m = re.search(r'plays ([0-9.]+)% (faster|slower)', summary)
        change = float(m.group(1)) / 100 * (1 if m.group(2) == 'faster' else -1) if m else 0.0
        notes = [(NAMES[f[-2][:-1]], float(f[1])) for f in (l.split() for l in r.stdout.splitlines()[1:]) if f[-2] != 'P']
        # Note by note: the same pitch class, its onset within a 16th, after
        # the one tempo change the summary names and the best start.
        tol, f = 15 / bpm, 1 + change
        def matched(offset):
            used, pairs, j = set(), [], 0
            for pc, s in truth:
                while j < len(notes) and offset + notes[j][1] * f < s - tol: j += 1
                for x in range(j, len(notes)):
                    o = offset + notes[x][1] * f
                    if o > s + tol: break
                    if x not in used and notes[x][0] == pc: used.add(x); pairs.append(o - s); break
            return pairs
        pairs = max((matched(truth[a][1] - notes[b][1] * f) for a in range(6) for b in range(6)), key=len)
        # the onset errors about their middle: the output starts where its first note does
        mid = sorted(pairs)[len(pairs) // 2] if pairs else 0
        pairs = [abs(e - mid) for e in pairs]
        p, rc = len(pairs) / max(1, len(notes)), len(pairs) / len(truth)
        f1 = 2 * p * rc / (p + rc) if pairs else 0
        print(name, seed, int(chosen is not None and int(chosen.group(1)) == channel), round(f1, 3), round(change, 3),
              round(max(pairs) * 1000 if pairs else 0), round(bpm))
)";

// A tune, a counter-melody that rises above it at times and a piano whose
// right hand does too, played with performed timing: the tune is chosen
// whatever the tracks are called, numbered or ordered; its notes are found
// with the song's tempo kept and no onset off by more than half a unit (and
// the performance's own 20 ms); merged into one piano channel, the tune is
// still most of what comes out.
TEST_F(from_midi_program, arrangements_give_the_tune_a_listener_knows) {
  std::ofstream(dir_ / "score.py") << arrangements;
  ASSERT_EQ(shell("cd '" + dir_.string() + "' && /usr/bin/python3 score.py " + TONETOOL_PATH + " " + MELODYC_PATH +
                  " >scores"),
            0);
  std::istringstream lines(slurp(dir_ / "scores"));
  std::string variant;
  int seed = 0, chosen = 0, merged = 0;
  double f1 = 0, change = 0, merged_f1 = 0, worst_ms = 0, bpm = 0;
  while (lines >> variant >> seed >> chosen >> f1 >> change >> worst_ms >> bpm) {
    const std::string what = variant + " " + std::to_string(seed);
    EXPECT_EQ(chosen, 1) << what;
    EXPECT_LE(std::fabs(change), 0.10) << what;
    if (variant == "merged") {
      merged_f1 += f1;
      ++merged;
      continue;
    }
    EXPECT_GE(f1, 0.8) << what;
    EXPECT_LE(worst_ms, 62.5 + 25) << what;
  }
  ASSERT_EQ(merged, 3);
  EXPECT_GE(merged_f1 / merged, 0.70);
}

// A part of 2,000 chords of 100 held notes each (a 1.6 MB file) is read
// as several voices: the voice search stays within a second or two, where
// a search over every note of every chord took hours.
TEST_F(from_midi_program, thick_chords_cost_linear_time) {
  make_with_mido(R"(
save_raw([(c * 480 + d, d == 0, bytes([0x90 if d == 0 else 0x80, k, 64])) for c in range(2000) for k in range(20, 120)
          for d in (0, 479)], 480))");
  EXPECT_EQ(from_midi_within(4), 0) << slurp(dir_ / "err");
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
            "track 1, channel 1: 2 notes, A4 to E5 (melodyc's A1 to E2), 'Lead'\n"
            "track 2, channel 2: 1 note, A2 to A2 (melodyc's A-1 to A-1)\n"
            "track 3, channel 10: 1 note, C2 to C2 (melodyc's C-1 to C-1) (percussion)\n"
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
