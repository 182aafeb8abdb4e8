// Level solve, sparse solve and ILU log-determinant: residual of the solve
// against the dense Hessian, zero and failing right-hand sides, the image
// numbering of the solution, the solution against the CGS template bit for
// bit, and ln|det| on tridiagonal systems.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "CImg.h"
#include "cgs.h"
#include "cgs_ilu.h"
#include "comprow_double.h"
#include "dense_reference.h"
#include "hessian_assembly.h"
#include "hs_level.h"
#include "ilupre_double.h"
#include "level_solve.h"
#include "mvblasd.h"
#include "mvvd.h"
#include "operators.h"

using cimg_library::CImg;
using cimg_library::CImgList;
using hs_test::Level;
using hs_test::assemble;
using hs_test::toDense;

namespace {

// Linearisation point, temporal difference and the level solve inputs.
struct LevelProblem {
  Level lv;
  CImg<double> uvTil, it;
  LevelProblem(int nc, int nl, unsigned seed) : lv(nc, nl, seed), uvTil(nc, nl, 2), it(nc, nl) {
    std::mt19937 rng(seed + 100);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    cimg_forXYZ(uvTil, x, y, z) uvTil(x, y, z) = d(rng);
    cimg_forXY(it, x, y) it(x, y) = d(rng);
  }
  // B = alpha * laplacian(UVtil) - rho * (Ix, Iy) * It, U block then V block.
  std::vector<double> rhs(float alpha, bool periodic) const {
    const int nc = lv.nc, nl = lv.nl, ncnl = nc * nl;
    const CImg<double> lu = laplacian(uvTil.get_slice(0), lv.z, periodic);
    const CImg<double> lvv = laplacian(uvTil.get_slice(1), lv.z, periodic);
    std::vector<double> b(2 * ncnl);
    cimg_forXY(it, x, y) {
      const double r = lv.rho(x, y);
      b[y * nc + x] = double(alpha) * lu(x, y) - r * lv.ix(x, y) * it(x, y);
      b[ncnl + y * nc + x] = double(alpha) * lvv(x, y) - r * lv.iy(x, y) * it(x, y);
    }
    return b;
  }
};

double norm2(const std::vector<double>& v) {
  double s = 0.0;
  for (double e : v) s += e * e;
  return std::sqrt(s);
}

// Tridiagonal system in compressed rows: diagonal d, super e, sub f.
struct Tridiagonal {
  int n;
  std::vector<double> val;
  std::vector<int> col, ptr;
  explicit Tridiagonal(int n_, unsigned seed) : n(n_), ptr(1, 0) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> off(-1.0, 1.0), sign(0.0, 1.0);
    for (int i = 0; i < n; ++i) {
      if (i > 0) val.push_back(off(rng)), col.push_back(i - 1);
      val.push_back((sign(rng) < 0.3 ? -1.0 : 1.0) * (3.0 + sign(rng))), col.push_back(i);
      if (i + 1 < n) val.push_back(off(rng)), col.push_back(i + 1);
      ptr.push_back(static_cast<int>(val.size()));
    }
  }
  dense::Matrix toDense() const { return dense::fromCompressedRows(n, val.data(), ptr.data(), col.data()); }
};

}  // namespace

TEST(LevelSolve, ResidualWithinToleranceInBothModes) {
  const float alpha = 0.8f;
  for (bool periodic : {false, true})
    for (auto [nc, nl] : {std::pair{12, 10}, std::pair{2, 3}, std::pair{1, 4}, std::pair{5, 1}}) {
      const LevelProblem p(nc, nl, 21);
      CImg<double> uv(nc, nl, 2, 1, 99.0);
      ASSERT_FALSE(HornAndSchunck(uv, p.uvTil, p.lv.ix, p.lv.iy, p.it, alpha, p.lv.rho, p.lv.z, periodic));
      const int ncnl = nc * nl;
      std::vector<double> x(2 * ncnl);
      cimg_forXY(p.it, px, py) {
        x[py * nc + px] = uv(px, py, 0);
        x[ncnl + py * nc + px] = uv(px, py, 1);
      }
      const std::vector<double> b = p.rhs(alpha, periodic);
      const dense::Matrix h = toDense(assemble(p.lv, alpha, periodic), 2 * ncnl);
      EXPECT_LE(dense::distance(dense::multiply(h, x), b), 1e-6 * norm2(b))
          << nc << "x" << nl << (periodic ? " periodic" : " Neumann");
    }
}

