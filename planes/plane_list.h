// Design files in myPlanes and the rows of the browser list.
#pragma once
#include <windows.h>
#include <string>

#include "planes/plane_file.h"

// False when the file cannot be opened; the header is zeroed first either way.
bool ReadPlaneHeader(const std::string& path, PlaneHeader& header);
void AddPlaneRow(HWND list, const PlaneEntry& entry, int row);
// Gives an existing row the texts that AddPlaneRow would give it.
void RewritePlaneRow(HWND list, const PlaneEntry& entry, int row);
// Lists every design of myPlanes, appending the file names to App.LocalPlaneFiles.
void FillLocalPlaneList(HWND list);
// Gives row 0 the selected and focused states.
void SelectFirstRow(HWND list);
// GamePath + "myPlanes".
std::string PlanesFolder();
