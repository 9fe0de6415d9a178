// Parallel regions while the engine keeps the libraries serial: CHOLMOD's run as plain calls
// and factorise exactly as libgomp's team of one does; regions inside a team still go to
// libgomp, which alone can share their work out.
#include <cholmod.h>
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "matting/serial_openmp.h"

namespace {

// Fills out[i] = i by a parallel loop of `threads`; the largest team that ran it.
int parallel_fill(std::vector<int>* out, int threads) {
  int widest = 0;
  const int n = static_cast<int>(out->size());
#pragma omp parallel for num_threads(threads) reduction(max : widest)
  for (int i = 0; i < n; ++i) {
    (*out)[i] = i;
    widest = omp_get_num_threads();
  }
  return widest;
}

bool filled(const std::vector<int>& v) {
  for (size_t i = 0; i < v.size(); ++i)
    if (v[i] != static_cast<int>(i)) return false;
  return true;
}

TEST(SerialOpenMP, RegionsRunAsPlainCallsOnlyOutsideTeamsWhileAskedFor) {
  const struct {
    const char* situation;
    bool serial, in_team;
    bool plain;  // whether the region ran as a plain call
    int widest;  // team size seen by the region's loop
  } rows[] = {
      {"no SerialOpenMP", false, false, false, 4},
      {"a SerialOpenMP alive", true, false, true, 1},
      {"alive, region inside a team of 2", true, true, false, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.situation);
    std::vector<std::vector<int>> out(2, std::vector<int>(1000, -1));
    const long before = serial_openmp_regions();
    int widest = 0;
    if (!row.in_team) {
      std::unique_ptr<SerialOpenMP> serial(row.serial ? new SerialOpenMP : nullptr);
      widest = parallel_fill(&out[0], 4);
      out[1] = out[0];
    } else {
#pragma omp parallel num_threads(2)
      {
        // Made inside, or the outer region would be a plain call too.
        SerialOpenMP serial;
#pragma omp barrier
        const int w = parallel_fill(&out[omp_get_thread_num()], 4);
#pragma omp critical
        widest = std::max(widest, w);
      }
    }
    EXPECT_EQ(serial_openmp_regions() - before > 0, row.plain);
    EXPECT_TRUE(filled(out[0]) && filled(out[1])) << "a loop covered only part of its range";
    EXPECT_EQ(widest, row.widest);
  }
}

// The 5-point Laplacian of an n x n grid plus the identity, lower triangle by columns.
cholmod_sparse* grid_matrix(int n, cholmod_common* cc) {
  const int64_t size = static_cast<int64_t>(n) * n;
  cholmod_sparse* A = cholmod_l_allocate_sparse(size, size, 3 * size, 1, 1, -1, CHOLMOD_REAL, cc);
  auto* p = static_cast<int64_t*>(A->p);
  auto* row = static_cast<int64_t*>(A->i);
  auto* x = static_cast<double*>(A->x);
  int64_t at = 0;
  for (int64_t j = 0; j < size; ++j) {
    p[j] = at;
    row[at] = j;
    x[at++] = 5;
    if ((j + 1) % n != 0) row[at] = j + 1, x[at++] = -1;
    if (j + n < size) row[at] = j + n, x[at++] = -1;
  }
  p[size] = at;
  return A;
}

// A supernodal factorisation's solution, with or without a SerialOpenMP alive; *plain: how many
// regions ran as plain calls meanwhile.
std::vector<double> solve_grid(bool serial, long* plain) {
  cholmod_common cc;
  cholmod_l_start(&cc);
  cc.supernodal = CHOLMOD_SUPERNODAL;
  cholmod_sparse* A = grid_matrix(120, &cc);
  cholmod_dense* b = cholmod_l_ones(A->nrow, 1, CHOLMOD_REAL, &cc);
  const long before = serial_openmp_regions();
  std::unique_ptr<SerialOpenMP> scope(serial ? new SerialOpenMP : nullptr);
  cholmod_factor* L = cholmod_l_analyze(A, &cc);
  cholmod_l_factorize(A, L, &cc);
  cholmod_dense* x = cholmod_l_solve(CHOLMOD_A, L, b, &cc);
  scope.reset();
  *plain = serial_openmp_regions() - before;
  const double* v = static_cast<const double*>(x->x);
  std::vector<double> out(v, v + x->nrow);
  cholmod_l_free_dense(&x, &cc);
  cholmod_l_free_dense(&b, &cc);
  cholmod_l_free_factor(&L, &cc);
  cholmod_l_free_sparse(&A, &cc);
  cholmod_l_finish(&cc);
  return out;
}

TEST(SerialOpenMP, CholmodFactorisesAsWithATeamOfOne) {
  omp_set_max_active_levels(0);  // as the engine keeps it: libgomp's teams are of one
  long plain_team = 0, plain_serial = 0;
  const std::vector<double> team = solve_grid(false, &plain_team);
  const std::vector<double> serial = solve_grid(true, &plain_serial);
  omp_set_max_active_levels(1);
  EXPECT_EQ(plain_team, 0);
  EXPECT_GT(plain_serial, 0) << "CHOLMOD's regions did not reach the engine's GOMP_parallel";
  EXPECT_EQ(team, serial);  // the same arithmetic, bit for bit
}

}  // namespace
