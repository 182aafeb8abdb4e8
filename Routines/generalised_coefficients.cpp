// Coefficient blocks of the generalised local-global model: data terms,
// axis couplings, diagonal couplings to the same and to the other unknown,
// the removal of zero couplings and the Dirichlet borders. Everything is
// whole-image arithmetic, each factor applied in the order written.
#include "generalised_coefficients.h"

#include "boundary_conditions.h"

using cimg_library::CImg;
using cimg_library::CImgList;

namespace {

constexpr double kInvSqrt2 = 0.7071067811865475;
// Product of two direction components, (1/sqrt 2)^2: two units in the last
// place below 0.5.
constexpr double kDiagonalFactor = kInvSqrt2 * kInvSqrt2;
static_assert(kDiagonalFactor == 0.4999999999999999, "diagonal factor is (1/sqrt 2)^2");

long long gammaHV(const GeneralisedModel& m, int l) {
  const long long nc = m.nc, nl = m.nl;
  long long g = 2 * ((nc - 2 * l) * nl + (nl - 2 * l) * nc);
  if (m.transverse) g = static_cast<long long>(2.0 * static_cast<double>(g));
  return g;
}

long long gammaCross(const GeneralisedModel& m, int l) {
  const long long nc = m.nc, nl = m.nl;
  long long g = (nc - 2 * l) * 4 * (nl - 2 * l);
  if (m.transverse) g = static_cast<long long>(2.0 * static_cast<double>(g));
  return g;
}

void clearDistance(CouplingSet& s, int k) {
  for (CImgList<double>* list :
       {&s.ijl, &s.ij_l, &s.ilj, &s.i_lj, &s.iljl, &s.i_lj_l, &s.i_ljl, &s.ilj_l})
    (*list)[k].fill(0.0);
}

// Axis couplings at distance l along x (horizontal) or y, weight w, masks
// I1 (partners at -l and +l inside), I2 (the one at -2l), I3 (the one at
// +2l), S(w)(p) = w(p + l) (zero outside), c = lambda / gamma:
//   centre += c (w I1 + S(w) I2),  plus -= c w I1,  minus -= c S(w) I2,
//   centre += c (S(w) I1 + w I3),  minus -= c S(w) I1, plus -= c w I3.
// The link to the partner at -l takes the weight at +l.
void addAxisCouplings(CImg<double>& centre, CImg<double>& plus, CImg<double>& minus,
                      const CImg<double>& w, bool horizontal, int l, const CImg<double>& I1,
                      const CImg<double>& I2, const CImg<double>& I3, double c) {
  const CImg<double> S = horizontal ? w.get_shift(-l, 0, 0, 0, 0) : w.get_shift(0, -l, 0, 0, 0);
  centre += (w.get_mul(I1) + S.get_mul(I2)) * c;
  plus += (-w.get_mul(I1)) * c;
  minus += (-S.get_mul(I2)) * c;
  centre += (S.get_mul(I1) + w.get_mul(I3)) * c;
  minus += (-S.get_mul(I1)) * c;
  plus += (-w.get_mul(I3)) * c;
}

// Masks of the diagonal couplings at one distance: Mab = IndCol a x IndLine b.
struct DiagonalMasks {
  CImg<double> M11, M22, M33, M32, M23;
};

enum Direction { kRightDown, kTransverseRightDown, kRightUp, kTransverseRightUp };

// One group of diagonal couplings: the unshifted weight w with mask Mu
// couples to the partner ahead, (x + l, y + l) down-right or (x + l, y - l)
// up-right; the weight of that partner, S(w), with mask Ms couples to the
// partner behind. crossSign is the sign of the product of the two
// components of the group's direction.
struct DiagonalGroup {
  Direction weights;
  CImg<double> DiagonalMasks::*Mu;
  CImg<double> DiagonalMasks::*Ms;
  int crossSign;
};

const DiagonalGroup kDiagonalGroups[8] = {
    {kRightDown, &DiagonalMasks::M11, &DiagonalMasks::M22, +1},
    {kTransverseRightDown, &DiagonalMasks::M11, &DiagonalMasks::M22, -1},
    {kRightDown, &DiagonalMasks::M33, &DiagonalMasks::M11, +1},
    {kTransverseRightDown, &DiagonalMasks::M33, &DiagonalMasks::M11, -1},
    {kRightUp, &DiagonalMasks::M11, &DiagonalMasks::M32, -1},
    {kTransverseRightUp, &DiagonalMasks::M11, &DiagonalMasks::M32, +1},
    {kRightUp, &DiagonalMasks::M23, &DiagonalMasks::M11, -1},
    {kTransverseRightUp, &DiagonalMasks::M23, &DiagonalMasks::M11, +1},
};

const CImgList<double>& weightsOf(const DirectionWeights& z, Direction d) {
  switch (d) {
    case kRightDown:
      return z.z_rightDown;
    case kTransverseRightDown:
      return z.z_t_rightDown;
    case kRightUp:
      return z.z_rightUp;
    default:
      return z.z_t_rightUp;
  }
}

// Diagonal couplings at distance l into `centre` and element k of the
// diagonal lists of `s`: per group, with P = w Mu, Q = S(w) Ms and the
// factor f = 1/2 (same unknown) or crossSign/2 (other unknown),
//   centre += (f P + f Q) c,  ahead += (-f P) c,  behind += (-f Q) c.
void addDiagonalCouplings(const GeneralisedModel& m, CImg<double>& centre, CouplingSet& s, int l,
                          int k, bool otherUnknown, double c) {
  const DistanceMasks& mk = m.masks;
  const DiagonalMasks masks{mk.IndCol1[l] * mk.IndLine1[l], mk.IndCol2[l] * mk.IndLine2[l],
                            mk.IndCol3[l] * mk.IndLine3[l], mk.IndCol3[l] * mk.IndLine2[l],
                            mk.IndCol2[l] * mk.IndLine3[l]};
  for (const DiagonalGroup& g : kDiagonalGroups) {
    const bool down = g.weights == kRightDown || g.weights == kTransverseRightDown;
    const CImg<double>& w = weightsOf(m.z, g.weights)[k];
    const CImg<double> S = w.get_shift(-l, down ? -l : l, 0, 0, 0);
    const double f = otherUnknown ? g.crossSign * kDiagonalFactor : kDiagonalFactor;
    const CImg<double> P = w.get_mul(masks.*g.Mu), Q = S.get_mul(masks.*g.Ms);
    centre += (P * f + Q * f) * c;
    (down ? s.iljl : s.i_ljl)[k] += (P * -f) * c;
    (down ? s.i_lj_l : s.ilj_l)[k] += (Q * -f) * c;
  }
}

// Diagonal couplings of one distance, unless it lies outside the window or
// its normaliser is not positive.
void diagonalStep(const GeneralisedModel& m, CImg<double>& centre, CouplingSet& s, int l,
                  bool otherUnknown) {
  if (!diagonalDistance(m.neta, m.lo, l)) return;
  const long long gamma = gammaCross(m, l);
  if (gamma <= 0) return;
  const double c = m.lambda_S2_cross[l] / static_cast<double>(gamma);
  addDiagonalCouplings(m, centre, s, l, l - m.neta, otherUnknown, c);
}

void excludeZeroCouplings(const GeneralisedModel& m, CouplingSet& s) {
  if (m.lo < m.neta) return;  // no couplings
  excludeWhite(m.neta, m.lo, s.ij_l, s.ijl, s.i_lj, s.ilj);
  excludeWhite(m.neta, m.lo, s.iljl, s.i_lj_l, s.ilj_l, s.i_ljl);
}

// Couplings of the rows' own unknown (A1 in pass 1, A2 in pass 2): data
// term, then per distance the axis couplings (pass 1: z_right along x,
// z_t_down along y; pass 2: z_down along y, z_t_right along x) and the
// diagonal couplings.
void ownUnknownBlock(GeneralisedModel& m, int pass) {
  CouplingSet& s = pass == 1 ? m.A1 : m.A2;
  s.ij = (pass == 1 ? m.IxIx : m.IyIy).get_mul(m.data_out);
  const DistanceMasks& mk = m.masks;
  for (int l = m.neta; l <= m.lo; ++l) {
    const int k = l - m.neta;
    clearDistance(s, k);
    const CImg<double> L1 = mk.colOfOne * mk.IndLine1[l], L2 = mk.colOfOne * mk.IndLine2[l],
                       L3 = mk.colOfOne * mk.IndLine3[l];
    const CImg<double> T1 = mk.IndCol1[l] * mk.lineOfOne, T2 = mk.IndCol2[l] * mk.lineOfOne,
                       T3 = mk.IndCol3[l] * mk.lineOfOne;
    const long long gamma = gammaHV(m, l);
    if (gamma > 0) {
      const double c = m.lambda_S2[l] / static_cast<double>(gamma);
      if (pass == 1) {
        addAxisCouplings(s.ij, s.ijl[k], s.ij_l[k], m.z.z_right[k], true, l, L1, L2, L3, c);
        addAxisCouplings(s.ij, s.ilj[k], s.i_lj[k], m.z.z_t_down[k], false, l, T1, T2, T3, c);
      } else {
        addAxisCouplings(s.ij, s.ilj[k], s.i_lj[k], m.z.z_down[k], false, l, T1, T2, T3, c);
        addAxisCouplings(s.ij, s.ijl[k], s.ij_l[k], m.z.z_t_right[k], true, l, L1, L2, L3, c);
      }
    }
    diagonalStep(m, s.ij, s, l, false);
  }
  excludeZeroCouplings(m, s);
}

// Couplings of the rows to the other unknown (A2 in pass 1, A1 in pass 2):
// data term IxIy*rho and the diagonal couplings; the axis lists stay empty.
void otherUnknownBlock(GeneralisedModel& m, int pass) {
  CouplingSet& s = pass == 1 ? m.A2 : m.A1;
  s.ij = m.IxIy.get_mul(m.data_out);
  for (int l = m.neta; l <= m.lo; ++l) {
    clearDistance(s, l - m.neta);
    diagonalStep(m, s.ij, s, l, true);
  }
  excludeZeroCouplings(m, s);
}

void dirichletSet(GeneralisedModel& m, CouplingSet& s, bool clearCentreFrame) {
  fixDirichletConditions(m.nc, m.nl, m.i_1j, s.ij, m.i1j, m.ij_1, m.ij1);
  fixDirichletConditions(m.nc, m.nl, s.i_lj, s.ij_l, s.ijl, s.ilj, m.neta, m.lo);
  if (clearCentreFrame)
    fixDirichletConditions_cross(m.nc, m.nl, s.ij, s.i_lj_l, s.i_ljl, s.ilj_l, s.iljl, m.neta,
                                 m.lo);
  else
    fixDirichletConditions_cross(m.nc, m.nl, s.i_lj_l, s.i_ljl, s.ilj_l, s.iljl, m.neta, m.lo);
}

}  // namespace

