#include "numeric/qmatrix.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "numeric/allocation_hook.h"
#include "numeric/errhandl.h"

namespace {

const ElType ZeroEl = {0, 0.0};

char* copy_name(const char* name) {
  size_t n = std::strlen(name) + 1;
  char* copy = static_cast<char*>(hooked_malloc(n));
  if (copy != nullptr) std::memcpy(copy, name, n);
  return copy;
}

bool row_ok(const QMatrix* M, size_t row) {
  return row >= 1 && row <= M->Dim;
}

// Checks row and position of an element access, recording LASRangeErr when out of range.
bool element_ok(QMatrix* M, size_t row, size_t pos, const char* op) {
  if (row_ok(M, row) && pos < M->Len[row]) return true;
  LASError(LASRangeErr, op, M->Name);
  return false;
}

}  // namespace

void Q_Constr(QMatrix* M, const char* name, size_t dim, Boolean symmetry, ElOrderType order,
              Boolean temporary, Boolean owns_data) {
  M->Name = copy_name(name);
  M->Dim = dim;
  M->Symmetry = symmetry;
  M->ElOrder = order;
  M->Temporary = temporary;
  M->OwnsData = owns_data;
  M->Len = nullptr;
  M->El = nullptr;
  if (M->Name == nullptr) {
    LASError(LASMemAllocErr, "Q_Constr", name);
    return;
  }
  if (!owns_data || LASResult() != LASOK) return;
  if (dim >= SIZE_MAX / sizeof(ElType*) - 1) {
    LASError(LASMemAllocErr, "Q_Constr", name);
    return;
  }
  M->Len = static_cast<size_t*>(hooked_calloc(dim + 1, sizeof(size_t)));
  M->El = static_cast<ElType**>(hooked_calloc(dim + 1, sizeof(ElType*)));
  if (M->Len == nullptr || M->El == nullptr) {
    std::free(M->Len);
    std::free(M->El);
    M->Len = nullptr;
    M->El = nullptr;
    LASError(LASMemAllocErr, "Q_Constr", name);
  }
}

void Q_Destr(QMatrix* M) {
  std::free(M->Name);
  M->Name = nullptr;
  if (M->OwnsData && M->El != nullptr) {
    for (size_t row = 1; row <= M->Dim; ++row) std::free(M->El[row]);
  }
  if (M->OwnsData) {
    std::free(M->Len);
    std::free(M->El);
  }
  M->Len = nullptr;
  M->El = nullptr;
}

void Q_SetLen(QMatrix* M, size_t row, size_t len) {
  if (LASResult() != LASOK) return;
  if (M->Temporary) {
    LASError(LASLValErr, "Q_SetLen", M->Name);
    return;
  }
  if (!row_ok(M, row)) {
    LASError(LASRangeErr, "Q_SetLen", M->Name);
    return;
  }
  M->Len[row] = len;
  std::free(M->El[row]);
  M->El[row] = nullptr;
  if (len == 0) return;
  ElType* el = len < SIZE_MAX / sizeof(ElType)
                   ? static_cast<ElType*>(hooked_malloc(len * sizeof(ElType)))
                   : nullptr;
  if (el == nullptr) {
    LASError(LASMemAllocErr, "Q_SetLen", M->Name);
    return;
  }
  for (size_t i = 0; i < len; ++i) el[i] = ZeroEl;
  M->El[row] = el;
}

size_t Q_GetLen(QMatrix* M, size_t row) {
  if (LASResult() != LASOK) return 0;
  if (!row_ok(M, row)) {
    LASError(LASRangeErr, "Q_GetLen", M->Name);
    return 0;
  }
  return M->Len[row];
}

void Q_SetEntry(QMatrix* M, size_t row, size_t pos, size_t column, double value) {
  if (LASResult() != LASOK) return;
  if (!row_ok(M, row) || !row_ok(M, column) || pos >= M->Len[row]) {
    LASError(LASRangeErr, "Q_SetEntry", M->Name);
    return;
  }
  M->El[row][pos].Pos = column;
  M->El[row][pos].Val = value;
}

size_t Q_GetPos(QMatrix* M, size_t row, size_t pos) {
  if (LASResult() != LASOK) return 0;
  if (!element_ok(M, row, pos, "Q_GetPos")) return 0;
  return M->El[row][pos].Pos;
}

double Q_GetVal(QMatrix* M, size_t row, size_t pos) {
  if (LASResult() != LASOK) return 0.0;
  if (!element_ok(M, row, pos, "Q_GetVal")) return 0.0;
  return M->El[row][pos].Val;
}

void Q_AddVal(QMatrix* M, size_t row, size_t pos, double value) {
  if (LASResult() != LASOK) return;
  if (!element_ok(M, row, pos, "Q_AddVal")) return;
  M->El[row][pos].Val += value;
}

double Q_GetEl(QMatrix* M, size_t row, size_t column) {
  if (LASResult() != LASOK) return 0.0;
  if (!row_ok(M, row) || !row_ok(M, column)) {
    LASError(LASRangeErr, "Q_GetEl", M->Name);
    return 0.0;
  }
  size_t list, wanted;
  size_t lo = row < column ? row : column;
  size_t hi = row < column ? column : row;
  if (M->Symmetry) {
    // Rows keep the upper triangle (columns >= row); columns keep the lower one.
    list = M->ElOrder == ByRows ? lo : hi;
    wanted = M->ElOrder == ByRows ? hi : lo;
  } else {
    list = M->ElOrder == ByRows ? row : column;
    wanted = M->ElOrder == ByRows ? column : row;
  }
  double value = 0.0;
  const ElType* el = M->El[list];
  for (size_t i = 0; i < M->Len[list]; ++i)
    if (el[i].Pos == wanted) value = el[i].Val;
  return value;
}

Boolean Q_GetSymmetry(QMatrix* M) {
  if (LASResult() != LASOK) return 0;
  return M->Symmetry;
}
