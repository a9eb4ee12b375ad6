#include "sim/tcpreceived.h"

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>

namespace {

// States a connection is in once the peer's FIN has come in. The kernel counts that FIN as
// one received byte; it is no payload.
// (The kernel's numbering; <netinet/tcp.h>, which names them, clashes with <linux/tcp.h>.)
bool finReceived(unsigned state)
{
    constexpr unsigned kTimeWait = 6, kCloseWait = 8, kLastAck = 9, kClosing = 11;
    return state == kTimeWait || state == kCloseWait || state == kLastAck || state == kClosing;
}

} // namespace

std::uint64_t simTcpBytesReceived(int sock)
{
    tcp_info info{};
    socklen_t len = sizeof(info);
    if (::getsockopt(sock, IPPROTO_TCP, TCP_INFO, &info, &len) != 0
        || len < offsetof(tcp_info, tcpi_bytes_received) + sizeof(info.tcpi_bytes_received))
        return 0;
    const std::uint64_t counted = info.tcpi_bytes_received;
    return finReceived(info.tcpi_state) && counted > 0 ? counted - 1 : counted;
}
