# UMFPACK and CHOLMOD from Debian's libsuitesparse-dev; no pkg-config file ships with it.
find_path(SUITESPARSE_INCLUDE_DIR umfpack.h PATH_SUFFIXES suitesparse REQUIRED)
find_library(UMFPACK_LIBRARY umfpack REQUIRED)
find_library(CHOLMOD_LIBRARY cholmod REQUIRED)
find_library(SUITESPARSECONFIG_LIBRARY suitesparseconfig REQUIRED)
add_library(SuiteSparse::umfpack INTERFACE IMPORTED)
target_include_directories(SuiteSparse::umfpack INTERFACE ${SUITESPARSE_INCLUDE_DIR})
target_link_libraries(SuiteSparse::umfpack INTERFACE
  ${UMFPACK_LIBRARY} ${CHOLMOD_LIBRARY} ${SUITESPARSECONFIG_LIBRARY})
