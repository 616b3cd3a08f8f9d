// DLL entry: after the runtime's own start-up, only the x87 precision is set;
// everything else waits for the host's call of initialise.

#include <windows.h>

#include "platform/x87_precision.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) zeverive::set_x87_double_precision();
    return TRUE;
}