bool diagonalDistance(int neta, int lo, int l) {
  int lower = static_cast<int>(neta * kInvSqrt2);
  if (lower <= 0) lower = 1;
  const int upper = static_cast<int>(static_cast<double>(lo) * kInvSqrt2) + 1;
  return lower <= l && l <= upper;
}

DistanceMasks buildDistanceMasks(int nc, int nl, int neta, int lo) {
  const int n = lo + 1 > 0 ? lo + 1 : 0;
  DistanceMasks mk{CImgList<double>(n, nc, 1, 1, 1, 0.0), CImgList<double>(n, nc, 1, 1, 1, 0.0),
                   CImgList<double>(n, nc, 1, 1, 1, 0.0), CImgList<double>(n, 1, nl, 1, 1, 0.0),
                   CImgList<double>(n, 1, nl, 1, 1, 0.0), CImgList<double>(n, 1, nl, 1, 1, 0.0),
                   CImg<double>(1, nl, 1, 1, 1.0),        CImg<double>(nc, 1, 1, 1, 1.0)};
  for (int l = neta > 0 ? neta : 0; l <= lo; ++l) {
    for (int i = 0; i < nc; ++i) {
      mk.IndLine1[l](i, 0) = l <= i && i < nc - l ? 1.0 : 0.0;
      mk.IndLine2[l](i, 0) = i >= 2 * l ? 1.0 : 0.0;
      mk.IndLine3[l](i, 0) = i < nc - 2 * l ? 1.0 : 0.0;
    }
    for (int j = 0; j < nl; ++j) {
      mk.IndCol1[l](0, j) = l <= j && j < nl - l ? 1.0 : 0.0;
      mk.IndCol2[l](0, j) = j >= 2 * l ? 1.0 : 0.0;
      mk.IndCol3[l](0, j) = j < nl - 2 * l ? 1.0 : 0.0;
    }
  }
  return mk;
}

