#pragma once

#include <string>

namespace quillon {

// Opens a TCP connection to a port of this host and closes it at once: it
// wakes a server that looks at a request to stop only when a client comes
// or a long poll runs out. An address of all interfaces (0.0.0.0) is
// knocked at on loopback. Nothing is said when nothing answers.
void KnockOnPort(const std::string& ipv4Address, int port);

}  // namespace quillon
