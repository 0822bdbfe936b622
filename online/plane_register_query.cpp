#include "online/plane_register.h"

#include <cstring>

#include "online/http_text.h"

std::string RegisterPlaneQuery(const PlaneHeader& header, const std::string& serverName, const std::string& mail)
{
    std::string query = "?data=";
    for (int32_t number : {header.Costs, header.Weight, header.Consumption, header.Noise, header.Reliability,
                           header.Velocity, header.Range})
        query += std::to_string(number) + ";";
    const std::string_view name(header.Name, strnlen(header.Name, sizeof header.Name));
    return query + EncodeField(name) + ";" + serverName + ";" + EncodeField(mail);
}
