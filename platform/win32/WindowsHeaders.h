#pragma once
// The Windows headers as this backend includes them. They define macros named like some of
// the platform interfaces' own methods (GetProfileString, MessageBox, PeekMessage); those are
// taken out again, and the A functions are called by their full names.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <wininet.h>

#undef GetProfileString
#undef MessageBox
#undef PeekMessage
#undef CreateDirectory
#undef ShowMessage
