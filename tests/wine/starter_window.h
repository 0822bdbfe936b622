// The Starter's own main window, made by CreateMainWindow with the pictures of the built
// starter.dll (STARTER_DLL), in a language of the string table. App is as before at the end.
#pragma once
#include <windows.h>
#include <cstdlib>

#include "app/startup.h"
#include "tests/wine/app_scope.h"
#include "ui/skin_windows.h"

struct StarterWindow {
    explicit StarterWindow(int language = 1)
    {
        App.LanguageIndex = language;
        lstrcpyA(App.TitleText, "SKV_Starter");
        lstrcpyA(App.ClassName, "SKV_StarterUnderTest");
        App.ResourceLibrary = LoadLibraryA(std::getenv("STARTER_DLL") ? std::getenv("STARTER_DLL") : "starter.dll");
        RegisterMainClass(GetModuleHandleA(nullptr));
        Made = App.ResourceLibrary && CreateMainWindow(GetModuleHandleA(nullptr), SW_SHOWNORMAL);
    }
    ~StarterWindow()
    {
        DestroyWindow(App.MainWindow);
        MSG quit;   // posted as the window goes
        while (PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
        FreeLibrary(App.ResourceLibrary);
    }
    HWND Button(int row) const { return App.ButtonTable[row].window; }

    AppScope Saved;   // made first, so App is put back last
    bool Made = false;
};
