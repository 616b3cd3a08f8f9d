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

// Drops the handlers that live in [begin, end), an image being unmapped.
void forget_handlers_in(const uint8_t* begin, const uint8_t* end);

// Installs the SIGILL handler once per process.
void install_illegal_instruction_dispatch();

}  // namespace pe_loader
