// Names for parameterised test cases made from their own description, so
// that each case has a readable name that stays the same from build to
// build (and ctest lists no memory dumps).
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

template <typename Case>
std::string readable_name(const testing::TestParamInfo<Case> &info) {
  std::string name = info.param.what;
  for (char &c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}
