// Every way the sparse library ends the process: the message, the stream it
// goes to and the exit status, as one table of death tests; and the
// assertion of vector element access.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <ostream>
#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "comprow_double.h"
#include "literal_regex.h"
#include "ilupre_double.h"
#include "mvblasd.h"
#include "mvvd.h"
#include "mvvi.h"
#include "spblas.h"

// Under the sanitizer build a failed allocation must come back as a null
// pointer (as it does without the sanitizer) so that the library's own
// message is reached; requests above 1 GiB fail there.
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}

namespace {

enum class Stream { Out, Err };

// Runs f with only the named stream reaching the death test's capture (the
// other goes to /dev/null), so the expected text proves the stream.
void onlyStream(Stream s, const std::function<void()>& f) {
  const int nul = open("/dev/null", O_WRONLY);
  if (s == Stream::Out) {
    dup2(2, 1);
    dup2(nul, 2);
  } else {
    dup2(nul, 1);
  }
  f();
}

// Makes allocations of more than 1 GiB fail: by the address-space limit,
// or under the sanitizer (which reserves a huge address space of its own)
// by its allocation limit above.
void limitAddressSpace() {
#if defined(__SANITIZE_ADDRESS__)
  return;
#endif
  rlimit lim{};
  lim.rlim_cur = lim.rlim_max = static_cast<rlim_t>(1) << 30;
  setrlimit(RLIMIT_AS, &lim);
}

struct ExitCase {
  const char* name;
  Stream stream;
  std::string message;
  std::function<void()> run;
};

double gBuf[8] = {1, 2, 3, 4, 5, 6, 7, 8};
float gBufF[8] = {1, 2, 3, 4, 5, 6, 7, 8};
const int kPtr[3] = {0, 1, 2};
const int kInd[2] = {0, 1};

// dcsrsm_ on the 2 x 2 identity pattern with the given descriptor, scalars.
void solveWith(int transa, int d1, int d2, double beta, int unitd = 1) {
  const int descra[3] = {0, d1, d2};
  double y[2];
  dcsrsm_(transa, 2, 1, unitd, nullptr, 1.0, descra, gBuf, kInd, kPtr, gBuf, 2, beta, y + 1, 2,
          nullptr, 2);
}

CompRow_Mat_double twoByTwo() {
  double val[2] = {2.0, 3.0};
  int rp[3] = {0, 1, 2};
  int ci[2] = {0, 1};
  return CompRow_Mat_double(2, 2, 2, val, rp, ci, 0);
}

std::vector<ExitCase> exitCases() {
  const std::string oom = "       Most likely out of memory... \n";
  std::vector<ExitCase> cases = {
      // Vectors: allocation failures (a negative size takes the same path).
      {"double(int) negative", Stream::Err,
       "Error: NULL pointer in MV_Vector_double(int) constructor \n" + oom,
       [] { MV_Vector_double v(-1); }},
      {"double(int, v) negative", Stream::Err,
       "Error: NULL pointer in MV_Vector_double(int) constructor \n" + oom,
       [] { MV_Vector_double v(-3, 1.0); }},
      {"double(int) out of memory", Stream::Err,
       "Error: NULL pointer in MV_Vector_double(int) constructor \n" + oom,
       [] { limitAddressSpace(); MV_Vector_double v(INT_MAX); }},
      {"int(int) negative", Stream::Err,
       "Error: NULL pointer in MV_Vector_int(int) constructor \n" + oom,
       [] { MV_Vector_int v(-1); }},
      {"int(int, v) out of memory", Stream::Err,
       "Error: NULL pointer in MV_Vector_int(int) constructor \n" + oom,
       [] { limitAddressSpace(); MV_Vector_int v(INT_MAX, 0); }},
      {"double copy out of memory", Stream::Err,
       "Error:  Null pointer in MV_Vector_double(const MV_Vector&); \n",
       [] {
         MV_Vector_double huge(gBuf, INT_MAX, MV_Vector_::ref);  // never read
         limitAddressSpace();
         MV_Vector_double copy(huge);
       }},
      {"int copy out of memory", Stream::Err,
       "Error:  Null pointer in MV_Vector_int(const MV_Vector&); \n",
       [] {
         int buf[1] = {0};
         MV_Vector_int huge(buf, INT_MAX, MV_Vector_::ref);
         limitAddressSpace();
         MV_Vector_int copy(huge);
       }},
      {"double(double*, int)", Stream::Err, "Error: Null pointer in MV_Vector_double(double*, int) \n",
       [] { MV_Vector_double v(gBuf, -1); }},
      {"double(const double*, int)", Stream::Err,
       "Error: Null pointer in MV_Vector_double(double*, int) \n",
       [] { const double* p = gBuf; limitAddressSpace(); MV_Vector_double v(p, INT_MAX); }},
      {"int(int*, int)", Stream::Err, "Error: Null pointer in MV_Vector_int(int*, int) \n",
       [] { int buf[1] = {0}; MV_Vector_int v(buf, -2); }},
      {"newsize on a view", Stream::Err, "MV_Vector::newsize can't operator on references.\n",
       [] { MV_Vector_double v(gBuf, 4, MV_Vector_::ref); v.newsize(5); }},
      {"newsize int on a view", Stream::Err, "MV_Vector::newsize can't operator on references.\n",
       [] { int buf[2] = {0, 0}; MV_Vector_int v(buf, 2, MV_Vector_::ref); v.newsize(1); }},
      {"newsize out of memory", Stream::Err, "Error : NULL pointer in operator= \n",
       [] { MV_Vector_double v(2); v.newsize(-1); }},
      {"assignment out of memory", Stream::Err, "Error : NULL pointer in operator= \n",
       [] {
         MV_Vector_double huge(gBuf, INT_MAX, MV_Vector_::ref);
         MV_Vector_double v(2);
         limitAddressSpace();
         v = huge;
       }},
      {"view assignment of another size", Stream::Err,
       "MV_VectorRef::operator=  non-conformant assignment.\n",
       [] {
         double raw[4];
         MV_Vector_double view(raw, 4, MV_Vector_::ref);
         view = MV_Vector_double(3, 0.0);
       }},
      {"int view assignment of another size", Stream::Err,
       "MV_VectorRef::operator=  non-conformant assignment.\n",
       [] {
         int raw[2];
         MV_Vector_int view(raw, 2, MV_Vector_::ref);
         view = MV_Vector_int(3, 0);
       }},
      {"range end at dim", Stream::Err, "MV_VecIndex: (1:5) too big for matrix (0:4) \n",
       [] { MV_Vector_double v(5, 0.0); v(MV_VecIndex(1, 5)); }},
      {"const range end past dim", Stream::Err, "MV_VecIndex: (0:9) too big for matrix (0:2) \n",
       [] { const MV_Vector_int v(3, 0); v(MV_VecIndex(0, 9)); }},
      {"range with negative start", Stream::Err, "MV_VecIndex: (-1:2) too big for matrix (0:4) \n",
       [] { MV_Vector_double v(5, 0.0); v(MV_VecIndex(-1, 2)); }},
      // Vector arithmetic: size checks on standard output.
      {"operator+", Stream::Out, "Incompatible vector lengths in +.\n",
       [] { MV_Vector_double a(3, 0.0), b(4, 0.0); a + b; }},
      {"operator+=", Stream::Out, "Incompatible vector lengths in +.\n",
       [] { MV_Vector_double a(3, 0.0), b(4, 0.0); a += b; }},
      {"operator-", Stream::Out, "Incompatible vector lengths in -.\n",
       [] { MV_Vector_double a(3, 0.0), b(4, 0.0); a - b; }},
      {"operator-=", Stream::Out, "Incompatible vector lengths in -.\n",
       [] { MV_Vector_double a(3, 0.0), b(4, 0.0); a -= b; }},
      {"dot", Stream::Out, "Incompatible dimensions in dot(). \n",
       [] { MV_Vector_double a(3, 0.0), b(4, 0.0); dot(a, b); }},
      // Compressed-row matrix.
      {"A x of the wrong size", Stream::Err, "Error in CompCol Matvec -- incompatible dimensions.\n",
       [] { twoByTwo() * MV_Vector_double(3, 1.0); }},
      {"A^T x of the wrong size", Stream::Err,
       "Error in CompCol Matvec -- incompatible dimensions.\n",
       [] { twoByTwo().trans_mult(MV_Vector_double(1, 1.0)); }},
      {"set outside the structure", Stream::Err,
       "Array element (1,0) not in sparse structure -- cannot assign.\n",
       [] { twoByTwo().set(1, 0) = 1.0; }},
      // Products: the descriptor must describe a general matrix.
      {"dcsrmm_", Stream::Err, "Must have general matrix\n",
       [] {
         const int d[3] = {1, 0, 0};
         double c[2];
         dcsrmm_(0, 2, 1, 2, 1.0, d, gBuf, kInd, kPtr, gBuf + 1, 2, 0.0, c, 2, nullptr, 0);
       }},
      {"dcscmm_", Stream::Err, "Must have general matrix\n",
       [] {
         const int d[3] = {2, 0, 0};
         double c[2];
         dcscmm_(0, 2, 1, 2, 1.0, d, gBuf, kInd, kPtr, gBuf + 1, 2, 0.0, c, 2, nullptr, 0);
       }},
      {"dcoomm_", Stream::Err, "Must have general matrix\n",
       [] {
         const int d[3] = {1, 0, 0};
         double c[2];
         dcoomm_(0, 2, 1, 2, 1.0, d, gBuf, kPtr + 1, kPtr + 1, 2, gBuf, 2, 0.0, c, 2, nullptr, 0);
       }},
      {"scsrmm_", Stream::Err, "Must have general matrix\n",
       [] {
         const int d[3] = {1, 0, 0};
         float c[2];
         scsrmm_(0, 2, 1, 2, 1.0f, d, gBufF, kInd, kPtr, gBufF + 1, 2, 0.0f, c, 2, nullptr, 0);
       }},
      {"scscmm_", Stream::Err, "Must have general matrix\n",
       [] {
         const int d[3] = {1, 0, 0};
         float c[2];
         scscmm_(0, 2, 1, 2, 1.0f, d, gBufF, kInd, kPtr, gBufF + 1, 2, 0.0f, c, 2, nullptr, 0);
       }},
      {"scoomm_", Stream::Err, "Must have general matrix\n",
       [] {
         const int d[3] = {1, 0, 0};
         float c[2];
         scoomm_(0, 2, 1, 2, 1.0f, d, gBufF, kPtr + 1, kPtr + 1, 2, gBufF, 2, 0.0f, c, 2,
                 nullptr, 0);
       }},
      // Triangular solves: descriptor, beta, transa, unitd.
      {"dcsrsm_ not general", Stream::Err, "Must have general matrix\n",
       [] {
         const int d[3] = {3, 1, 1};
         double y[2];
         dcsrsm_(0, 2, 1, 1, nullptr, 1.0, d, gBuf, kInd, kPtr, gBuf, 2, 0.0, y + 1, 2, nullptr, 2);
       }},
      {"dcscsm_ not general", Stream::Err, "Must have general matrix\n",
       [] {
         const int d[3] = {3, 1, 1};
         double y[2];
         dcscsm_(0, 2, 1, 1, nullptr, 1.0, d, gBuf, kInd, kPtr, gBuf, 2, 0.0, y + 1, 2, nullptr, 2);
       }},
      {"scsrsm_ not general", Stream::Err, "Must have general matrix\n",
       [] {
         const int d[3] = {3, 1, 1};
         float y[2];
         scsrsm_(0, 2, 1, 1, nullptr, 1.0f, d, gBufF, kInd, kPtr, gBufF, 2, 0.0f, y + 1, 2,
                 nullptr, 2);
       }},
      {"scscsm_ beta 1", Stream::Err, "beta != 0 not implemented\n",
       [] {
         const int d[3] = {0, 1, 1};
         float y[2];
         scscsm_(0, 2, 1, 1, nullptr, 1.0f, d, gBufF, kInd, kPtr, gBufF, 2, 1.0f, y + 1, 2,
                 nullptr, 2);
       }},
      {"beta 1", Stream::Err, "beta != 0 not implemented\n", [] { solveWith(0, 1, 1, 1.0); }},
      {"transa 3", Stream::Err, "Bad transa\n", [] { solveWith(3, 1, 1, 0.0); }},
      {"descra[1] 3, transa 0", Stream::Err, "Bad descra[1]\n", [] { solveWith(0, 3, 0, 0.0); }},
      {"descra[1] 3, transa 1", Stream::Err, "Bad descra[1]\n", [] { solveWith(1, 3, 0, 0.0); }},
      {"descra[2] 2", Stream::Err, "Bad descra[2]\n", [] { solveWith(0, 2, 2, 0.0); }},
      {"unitd 0", Stream::Err, "unitd != 1 not implemented\n", [] { solveWith(1, 2, 0, 0.0, 0); }},
      {"unitd 2 in a kernel", Stream::Err, "unitd != 1 not implemented\n",
       [] {
         float y[2];
         CompCol_UpperDiagSolve_float(2, 1, 2, nullptr, 1.0f, gBufF, kInd, kPtr, gBufF, 2, y + 1, 2);
       }},
  };
  return cases;
}

void PrintTo(const ExitCase& c, std::ostream* os) { *os << c.name; }

class SparseExitsDeathTest : public ::testing::TestWithParam<ExitCase> {};

TEST_P(SparseExitsDeathTest, MessageStreamAndStatus) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const ExitCase& c = GetParam();
  EXPECT_EXIT(onlyStream(c.stream, c.run), ::testing::ExitedWithCode(1),
              velmora_test::literal_regex(c.message));
}

