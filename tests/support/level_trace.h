// The levels of a run as its console shows them: per level its progress
// lines and the lines that say how it ended.
#ifndef VELMORA_TESTS_LEVEL_TRACE_H
#define VELMORA_TESTS_LEVEL_TRACE_H

#include <sstream>
#include <string>
#include <vector>

namespace velmora_test {

// One level of an estimated run as its console shows it.
struct LevelTrace {
  int resol = -1;
  std::vector<double> alphas;  // alpha of each progress line
  std::vector<double> sigmaD;  // sigma_d of each progress line
  int evidenceLines = 0;
  int noAlphaLines = 0, noBetaLines = 0;
  bool thirdStrike = false;
  int noAdoptionLines = 0;  // the level ended with no estimate adopted
};

inline bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

inline std::vector<LevelTrace> level_traces(const std::string& out) {
  std::vector<LevelTrace> levels;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Resolution: ", 0) == 0) {
      levels.emplace_back();
      levels.back().resol = std::stoi(line.substr(12));
    } else if (levels.empty()) {
      continue;
    } else if (line.find("alpha=") != std::string::npos &&
               line.find("sigma_d= ") != std::string::npos) {
      // A joint update may leave its figures at the start of the line.
      levels.back().alphas.push_back(std::stod(line.substr(line.find("alpha=") + 6)));
      levels.back().sigmaD.push_back(std::stod(line.substr(line.find("sigma_d= ") + 9)));
    } else if (ends_with(line, "(No alpha estimation)")) {
      ++levels.back().noAlphaLines;  // may follow a joint update's open line
    } else if (line == "(No beta estimation)") {
      ++levels.back().noBetaLines;
    } else if (line.rfind("-log evidence = ", 0) == 0) {
      ++levels.back().evidenceLines;
    } else if (line == "CONVERGENCE 3 ... ") {
      levels.back().thirdStrike = true;
    } else if (line == "No estimate adopted in 3 consecutive iterations: the level ends") {
      ++levels.back().noAdoptionLines;
    }
  }
  return levels;
}

}  // namespace velmora_test

#endif
