// In-place iterative quicksort of a range of a vector (median of three,
// explicit stack, final insertion pass); not stable.
#pragma once

#include "mvvd.h"
#include "mvvi.h"

// Sorts v[base_ptr .. base_ptr + total_elems - 1] by ascending key and moves
// the elements of x at the same positions along; returns 1.
int QSort(MV_Vector_int& v, MV_Vector_double& x, int base_ptr, int total_elems);
// Sorts v[base_ptr .. base_ptr + total_elems - 1] ascending; returns 1.
int QSort(MV_Vector_double& v, int base_ptr, int total_elems);

// Exchange the two referenced values.
void SWAP_double(double& A, double& B);
void swap_int(int& a, int& b);
