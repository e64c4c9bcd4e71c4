// The option table: every row's action is reached by its own spelling, an
// alias does what the listed row before it does, a hidden row does its
// own thing, a heading is no option, and only listed rows show in the
// help, under their headings.
#include "command_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(command_table, every_kind_of_row_reaches_its_action) {
  std::string ran;
  const auto mark = [&ran](const char *name) {
    return [&ran, name](const std::string &value) {
      ran += std::string(name) + "=" + value + ";";
      return std::string();
    };
  };
  const command_form form{.program = "prog",
                          .command = "cmd",
                          .synopsis = "[OPTIONS]",
                          .about = "About.\n",
                          .epilogue = "",
                          .options = {option_heading("Checks"), switch_option("strict", 0, "refuse", mark("strict")),
                                      hidden_option("approximate", nullptr, mark("approximate")),
                                      option_heading("Colours"), value_option("colors", 'c', "N", "how many", mark("colors")),
                                      alias_option("colours", "N"),
                                      hidden_option("old-name", "V", mark("old-name"))}};
  const struct {
    std::vector<const char *> words;
    const char *ran;
  } cases[] = {
      {{"--strict"}, "strict=;"},
      {{"--approximate"}, "approximate=;"},
      {{"--colors=8"}, "colors=8;"},
      {{"-c", "8"}, "colors=8;"},
      {{"--colours", "16"}, "colors=16;"},
      {{"--old-name=x"}, "old-name=x;"},
      {{"--approximate", "--strict"}, "approximate=;strict=;"},
  };
  for (const auto &c : cases) {
    ran.clear();
    std::vector<char *> argv{const_cast<char *>("prog")};
    for (const char *w : c.words) argv.push_back(const_cast<char *>(w));
    const parsed_command parsed = parse_command(form, static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(parsed.outcome, command_outcome::run) << c.words.front() << ": " << parsed.error;
    EXPECT_EQ(ran, c.ran) << c.words.front();
  }
  const std::string help = help_text(form);
  EXPECT_EQ(help, "Usage: prog cmd [OPTIONS]\nAbout.\n\nChecks:\n      --strict    refuse\n\nColours:\n"
                  "  -c, --colors=N  how many\n\nInformation:\n  -h, --help      show this help and exit\n");
  for (const char *kept_out : {"approximate", "colours", "old-name"}) {
    EXPECT_EQ(help.find(kept_out), std::string::npos) << kept_out << "\n" << help;
  }
}

}  // namespace
