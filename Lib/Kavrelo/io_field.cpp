// Velocity-field files: text motion files and the compact two-byte format.
#include "io_field.h"

#include <algorithm>
#include <cerrno>
#include <cfenv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "output_file.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

// Renames a complete motion file to its name, or ends the program when it
// cannot be written completely (the name then keeps what it held before).
void close_motion_file(OutputFile& f, const char* nom) {
  if (!f.commit()) {
    std::printf("Can't write %s !", nom);
    std::exit(1);
  }
}

// The motion file nom, written under a temporary name until it is closed.
std::FILE* create_motion_file(OutputFile& f, const char* nom) {
  if (!f.ok()) {
    std::printf("Can't create %s !", nom);
    std::exit(1);
  }
  return f.stream();
}

// Decimal digits of q at out, most significant first; returns the end.
char* put_unsigned(char* out, std::uint64_t q) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + q % 10);
    q /= 10;
  } while (q != 0);
  while (n > 0) *out++ = digits[--n];
  return out;
}

// i as "%hd" writes it.
char* put_short(char* out, short i) {
  if (i < 0) *out++ = '-';
  return put_unsigned(out, static_cast<std::uint64_t>(i < 0 ? -static_cast<int>(i) : i));
}

// v widened to double as "%f" writes it: sign, integer part, '.', six
// decimals, rounded to nearest with ties to even (printf's rounding of the
// exact binary value). A float times 1e6 is exact in double (a 24-bit
// mantissa times 15625 * 2^6), so rounding that product to an integer
// gives the six decimals. Values whose product passes 2^63, and infinities
// and NaNs, go through snprintf (at most 48 characters for a float); with
// `exact` false every value does.
char* put_fixed6(char* out, float v, bool exact) {
  const double d = v;
  const double scaled = std::fabs(d * 1e6);
  if (!exact || !(scaled < 9223372036854775808.0)) return out + std::snprintf(out, 64, "%f", d);
  const std::uint64_t q = static_cast<std::uint64_t>(std::nearbyint(scaled));
  if (std::signbit(d)) *out++ = '-';
  out = put_unsigned(out, q / 1000000);
  *out++ = '.';
  std::uint64_t frac = q % 1000000;
  for (int k = 5; k >= 0; --k) {
    out[k] = static_cast<char>('0' + frac % 10);
    frac /= 10;
  }
  return out + 6;
}

// Two-byte code of v: f = v + 1 (v >= 0) or v - 1 (v < 0); byte 0 is the
// integer part of f modulo 256 (read back as a signed byte), byte 1 the
// fraction of f in steps of 1/200. Non-finite values are coded as 0.
void encode(float v, unsigned char* out) {
  if (!std::isfinite(v)) v = 0.0f;
  const float f = v >= 0.0f ? v + 1.0f : v - 1.0f;
  const float whole = std::trunc(f);
  // fmod of an integral value is exact and lies in (-256, 256).
  const int wrapped = static_cast<int>(std::fmod(static_cast<double>(whole), 256.0));
  // The fraction times 200 in double: exact, so a fraction just below a
  // step of 1/200 is never rounded up to it.
  int fraction = static_cast<int>(std::fabs(static_cast<double>(f) - whole) * 200.0);
  if (fraction > 199) fraction = 199;
  out[0] = static_cast<unsigned char>(wrapped);  // modulo 256
  out[1] = static_cast<unsigned char>(fraction);
}

// Inverse of encode: p = byte 0 as signed, q = byte 1 as unsigned;
// v = p - 1 + q / 200 for p >= 0, p + 1 - q / 200 for p < 0.
float decode(unsigned char b0, unsigned char b1) {
  const int p = b0 < 128 ? b0 : b0 - 256;
  const double q = b1;
  return static_cast<float>(p >= 0 ? p - 1 + 0.005 * q : p + 1 - 0.005 * q);
}

// Reads up to n bytes, stopping at the end of the file; returns the count.
std::size_t read_up_to(int fd, unsigned char* data, std::size_t n) {
  std::size_t got = 0;
  while (got < n) {
    const ssize_t r = ::read(fd, data + got, n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<std::size_t>(r);
  }
  return got;
}

// Zero-filled byte buffer of n bytes; false (with errno set) when it cannot be had.
bool make_buffer(std::vector<unsigned char>& buffer, long long n) {
  if (n < 0) {
    errno = EINVAL;
    return false;
  }
  try {
    buffer.assign(static_cast<std::size_t>(n), 0);
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return false;
  }
  return true;
}

}  // namespace