TEST(LevelSolve, UnweightedOverloadMatchesUnitWeights) {
  LevelProblem p(6, 5, 22);
  p.lv.z = CImgList<double>(2, 6, 5, 1, 1, 1.0);
  cimg_forXYZ(p.uvTil, x, y, z) p.uvTil(x, y, z) = (x * 3 + y * 7 + z) % 5;  // exact Laplacians
  for (bool periodic : {false, true}) {
    CImg<double> weighted(6, 5, 2), plain(6, 5, 2);
    ASSERT_FALSE(HornAndSchunck(weighted, p.uvTil, p.lv.ix, p.lv.iy, p.it, 1.5f, p.lv.rho, p.lv.z, periodic));
    ASSERT_FALSE(HornAndSchunck(plain, p.uvTil, p.lv.ix, p.lv.iy, p.it, 1.5f, p.lv.rho, periodic));
    EXPECT_TRUE(weighted == plain);
  }
}

TEST(LevelSolve, ZeroRightHandSideWritesZero) {
  LevelProblem p(7, 4, 23);
  p.uvTil.fill(2.5);
  p.it.fill(0.0);
  CImg<double> uv(7, 4, 2, 1, 5.0);
  EXPECT_FALSE(HornAndSchunck(uv, p.uvTil, p.lv.ix, p.lv.iy, p.it, 1.0f, p.lv.rho, p.lv.z, false));
  EXPECT_EQ(uv.abs().max(), 0.0);
}

TEST(LevelSolve, FailedSolveLeavesTheIncrementUntouched) {
  // alpha = 0 and Ix = Iy = rho = 1: every 2 x 2 data block is singular, the
  // factorisation meets zero pivots and the solver fails.
  LevelProblem p(3, 3, 24);
  p.lv.ix.fill(1.0);
  p.lv.iy.fill(1.0);
  p.lv.rho.fill(1.0);
  p.it.fill(1.0);
  CImg<double> uv(3, 3, 2);
  cimg_forXYZ(uv, x, y, z) uv(x, y, z) = x + 3 * y + 9 * z;
  const CImg<double> before(uv);
  ::testing::internal::CaptureStdout();
  const bool failed = HornAndSchunck(uv, p.uvTil, p.lv.ix, p.lv.iy, p.it, 0.0f, p.lv.rho, p.lv.z, false);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(failed);
  EXPECT_TRUE(uv == before);
  EXPECT_EQ(out.rfind("no convergence (output CGS ", 0), 0u) << out;
  EXPECT_EQ(out.back(), ')');
}

TEST(SparseSolve, SolutionLandsInTheImageByTheSystemNumbering) {
  const int nc = 3, nl = 2, taille = 2 * nc * nl;
  Tridiagonal t(taille, 31);
  std::vector<double> xs(taille);
  for (int i = 0; i < taille; ++i) xs[i] = i + 1;
  const std::vector<double> b = dense::multiply(t.toDense(), xs);
  MV_Vector_double B(taille, 0.0);
  for (int i = 0; i < taille; ++i) B(i) = b[i];
  for (int form = 0; form < 2; ++form) {
    CImg<double> res(nc, nl, 2, 1, -7.0);
    const int code = form == 0 ? standard_CGS_inversion(taille, t.ptr.back(), t.val.data(), t.ptr.data(), t.col.data(), B, res)
                               : standard_CGS_inversion(taille, t.ptr.back(), t.val.data(), t.ptr.data(), t.col.data(), B, res, 1e-10);
    EXPECT_EQ(code, 0);
    cimg_forXYZ(res, x, y, z) EXPECT_NEAR(res(x, y, z), xs[y * nc + x + z * nc * nl], 1e-8) << x << "," << y << "," << z;
  }
  EXPECT_EQ(B(3), b[3]);  // the caller's right-hand side is unchanged
}

TEST(SparseSolve, FailureStillCopiesTheLastIterateAndPrintsItsCode) {
  // Singular 2 x 2 data blocks and alpha = 0: the solve cannot converge.
  Level lv(3, 2, 32);
  lv.ix.fill(1.0);
  lv.iy.fill(1.0);
  lv.rho.fill(1.0);
  hs_test::Assembled a = assemble(lv, 0.0f, false);
  const int taille = lv.taille();
  MV_Vector_double B(taille, 1.0);
  CImg<double> res(3, 2, 2, 1, -7.0);
  ::testing::internal::CaptureStdout();
  const int code = standard_CGS_inversion(taille, a.n(), a.val.data(), a.ptr.data(), a.col.data(), B, res, 1e-6);
  const std::string out = ::testing::internal::GetCapturedStdout();
  ASSERT_NE(code, 0);
  EXPECT_EQ(out, "no convergence (output CGS " + std::to_string(code) + ")");
  cimg_forXYZ(res, x, y, z) {
    EXPECT_TRUE(std::isfinite(res(x, y, z)));
    EXPECT_NE(res(x, y, z), -7.0) << x << "," << y << "," << z;
  }
}

