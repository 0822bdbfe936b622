// The Starter's own main window, made by CreateMainWindow with the pictures of the built
// starter.dll (STARTER_DLL), in a language of the string table. App is as before at the end.
#pragma once
#include <windows.h>
#include <cstdlib>

#include "app/base/app_state.h"
#include "app/startup.h"
#include "tests/wine/app_scope.h"
#include "ui/skin_windows.h"

class StarterWindow {
public:
    explicit StarterWindow(int language = 1)
    {
        App.LanguageIndex = language;
        lstrcpyA(App.TitleText, "SKV_Starter");
        lstrcpyA(App.ClassName, "SKV_StarterUnderTest");
        const char* library = std::getenv("STARTER_DLL");
        App.ResourceLibrary = LoadLibraryA(library ? library : "starter.dll");
        RegisterMainClass(GetModuleHandleA(nullptr));
        Made = App.ResourceLibrary && CreateMainWindow(GetModuleHandleA(nullptr), SW_SHOWNORMAL);
    }
    ~StarterWindow()
    {
        if (App.MainWindow)
            DestroyWindow(App.MainWindow);
        // The window's end posts the quit that would end the program's loop.
        MSG message;
        while (PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
        if (App.ResourceLibrary)
            FreeLibrary(App.ResourceLibrary);
    }
    StarterWindow(const StarterWindow&) = delete;
    StarterWindow& operator=(const StarterWindow&) = delete;

    HWND Button(int row) const { return App.ButtonTable[row].window; }

    AppScope Saved;   // first made, last gone
    bool Made = false;
};
