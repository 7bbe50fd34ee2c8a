#include "server/net_allow.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <charconv>
#include <cstring>

namespace zelbo::server {

namespace {

// The peer as a Network of all its bits; IPv4-mapped IPv6 as IPv4.
Network peerOf(const sockaddr_storage& s)
{
    Network n;
    if (s.ss_family == AF_INET) {
        const auto& a = reinterpret_cast<const sockaddr_in&>(s);
        std::memcpy(n.address.data(), &a.sin_addr, 4);
        n.bits = 32;
    } else if (s.ss_family == AF_INET6) {
        const auto& a = reinterpret_cast<const sockaddr_in6&>(s);
        if (IN6_IS_ADDR_V4MAPPED(&a.sin6_addr)) {
            std::memcpy(n.address.data(), a.sin6_addr.s6_addr + 12, 4);
            n.bits = 32;
        } else {
            n.v6 = true;
            std::memcpy(n.address.data(), a.sin6_addr.s6_addr, 16);
            n.bits = 128;
        }
    } else {
        n.bits = -1; // neither: matches nothing
    }
    return n;
}

bool contains(const Network& net, const Network& peer)
{
    if (peer.bits < 0 || net.v6 != peer.v6) return false;
    int bits = net.bits;
    for (std::size_t i = 0; bits > 0; ++i, bits -= 8) {
        const std::uint8_t mask = bits >= 8 ? 0xFF : static_cast<std::uint8_t>(0xFF << (8 - bits));
        if ((net.address[i] & mask) != (peer.address[i] & mask)) return false;
    }
    return true;
}

} // namespace

std::optional<Network> parseNetwork(std::string_view text)
{
    if (text.size() > 64) return std::nullopt;
    const auto slash = text.find('/');
    const std::string addr(text.substr(0, slash));
    Network n;
    if (::inet_pton(AF_INET, addr.c_str(), n.address.data()) == 1) {
        n.bits = 32;
    } else if (::inet_pton(AF_INET6, addr.c_str(), n.address.data()) == 1) {
        n.v6 = true;
        n.bits = 128;
    } else {
        return std::nullopt;
    }
    if (slash != std::string_view::npos) {
        const std::string_view b = text.substr(slash + 1);
        int bits = -1;
        const auto r = std::from_chars(b.data(), b.data() + b.size(), bits);
        if (b.empty() || r.ec != std::errc() || r.ptr != b.data() + b.size() || bits < 0 || bits > n.bits)
            return std::nullopt;
        n.bits = bits;
    }
    return n;
}

std::vector<Network> loopbackNetworks() { return {*parseNetwork("127.0.0.0/8"), *parseNetwork("::1/128")}; }

bool allowed(const std::vector<Network>& networks, const sockaddr_storage& peer)
{
    const Network p = peerOf(peer);
    for (const auto& n : networks)
        if (contains(n, p)) return true;
    return false;
}

bool socketAddress(const std::string& address, int port, sockaddr_storage& out, socklen_t& len)
{
    out = {};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&out);
    if (::inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<std::uint16_t>(port));
        len = sizeof(sockaddr_in);
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&out);
    if (::inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<std::uint16_t>(port));
        len = sizeof(sockaddr_in6);
        return true;
    }
    return false;
}

int portOf(const sockaddr_storage& addr)
{
    if (addr.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(addr).sin_port);
    if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(addr).sin6_port);
    return 0;
}

std::string addressText(const sockaddr_storage& addr)
{
    char buf[INET6_ADDRSTRLEN] = "?";
    if (addr.ss_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(addr).sin_addr, buf, sizeof buf);
    else if (addr.ss_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(addr).sin6_addr, buf, sizeof buf);
    return buf;
}

} // namespace zelbo::server
