#ifndef KELVORA_SIM_TCPRECEIVED_H
#define KELVORA_SIM_TCPRECEIVED_H

#include <cstdint>

// Payload bytes the kernel has taken in on a connected TCP socket so far, read or not
// (Linux TCP_INFO); 0 when the kernel does not tell. Kept apart from the server's code:
// <netinet/tcp.h>'s struct tcp_info lacks the field and clashes with <linux/tcp.h>.
std::uint64_t simTcpBytesReceived(int sock);

#endif
