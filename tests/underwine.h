#pragma once
// Wine stands in for Windows in the tests: where it cannot, a case says so.

#include <qt_windows.h>

inline bool underWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}
