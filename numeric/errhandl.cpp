#include "numeric/errhandl.h"

#include <string>

namespace {

struct ErrorRecord {
  LASErrIdType code = LASOK;
  std::string operation;
  std::string objects[3];
};

thread_local ErrorRecord error_record;

}  // namespace

void LASError(LASErrIdType code, const char* op_name, const char* object1_name,
              const char* object2_name, const char* object3_name) {
  error_record.code = code;
  error_record.operation = op_name ? op_name : "";
  const char* names[3] = {object1_name, object2_name, object3_name};
  for (int i = 0; i < 3; ++i) error_record.objects[i] = names[i] ? names[i] : "";
}

LASErrIdType LASResult() {
  return error_record.code;
}

void LASClearError() {
  error_record = ErrorRecord();
}

const char* LASErrorDescription(LASErrIdType code) {
  switch (code) {
    case LASOK:
      return "No error.\n";
    case LASMemAllocErr:
      return "Not enough memory is available.\n";
    case LASLValErr:
      return "L-value parameter is expected.\n";
    case LASDimErr:
      return "Objects have incompatible dimensions.\n";
    case LASRangeErr:
      return "Indices are out of range.\n";
    case LASSymStorErr:
      return "Some elements are stored in lower triangular part of a symmetric matrix.\n";
    case LASMatrCombErr:
      return "Matrices can not be combined.\n";
    case LASMulInvErr:
      return "Inverse multiplication can not be carried out.\n";
    case LASElNotSortedErr:
      return "Matrix elements are not sorted.\n";
    case LASZeroInDiagErr:
      return "Zero elements in matrix diagonal are not allowed.\n";
    case LASZeroPivotErr:
      return "Factorization produces zero pivot elements.\n";
    case LASILUStructErr:
      return "Matrix has structure which is not allowed for ILU factorization.\n";
    case LASBreakdownErr:
      return "Iterative solver fails.\n";
    case LASUserBreak:
      return "Termination by an user break.\n";
  }
  return "Unknown error.\n";
}

const char* LASErrorOperation() {
  return error_record.operation.c_str();
}

const char* LASErrorObject(int index) {
  return index >= 0 && index < 3 ? error_record.objects[index].c_str() : "";
}
