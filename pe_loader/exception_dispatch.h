// Vectored exception handling for the DLL: an illegal instruction inside a
// loaded image becomes a call of each registered handler in turn, with the
// exception record and the registers as a Windows CONTEXT; execution goes on
// at the context's Eip when a handler asks to continue.
#pragma once

#include <cstdint>

#include "windows_abi.h"

namespace pe_loader {

// AddVectoredExceptionHandler and RemoveVectoredExceptionHandler.
void* add_vectored_handler(bool first, VectoredHandler handler);
bool remove_vectored_handler(void* handle);

// An image mapped at [begin, end): illegal instructions there go to the
// vectored handlers. Installs the SIGILL handler on first use.
void dispatch_faults_in(const uint8_t* begin, const uint8_t* end);

// The image at [begin, end) is being unmapped: its faults are no longer
// dispatched, and the handlers that live in it are dropped.
void forget_image(const uint8_t* begin, const uint8_t* end);

}  // namespace pe_loader
