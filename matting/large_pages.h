// Large pages for SuiteSparse's large blocks.
//
// A supernodal factor is allocated fresh and cleared whole before CHOLMOD fills it; each 4 KiB
// page then costs a fault on first touch, and on a virtual machine the faults of a
// half-megapixel photograph's factors take a fifth of its calculation. Asking the kernel for
// transparent huge pages (2 MiB) on blocks of 4 MiB and more takes 512 times fewer. Nothing
// else changes: the blocks come from the same allocator, and where the kernel has no huge
// pages the advice is ignored.
#ifndef QUILLANE_MATTING_LARGE_PAGES_H
#define QUILLANE_MATTING_LARGE_PAGES_H

#include <cstddef>

// Makes SuiteSparse's malloc, calloc and realloc (SuiteSparse_config) advise huge pages for the
// blocks they return of 4 MiB or more, by wrapping the functions installed at the first
// call; later calls do nothing. Call before a calculation, from any thread. A program (or a
// test) may install functions of its own afterwards; those are then used as they are.
void use_large_pages_in_suitesparse();

// In ptr, bytes: a block just allocated. Advises huge pages for the 2 MiB pages wholly inside
// it when it is large enough. Returns ptr.
void* advise_large_pages(void* ptr, size_t bytes);

#endif
