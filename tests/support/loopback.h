#pragma once
// The address of a port on 127.0.0.1: test servers listen there only.

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>

namespace testsupport {

inline sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

} // namespace testsupport
