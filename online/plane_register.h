// Announcing an uploaded design to the web server's catalogue.
#pragma once
#include <string>

#include "app/base/plane_record.h"

// "?data=" the seven numbers in file order, the escaped name, the server name as it is and
// the escaped mail address: ten fields, nine semicolons. No <windows.h> needed.
std::string RegisterPlaneQuery(const PlaneHeader& header, const std::string& serverName, const std::string& mail);

// Shows the success box when the script acknowledged the design (a 2xx answer); false otherwise.
bool RegisterPlane(const PlaneHeader& header, const std::string& serverName, const std::string& mail);
