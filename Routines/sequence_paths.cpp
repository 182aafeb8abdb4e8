#include "sequence_paths.h"

#include <cstring>
#include <fstream>
#include <istream>
#include <string>

#include "refusal.h"

char** alloc_seqPath(int nbIm) {
  if (nbIm < 1) return new char*[0];
  char** fileIm = new char*[nbIm];
  for (int i = 0; i < nbIm; ++i) fileIm[i] = new char[kSeqPathSlot];
  return fileIm;
}

void free_seqPath(char** fileIm, int nbIm) {
  if (!fileIm) return;
  for (int i = 0; i < nbIm; ++i) delete[] fileIm[i];
  delete[] fileIm;
}

namespace {

[[noreturn]] void refuse_line(int number, const std::string& ifn1, const std::string& what) {
  refuse("Line " + std::to_string(number) + " of the list file " + ifn1 + " " + what + ".");
}

// Reads one line into line: at most kSeqPathSlot + 1 characters are taken
// (enough to tell a line that is too long, a carriage return included), the
// line feed is consumed and a carriage return before it removed. Returns
// false when the file has no further line.
bool read_bounded_line(std::istream& in, std::string& line, bool& too_long) {
  line.clear();
  too_long = false;
  int c = in.get();
  if (c == EOF) return false;
  for (; c != EOF && c != '\n'; c = in.get()) {
    if (line.size() > static_cast<std::size_t>(kSeqPathSlot)) {
      too_long = true;
      return true;
    }
    line.push_back(static_cast<char>(c));
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  too_long = line.size() >= static_cast<std::size_t>(kSeqPathSlot);
  return true;
}

}  // namespace

void read_path(std::string ifn1, int nbIm, char** fileIm) { read_path(ifn1, nbIm, fileIm, nbIm); }

void read_path(std::string ifn1, int nbIm, char** fileIm, int nbNeeded) {
  std::ifstream in(ifn1, std::ios::binary);
  if (!in) {
    refuse("Can't open the list file " + ifn1 + " !");
  }
  std::string line;
  for (int i = 0; i < nbIm; ++i) {
    bool too_long = false;
    if (!read_bounded_line(in, line, too_long)) {
      if (in.bad()) {
        refuse("Can't read the list file " + ifn1 + " !");
      }
      if (i < nbNeeded) {
        refuse("The list file " + ifn1 + " has " + std::to_string(i) + " line(s); " +
               std::to_string(nbNeeded) + " are needed.");
      }
      fileIm[i][0] = '\0';
      continue;
    }
    if (too_long)
      refuse_line(i + 1, ifn1,
                  "is longer than " + std::to_string(kSeqPathSlot - 1) + " characters");
    if (line.find('\0') != std::string::npos)
      refuse_line(i + 1, ifn1, "holds a NUL byte, which no path can hold");
    std::memcpy(fileIm[i], line.c_str(), line.size() + 1);
  }
}