namespace {

// Levels of the solve comparisons: converging Neumann and periodic levels,
// and a singular one (unit data blocks and alpha 0) on which CGS fails.
struct SolveCase {
  int nc, nl;
  bool periodic, singular;
  double tol;
  float alpha() const { return singular ? 0.0f : 0.6f; }
};
const SolveCase kSolveCases[] = {
    {9, 7, false, false, 1e-6}, {8, 6, true, false, 1e-11}, {5, 4, false, true, 1e-6}};

LevelProblem solve_case_level(const SolveCase& c, unsigned seed) {
  LevelProblem pb(c.nc, c.nl, seed);
  if (c.singular) {
    pb.lv.ix.fill(1.0);
    pb.lv.iy.fill(1.0);
    pb.lv.rho.fill(1.0);
  }
  return pb;
}

}  // namespace

// The sparse solve gives, bit for bit, the iterate of the CGS template with
// the ILU(0) preconditioner on the same arrays, whatever the outcome.
// The cases end converged, on the iteration limit (a tolerance no iterate
// reaches) and on a breakdown (a zero right-hand side with a negative
// tolerance: rho_1 = 0 at the first iteration); the solve reads the arrays
// in place, the template on a copy.
TEST(SparseSolve, SameIterateAsTheTemplateSolve) {
  std::vector<SolveCase> cases(std::begin(kSolveCases), std::end(kSolveCases));
  cases.push_back({40, 30, false, false, 0.0});
  cases.push_back({6, 5, true, false, -1.0});
  std::set<int> codes;
  for (const SolveCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.nc << "x" << c.nl << (c.singular ? " singular" : ""));
    LevelProblem pb = solve_case_level(c, 70 + c.nc);
    const float alpha = c.alpha();
    hs_test::Assembled a = assemble(pb.lv, alpha, c.periodic);
    const int taille = pb.lv.taille();
    std::vector<double> b = pb.rhs(alpha, c.periodic);
    if (c.tol < 0) std::fill(b.begin(), b.end(), 0.0);
    MV_Vector_double B(b.data(), taille);

    const CompRow_Mat_double A(taille, taille, a.n(), a.val.data(), a.ptr.data(), a.col.data(), 0);
    const CompRow_ILUPreconditioner_double M(A);
    MV_Vector_double x(taille, 0.0);
    int maxIter = 500;
    double tol = c.tol;
    const int code = CGS(A, x, B, M, maxIter, tol);
    codes.insert(code);
    if (c.tol > 1e-12) {
      EXPECT_EQ(code != 0, c.singular);
    }

    CImg<double> res(c.nc, c.nl, 2, 1, -7.0);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(standard_CGS_inversion(taille, a.n(), a.val.data(), a.ptr.data(), a.col.data(), B, res, c.tol), code);
    ::testing::internal::GetCapturedStdout();
    int same = 0;
    cimg_forXYZ(res, px, py, pz) {
      const double want = x(py * c.nc + px + pz * c.nc * c.nl);
      same += std::memcmp(&res(px, py, pz), &want, sizeof want) == 0;
    }
    EXPECT_EQ(same, taille);
  }
  EXPECT_EQ(codes, (std::set<int>{0, 1, 2}));
}

// Factor rows that are already in column order are not sorted again: the
// factors of a Hessian equal, bit for bit, those of the same matrix with
// every row stored in reverse, which the sort puts back in order; so does
// the log-determinant.
TEST(IluFactors, SortedRowsGiveTheFactorsOfTheSortedMatrix) {
  for (const SolveCase& c : kSolveCases) {
    SCOPED_TRACE(::testing::Message() << c.nc << "x" << c.nl << (c.periodic ? " periodic" : ""));
    LevelProblem pb = solve_case_level(c, 90 + c.nc);
    hs_test::Assembled a = assemble(pb.lv, c.alpha(), c.periodic);
    const int taille = pb.lv.taille();
    hs_test::Assembled r = a;
    for (int k = 0; k < taille; ++k) {
      std::reverse(r.val.begin() + r.ptr[k], r.val.begin() + r.ptr[k + 1]);
      std::reverse(r.col.begin() + r.ptr[k], r.col.begin() + r.ptr[k + 1]);
    }
    ASSERT_NE(r.col, a.col);
    const CompRow_Mat_double As(taille, taille, a.n(), a.val.data(), a.ptr.data(), a.col.data(), 0);
    const CompRow_Mat_double Ar(taille, taille, r.n(), r.val.data(), r.ptr.data(), r.col.data(), 0);
    CompRow_ILUPreconditioner_double Ms(As), Mr(Ar);
    for (const auto& [fs, fr] : {std::pair(Ms.lower(), Mr.lower()), std::pair(Ms.upper(), Mr.upper())}) {
      ASSERT_EQ(fs.n, fr.n);
      const int nz = fs.ptr[fs.n];
      ASSERT_EQ(fr.ptr[fr.n], nz);
      EXPECT_TRUE(std::equal(fs.ptr, fs.ptr + fs.n + 1, fr.ptr));
      EXPECT_TRUE(std::equal(fs.col, fs.col + nz, fr.col));
      EXPECT_EQ(std::memcmp(fs.val, fr.val, sizeof(double) * nz), 0);
    }
    const double ls = Ms.logDetLP(), lr = Mr.logDetLP();
    EXPECT_EQ(std::memcmp(&ls, &lr, sizeof ls), 0);
    const double li = ILU_logDetA(taille, a.n(), a.val.data(), a.ptr.data(), a.col.data());
    EXPECT_EQ(std::memcmp(&ls, &li, sizeof ls), 0);
  }
}

