// Rows of the generalised model's Hessian: stored in compressed rows or
// only counted, from the coefficients of one pass, and the log-determinant
// of the stored matrix.
//
// Row of unknown r (U rows of pass 1, then V rows of pass 2, pixel by
// pixel, y outer): for the U columns (A1), then the V columns (A2), the
// partners above (l = lo ... neta; the U columns of a V row take l rising),
// to the left (l = lo ... neta), the row's own pixel (always), to the right
// and below (l = neta ... lo); the diagonal partners only for the distances
// of the diagonal window. A candidate enters the row when its partner pixel
// lies inside the image and its value is neither kAbsentEntry nor
// not-a-number.
#pragma once

#include <vector>

struct GeneralisedModel;

// Destination of the rows: stores them (val, col_ind, row_ptr, base 0) or
// only counts their entries.
struct HessianRows {
  bool storing = false;
  long long count = 0;     // entries so far
  long long capacity = 0;  // trunc(nombre * 1.2): the size the caller asked for
  std::vector<double> val;
  std::vector<int> col_ind;
  std::vector<int> row_ptr;  // taille + 1 entries when storing
};

// A counter, or a store of `taille` rows whose val and col_ind start at
// the capacity trunc(nombre * 1.2) (at most INT_MAX, at least 0), zero
// filled; they grow when the rows need more, so every entry is kept.
HessianRows rowCounter();
HessianRows rowStore(int taille, int nombre);

// Adds the rows of pass `pass` (1: U rows, 2: V rows) of `m` to `rows`.
void addRows(const GeneralisedModel& m, int pass, HessianRows& rows);

// End of the store: when more entries were stored than the capacity,
// writes "ERROR : number non zero elements in Hessian matrix with Dirichlet
// conditions !!! <count>" on standard output.
void finishStore(const HessianRows& rows);

// ln|det| of the incomplete-LU factors of the stored rows of order taille,
// the whole (zero-filled) arrays handed over as the entry count.
double rowsLogDet(HessianRows& rows, int taille);

// Entry counts are ints: an nc x nl image whose count (at least 4*nc*nl, or
// `count` when larger) does not fit is refused with a message on standard
// error and exit status 1.
void refuseOversizedCount(int nc, int nl, long long count);
