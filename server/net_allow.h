#pragma once
// Which clients zelbo-server accepts: networks written as "192.168.1.0/24" or
// "fd00::/8", matched against the peer's address (an IPv4 peer reached over an
// IPv6 socket counts as IPv4).

#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelbo::server {

struct Network {
    bool v6 = false;
    std::array<std::uint8_t, 16> address{}; // IPv4 in the first four bytes
    int bits = 0;
};

// "ADDR/BITS" or a bare address (all its bits); nullopt when it is neither.
std::optional<Network> parseNetwork(std::string_view text);
// 127.0.0.0/8 and ::1/128.
std::vector<Network> loopbackNetworks();
bool allowed(const std::vector<Network>& networks, const sockaddr_storage& peer);

bool socketAddress(const std::string& address, int port, sockaddr_storage& out, socklen_t& len);
int portOf(const sockaddr_storage& addr);
std::string addressText(const sockaddr_storage& addr);

} // namespace zelbo::server
