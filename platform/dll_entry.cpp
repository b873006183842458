// The DLL's entry point. The module links no C runtime start-up code: there
// is nothing to initialise before Z9_Apply (every global is constant-
// initialised), so the entry only says yes to the Windows loader.
#if defined(_WIN32)
#include "platform/win32.h"

extern "C" BOOL WINAPI zp_dll_entry(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif
