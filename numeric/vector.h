// Dense vector with 1-based components, reporting misuse through the error register
// (errhandl.h) like QMatrix. Components 1..Dim lie contiguously in Cmp.
#ifndef QUILLANE_NUMERIC_VECTOR_H
#define QUILLANE_NUMERIC_VECTOR_H

#include <cstddef>

#include "numeric/qmatrix.h"

struct Vector {
  char* Name;         // owned copy
  size_t Dim;         // number of components
  Boolean Temporary;  // a temporary vector may not be changed
  Boolean OwnsData;   // true: the vector allocates and releases Cmp
  double* Cmp;        // [1..Dim]; index 0 unused; null when nothing was allocated
};

// Out V: copies name, stores the attributes and, when it owns its data and no error is
// recorded, allocates Cmp (uninitialised). LASMemAllocErr when that fails. Release with
// V_Destr().
void V_Constr(Vector* V, const char* name, size_t dim, Boolean temporary, Boolean owns_data);

// Releases the name and, when the vector owns its data, the components (always, like Q_Destr).
void V_Destr(Vector* V);

// Cmp[i] = value. LASRangeErr unless i lies in 1..Dim and the vector is a normal one that
// owns its data.
void V_SetCmp(Vector* V, size_t i, double value);

// Every component 1..Dim = value.
void V_SetAllCmp(Vector* V, double value);

// Cmp[i]; 0.0 and LASRangeErr when i lies outside 1..Dim.
double V_GetCmp(Vector* V, size_t i);

// Dim, or 0 while an error is recorded.
size_t V_GetDim(Vector* V);

#endif