TEST(IluLogDet, EqualsLogAbsDeterminantOnTridiagonalSystems) {
  for (int n : {2, 5, 40}) {
    const Tridiagonal t(n, 40 + n);
    // ILU(0) is the exact LU factorisation of a tridiagonal matrix.
    const double want = dense::logAbsDeterminant(t.toDense());
    std::vector<double> val(t.val);
    std::vector<int> col(t.col), ptr(t.ptr);
    EXPECT_NEAR(ILU_logDetA(n, t.ptr.back(), val.data(), ptr.data(), col.data()), want, 1e-10) << n;
    EXPECT_EQ(val, t.val);  // the caller's arrays are unchanged
    // Entries beyond the last row pointer are copied but take no part.
    val.push_back(1e9), val.push_back(-5.0);
    col.push_back(0), col.push_back(1);
    EXPECT_NEAR(ILU_logDetA(n, t.ptr.back() + 2, val.data(), ptr.data(), col.data()), want, 1e-10) << n;
  }
}

// Right-hand sides solved together by a factored system: each with the
// iterate, code and count of its solve alone, on converging, singular
// (failing) and periodic levels; the right-hand side may sit in the r
// vector of its own workspace.
TEST(SparseSolve, BatchOfRightHandSidesEqualsTheSolvesOneAtATime) {
  for (const SolveCase& c : kSolveCases) {
    SCOPED_TRACE(::testing::Message() << c.nc << "x" << c.nl << (c.singular ? " singular" : ""));
    LevelProblem pb = solve_case_level(c, 90 + c.nc);
    const float alpha = c.alpha();
    hs_test::Assembled a = assemble(pb.lv, alpha, c.periodic);
    const int taille = pb.lv.taille();
    const FactoredSystem system(taille, a.n(), a.val.data(), a.ptr.data(), a.col.data());
    std::vector<std::vector<double>> rhs;
    const std::vector<double> b = pb.rhs(alpha, c.periodic);
    rhs.push_back(b);
    rhs.emplace_back(taille, 0.0);
    for (double f : {0.3, 1.7, 4.1}) {
      std::vector<double> w(taille);
      for (int i = 0; i < taille; ++i) w[i] = std::sin(f * i) * (1.0 + i % 3) + b[i];
      rhs.push_back(w);
    }
    const int count = static_cast<int>(rhs.size());
    std::vector<std::unique_ptr<CgsWorkspace>> work;
    std::vector<std::vector<double>> x(count, std::vector<double>(taille, -3.0));
    std::vector<const double*> bp;
    std::vector<double*> xp;
    std::vector<CgsWorkspace*> wp;
    for (int j = 0; j < count; ++j) {
      work.push_back(std::make_unique<CgsWorkspace>(taille, j));
      wp.push_back(work.back().get());
      xp.push_back(x[j].data());
      bp.push_back(rhs[j].data());
    }
    std::copy(rhs[2].begin(), rhs[2].end(), work[2]->r);  // in place
    bp[2] = work[2]->r;
    std::vector<int> code(count, -1), iters(count, -1);
    ::testing::internal::CaptureStdout();
    system.solve_batch(count, bp.data(), xp.data(), c.tol, code.data(), wp.data(), iters.data());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    int failed = 0;
    for (int j = 0; j < count; ++j) {
      SCOPED_TRACE(j);
      CImg<double> res(c.nc, c.nl, 2, 1, -7.0);
      int alone = -1;
      ::testing::internal::CaptureStdout();
      EXPECT_EQ(code[j], system.solve(MV_Vector_double(rhs[j].data(), taille), res, c.tol, &alone));
      ::testing::internal::GetCapturedStdout();
      EXPECT_EQ(iters[j], alone);
      EXPECT_EQ(std::memcmp(x[j].data(), res.data(), sizeof(double) * taille), 0);
      failed += code[j] != 0;
    }
    EXPECT_EQ(failed, c.singular ? count - 1 : 0);  // the zero right-hand side converges at once
    EXPECT_EQ(iters[1], 0);
  }
  ::testing::internal::CaptureStdout();
  FactoredSystem::report_failure(2);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "no convergence (output CGS 2)");
}
