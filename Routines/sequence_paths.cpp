#include "sequence_paths.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

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

void read_path(std::string ifn1, int nbIm, char** fileIm) {
  std::ifstream in(ifn1);
  if (!in) {
    std::fprintf(stderr, "Can't open the list file %s !\n", ifn1.c_str());
    std::exit(1);
  }
  std::string line;
  for (int i = 0; i < nbIm; ++i) {
    if (!std::getline(in, line)) {
      std::fprintf(stderr, "The list file %s has %d line(s); %d are needed.\n",
                   ifn1.c_str(), i, nbIm);
      std::exit(1);
    }
    if (line.size() >= static_cast<std::size_t>(kSeqPathSlot)) {
      std::fprintf(stderr, "Line %d of the list file %s is longer than %d characters.\n",
                   i + 1, ifn1.c_str(), kSeqPathSlot - 1);
      std::exit(1);
    }
    std::memcpy(fileIm[i], line.c_str(), line.size() + 1);
  }
}
