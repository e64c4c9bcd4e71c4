#include "token_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "memory_stream.h"

namespace {

// One token as the reader delivered it, with the line counter after the call.
struct read_step {
  std::string token;
  std::int64_t line;
};

std::vector<read_step> read_all(const std::string &text) {
  input_text in(text);
  std::vector<read_step> steps;
  char token[token_capacity];
  std::int64_t line = 1;
  for (;;) {
    const token_status status = read_token(in.file(), token, line);
    if (status != token_status::token) {
      EXPECT_EQ(status, token_status::end_of_input);
      EXPECT_STREQ(token, "");
      steps.push_back({"<end>", line});
      return steps;
    }
    steps.push_back({token, line});
  }
}

struct reader_case {
  const char *what;
  std::string text;
  std::vector<read_step> expected;
};

class reader_rules : public testing::TestWithParam<reader_case> {};

TEST_P(reader_rules, delivers_tokens_with_their_lines) {
  const auto &c = GetParam();
  const auto steps = read_all(c.text);
  ASSERT_EQ(steps.size(), c.expected.size()) << c.what;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    EXPECT_EQ(steps[i].token, c.expected[i].token) << c.what << " step " << i;
    EXPECT_EQ(steps[i].line, c.expected[i].line) << c.what << " step " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    tokens_and_lines, reader_rules,
    testing::Values(
        reader_case{"empty input", "", {{"<end>", 1}}},
        reader_case{"blank lines and comments", "\n  % x\n\t%y\n\n",
                    {{"<end>", 5}}},
        reader_case{"upper-cased", "a1 c#2.5", {{"A1", 1}, {"C#2.5", 1}, {"<end>", 1}}},
        reader_case{"comment after token, counter moves on the next call",
                    "4 % tempo\nA1\n",
                    {{"4", 1}, {"A1", 2}, {"<end>", 3}}},
        reader_case{"tabs on one line", "A1\t\tB2\tC3", {{"A1", 1}, {"B2", 1}, {"C3", 1}, {"<end>", 1}}},
        reader_case{"newline is pushed back", "A1\nB1\n\n",
                    {{"A1", 1}, {"B1", 2}, {"<end>", 4}}},
        reader_case{"token runs through a comment onto the next line",
                    "A%c\n1 B1", {{"A1", 2}, {"B1", 2}, {"<end>", 2}}},
        reader_case{"comment ends at its newline only",
                    "%a b\rc\vd\fe\nG2", {{"G2", 2}, {"<end>", 2}}},
        reader_case{"pending token delivered at end of input", "\n\nP", {{"P", 3}, {"<end>", 3}}},
        reader_case{"carriage return ends a token but not a line",
                    "A1\r\nB1\r\n", {{"A1", 1}, {"B1", 2}, {"<end>", 3}}},
        reader_case{"bytes above 0x7F kept unchanged",
                    "a\xe9\xff", {{"A\xe9\xff", 1}, {"<end>", 1}}}));

TEST(read_token, zero_byte_is_stored_and_ends_the_text) {
  input_text in(std::string("A\0B C", 5));
  char token[token_capacity];
  std::int64_t line = 1;
  ASSERT_EQ(read_token(in.file(), token, line), token_status::token);
  EXPECT_STREQ(token, "A");
  ASSERT_EQ(read_token(in.file(), token, line), token_status::token);
  EXPECT_STREQ(token, "C");
}

TEST(read_token, lone_zero_byte_is_a_token_with_empty_text) {
  input_text in(std::string("\0", 1));
  char token[token_capacity];
  std::int64_t line = 1;
  EXPECT_EQ(read_token(in.file(), token, line), token_status::token);
  EXPECT_STREQ(token, "");
}

TEST(read_token, token_of_79_bytes_fits_and_80_is_refused) {
  char token[token_capacity];
  std::int64_t line = 1;
  input_text fits(std::string(79, 'A') + "\n");
  EXPECT_EQ(read_token(fits.file(), token, line), token_status::token);
  EXPECT_EQ(std::string(token), std::string(79, 'A'));

  input_text too_long("\n\n" + std::string(80, 'b'));
  line = 1;
  EXPECT_EQ(read_token(too_long.file(), token, line), token_status::too_long);
  EXPECT_EQ(line, 3);
}

TEST(read_token, read_error_is_not_end_of_input) {
  std::FILE *directory = std::fopen("/", "r");
  ASSERT_NE(directory, nullptr);
  char token[token_capacity];
  std::int64_t line = 1;
  EXPECT_EQ(read_token(directory, token, line), token_status::read_error);
  std::fclose(directory);
}

}  // namespace
