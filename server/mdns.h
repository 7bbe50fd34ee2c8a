#pragma once
// Advertises the server as "_scpi-raw._tcp" through the Avahi daemon, as LAN
// instruments do. Without a daemon (or without a running one) the server goes
// on unadvertised: start() says why in one line and returns false.

#include <functional>
#include <memory>
#include <string>

namespace zelbo::server {

class MdnsAdvert {
public:
    MdnsAdvert();
    ~MdnsAdvert();
    MdnsAdvert(const MdnsAdvert&) = delete;
    MdnsAdvert& operator=(const MdnsAdvert&) = delete;

    bool start(const std::string& name, int port, const std::function<void(const std::string&)>& log);
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace zelbo::server
