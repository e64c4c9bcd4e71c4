#include "compiler.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "case_name.h"
#include "memory_stream.h"

namespace {

struct compile_outcome {
  std::string records;  // hex, two digits a byte
  std::string message;  // empty on success
};

std::string hex(const std::string &bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

compile_outcome compile(const std::string &text) {
  input_text in(text);
  output_bytes out;
  melody_failure failure{};
  const bool ok = compile_melody_core(in.file(), out.file(), failure);
  return {hex(out.bytes()), ok ? "" : failure.message};
}

struct melody_case {
  const char *what;
  std::string text;
  std::string records;
  std::string message;
};

void PrintTo(const melody_case &c, std::ostream *os) { *os << c.what; }

class melodies : public testing::TestWithParam<melody_case> {};

TEST_P(melodies, compile_to_exact_records_and_messages) {
  const auto &c = GetParam();
  const auto outcome = compile(c.text);
  EXPECT_EQ(outcome.records, c.records) << c.what;
  EXPECT_EQ(outcome.message, c.message) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    worked_example_and_periods, melodies,
    testing::Values(
        melody_case{"tempo, note, sharp with half duration, pause",
                    "2 % tempo\nA1 C#2.5 P\n", "0D5104" "0A9202" "000004", ""},
        melody_case{"sample periods from D#0 to A3",
                    "8 D#0 A0 C1 A1 A2 A3",
                    "25AA01" "1AA201" "166601" "0D5101" "06A901" "035401", ""},
        melody_case{"lower-case input", "8 d#0 a3 p", "25AA01" "035401" "000001", ""},
        melody_case{"tempo alone gives no records", "2\n", "", ""}),
    readable_name<melody_case>);

INSTANTIATE_TEST_SUITE_P(
    tempo, melodies,
    testing::Values(
        melody_case{"empty input", "", "", "Line 1: Invalid tempo\n"},
        melody_case{"only blank lines and comments", "\n% x\n\n", "",
                    "Line 4: Invalid tempo\n"},
        melody_case{"note as tempo", "A1 A1", "", "Line 1: Invalid tempo\n"},
        melody_case{"zero", "0 P", "", "Line 1: Invalid tempo\n"},
        melody_case{"negative zero", "-0.0 P", "", "Line 1: Invalid tempo\n"},
        melody_case{"below single precision", "1E-50 P", "", "Line 1: Invalid tempo\n"},
        melody_case{"lone zero byte", std::string("\0 P", 3), "", "Line 1: Invalid tempo\n"},
        melody_case{"tempo 2 gives 4", "2 P", "000004", ""},
        melody_case{"tempo 0.5 gives 16", "0.5 P", "000010", ""},
        melody_case{"tempo 8 gives 1", "8 P", "000001", ""},
        melody_case{"tempo 16 gives 1", "16 P", "000001", ""},
        melody_case{"tempo 16.5 gives 0", "16.5 P", "", "Line 1: Tempo out of range\n"},
        melody_case{"tempo 0.0314 gives 255", "0.0314 P", "0000FF", ""},
        melody_case{"tempo 0.0313 gives 256", "0.0313 P", "", "Line 1: Tempo out of range\n"},
        melody_case{"negative", "-2 P", "", "Line 1: Tempo out of range\n"},
        melody_case{"infinity", "INF P", "", "Line 1: Tempo out of range\n"},
        melody_case{"not a number", "NAN P", "", "Line 1: Tempo out of range\n"},
        melody_case{"numeric prefix", "4bpm P", "000002", ""},
        melody_case{"exponent", "1e1 P", "000001", ""},
        melody_case{"hexadecimal", "0x10 P", "000001", ""},
        melody_case{"line of the tempo token", "\n\n0\n", "", "Line 3: Invalid tempo\n"}),
    readable_name<melody_case>);

INSTANTIATE_TEST_SUITE_P(
    note_names_and_octaves, melodies,
    testing::Values(
        melody_case{"sharp", "8 C#1", "152401", ""},
        melody_case{"flat spelling is not a name", "8 DB1", "", "Line 1: Invalid note DB\n"},
        melody_case{"unknown letter gives an empty name", "8 H1", "", "Line 1: Invalid note \n"},
        melody_case{"name not in the table", "8 CC1", "", "Line 1: Invalid note CC\n"},
        melody_case{"pause followed by a letter", "8 PA1", "", "Line 1: Invalid note PA\n"},
        melody_case{"sharp alone is C#", "8 #1", "152401", ""},
        melody_case{"name across a cell boundary", "8 D#E1", "12D501", ""},
        melody_case{"lower bound D#0 accepted, D0 refused", "8 D#0 D0", "25AA01",
                    "Line 1: Note D0 out of range\n"},
        melody_case{"upper bound A3 accepted, A#3 refused", "8 A3 A#3", "035401",
                    "Line 1: Note A#3 out of range\n"},
        melody_case{"octave 4 always out", "8 D#4", "", "Line 1: Note D#4 out of range\n"},
        melody_case{"name with nothing after it", "8 C", "", "Line 1: Note C-48 out of range\n"},
        melody_case{"Q is octave 1", "8 CQ", "166601", ""},
        melody_case{"S is octave bits 3, printed as 35", "8 BS", "",
                    "Line 1: Note B35 out of range\n"},
        melody_case{"high byte is unsigned", "8 A\x90", "1AA201", ""},
        melody_case{"high byte printed unsigned", "8 D\x90", "",
                    "Line 1: Note D96 out of range\n"},
        melody_case{"octave bits 31 give a negative frequency", "8 AO", "",
                    "Line 1: Note A31 out of range\n"},
        melody_case{"octave -1 has bits 31", "8 A/", "", "Line 1: Note A-1 out of range\n"},
        melody_case{"dot as octave", "8 A.5", "", "Line 1: Note A-2 out of range\n"}),
    readable_name<melody_case>);

INSTANTIATE_TEST_SUITE_P(
    durations, melodies,
    testing::Values(
        melody_case{"half", "2 A1.5", "0D5102", ""},
        melody_case{"five times", "2 A15", "0D5114", ""},
        melody_case{"trailing letters ignored", "2 A1X", "0D5104", ""},
        melody_case{"pause takes no octave", "2 P12", "000030", ""},
        melody_case{"pause with a fraction", "2 P.5", "000002", ""},
        melody_case{"second dot ends the number", "2 A11.2.3", "0D5105", ""},
        melody_case{"lone dot", "2 A1.", "", "Line 1: Invalid duration .\n"},
        melody_case{"zeros", "2 A100", "", "Line 1: Invalid duration 00\n"},
        melody_case{"zero with dots", "2 P0.0.", "", "Line 1: Invalid duration 0.0.\n"},
        melody_case{"rounds down to zero and is written", "2 A10.1", "0D5100", ""},
        melody_case{"product 255.5 refused", "8 P255.5", "", "Line 1: duration out of range\n"},
        melody_case{"product just below 255.5", "8 P255.49", "0000FF", ""},
        melody_case{"base 255 times 1.002 refused", "0.0314 P1.002", "",
                    "Line 1: duration out of range\n"},
        melody_case{"base 255 times 1.00196 is 255", "0.0314 P1.00196", "0000FF", ""},
        melody_case{"huge multiplier", "8 P" + std::string(70, '9'), "",
                    "Line 1: duration out of range\n"},
        melody_case{"many fraction digits, tiny but not zero",
                    "8 P0.00000000000000000000000000001", "000000", ""},
        melody_case{"below single precision", "8 P0." + std::string(49, '0') + "1", "",
                    "Line 1: Invalid duration 0." + std::string(49, '0') + "1\n"},
        melody_case{"same text twice uses the same value", "2 A1.5 B1.5", "0D5102" "0BE102", ""}),
    readable_name<melody_case>);

INSTANTIATE_TEST_SUITE_P(
    failures_keep_earlier_records, melodies,
    testing::Values(
        melody_case{"third note invalid", "2 A1 P H1 A1", "0D5104" "000004",
                    "Line 1: Invalid note \n"},
        melody_case{"message names the token's line", "2\nA1\n\n% c\nZ1\n", "0D5104",
                    "Line 5: Invalid note \n"},
        melody_case{"token too long", "2\nA1\n" + std::string(80, 'A'), "0D5104",
                    "Line 3: Token too long\n"},
        melody_case{"token of 79 bytes is fine", "2 A1" + std::string(77, 'X'), "0D5104", ""},
        melody_case{"newlines inside a comment count", "2 A1 %\n" + std::string(3, '\n') + "Z",
                    "0D5104", "Line 5: Invalid note \n"}),
    readable_name<melody_case>);

// Records of repeated tokens are reused; whatever the order and however
// many distinct tokens a melody holds, each record must still be the one
// the note rules give for its own token.
TEST(compile_melody_core, repeated_tokens_keep_their_own_records) {
  std::vector<std::string> tokens;
  const char *names[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
  const char *durations[] = {"", ".5", "2", "1.5", ".25", "3", "10", ".125", "1.0625", "7.5"};
  for (const char *name : names) {
    for (const char *octave : {"0", "1", "2", "3"}) {
      for (const char *duration : durations) {
        const note_outcome note = apply_note((std::string(name) + octave + duration).c_str(), 8);
        if (note.error == note_error::none) tokens.push_back(std::string(name) + octave + duration);
      }
    }
  }
  for (const char *duration : durations) tokens.push_back(std::string("P") + duration);
  ASSERT_GT(tokens.size(), 300u);

  std::mt19937 random(12345);
  std::string text = "1";
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    const std::string &token = tokens[random() % tokens.size()];
    text += (i % 13 == 0 ? "\n" : " ") + token;
    const note_outcome note = apply_note(token.c_str(), 8);
    expected.append(reinterpret_cast<const char *>(note.record.bytes), 3);
  }
  const auto outcome = compile(text);
  EXPECT_EQ(outcome.message, "");
  EXPECT_EQ(outcome.records, hex(expected));
}

TEST(tone_record, period_is_big_endian_then_duration) {
  const tone_record r = make_tone_record(0x1234, 0xAB);
  EXPECT_EQ(r.bytes[0], 0x12);
  EXPECT_EQ(r.bytes[1], 0x34);
  EXPECT_EQ(r.bytes[2], 0xAB);
}

TEST(compile_melody_core, write_error_at_flush_is_reported) {
  input_text in("2 A1 A2 A3");
  std::FILE *full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  melody_failure failure{};
  EXPECT_FALSE(compile_melody_core(in.file(), full, failure));
  EXPECT_STREQ(failure.message, "Error writing to output file\n");
  std::fclose(full);
}

TEST(compile_melody_core, write_error_mid_stream_is_reported) {
  // More records than a stdio buffer holds, so a write fails before the end.
  std::string text = "8";
  for (int i = 0; i < 20000; ++i) text += " A1";
  input_text in(text);
  std::FILE *full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  melody_failure failure{};
  EXPECT_FALSE(compile_melody_core(in.file(), full, failure));
  EXPECT_STREQ(failure.message, "Error writing to output file\n");
  std::fclose(full);
}

}  // namespace
