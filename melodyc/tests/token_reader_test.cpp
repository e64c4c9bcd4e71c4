#include "token_reader.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "case_name.h"
#include "memory_stream.h"

namespace {

// A reader over an in-memory stream.
struct text_reader {
  explicit text_reader(std::string text) : in(std::move(text)) {
    start_token_input(*input, in.file());
  }
  token_status next(char (&token)[token_capacity], std::int64_t &line) {
    return read_token(*input, token, line);
  }
  input_text in;
  std::unique_ptr<token_input> input = std::make_unique<token_input>();
};

// One token as the reader delivered it, with the line counter after the call.
struct read_step {
  std::string token;
  std::int64_t line;
};

std::vector<read_step> read_all(const std::string &text) {
  text_reader in(text);
  std::vector<read_step> steps;
  char token[token_capacity];
  std::int64_t line = 1;
  for (;;) {
    const token_status status = in.next(token, line);
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

void PrintTo(const reader_case &c, std::ostream *os) { *os << c.what; }

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
                    "a\xe9\xff", {{"A\xe9\xff", 1}, {"<end>", 1}}}),
    readable_name<reader_case>);

// The input is read in blocks; nothing may change where a block ends.
std::string to_block_end(std::size_t before_end) {
  return std::string(token_input_capacity - before_end, ' ');
}

INSTANTIATE_TEST_SUITE_P(
    across_block_ends, reader_rules,
    testing::Values(
        reader_case{"token split by the block end", to_block_end(1) + "ab1 C",
                    {{"AB1", 1}, {"C", 1}, {"<end>", 1}}},
        reader_case{"token ends at the block end", to_block_end(2) + "A1 B2",
                    {{"A1", 1}, {"B2", 1}, {"<end>", 1}}},
        reader_case{"newline after a token opens the next block",
                    to_block_end(2) + "A1\nB1", {{"A1", 1}, {"B1", 2}, {"<end>", 2}}},
        reader_case{"comment through the block end joins the token",
                    "A%" + std::string(token_input_capacity, 'x') + "\n1",
                    {{"A1", 2}, {"<end>", 2}}},
        reader_case{"blank lines through two block ends",
                    std::string(2 * token_input_capacity + 5, '\n') + "P",
                    {{"P", 2 * token_input_capacity + 6}, {"<end>", 2 * token_input_capacity + 6}}}),
    readable_name<reader_case>);

TEST(read_token, remembers_where_each_token_began) {
  const std::string padding = to_block_end(3) + "\n";
  text_reader in("4\n  a1 B2\n\tC3%x\n4 D1\n" + padding + " E1");
  const struct {
    const char *token;
    std::int64_t line, column;
  } expected[] = {{"4", 1, 1}, {"A1", 2, 3}, {"B2", 2, 6}, {"C34", 3, 2},
                  {"D1", 4, 3}, {"E1", 6, 2}};
  char token[token_capacity];
  std::int64_t line = 1;
  for (const auto &e : expected) {
    ASSERT_EQ(in.next(token, line), token_status::token) << e.token;
    EXPECT_STREQ(token, e.token);
    EXPECT_EQ(in.input->token_line, e.line) << e.token;
    EXPECT_EQ(in.input->token_column, e.column) << e.token;
  }
}

TEST(read_token, zero_byte_is_stored_and_ends_the_text) {
  text_reader in(std::string("A\0B C", 5));
  char token[token_capacity];
  std::int64_t line = 1;
  ASSERT_EQ(in.next(token, line), token_status::token);
  EXPECT_STREQ(token, "A");
  ASSERT_EQ(in.next(token, line), token_status::token);
  EXPECT_STREQ(token, "C");
}

TEST(read_token, lone_zero_byte_is_a_token_with_empty_text) {
  text_reader in(std::string("\0", 1));
  char token[token_capacity];
  std::int64_t line = 1;
  EXPECT_EQ(in.next(token, line), token_status::token);
  EXPECT_STREQ(token, "");
}

TEST(read_token, token_of_79_bytes_fits_and_80_is_refused) {
  char token[token_capacity];
  std::int64_t line = 1;
  text_reader fits(std::string(79, 'A') + "\n");
  EXPECT_EQ(fits.next(token, line), token_status::token);
  EXPECT_EQ(std::string(token), std::string(79, 'A'));

  text_reader too_long("\n\n" + std::string(80, 'b'));
  line = 1;
  EXPECT_EQ(too_long.next(token, line), token_status::too_long);
  EXPECT_EQ(line, 3);
}

TEST(read_token, read_error_is_not_end_of_input) {
  std::FILE *directory = std::fopen("/", "r");
  ASSERT_NE(directory, nullptr);
  auto input = std::make_unique<token_input>();
  start_token_input(*input, directory);
  char token[token_capacity];
  std::int64_t line = 1;
  EXPECT_EQ(read_token(*input, token, line), token_status::read_error);
  EXPECT_EQ(read_token(*input, token, line), token_status::read_error);
  std::fclose(directory);
}

}  // namespace
