// Readers of outside data: the initial velocity field and binary PGM images.
#include "readers.h"

#include "image_utils.h"
#include "refusal.h"

#include <CImg.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

using cimg_library::CImg;

namespace {

std::string window_text(int dx, int dy, int ofx, int ofy) {
  return "the window of " + std::to_string(dx) + " x " + std::to_string(dy) +
         " pixels at column " + std::to_string(ofx) + ", row " + std::to_string(ofy);
}

// True when [of, of + d) lies inside [0, size).
bool inside(int of, int d, long long size) {
  return of >= 0 && d >= 0 && static_cast<long long>(of) + d <= size;
}

// One field line "i j u v": two integers, which are not used, then the two
// velocity components; white space around and between them.
bool field_line(const std::string& line, float* u, float* v) {
  const char* c = line.c_str();
  for (int k = 0; k < 2; ++k) {
    char* end = nullptr;
    std::strtol(c, &end, 10);
    if (end == c) return false;
    c = end;
  }
  char* end = nullptr;
  *u = std::strtof(c, &end);
  if (end == c) return false;
  c = end;
  *v = std::strtof(c, &end);
  if (end == c) return false;
  for (c = end; *c; ++c)
    if (!std::isspace(static_cast<unsigned char>(*c))) return false;
  return true;
}

bool usable_velocity(float w) { return std::isfinite(w) && std::fabs(w) <= kMaxVelocity; }

bool is_space(unsigned char c) { return c == ' ' || (c >= 9 && c <= 13); }

// Header reader over the bytes of a PGM file.
struct Cursor {
  const std::vector<unsigned char>& bytes;
  std::size_t pos = 0;

  bool at_end() const { return pos >= bytes.size(); }

  // Skips one text line of at most 999 characters (including its line end).
  void skip_line() {
    for (std::size_t n = 0; n < 999 && !at_end(); ++n)
      if (bytes[pos++] == '\n') return;
  }

  // Decimal integer after optional white space, within [lo, hi].
  bool integer(long lo, long hi, long* value) {
    while (!at_end() && is_space(bytes[pos])) ++pos;
    bool negative = false;
    if (!at_end() && (bytes[pos] == '-' || bytes[pos] == '+')) negative = bytes[pos++] == '-';
    long v = 0;
    std::size_t digits = 0;
    for (; !at_end() && bytes[pos] >= '0' && bytes[pos] <= '9'; ++pos, ++digits) {
      v = 10 * v + (bytes[pos] - '0');
      if (v > 99999999) return false;
    }
    if (negative) v = -v;
    if (digits == 0 || v < lo || v > hi) return false;
    *value = v;
    return true;
  }
};

}  // namespace

CImg<float> read_aUVFile(const char* filename, int dx, int dy, int Dx, int Dy, int ofx, int ofy) {
  std::ifstream in(filename);
  if (!in) refuse(std::string("Can't open ") + filename + " for reading");
  std::cout << filename << std::endl;
  if (Dx < 0 || Dy < 0 || !inside(ofx, dx, Dx) || !inside(ofy, dy, Dy))
    refuse(std::string(filename) + ": " + window_text(dx, dy, ofx, ofy) +
           " reaches past the stored field of " + std::to_string(Dx) + " x " + std::to_string(Dy));

  // The file runs column after column with its rows upwards: line (x, y)
  // holds the field at column x, row Dy - 1 - y, and its v points up.
  CImg<float> result(dx, dy, 2, 1, 0.0f);
  std::string line;
  long long number = 0;
  const auto where = [&]() { return std::string(filename) + ", line " + std::to_string(number); };
  for (int x = 0; x < Dx; ++x)
    for (int y = 0; y < Dy; ++y) {
      ++number;
      float u = 0.0f, v = 0.0f;
      if (!std::getline(in, line) || !field_line(line, &u, &v))
        refuse(where() + ": expected \"i j u v\"");
      if (!usable_velocity(u) || !usable_velocity(v))
        refuse(where() + ": the velocity (" + line + ") must be finite, of magnitude at most " +
               std::to_string(static_cast<int>(kMaxVelocity)));
      const int row = Dy - 1 - y;
      if (x >= ofx && x < ofx + dx && row >= ofy && row < ofy + dy) {
        result(x - ofx, row - ofy, 0) = u;
        result(x - ofx, row - ofy, 1) = -v;
      }
    }
  // A field of another size would be taken blindly.
  while (std::getline(in, line)) {
    ++number;
    if (line.find_first_not_of(" \t\r\f\v") != std::string::npos)
      refuse(where() + ": the file holds more than the " + std::to_string(Dx) + " x " +
             std::to_string(Dy) + " = " + std::to_string(static_cast<long long>(Dx) * Dy) +
             " lines of the field");
  }
  return result;
}

CImg<short> read_pgm(const char* nom, int dx, int dy, int ofx, int ofy) {
  std::ifstream in(nom, std::ios::binary);
  if (!in) refuse(std::string("Can't open ") + nom + " for reading");
  const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());

  // Magic line (not checked), comment lines, then "width height maxval" and
  // exactly one white-space byte before the raster.
  Cursor cursor{bytes};
  cursor.skip_line();
  while (!cursor.at_end() && bytes[cursor.pos] == '#') cursor.skip_line();
  long nb_col = 0, nb_lig = 0, def = 0;
  if (!cursor.integer(0, kMaxImageSide, &nb_col) ||
      !cursor.integer(0, kMaxImageSide, &nb_lig) ||
      !cursor.integer(-2147483647L, 2147483647L, &def) ||
      (!cursor.at_end() && !is_space(bytes[cursor.pos++])))
    refuse(std::string(nom) +
           ": malformed PGM header (expected \"width height maxval\", sizes up to " +
           std::to_string(kMaxImageSide) + ")");

  int bytes_per_sample = 0;
  if (def == 255) bytes_per_sample = 1;
  else if (def == 1023) bytes_per_sample = 2;
  else {
    std::printf("Can't read images %s Brastemok problem def=%d (255 ou 1023)!", nom,
                static_cast<int>(def));
    std::exit(1);
  }
  if (!inside(ofx, dx, nb_col) || !inside(ofy, dy, nb_lig))
    refuse(std::string(nom) + ": " + window_text(dx, dy, ofx, ofy) + " lies outside the " +
           std::to_string(nb_col) + " x " + std::to_string(nb_lig) + " image");

  // Samples past the end of a short raster read as 0.
  const unsigned char* raster = bytes.data() + cursor.pos;
  const std::size_t available = bytes.size() - cursor.pos;
  CImg<short> result(dx, dy, 1, 1, 0);
  for (int y = 0; y < dy; ++y)
    for (int x = 0; x < dx; ++x) {
      const std::size_t k = static_cast<std::size_t>(ofy + y) * nb_col + ofx + x;
      if ((k + 1) * bytes_per_sample > available) continue;
      if (bytes_per_sample == 1) {
        result(x, y) = raster[k];
      } else {
        std::int16_t sample;  // native byte order
        std::memcpy(&sample, raster + 2 * k, 2);
        result(x, y) = sample;
      }
    }
  return result;
}