std::string caseName(const ::testing::TestParamInfo<ExitCase>& info) {
  std::string name;
  for (const char* p = info.param.name; *p; ++p)
    name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
  return name + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Table, SparseExitsDeathTest, ::testing::ValuesIn(exitCases()), caseName);

TEST(SparseAssertionDeathTest, ElementAccessPastTheEndAsserts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  MV_Vector_double v(3, 0.0);
  const MV_Vector_double& cv = v;
  MV_Vector_int w(2, 0);
  EXPECT_EXIT(v(3) = 1.0, ::testing::KilledBySignal(SIGABRT),
              "mvvd\\.h.*double& MV_Vector_double::operator\\(\\)\\(int\\).*i < dim_");
  EXPECT_EXIT((void)cv(3), ::testing::KilledBySignal(SIGABRT), "mvvd\\.h.*i < dim_");
  EXPECT_EXIT(v[4] = 1.0, ::testing::KilledBySignal(SIGABRT), "i < dim_");
  EXPECT_EXIT(w(2) = 1, ::testing::KilledBySignal(SIGABRT),
              "mvvi\\.h.*MV_Vector_int::operator\\(\\)\\(int\\).*i < dim_");
  // A row index of dim(0) reaches the row starts past their end.
  EXPECT_EXIT((void)twoByTwo()(2, 0), ::testing::KilledBySignal(SIGABRT), "i < dim_");
}

// The ILU(0) build reads A's rows through raw pointers once it has checked
// the first and last entry of each: row starts past the stored entries, in
// the middle or at the end of a row, still end in the assertion.
TEST(SparseAssertionDeathTest, FactoringRowsOutsideTheArraysAsserts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  double val[3] = {4.0, 1.0, 3.0};
  int col[3] = {0, 1, 1};
  for (std::vector<int> starts : {std::vector<int>{0, 2, 4}, std::vector<int>{0, 5, 5},
                                  std::vector<int>{0, 4, 4}}) {
    const CompRow_Mat_double A(2, 2, 3, val, starts.data(), col, 0);
    EXPECT_EXIT(CompRow_ILUPreconditioner_double{A}, ::testing::KilledBySignal(SIGABRT),
                "i < dim_");
  }
  int good[3] = {0, 2, 3};
  const CompRow_ILUPreconditioner_double M(CompRow_Mat_double(2, 2, 3, val, good, col, 0));
  EXPECT_DOUBLE_EQ(M.upper().val[2], 3.0 - 0.0);  // row 1 has no L entry
}

}  // namespace
