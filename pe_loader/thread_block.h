// The thread environment the DLL's code reaches through %fs. The loader runs
// DLL code on one thread only, so there is one block per process.
#pragma once

#include "windows_abi.h"

namespace pe_loader {

// The block, set up and loaded into %fs on first use. Throws LoadError if
// the segment cannot be had.
ThreadBlock& thread_block();

// Implicit TLS: a free index in the block's per-module array, holding
// `data`; -1 when all are taken.
int claim_tls_index(void* data);
void release_tls_index(int index);

}  // namespace pe_loader
