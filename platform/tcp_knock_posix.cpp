#include "platform/tcp_knock.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace quillon {

void KnockOnPort(const std::string& ipv4Address, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (ipv4Address == "0.0.0.0" ||
        inet_pton(AF_INET, ipv4Address.c_str(), &address.sin_addr) != 1) {
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    int knock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (knock < 0) {
        return;
    }
    // An address of this host answers or refuses at once.
    (void)::connect(knock, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::close(knock);
}

}  // namespace quillon
