# 32-bit x86 Linux, for a processor without SSE: the baseline is the x87
# unit, and only the SIMD kernels are compiled for SSE or 3DNow!. The
# programs are static so that qemu-i386-static runs them on any host.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# 64-bit file offsets, so that inputs of 2 GiB and more open and seek.
set(CMAKE_C_FLAGS_INIT "-m32 -march=pentiumpro -mfpmath=387 -D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-m32 -march=pentiumpro -mfpmath=387 -D_FILE_OFFSET_BITS=64")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386-static -cpu phenom)
