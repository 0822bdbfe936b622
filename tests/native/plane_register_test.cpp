#include "online/plane_register.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {
PlaneHeader Design(const char* name, std::initializer_list<int32_t> numbers)
{
    PlaneHeader header;
    int32_t* fields[] = {&header.Costs, &header.Weight, &header.Consumption, &header.Noise,
                         &header.Reliability, &header.Velocity, &header.Range};
    int i = 0;
    for (int32_t number : numbers)
        *fields[i++] = number;
    std::strcpy(header.Name, name);
    return header;
}
}

TEST(RegisterPlaneQuery, FieldsInFileOrder)
{
    struct Case { PlaneHeader header; const char* server; const char* mail; const char* query; };
    const Case cases[] = {
        {Design("Sky Jet", {1000, 2000, 30, 40, 50, 800, 5000}), "S", "",
         "?data=1000;2000;30;40;50;800;5000;Sky%20Jet;S;"},
        {Design("Semi;colon", {-1, -2, -3, -4, -5, -6, -2147483647 - 1}), "ab12cd.plane", "me@x.org",
         "?data=-1;-2;-3;-4;-5;-6;-2147483648;Semi%3bcolon;ab12cd.plane;me%40x%2eorg"},
        {Design("O'Ha\"re", {0, 0, 0, 0, 0, 0, 0}), "f.plane", "",
         "?data=0;0;0;0;0;0;0;OHare;f.plane;"},
    };
    for (const Case& c : cases) {
        const std::string query = RegisterPlaneQuery(c.header, c.server, c.mail);
        EXPECT_EQ(query, c.query);
        EXPECT_EQ(std::count(query.begin(), query.end(), ';'), 9) << query;
    }
}

TEST(RegisterPlaneQuery, NameWithoutTerminatorStaysInItsRoom)
{
    PlaneHeader header;
    std::memset(header.Name, 'a', sizeof header.Name);
    const std::string query = RegisterPlaneQuery(header, "s.plane", "");
    EXPECT_EQ(query, "?data=0;0;0;0;0;0;0;" + std::string(1024, 'a') + ";s.plane;");
}
