// Program entry and exit.
#pragma once
#include <windows.h>

int StartUp(HINSTANCE instance);
void RegisterMainClass(HINSTANCE instance);
HMODULE LoadResourceLibrary();
void ShutDown();
