#include "numeric/vector.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "numeric/allocation_hook.h"
#include "numeric/errhandl.h"

void V_Constr(Vector* V, const char* name, size_t dim, Boolean temporary, Boolean owns_data) {
  size_t n = std::strlen(name) + 1;
  V->Name = static_cast<char*>(hooked_malloc(n));
  if (V->Name != nullptr) std::memcpy(V->Name, name, n);
  V->Dim = dim;
  V->Temporary = temporary;
  V->OwnsData = owns_data;
  V->Cmp = nullptr;
  if (V->Name == nullptr) {
    LASError(LASMemAllocErr, "V_Constr", name);
    return;
  }
  if (!owns_data || LASResult() != LASOK) return;
  V->Cmp = dim < SIZE_MAX / sizeof(double) - 1
               ? static_cast<double*>(hooked_malloc((dim + 1) * sizeof(double)))
               : nullptr;
  if (V->Cmp == nullptr) LASError(LASMemAllocErr, "V_Constr", name);
}

void V_Destr(Vector* V) {
  std::free(V->Name);
  V->Name = nullptr;
  if (V->OwnsData) std::free(V->Cmp);
  V->Cmp = nullptr;
}

void V_SetCmp(Vector* V, size_t i, double value) {
  if (LASResult() != LASOK) return;
  if (i < 1 || i > V->Dim || V->Temporary || !V->OwnsData || V->Cmp == nullptr) {
    LASError(LASRangeErr, "V_SetCmp", V->Name);
    return;
  }
  V->Cmp[i] = value;
}

void V_SetAllCmp(Vector* V, double value) {
  if (LASResult() != LASOK || V->Cmp == nullptr) return;
  for (size_t i = 1; i <= V->Dim; ++i) V->Cmp[i] = value;
}

double V_GetCmp(Vector* V, size_t i) {
  if (LASResult() != LASOK) return 0.0;
  if (i < 1 || i > V->Dim || V->Cmp == nullptr) {
    LASError(LASRangeErr, "V_GetCmp", V->Name);
    return 0.0;
  }
  return V->Cmp[i];
}

size_t V_GetDim(Vector* V) {
  if (LASResult() != LASOK) return 0;
  return V->Dim;
}
