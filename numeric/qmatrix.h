// Sparse square matrix stored row by row (or column by column): each row owns an array of
// (column, value) elements whose length is set explicitly. Rows, columns and lengths are
// 1-based and unsigned 64-bit; element positions within a row are 0-based.
//
// Misuse is reported through the error register (errhandl.h): an operation that finds its
// arguments out of range records an error, and every later operation on this thread
// returns at once (with 0, 0.0 or nothing) until the register is cleared.
#ifndef QUILLANE_NUMERIC_QMATRIX_H
#define QUILLANE_NUMERIC_QMATRIX_H

#include <cstddef>
#include <cstdint>

typedef int32_t Boolean;

enum ElOrderType : int32_t { ByRows = 0, ByColumns = 1 };

struct ElType {
  size_t Pos;  // 1-based column (row for column-wise storage); 0 in an unset element
  double Val;
};

// A symmetric matrix stored by rows keeps only the upper triangle: row i holds columns j >= i.
// The container neither sorts rows nor checks for duplicate columns.
struct QMatrix {
  char* Name;           // owned copy
  size_t Dim;           // rows = columns
  Boolean Symmetry;     // true: one triangle stored
  ElOrderType ElOrder;  // ByRows: row i lists the columns of row i
  Boolean Temporary;    // a temporary matrix may not be changed
  Boolean OwnsData;     // true: the matrix allocates and releases Len and El
  size_t* Len;          // [1..Dim] element count of each row; index 0 unused
  ElType** El;          // [1..Dim] element array of each row; null while its length is 0
};

// Out M: copies name, stores the attributes and, when it owns its data and no error is
// recorded, allocates Len and El for Dim + 1 rows, all empty. Records LASMemAllocErr when
// the name or a table cannot be allocated. Release with Q_Destr().
void Q_Constr(QMatrix* M, const char* name, size_t dim, Boolean symmetry, ElOrderType order,
              Boolean temporary, Boolean owns_data);

// Releases the name and, when the matrix owns its data, every row and the tables. It runs
// whatever the error register holds, so a failed calculation still frees its matrix.
void Q_Destr(QMatrix* M);

// Sets row's length and replaces its elements by len copies of (0, 0.0); the old elements
// are discarded. LASLValErr for a temporary matrix, LASRangeErr for a row outside 1..Dim,
// LASMemAllocErr when the array cannot be allocated (the length stays set then).
void Q_SetLen(QMatrix* M, size_t row, size_t len);

// Element count of a row (0 on error). LASRangeErr for a row outside 1..Dim.
size_t Q_GetLen(QMatrix* M, size_t row);

// Element `pos` (0-based) of `row` becomes (column, value). LASRangeErr unless row and column
// lie in 1..Dim and pos < the row's length.
void Q_SetEntry(QMatrix* M, size_t row, size_t pos, size_t column, double value);

// Column (Q_GetPos) or value (Q_GetVal) of element pos of row; 0 on error.
// LASRangeErr for a row outside 1..Dim or pos >= the row's length.
size_t Q_GetPos(QMatrix* M, size_t row, size_t pos);
double Q_GetVal(QMatrix* M, size_t row, size_t pos);

// Adds value to element pos of row; LASRangeErr as for Q_GetVal().
void Q_AddVal(QMatrix* M, size_t row, size_t pos, double value);

// Value of entry (row, column), 0.0 when not stored. A symmetric matrix answers a request
// from the other triangle out of the stored one; with duplicate columns the last element
// counts. LASRangeErr unless row and column lie in 1..Dim.
double Q_GetEl(QMatrix* M, size_t row, size_t column);

// The symmetry flag; false while an error is recorded.
Boolean Q_GetSymmetry(QMatrix* M);

#endif
