// The Win32 surface the plug-in uses: eight functions of KERNEL32 and USER32
// and the few constants that go with them. On Windows this is <windows.h>.
// Elsewhere the same eight functions are declared here, stdcall with their
// plain C names, and left for the loading process to provide, exactly as a
// DLL leaves its imports to the Windows loader.
#pragma once

#include "platform/types.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else

#define WINAPI __attribute__((stdcall))

typedef int BOOL;
typedef short SHORT;
typedef int INT;
typedef unsigned int UINT;
typedef unsigned long DWORD;
typedef unsigned long ULONG_PTR;
typedef ULONG_PTR SIZE_T;
typedef void *LPVOID;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef void *HMODULE;

extern "C" {
// KERNEL32
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR filename, DWORD size);
UINT WINAPI GetPrivateProfileIntA(LPCSTR app, LPCSTR key, INT def, LPCSTR file);
DWORD WINAPI GetPrivateProfileStringA(LPCSTR app, LPCSTR key, LPCSTR def, LPSTR out, DWORD size,
                                      LPCSTR file);
BOOL WINAPI WritePrivateProfileStringA(LPCSTR app, LPCSTR key, LPCSTR value, LPCSTR file);
DWORD WINAPI GetTickCount(void);
LPVOID WINAPI VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect);
BOOL WINAPI VirtualFree(LPVOID address, SIZE_T size, DWORD type);
// USER32
SHORT WINAPI GetAsyncKeyState(int vk);
}

#define MEM_COMMIT 0x00001000
#define MEM_RESERVE 0x00002000
#define MEM_RELEASE 0x00008000
#define PAGE_READWRITE 0x04
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11

#endif

static_assert(sizeof(DWORD) == 4 && sizeof(SHORT) == 2, "Win32 widths on a 32-bit target");

// A key is down when the most significant bit of the 16-bit state is set; the
// low bit ("pressed since the last query") is system-wide and unreliable.
inline bool key_down(int vk) { return (GetAsyncKeyState(vk) & 0x8000) != 0; }

// A press is a sample in which the key is down while its state word says it
// was up at the previous sample; the word then takes the new sample (1 down,
// 0 up). A held key is one press however long it is held, and the keyboard's
// auto-repeat never counts. Where two keys must be sampled before either acts
// (the seek keys), the sample is taken first and handed to key_pressed.
inline int key_pressed(bool down, u32 *state) {
  int pressed = down && *state == 0;
  *state = down ? 1 : 0;
  return pressed;
}
inline int key_edge(int vk, u32 *state) { return key_pressed(key_down(vk), state); }
