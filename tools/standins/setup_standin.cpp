// Installed as SETUP.EXE in test installations: records how it was started and ends.
#include <windows.h>
#include "tools/standins/standin_log.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return RecordStart() ? 0 : 1;
}