void write_champ(const float* U, const float* V, short nb_col, short nb_lig, const char* nom) {
  OutputFile out(nom);
  std::FILE* f = create_motion_file(out, nom);
  std::fprintf(f, "%hd %hd\n", nb_col, nb_lig);
  std::fprintf(f, "#i\tj\tU\tV\n");
  // The lines "%hd\t%hd\t%f\t%f\n", formatted here and written in blocks.
  // The fast formatting rounds as printf does in the default rounding mode.
  const bool exact = std::fegetround() == FE_TONEAREST;
  // A block is written once it holds kBlock characters; a line adds at most
  // 2 x 6 + 2 x 48 + 4 (a float's "%f" has at most 39 integer digits), and
  // snprintf may write up to 64 bytes where a number starts.
  constexpr std::size_t kBlock = 1 << 16, kLongestLine = 256;
  std::vector<char> block(kBlock + kLongestLine);
  char* const start = block.data();
  char* pos = start;
  for (short i = 0; i < nb_lig; ++i)
    for (short j = 0; j < nb_col; ++j) {
      const std::size_t k = static_cast<std::size_t>(i) * nb_col + j;
      pos = put_short(pos, i);
      *pos++ = '\t';
      pos = put_short(pos, j);
      *pos++ = '\t';
      pos = put_fixed6(pos, U[k], exact);
      *pos++ = '\t';
      pos = put_fixed6(pos, V[k], exact);
      *pos++ = '\n';
      if (static_cast<std::size_t>(pos - start) >= kBlock) {
        std::fwrite(start, 1, static_cast<std::size_t>(pos - start), f);
        pos = start;
      }
    }
  std::fwrite(start, 1, static_cast<std::size_t>(pos - start), f);
  close_motion_file(out, nom);
}

void write_champ_im(const float* U, const float* V, const float* Im, short nb_col, short nb_lig,
                    const char* nom) {
  OutputFile out(nom);
  std::FILE* f = create_motion_file(out, nom);
  std::fprintf(f, "%hd %hd\n", nb_col, nb_lig);
  std::fprintf(f, "#i\tj\tU\tV\tf\n");
  for (short i = 0; i < nb_lig; ++i)
    for (short j = 0; j < nb_col; ++j) {
      const std::size_t k = static_cast<std::size_t>(i) * nb_col + j;
      std::fprintf(f, "%hd\t%hd\t%f\t%f\t%f\n", i, j, static_cast<double>(U[k]),
                   static_cast<double>(V[k]), static_cast<double>(Im[k]));
    }
  close_motion_file(out, nom);
}

void write_field(const char* name_field, const float* ima_u, const float* ima_v, short nbcol,
                 short nblig, short* error) {
  const long long n = static_cast<long long>(nbcol) * nblig;
  if (nbcol < 0 || nblig < 0) {
    errno = EINVAL;
    std::perror("allocation");
    *error = 2;
    return;
  }
  OutputFile out(name_field, 0644);
  if (!out.ok()) {
    std::perror("fichier vecteurs");
    *error = 1;
    return;
  }
  std::vector<unsigned char> buffer;
  if (!make_buffer(buffer, 2 * n)) {
    std::perror("allocation");
    *error = 2;
    return;
  }
  const unsigned char header[4] = {
      static_cast<unsigned char>(nblig / 256), static_cast<unsigned char>(nblig % 256),
      static_cast<unsigned char>(nbcol / 256), static_cast<unsigned char>(nbcol % 256)};
  std::fwrite(header, 1, 4, out.stream());
  for (const float* plane : {ima_u, ima_v}) {
    for (long long k = 0; k < n; ++k) encode(plane[k], &buffer[2 * k]);
    std::fwrite(buffer.data(), 1, buffer.size(), out.stream());
  }
  if (!out.commit()) {
    std::perror("fichier vecteurs");
    *error = 1;
    return;
  }
  *error = 0;
}

void read_entete_field(const char* name_field, short* nbcol, short* nblig, short* error) {
  const int fd = ::open(name_field, O_RDONLY);
  if (fd < 0) {
    std::perror("fichier vect.");
    *error = 1;
    return;
  }
  unsigned char header[4];
  const std::size_t got = read_up_to(fd, header, 4);
  ::close(fd);
  if (got < 4) {
    errno = ENODATA;
    std::perror("fichier vect.");
    *error = 1;
    return;
  }
  *nblig = static_cast<short>(header[0] * 256 + header[1]);
  *nbcol = static_cast<short>(header[2] * 256 + header[3]);
  *error = 0;
}

void read_field(const char* name_field, float* field_u, float* field_v, short col, short lig,
                short* error) {
  const int fd = ::open(name_field, O_RDONLY);
  if (fd < 0) {
    std::perror("fichier");
    *error = 1;
    return;
  }
  unsigned char header[4];
  read_up_to(fd, header, 4);
  std::vector<unsigned char> buffer;
  const long long n = static_cast<long long>(col) * lig;
  if (!make_buffer(buffer, col < 0 || lig < 0 ? -1 : 2 * n)) {
    std::perror("allocation");
    ::close(fd);
    *error = 2;
    return;
  }
  for (float* plane : {field_u, field_v}) {
    std::fill(buffer.begin(), buffer.end(), 0);
    const std::size_t got = read_up_to(fd, buffer.data(), buffer.size());
    for (long long k = 0; k < n; ++k) {
      const bool present = static_cast<std::size_t>(2 * k + 1) < got;
      plane[k] = present ? decode(buffer[2 * k], buffer[2 * k + 1]) : 0.0f;
    }
  }
  ::close(fd);
  *error = 0;
}