void allocateCoefficients(GeneralisedModel& m, bool dirichlet) {
  const int n = m.lo - m.neta + 1 > 0 ? m.lo - m.neta + 1 : 0;
  for (CouplingSet* s : {&m.A1, &m.A2}) {
    s->ij.assign(m.nc, m.nl, 1, 1, 0.0);
    for (CImgList<double>* list :
         {&s->ijl, &s->ij_l, &s->ilj, &s->i_lj, &s->iljl, &s->i_lj_l, &s->ilj_l, &s->i_ljl})
      list->assign(n, m.nc, m.nl, 1, 1, 0.0);
  }
  if (dirichlet)
    for (CImg<double>* img : {&m.i_1j, &m.i1j, &m.ij_1, &m.ij1}) img->assign(m.nc, m.nl, 1, 1, 0.0);
}

void buildPass1(GeneralisedModel& m) {
  ownUnknownBlock(m, 1);
  otherUnknownBlock(m, 1);
}

void buildPass2(GeneralisedModel& m) {
  otherUnknownBlock(m, 2);
  ownUnknownBlock(m, 2);
}

void applyDirichletBorders(GeneralisedModel& m, int pass) {
  dirichletSet(m, m.A1, pass == 2);
  dirichletSet(m, m.A2, pass == 1);
}
