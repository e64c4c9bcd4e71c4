// tonetool rtttl, midi and c: ringtones through melodyc to the notes and
// units they must give, MIDI files read back by an independent reader, and
// C arrays compiled and run.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "note_table.h"
#include "tonetool_fixture.h"

namespace {

namespace fs = std::filesystem;

class convert_program : public tonetool_program {
 protected:
  // tonetool rtttl ARGUMENTS on `ringtone`, its melody through melodyc and
  // tonetool list: the notes and units, or "" when a step fails.
  std::string ringtone_notes(const std::string &arguments, const std::string &ringtone) {
    std::ofstream(dir_ / "ring.txt", std::ios::binary) << ringtone;
    const std::string d = "'" + dir_.string() + "'";
    const int status = shell("cd " + d + " && " + TONETOOL_PATH + " rtttl " + arguments +
                             " ring.txt >melody 2>err && " + MELODYC_PATH + " <melody >tones && " +
                             TONETOOL_PATH + " list tones >listing");
    err_ = slurp(dir_ / "err");
    melody_ = slurp(dir_ / "melody");
    return status == 0 ? notes_and_units(slurp(dir_ / "listing")) : "";
  }
  std::string melody_;
};

TEST_F(convert_program, ringtones_give_the_notes_and_units_they_hold) {
  // b=60 makes a quarter note 1000 ms: 8 units of 125 ms.
  const std::string exact = "the tune plays at b=60; every note keeps its length";
  const struct {
    const char *what, *arguments, *ringtone, *notes, *warning;
    std::string summary;
  } cases[] = {
      {"every length from a whole to a 32nd", "", "t:d=4,o=5,b=60:1c,2c,4c,8c,16c,32c\n",
       "C2:32 C2:16 C2:8 C2:4 C2:2 C2:1", "", exact},
      {"a dot before or after the octave, on notes and pauses", "",
       "t:d=4,o=5,b=60:4c.,4c.5,4c5.,8e.6,2p.\n", "C2:12 C2:12 C2:12 E3:6 P:24", "", exact},
      {"defaults in another order, upper case", "", "T:B=60,O=5,D=8:C,4D#,H,A4\n",
       "C2:4 D#2:8 B2:4 A1:4", "", exact},
      {"no defaults at all: d=4, o=6, b=63", "", "t::c,e,8p,a\n", "C3:8 E3:8 P:4 A3:8", "",
       "the tune plays 4.8% slower than b=63; every note keeps its length"},
      {"some defaults", "", "t:b=60:c5,d", "C2:8 D3:8", "", exact},
      {"white space, CR LF and a trailing comma", "", "t : d=4, o=5 , b=60 :\r\n 4c , 8d ,\te,\r\n",
       "C2:8 D2:4 E2:8", "", exact},
      {"h is B; every sharp", "", "t:d=4,o=5,b=60:h,b,c#,d#,f#,g#,a#",
       "B2:8 B2:8 C#2:8 D#2:8 F#2:8 G#2:8 A#2:8", "", exact},
      {"ringtone A4 is melodyc's A1; D#3 and A6 are the ends", "", "t:d=4,o=4,b=60:a,d#3,a6",
       "A1:8 D#0:8 A3:8", "", exact},
      {"a tune too high moves down an octave", "", "t:d=4,o=6,b=60:a,a#,b,c7",
       "A2:8 A#2:8 B2:8 C3:8", "warning: the notes run from A6 to C7", exact},
      {"a tune too low moves up two octaves", "", "t:d=4,o=1,b=60:d#,c2", "D#0:8 C1:8",
       "moves up 2 octaves", exact},
      {"--transpose by hand", "--transpose -3", "t:d=4,o=5,b=60:c,e", "A1:8 C#2:8", "", exact},
      {"--unit-ms sets the units", "--unit-ms 250", "t:d=4,o=5,b=60:c,8d", "C2:4 D2:2", "", exact},
      // The tempo figure is the records' tempo against the ringtone's.
      {"a note over 255 units is cut to 255", "--unit-ms 50", "t:d=1,o=5,b=25:1c.,2d", "C2:255 D2:96",
       "warning: note 1 '1c.' is 288.00 units of 50 ms; melodyc's longest is 255 units, so it is shortened (-11.5%)",
       "the tune plays at b=25; largest rhythm error -11.5%: note 1 '1c.', 255 units for 288.00; --unit-ms 4800 keeps "
       "every note"},
      {"a grid of 0.83 units: the tempo changes to hold it", "", "t:d=4,o=5,b=200:c,8d", "C2:2 D2:1",
       "warning: the tune plays 20.0% faster than b=200 at 125 ms a unit, which then holds its grid exactly; "
       "--unit-ms 150 keeps the tempo",
       "the tune plays 20.0% faster than b=200; every note keeps its length"},
      // The same music in two notations plays the same.
      {"quarter notes written against d=16", "", "T:d=16,o=5,b=225:4a,4p,4a,4g,4a", "A2:2 P:2 A2:2 G2:2 A2:2", "",
       "the tune plays 6.7% faster than b=225; every note keeps its length"},
      {"quarter notes written against d=4", "", "T:d=4,o=5,b=225:a,p,a,g,a", "A2:2 P:2 A2:2 G2:2 A2:2", "",
       "the tune plays 6.7% faster than b=225; every note keeps its length"},
      // Every note 4.2% long: the records' own tempo, not the default note's.
      {"the tempo the records have", "", "t:d=4,o=5,b=50:2c.,c,c", "C2:30 C2:10 C2:10", "",
       "the tune plays 4.0% slower than b=50; every note keeps its length"},
      {"'_' is a sharp", "", "t:d=4,o=5,b=60:d_,e,f_", "D#2:8 E2:8 F#2:8",
       "warning: note 1 'd_': '_' is read as a sharp, as ringtone players read it", exact},
      // A grid the unit cannot hold within 30%: the tempo stays, each note
      // starts on the unit nearest its start, and one between two units
      // joins its neighbours; --approximate is the default.
      {"past eight notes off, a count", "--approximate",
       "t:d=4,o=5,b=100:16c,16c.,32c,16c,16c.,32c,16c,16c.,32c,16c,16c.,32c,16c",
       "C2:1 C2:2 C2:1 C2:1 C2:2 C2:1 C2:2 C2:1 C2:1 C2:2 C2:2", "warning: 3 more notes are off by over 10%",
       "the tune plays at b=100; largest rhythm error +66.7%: note 9 '32c', 1 unit for 0.60; 2 notes too short for a "
       "unit joined their neighbours; --unit-ms 75 keeps every note"},
      {"a note too short for a unit joins its neighbour", "", "t:d=4,o=5,b=200:32c,c", "C2:3",
       "warning: note 1 '32c' is 0.30 units of 125 ms, too short for a unit of its own: it joins its neighbours; a "
       "smaller --unit-ms keeps it",
       "the tune plays at b=200; largest rhythm error +25.0%: note 2 'c', 3 units for 2.40; 1 note too short for a "
       "unit joined its neighbours; --unit-ms 37.5 keeps every note"},
      // Where no octave shift fits, the notes outside fold in by octaves.
      {"a tune wider than the range", "", "t:d=4,o=4,b=60:g,a#7,c5", "G1:8 A#2:8 C2:8",
       "warning: the notes run from G4 to A#7, 39 semitones, beyond D#3 to A6 in ringtone octaves (melodyc's D#0 "
       "to A3): 1 note outside it moves by whole octaves into it, the first note 2 'a#7'; --strict refuses such a tune",
       exact},
      {"a tune wider than the range, shifted", "", "t:o=4,b=60:c3,c9", "C1:8 C3:8",
       "the whole tune moves up 1 octave and 1 note outside it moves by whole octaves into it, the first note 2 'c9'",
       exact},
      {"a fold after --transpose", "--transpose 0", "t:d=4,o=5,b=60:c,c8", "C2:8 C3:8",
       "(melodyc's D#0 to A3) after --transpose 0: 1 note outside it moves by whole octaves into it", exact},
      {"a byte-order mark before the name", "", "\xEF\xBB\xBFt:d=4,o=5,b=60:c", "C2:8", "", exact},
      {"an unknown default is ignored", "", "t:d=4,l=15,o=5,b=60:c", "C2:8",
       "warning: default 'l=15' ignored", exact},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(ringtone_notes(c.arguments, c.ringtone), c.notes) << c.what << "\n" << err_;
    if (*c.warning) {
      EXPECT_NE(err_.find(c.warning), std::string::npos) << c.what << "\n" << err_;
    } else {
      EXPECT_EQ(err_.find("warning"), std::string::npos) << c.what << "\n" << err_;
    }
    EXPECT_NE(err_.find("tonetool: ring.txt: note: " + c.summary + "\n"), std::string::npos) << c.what << "\n" << err_;
  }
}

// Ringtones as collections hold them, at tempos and lengths the unit
// holds or not: each is written at the defaults within 30% of its b=;
// --strict refuses a tune the unit cannot keep with a --unit-ms, and
// following that advice writes it with every note kept.
TEST_F(convert_program, every_ringtone_is_written_and_strict_advice_works) {
  for (const char *ringtone :
       {"Ode:d=4,o=5,b=120:e,e,f,g,g,f,e,d,c,c,d,e,e.,8d,2d", "Fast:d=16,o=6,b=200:c,d,e,f,g,a,b,c7,8p,c7,b,a,g,4c",
        "Waltz:d=8,o=5,b=180:4c,e,g,4c6,4p,a,g,4f,4e", "Swing:d=8,o=5,b=100:c.,16d,e.,16f,g.,16a,2b",
        "Dotted:d=4,o=5,b=140:c.,8d,e.,8f,g.,8a,2c6", "Tiny:d=32,o=5,b=125:c,d,e,f,g,a,b,c6,4p,16c6",
        "Long:d=1,o=5,b=40:c,d,2e,2f", "Hymn:d=2,o=5,b=90:c,4d,4e,f.,4e,1d", "Trip:d=8,o=6,b=160:c,c,c,4g5,p,16a5,4c",
        "Bouncy:d=16,o=5,b=95:c,e,g,c6,8p,g,e,4c"}) {
    EXPECT_NE(ringtone_notes("", ringtone), "") << ringtone << "\n" << err_;
    const auto plays = err_.find("% faster than b=") != std::string::npos ? err_.find("% faster than b=")
                                                                          : err_.find("% slower than b=");
    if (plays != std::string::npos) {
      const std::size_t from = err_.rfind("plays ", plays) + 6;
      EXPECT_LE(std::stod(err_.substr(from, plays - from)), 30.0) << ringtone;
    }
    if (!ringtone_notes("--strict", ringtone).empty()) continue;
    const std::size_t advice = err_.find("--unit-ms ");
    ASSERT_NE(advice, std::string::npos) << ringtone << "\n" << err_;
    const std::string unit = err_.substr(advice + 10, err_.find(' ', advice + 10) - advice - 10);
    EXPECT_GE(std::stod(unit), 20.0) << ringtone;
    EXPECT_NE(ringtone_notes("--strict --unit-ms " + unit, ringtone), "") << ringtone << "\n" << err_;
    EXPECT_NE(err_.find("every note keeps its length"), std::string::npos) << ringtone << "\n" << err_;
  }
}

// A collection of 50 ringtones, one a line, with comments and blank
// lines between them, a damaged one, names repeated, empty and unsafe.
TEST_F(convert_program, collections_are_listed_picked_and_converted_each) {
  std::string collection = "# my collection\n\n";
  for (int i = 1; i <= 50; ++i) {
    const std::string name = i == 7 ? "" : i == 8 ? "../evil" : i == 9 ? "Tune 1" : "Tune " + std::to_string(i);
    collection += name + ":d=8,o=5,b=" + std::to_string(100 + i) + ":" + (i == 30 ? "c,x,d" : "c,d,4e") + "\n";
    if (i % 10 == 0) collection += "; section\n\n";
  }
  std::ofstream(dir_ / "ring.txt") << collection;
  const std::string d = "cd '" + dir_.string() + "' && " + TONETOOL_PATH + " rtttl ";
  EXPECT_EQ(shell(d + "ring.txt >out 2>err"), 1);
  EXPECT_EQ(slurp(dir_ / "err"), "tonetool: ring.txt: the file holds 50 ringtones: --list shows them, --index N or "
                                 "--name NAME converts one, -d DIR converts each\n");
  EXPECT_EQ(slurp(dir_ / "out"), "");
  EXPECT_EQ(shell(d + "--list ring.txt >out 2>err"), 0);
  const std::string listed = slurp(dir_ / "out");
  EXPECT_EQ(std::count(listed.begin(), listed.end(), '\n'), 50);
  EXPECT_NE(listed.find("\n2: 'Tune 2', 3 notes, 1.2 s at b=102\n"), std::string::npos) << listed;
  EXPECT_NE(listed.find("\n30: 'Tune 30', damaged (line 36)\n"), std::string::npos) << listed;
  EXPECT_EQ(shell(d + "--index 2 ring.txt >a.mel 2>err && " + d + "--name 'Tune 2' ring.txt >b.mel 2>>err"), 0);
  EXPECT_EQ(slurp(dir_ / "a.mel"), slurp(dir_ / "b.mel"));
  EXPECT_NE(slurp(dir_ / "a.mel").find("% Tune 2, from tonetool rtttl"), std::string::npos);
  EXPECT_EQ(shell(d + "--index 51 ring.txt 2>err"), 1);
  EXPECT_EQ(slurp(dir_ / "err"), "tonetool: ring.txt: --index 51: the file holds 50 ringtones; --list shows them\n");
  // Each into a folder: the damaged line named and skipped, the status 1.
  EXPECT_EQ(shell(d + "-d tunes ring.txt 2>err"), 1);
  EXPECT_EQ(slurp(dir_ / "err"), "ring.txt:36:25: error: note 2 'x': 'x' is not a note letter: a to g, h (B) or p "
                                 "(pause)\ntonetool: ring.txt: note: 49 written (26 with warnings, which --index N "
                                 "shows), 1 failed\n");
  const std::vector<std::string> files = listing(dir_ / "tunes");
  EXPECT_EQ(files.size(), 49u);
  for (const char *expected : {"Tune_1.mel", "Tune_2.mel", "7.mel", "8.mel", "9.mel", "Tune_50.mel"}) {
    EXPECT_NE(std::find(files.begin(), files.end(), expected), files.end()) << expected;
  }
}

TEST_F(convert_program, the_melody_names_the_ringtone_and_reports_the_rhythm) {
  const std::string ringtone = "Simple Tune:d=4,o=6,b=63:16e6,8p,4c#.7,e6,2a5,32h6.\n";
  const std::string moved =
      "ring.txt:1:34: warning: the notes run from A5 to C#7, beyond D#3 to A6 in ringtone octaves (melodyc's D#0 "
      "to A3): the whole tune moves down 1 octave; --transpose N sets the shift by hand\n";
  // At 125 ms a unit the dotted 32nd cannot keep its length: the nearest
  // tune is written, and --strict refuses it, naming the unit that fits.
  EXPECT_EQ(ringtone_notes("", ringtone), "E2:2 P:4 C#3:11 E2:8 A1:15 B2:1");
  EXPECT_EQ(err_, moved +
                      "ring.txt:1:47: warning: note 6 '32h6.' is 1.43 units of 125 ms; it gets 1 (-30.0%); a smaller "
                      "--unit-ms is closer\n"
                      "tonetool: ring.txt: note: the tune plays at b=63; largest rhythm error -30.0%: note 6 '32h6.', 1 "
                      "unit for 1.43; --unit-ms 59.524 keeps every note\n");
  EXPECT_EQ(ringtone_notes("--strict", ringtone), "");
  EXPECT_EQ(melody_, "");
  EXPECT_EQ(err_, moved +
                      "ring.txt:1:47: error: note 6 '32h6.' is 1.43 units of 125 ms: it would get 1 (-30.0%), more "
                      "than 10% off; --unit-ms 59.524 keeps every note (play it at the same unit, as tonetool wav "
                      "--unit-ms 59.524 does); without --strict the nearest tune is written\n");
  // At that unit every note keeps its length.
  EXPECT_EQ(ringtone_notes("--unit-ms 59.524", ringtone), "E2:4 P:8 C#3:24 E2:16 A1:32 B2:3");
  EXPECT_EQ(melody_,
            "% Simple Tune, from tonetool rtttl: d=4, o=6, b=63\n"
            "% A quarter note lasts 952.4 ms: the base duration, 16 units of 59.524 ms\n"
            "% Moved down 1 octave to fit melodyc's range\n"
            "0.5\n"
            "E2.25 P.5 C#31.5 E2 A12 B2.2\n");
  EXPECT_EQ(err_, moved + "tonetool: ring.txt: note: the tune plays at b=63; every note keeps its length\n");
  // --approximate is the default, kept for the scripts that give it.
  EXPECT_EQ(ringtone_notes("--approximate", ringtone), "E2:2 P:4 C#3:11 E2:8 A1:15 B2:1");
  EXPECT_NE(err_.find("tonetool: ring.txt: note: the tune plays at b=63; largest rhythm error -30.0%"),
            std::string::npos)
      << err_;
}

TEST_F(convert_program, malformed_ringtones_are_refused_with_the_place_and_token) {
  const struct {
    const char *what, *arguments, *ringtone, *message;
  } cases[] = {
      {"no name", "", "d=4,o=5",
       "(standard input):1:1: error: no ':' after the ringtone's name; a ringtone reads NAME:d=4,o=6,b=63:NOTES"},
      {"no notes section", "", "t:d=4",
       "(standard input):1:3: error: no ':' between the defaults and the notes; a ringtone reads "
       "NAME:d=4,o=6,b=63:NOTES"},
      {"a letter that is no note", "", "t:d=4:4c,8x",
       "(standard input):1:11: error: note 2 '8x': 'x' is not a note letter: a to g, h (B) or p (pause)"},
      {"a length that is no power of two", "", "t::3c",
       "(standard input):1:4: error: note 1 '3c': the length is 1, 2, 4, 8, 16 or 32 (a 1/length note)"},
      {"a 64th", "", "t::c,64c",
       "(standard input):1:6: error: note 2 '64c': the length is 1, 2, 4, 8, 16 or 32 (a 1/length note)"},
      {"two dots", "", "t::4c..",
       "(standard input):1:7: error: note 1 '4c..': unexpected a second dot; a note reads "
       "[LENGTH]LETTER[#][OCTAVE][.], as in 8c#6 or 4p"},
      {"a sharp pause", "", "t::p#", "(standard input):1:5: error: note 1 'p#': a pause has no sharp"},
      {"a length alone", "", "t::c,\n8",
       "(standard input):2:2: error: note 2 '8': no note letter; a note reads [LENGTH]LETTER[#][OCTAVE][.], "
       "as in 8c#6 or 4p"},
      {"a two-digit octave", "", "t::c10",
       "(standard input):1:6: error: note 1 'c10': unexpected '0'; a note reads [LENGTH]LETTER[#][OCTAVE][.], "
       "as in 8c#6 or 4p"},
      {"a control character", "", "t::c\x01",
       "(standard input):1:5: error: note 1 'c\\x01': unexpected '\\x01'; a note reads "
       "[LENGTH]LETTER[#][OCTAVE][.], as in 8c#6 or 4p"},
      {"an empty note", "", "t::c,,d", "(standard input):1:6: error: empty note between commas"},
      {"a lone UTF-8 lead byte", "", "t::\xC3,c",
       "(standard input):1:4: error: note 1 '\\xc3': '\\xc3' is not a note letter: a to g, h (B) or p (pause)"},
      {"a whole UTF-8 character", "", "t::\xC3\xA9,c",
       "(standard input):1:4: error: note 1 '\xC3\xA9': '\xC3\xA9' is not a note letter: a to g, h (B) or p (pause)"},
      {"a default length of 3", "", "t:d=3:c",
       "(standard input):1:3: error: default 'd=3': the length is 1, 2, 4, 8, 16 or 32 (a 1/d note)"},
      {"an octave that is no digit", "", "t:o=x:c",
       "(standard input):1:3: error: default 'o=x': the octave is a digit, 4 to 7 in most ringtones"},
      {"a tempo of 0", "", "t:b=0:c",
       "(standard input):1:3: error: default 'b=0': the tempo is 1 to 900 quarter notes a minute"},
      {"a tempo too fast", "", "t:b=901:c",
       "(standard input):1:3: error: default 'b=901': the tempo is 1 to 900 quarter notes a minute"},
      {"a default without =", "", "t:d4:c",
       "(standard input):1:3: error: default 'd4' is not KEY=VALUE, as in d=4, o=6 or b=63"},
      {"a default given twice", "", "t:d=4,D=8:c", "(standard input):1:7: error: default 'D=8': d is given twice"},
      {"two ringtones", "", "a::c,d\nb::e",
       "tonetool: (standard input): the file holds 2 ringtones: --list shows them, --index N or --name NAME converts "
       "one, -d DIR converts each"},
      {"by hand, a note out of range", "--transpose 0 --strict", "t:d=4,o=5,b=60:c,c8",
       "(standard input):1:18: error: note 2 'c8' is C8 (4186 Hz), outside D#3 to A6 in ringtone octaves "
       "(melodyc's D#0 to A3); --transpose -21 to -15 fits every note"},
      {"a note too short for a unit, --strict", "--strict", "Skala:d=4,o=5,b=160:32c,32d,32e,32f,32g,32a,32b,32c6",
       "(standard input):1:21: error: note 1 '32c' is 0.38 units of 125 ms: too short for a unit of its own, it would "
       "join its neighbours; --unit-ms 46.875 keeps every note (play it at the same unit, as tonetool wav --unit-ms "
       "46.875 does); without --strict the nearest tune is written"},
      {"no tempo keeps the rhythm, --strict", "--strict", "t:d=4,o=5,b=100:16c,16c.,32c",
       "(standard input):1:26: error: note 3 '32c' is 0.60 units of 125 ms: it would get 1 (+66.7%), more than 10% "
       "off; --unit-ms 75 keeps every note (play it at the same unit, as tonetool wav --unit-ms 75 does); without "
       "--strict the nearest tune is written"},
      {"no shift fits", "--strict", "t:o=4:c3,c9",
       "(standard input):1:7: error: note 1 'c3' is C3 (131 Hz), outside D#3 to A6 in ringtone octaves "
       "(melodyc's D#0 to A3); the tune spans 72 semitones, more than melodyc's 42 (without --strict the notes "
       "outside move by octaves into it)"},
      {"a note past a record, --strict", "--unit-ms 40 --strict", "t:d=1,o=5,b=25:1c.,2d",
       "(standard input):1:16: error: note 1 '1c.' is 360.00 units of 40 ms: it would get 255 (-29.2%), more than 10% "
       "off; --unit-ms 4800 keeps every note (play it at the same unit, as tonetool wav --unit-ms 4800 does); without "
       "--strict the nearest tune is written"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(run(std::string("rtttl ") + c.arguments, c.ringtone), 1) << c.what;
    EXPECT_EQ(err_.substr(0, err_.find('\n')), c.message) << c.what;
    EXPECT_EQ(out_, "") << c.what;
  }
  // Twenty messages at most, then a count; a file past 1 MiB is no ringtone.
  std::string many = "t::";
  for (int i = 0; i < 25; ++i) many += "x,";
  EXPECT_EQ(run("rtttl", many), 1);
  EXPECT_EQ(std::count(err_.begin(), err_.end(), '\n'), 21);
  EXPECT_NE(err_.find("\ntonetool: (standard input): 5 more messages not shown; fix the first ones and run again\n"),
            std::string::npos)
      << err_;
  EXPECT_EQ(run("rtttl", "t::" + std::string(1 << 20, 'c')), 1);
  EXPECT_EQ(err_, "tonetool: (standard input): longer than 1048576 bytes; is this the right file?\n");
  // Nothing replaces an earlier melody either.
  std::ofstream(dir_ / "kept.mel") << "1 A1\n";
  EXPECT_EQ(run("rtttl -o " + (dir_ / "kept.mel").string(), "t::x"), 1);
  EXPECT_EQ(slurp(dir_ / "kept.mel"), "1 A1\n");
}

// Each message of the track: "TICK note_on NOTE", "TICK note_off NOTE", "TICK
// end", after a line "TYPE TRACKS TICKS_PER_BEAT TEMPO PROGRAM".
const char midi_reader[] = R"(
import sys, mido
m = mido.MidiFile(sys.argv[1])
tempo = program = None
lines = []
tick = 0
for msg in m.tracks[0]:
    tick += msg.time
    if msg.type == 'set_tempo': tempo = msg.tempo
    elif msg.type == 'program_change': program = msg.program
    elif msg.type in ('note_on', 'note_off'): lines.append('%d %s %d' % (tick, msg.type, msg.note))
    elif msg.type == 'end_of_track': lines.append('%d end' % tick)
print(m.type, len(m.tracks), m.ticks_per_beat, tempo, program)
print('\n'.join(lines))
)";

class midi_program : public tonetool_program {
 protected:
  void SetUp() override {
    tonetool_program::SetUp();
    if (shell("/usr/bin/python3 -c 'import mido' 2>/dev/null") != 0) {
      GTEST_SKIP() << "Debian's python3-mido is not installed: no independent MIDI reader";
    }
    std::ofstream(dir_ / "read_midi.py") << midi_reader;
  }
  // The file tonetool midi ARGUMENTS writes of `records`, as the reader
  // sees it.
  std::string midi_of(const std::string &arguments, const std::string &records) {
    const fs::path file = dir_ / "tune.mid";
    fs::remove(file);
    if (run("midi " + arguments + " -o " + file.string(), records) != 0) return "failed: " + err_;
    shell("/usr/bin/python3 " + (dir_ / "read_midi.py").string() + " " + file.string() + " >" +
          (dir_ / "read").string() + " 2>&1");
    return slurp(dir_ / "read");
  }
};

TEST_F(midi_program, files_read_back_note_by_note_and_tick_by_tick) {
  std::string long_rests;
  for (int i = 0; i < 2300; ++i) long_rests += std::string("\0\0\xFF", 3);
  long_rests += std::string("\x0D\x51\x01", 3);
  const struct {
    const char *what, *arguments;
    std::string records, expected;
  } cases[] = {
      {"the commonest duration is the beat; a tie takes the shorter", "",
       record_bytes(compile_tones("1 A1 P.5 C#22")),
       "0 1 480 500000 80\n0 note_on 69\n960 note_off 69\n1440 note_on 73\n3360 note_off 73\n3360 end\n"},
      {"--beat and --unit-ms set division and tempo", "--beat 8 --unit-ms 100",
       record_bytes(compile_tones("1 A1 P.5 C#22")),
       "0 1 480 800000 80\n0 note_on 69\n480 note_off 69\n720 note_on 73\n1680 note_off 73\n1680 end\n"},
      {"a tone of 0 units is left out; a closing pause keeps its length", "",
       record_bytes(compile_tones("4 A1 A1.1 P")),
       "0 1 480 250000 80\n0 note_on 69\n480 note_off 69\n960 end\n"},
      {"repeated notes end before they start again", "--beat 1", record_bytes(compile_tones("8 D#0 D#0")),
       "0 1 480 125000 80\n0 note_on 51\n480 note_off 51\n480 note_on 51\n960 note_off 51\n960 end\n"},
      {"rests longer than one delta holds", "--beat 1", long_rests,
       "0 1 480 125000 80\n281520000 note_on 69\n281520480 note_off 69\n281520480 end\n"},
      {"no records at all", "--beat 2", "", "0 1 480 250000 80\n0 end\n"},
      {"a guessed beat past MIDI's 16.777 s gives way to the longest that fits", "",
       std::string("\x0D\x51\xC8", 3), "0 1 402 16750000 80\n0 note_on 69\n600 note_off 69\n600 end\n"},
      {"a unit past MIDI's longest quarter note is several quarters", "--unit-ms 60000",
       std::string("\x0D\x51\x02", 3), "0 1 480 15000000 80\n0 note_on 69\n3840 note_off 69\n3840 end\n"},
      {"a tiny unit takes a guessed beat of enough units", "--unit-ms 0.0001", std::string("\x0D\x51\x01", 3),
       "0 1 480 1 80\n0 note_on 69\n48 note_off 69\n48 end\n"},
      {"the highest period MIDI holds, 117, is note 127", "", std::string("\x00\x75\x01", 3),
       "0 1 480 125000 80\n0 note_on 127\n480 note_off 127\n480 end\n"},
  };
  for (const auto &c : cases) EXPECT_EQ(midi_of(c.arguments, c.records), c.expected) << c.what;
}

TEST_F(midi_program, every_playable_note_is_its_own_midi_number) {
  std::string melody = "8";
  std::string expected = "0 1 480 125000 80\n";
  int tick = 0;
  for (int octave = 0; octave <= 3; ++octave) {
    for (int cell = 0; cell < 12; ++cell) {
      const int number = 48 + 12 * octave + cell;  // melodyc's A1 is MIDI's A4, 69
      if (number < 51 || number > 93) continue;      // D#0 to A3
      melody += std::string(" ") + note_cell_names[cell] + std::to_string(octave);
      expected += std::to_string(tick) + " note_on " + std::to_string(number) + "\n";
      tick += 480;
      expected += std::to_string(tick) + " note_off " + std::to_string(number) + "\n";
    }
  }
  expected += std::to_string(tick) + " end\n";
  EXPECT_EQ(midi_of("", record_bytes(compile_tones(melody))), expected);
}

TEST_F(convert_program, midi_refuses_what_it_cannot_hold) {
  const struct {
    const char *what, *arguments;
    std::string records, message;
  } cases[] = {
      {"a period above MIDI's notes", "", std::string("\x0D\x51\x01\x00\x74\x01", 6),
       "tonetool: (standard input): record 1: period 116 is 12931 Hz, above MIDI's highest note G9 "
       "(12544 Hz); MIDI notes need a period of 117 or more\n"},
      {"a beat by hand past 16.7 s", "--beat 200", std::string("\x0D\x51\x01", 3),
       "tonetool: (standard input): a quarter note of 200 units of 125 ms is 25.000 s; MIDI holds "
       "up to 16.777 s (give --beat 134 or fewer)\n"},
      {"a unit past 16.7 s with a beat by hand", "--unit-ms 60000 --beat 1", std::string("\x0D\x51\x01", 3),
       "tonetool: (standard input): a quarter note of 1 unit of 60000 ms is 60.000 s; MIDI holds "
       "up to 16.777 s (leave out --beat: a unit this long is written as several quarter notes)\n"},
      {"a beat by hand under 1 us", "--unit-ms 0.0001 --beat 2", std::string("\x0D\x51\x01", 3),
       "tonetool: (standard input): a quarter note of 2 units of 0.0001 ms is under the 1 us MIDI holds "
       "(give --beat 10 or more)\n"},
      {"a partial record", "", std::string("\x0D\x51", 2),
       "tonetool: (standard input): stream ends inside record 0 (2 of its 3 bytes); a tone stream "
       "is a whole number of 3-byte records\n"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(run(std::string("midi -o ") + (dir_ / "x.mid").string() + " " + c.arguments, c.records), 1)
        << c.what;
    EXPECT_EQ(err_, c.message) << c.what;
    EXPECT_FALSE(fs::exists(dir_ / "x.mid")) << c.what;
  }
}

TEST_F(convert_program, c_arrays_compile_and_hold_the_records) {
  if (shell("command -v cc >/dev/null && command -v c++ >/dev/null") != 0) {
    GTEST_SKIP() << "no cc and c++ on PATH to compile the output with";
  }
  const struct {
    const char *what, *file, *arguments, *name;
    std::string records;
  } cases[] = {
      {"a name from the file", "ode-to joy.tones", "", "ode_to_joy",
       record_bytes(compile_tones("2 E1 E1 F1 G1 P.5 C#2.5 D#0 A3"))},
      {"--name", "x.tones", "--name Tune_2", "Tune_2", std::string("\x00\x00\xFF\x01\x02\x00", 6)},
      {"standard input", "", "", "melody", record_bytes(compile_tones("8 A1"))},
      {"no records", "empty.tones", "", "empty", ""},
      {"a file name that would end a comment", "a*/b.tones", "", "b",
       record_bytes(compile_tones("8 A1"))},
  };
  const std::string d = "'" + dir_.string() + "'";
  for (const auto &c : cases) {
    std::ofstream(dir_ / "records", std::ios::binary) << c.records;
    const std::string input = *c.file ? std::string("'") + c.file + "'" : "<records";
    fs::create_directories(dir_ / "a*");
    if (*c.file) fs::copy_file(dir_ / "records", dir_ / c.file, fs::copy_options::overwrite_existing);
    ASSERT_EQ(shell("cd " + d + " && " + TONETOOL_PATH + " c " + c.arguments + " " + input +
                    " >tune.c 2>err"),
              0)
        << c.what << ": " << slurp(dir_ / "err");
    const std::string name = c.name;
    std::ofstream(dir_ / "main.c") << "#include <stdio.h>\n"
                                      "extern const unsigned char "
                                   << name << "[];\nextern const unsigned long " << name << "_length, "
                                   << name << "_records;\nint main(void) {\n  if (" << name
                                   << "_length != 3 * " << name << "_records) return 1;\n  fwrite("
                                   << name << ", 1, " << name << "_length, stdout);\n  return 0;\n}\n";
    for (const char *compile : {"cc -std=c99 -Wall -Wextra -pedantic -Werror -o run main.c tune.c",
                                "c++ -x c++ -Wall -Wextra -pedantic -Werror -c tune.c -o tune.o && "
                                "cc -std=c99 -c main.c -o main.o && c++ -o run main.o tune.o"}) {
      ASSERT_EQ(shell("cd " + d + " && " + compile + " 2>err && ./run >bytes"), 0)
          << c.what << ": " << compile << "\n" << slurp(dir_ / "err") << slurp(dir_ / "tune.c");
      EXPECT_EQ(slurp(dir_ / "bytes"), c.records) << c.what << ": " << compile;
    }
  }
  // Every record's comment names its note and duration.
  const std::string source = slurp(dir_ / "tune.c");
  EXPECT_NE(source.find("    0x0D, 0x51, 0x01, /*      0  A1                 1 unit  */\n"),
            std::string::npos)
      << source;
}

// The refusal of a name a standard header defines.
std::string header_name(const std::string &name) {
  return "tonetool: c: invalid name '" + name +
         "' (a name that <stddef.h>, <stdint.h>, <stdio.h> or <math.h> defines, which a host including them "
         "could not compile with)\n";
}

TEST_F(convert_program, bad_command_lines) {

  const struct {
    const char *arguments;
    std::string message;
  } cases[] = {
      {"rtttl --transpose 1.5", "tonetool: rtttl: invalid transposition '1.5' (whole semitones, -96 to 96)\n"},
      {"rtttl --transpose 97", "tonetool: rtttl: invalid transposition '97' (whole semitones, -96 to 96)\n"},
      {"rtttl --unit-ms 0", "tonetool: rtttl: invalid unit '0' (milliseconds, above 0 up to 60000)\n"},
      // One rule for numbers: decimal digits, a fraction where it means
      // something, a sign only for --transpose.
      {"rtttl --unit-ms 0x7d", "tonetool: rtttl: invalid unit '0x7d' (milliseconds, above 0 up to 60000)\n"},
      {"rtttl --unit-ms 0x1p7", "tonetool: rtttl: invalid unit '0x1p7' (milliseconds, above 0 up to 60000)\n"},
      {"rtttl --unit-ms 1e2", "tonetool: rtttl: invalid unit '1e2' (milliseconds, above 0 up to 60000)\n"},
      {"rtttl --unit-ms ' 125'", "tonetool: rtttl: invalid unit ' 125' (milliseconds, above 0 up to 60000)\n"},
      {"rtttl --unit-ms '125 '", "tonetool: rtttl: invalid unit '125 ' (milliseconds, above 0 up to 60000)\n"},
      {"rtttl --unit-ms +125", "tonetool: rtttl: invalid unit '+125' (milliseconds, above 0 up to 60000)\n"},
      {"midi --beat +4", "tonetool: midi: invalid beat '+4' (whole units, 1 to 255)\n"},
      {"rtttl --transpose 0x4", "tonetool: rtttl: invalid transposition '0x4' (whole semitones, -96 to 96)\n"},
      {"rtttl -o ''", "tonetool: rtttl: option '-o' needs a file name, not ''\n"},
      {"midi --beat 0", "tonetool: midi: invalid beat '0' (whole units, 1 to 255)\n"},
      {"midi --beat 256", "tonetool: midi: invalid beat '256' (whole units, 1 to 255)\n"},
      {"c --name 9lives",
       "tonetool: c: invalid name '9lives' (a C identifier: letters, digits and '_', not first a digit, "
       "no keyword)\n"},
      {"c --name int",
       "tonetool: c: invalid name 'int' (a C identifier: letters, digits and '_', not first a digit, no "
       "keyword)\n"},
      {"c --name ''",
       "tonetool: c: invalid name '' (a C identifier: letters, digits and '_', not first a digit, no "
       "keyword)\n"},
      {"c --name time",
       "tonetool: c: invalid name 'time' (a name of the C library or POSIX, which the program linking the "
       "array may use)\n"},
      {"c --name __tune", "tonetool: c: invalid name '__tune' (reserved for the C implementation: it starts "
                          "with __ or _ and a capital)\n"},
      {"c --name tune_length", "tonetool: c: invalid name 'tune_length' (it ends in _length or _records, as "
                               "the symbols of another array do)\n"},
      {"c --name size_t", header_name("size_t")},
      {"c --name uint8_t", header_name("uint8_t")},
      {"c --name INT64_MAX", header_name("INT64_MAX")},
      {"c --name NULL", header_name("NULL")},
      {"c --name EOF", header_name("EOF")},
      {"c --name offsetof", header_name("offsetof")},
      {"c --name y0", header_name("y0")},
      {"c --name j1", header_name("j1")},
      {"c --name sinf", header_name("sinf")},
      {"wav --unit-ms 0.001",
       "tonetool: wav: --unit-ms 0.001 renders a unit as no sample at 44100 Hz; give at least 0.012\n"},
      {"c /dev/null/../..", "tonetool: /dev/null/../..: cannot open: Not a directory\n"},
      {"c --nam x --bogus", "tonetool: c: unknown option '--bogus'\n"},
  };
  for (const auto &c : cases) {
    const int status = run(c.arguments, "");
    const std::string &message = c.message;
    const bool usage = message.find("cannot open") == std::string::npos;
    EXPECT_EQ(status, usage ? 2 : 1) << c.arguments;
    const std::string command(c.arguments, std::strcspn(c.arguments, " "));
    EXPECT_EQ(err_, usage ? message + "Try 'tonetool " + command + " --help' for more information.\n" : message)
        << c.arguments;
  }
  // A name taken from the file is held to the same rules.
  std::ofstream(dir_ / "alarm.tones") << "";
  EXPECT_EQ(shell("cd '" + dir_.string() + "' && " + TONETOOL_PATH + " c alarm.tones 2>err"), 2);
  EXPECT_EQ(slurp(dir_ / "err"),
            "tonetool: c: the array name 'alarm' that 'alarm.tones' gives cannot be used (a name of the C library "
            "or POSIX, which the program linking the array may use); give one with --name\n"
            "Try 'tonetool c --help' for more information.\n");
  // An endless input is refused once past any tune, before memory runs out.
  EXPECT_EQ(run("c /dev/zero", ""), 1);
  EXPECT_EQ(err_, "tonetool: /dev/zero: more than 1048576 records, too many for a C array in firmware; "
                  "is this the right file?\n");
  EXPECT_EQ(run("midi -o " + (dir_ / "z.mid").string() + " /dev/zero", ""), 1);
  EXPECT_EQ(err_, "tonetool: /dev/zero: more than 16777216 records, too many for a MIDI file; "
                  "is this the right file?\n");
  std::ofstream(dir_ / "1.tones") << "";
  EXPECT_EQ(run("c " + (dir_ / "1.tones").string(), ""), 2);
  EXPECT_EQ(err_, "tonetool: c: no C name comes of '" + (dir_ / "1.tones").string() +
                      "'; give one with --name\nTry 'tonetool c --help' for more information.\n");
  // The input is never its own output.
  std::ofstream(dir_ / "ring.txt") << "t::c";
  EXPECT_EQ(run("rtttl -o " + (dir_ / "ring.txt").string() + " " + (dir_ / "ring.txt").string(), ""), 1);
  EXPECT_EQ(slurp(dir_ / "ring.txt"), "t::c");
  // Nor is standard output, appended to: that would read what it writes
  // until the disk is full.
  write_file(dir_ / "t.tones", std::string("\x0D\x51\x04", 3));
  for (const char *command : {"list", "wav", "check", "c --name t", "midi", "rtttl"}) {
    EXPECT_EQ(shell("cd '" + dir_.string() + "' && " + TONETOOL_PATH + " " + command + " t.tones >> t.tones 2>err"), 1)
        << command;
    EXPECT_EQ(slurp(dir_ / "err"),
              "tonetool: (standard output): the output is this input file itself; choose another output\n")
        << command;
    EXPECT_EQ(slurp(dir_ / "t.tones"), std::string("\x0D\x51\x04", 3)) << command;
  }
}

}  // namespace
