// A drive letter that Wine's mount manager reports as removable, CD-ROM, ..., mapped to a
// Unix folder, while the object lives. Tests only: it talks to Wine's own mount manager.
#pragma once
#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <string>

class SimulatedDrive {
public:
    SimulatedDrive(UINT type, const std::string& unixFolder)
    {
        const DWORD used = GetLogicalDrives();
        for (char letter = 'm'; letter <= 'y' && !Letter; ++letter)
            if (!(used & (1u << (letter - 'a'))))
                Letter = letter;
        if (Letter && Define(type, unixFolder.c_str()))
            Root = std::string(1, static_cast<char>(Letter - 'a' + 'A')) + ":\\";
    }
    ~SimulatedDrive()
    {
        if (!Root.empty())
            Define(DRIVE_NO_ROOT_DIR, nullptr);
    }
    SimulatedDrive(const SimulatedDrive&) = delete;
    SimulatedDrive& operator=(const SimulatedDrive&) = delete;

    std::string Root;   // "M:\", or empty when the drive could not be defined

private:
    // The request of Wine's mount manager that its configuration tool sends.
    struct UnixDrive {
        ULONG Size;
        ULONG Type;
        ULONG FsType;
        DWORD Serial;
        ULONGLONG UnixDevice;
        WCHAR Letter;
        USHORT MountPointOffset;
        USHORT DeviceOffset;
        USHORT LabelOffset;
    };

    bool Define(UINT type, const char* unixFolder)
    {
        char request[1024] = {};
        auto* drive = reinterpret_cast<UnixDrive*>(request);
        drive->Size = sizeof(UnixDrive);
        drive->Type = type;
        drive->Letter = static_cast<WCHAR>(Letter);
        if (unixFolder) {
            if (std::strlen(unixFolder) >= sizeof request - sizeof(UnixDrive))
                return false;
            drive->MountPointOffset = sizeof(UnixDrive);
            std::strcpy(request + sizeof(UnixDrive), unixFolder);
            drive->Size += static_cast<ULONG>(std::strlen(unixFolder) + 1);
        }
        HANDLE manager = CreateFileA("\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (manager == INVALID_HANDLE_VALUE)
            return false;
        const DWORD defineUnixDrive = CTL_CODE(0x6D, 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
        DWORD returned = 0;
        const BOOL done = DeviceIoControl(manager, defineUnixDrive, request, drive->Size, nullptr, 0, &returned, nullptr);
        CloseHandle(manager);
        return done != FALSE;
    }

    char Letter = 0;
};
