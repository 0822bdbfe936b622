#include "ui/library_function.h"

FARPROC LibraryProcedure(const char* library, const char* name)
{
    HMODULE module = GetModuleHandleA(library);
    if (!module) {
        char path[MAX_PATH];
        const UINT length = GetSystemDirectoryA(path, MAX_PATH);
        if (length == 0 || length + 1 + lstrlenA(library) >= MAX_PATH)
            return nullptr;
        lstrcatA(lstrcatA(path, "\\"), library);
        module = LoadLibraryA(path);
    }
    return module ? GetProcAddress(module, name) : nullptr;
}
