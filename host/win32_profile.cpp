// Placeholder until the private-profile layer lands: every file is missing.
#include <cstring>

#include "host/win32.h"

extern "C" {
UINT WINAPI GetPrivateProfileIntA(LPCSTR, LPCSTR, INT def, LPCSTR) { return (UINT)def; }
DWORD WINAPI GetPrivateProfileStringA(LPCSTR, LPCSTR, LPCSTR def, LPSTR out, DWORD size, LPCSTR) {
  if (!size) return 0;
  strncpy(out, def ? def : "", size - 1);
  out[size - 1] = 0;
  return (DWORD)strlen(out);
}
BOOL WINAPI WritePrivateProfileStringA(LPCSTR, LPCSTR, LPCSTR, LPCSTR) { return 0; }
}
