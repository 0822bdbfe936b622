// A loopback address for a test's servers, picked at run time from 127.1.0.0/16: at random, so
// two checkouts testing at once rarely meet, and only where nothing is bound yet to the ports
// the servers take. The same rule as tests/support/loopback.py, for the programs under Wine.
// Include <winsock2.h> before <windows.h>; link ws2_32.
#pragma once
#include <winsock2.h>

#include <initializer_list>
#include <random>
#include <string>

namespace testsupport {

// Nothing is bound to address:port yet: we could bind it ourselves.
inline bool PortFree(const std::string& address, u_short port)
{
    const SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (probe == INVALID_SOCKET)
        return false;
    sockaddr_in where = {};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    where.sin_addr.s_addr = inet_addr(address.c_str());
    const bool free = bind(probe, reinterpret_cast<const sockaddr*>(&where), sizeof where) == 0;
    closesocket(probe);
    return free;
}

// "" when 200 tries found none.
inline std::string FreeLoopbackAddress(std::initializer_list<u_short> ports = {80, 21})
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    std::random_device random;
    std::string chosen;
    for (int attempt = 0; attempt < 200 && chosen.empty(); ++attempt) {
        const std::string candidate =
            "127.1." + std::to_string(random() % 256) + "." + std::to_string(1 + random() % 254);
        bool free = true;
        for (u_short port : ports)
            free = free && PortFree(candidate, port);
        if (free)
            chosen = candidate;
    }
    WSACleanup();
    return chosen;
}

}  // namespace testsupport
