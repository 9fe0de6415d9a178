// Error register of the sparse containers (QMatrix, Vector).
//
// An operation that finds its arguments out of range, or cannot allocate, records an
// error code; from then on every container operation returns at once. The register is
// kept per thread: each calculation runs on its own worker thread, and LASClearError()
// at the start of a calculation makes sure an earlier failure cannot silence it.
#ifndef QUILLANE_NUMERIC_ERRHANDL_H
#define QUILLANE_NUMERIC_ERRHANDL_H

enum LASErrIdType {
  LASOK = 0,
  LASMemAllocErr = 1,
  LASLValErr = 2,
  LASDimErr = 3,
  LASRangeErr = 4,
  LASSymStorErr = 5,
  LASMatrCombErr = 6,
  LASMulInvErr = 7,
  LASElNotSortedErr = 8,
  LASZeroInDiagErr = 9,
  LASZeroPivotErr = 10,
  LASILUStructErr = 11,
  LASBreakdownErr = 12,
  LASUserBreak = 13,
};

// Records code as this thread's error, with copies of the operation name and up to three
// object names (each may be null or empty); the names of the previous record are released.
void LASError(LASErrIdType code, const char* op_name, const char* object1_name = nullptr,
              const char* object2_name = nullptr, const char* object3_name = nullptr);

// The error code recorded on this thread (LASOK when none).
LASErrIdType LASResult();

// Forgets this thread's error record, so that the containers work again.
void LASClearError();

// Description of a code, e.g. "Indices are out of range.\n"; a static string.
const char* LASErrorDescription(LASErrIdType code);

// Operation name and object names of this thread's error record; "" where absent.
// The strings stay valid until the next LASError() or LASClearError() on this thread.
const char* LASErrorOperation();
const char* LASErrorObject(int index);  // index 0..2

#endif
