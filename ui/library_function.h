// A function of a system DLL looked up at run time, for what older Windows lacks (the DPI
// functions of Windows 8.1 and 10) or what only a few runs need (oleacc): the program's import
// table stays as it is, so it still loads on Vista.
#pragma once
#include <windows.h>

// The address of the function, or null. The DLL is loaded from the system folder when it is
// not loaded yet, never from the program's.
FARPROC LibraryProcedure(const char* library, const char* name);

template <class Function>
Function LibraryFunction(const char* library, const char* name)
{
    // Through void (*)(): GetProcAddress's own type does not convert to another without a warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(LibraryProcedure(library, name)));
}
