#include "sim/tcpreceived.h"

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>

std::uint64_t simTcpBytesReceived(int sock)
{
    tcp_info info{};
    socklen_t len = sizeof(info);
    if (::getsockopt(sock, IPPROTO_TCP, TCP_INFO, &info, &len) != 0
        || len < offsetof(tcp_info, tcpi_bytes_received) + sizeof(info.tcpi_bytes_received))
        return 0;
    return info.tcpi_bytes_received;
}
