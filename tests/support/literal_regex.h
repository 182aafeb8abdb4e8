// A regular expression that matches a text literally, for the death tests.
#ifndef VELMORA_TESTS_LITERAL_REGEX_H
#define VELMORA_TESTS_LITERAL_REGEX_H

#include <string>

namespace velmora_test {

// text with every character that POSIX extended expressions (those of the
// death tests) treat specially escaped.
inline std::string literal_regex(const std::string& text) {
  std::string r;
  for (char c : text) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) r += '\\';
    r += c;
  }
  return r;
}

}  // namespace velmora_test

#endif
