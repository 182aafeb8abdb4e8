#include "sequence_paths.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <istream>
#include <string>

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
  std::fprintf(stderr, "Line %d of the list file %s %s.\n", number, ifn1.c_str(), what.c_str());
  std::exit(1);
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
    std::fprintf(stderr, "Can't open the list file %s !\n", ifn1.c_str());
    std::exit(1);
  }
  std::string line;
  for (int i = 0; i < nbIm; ++i) {
    bool too_long = false;
    if (!read_bounded_line(in, line, too_long)) {
      if (in.bad()) {
        std::fprintf(stderr, "Can't read the list file %s !\n", ifn1.c_str());
        std::exit(1);
      }
      if (i < nbNeeded) {
        std::fprintf(stderr, "The list file %s has %d line(s); %d are needed.\n", ifn1.c_str(), i,
                     nbNeeded);
        std::exit(1);
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
