#include "online/plane_register.h"

#include <cstring>

#include "online/http_text.h"

std::string RegisterPlaneQuery(const PlaneHeader& header, const std::string& serverName, const std::string& mail)
{
    std::string query = "?data=";
    for (PlaneNumberField field : PlaneNumberFields)
        query += std::to_string(header.*field) + ";";
    const std::string_view name(header.Name, strnlen(header.Name, sizeof header.Name));
    return query + EncodeField(name) + ";" + serverName + ";" + EncodeField(mail);
}
