#include "server/mdns.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>

namespace zelbo::server {

struct MdnsAdvert::Impl {
    AvahiThreadedPoll* poll = nullptr;
    AvahiClient* client = nullptr;
    AvahiEntryGroup* group = nullptr;
    std::string name;
    int port = 0;
    std::function<void(const std::string&)> log;

    void say(const std::string& s) const
    {
        if (log) log(s);
    }

    // On Avahi's own thread.
    void publish(AvahiClient* c)
    {
        if (!group) group = avahi_entry_group_new(c, &Impl::groupChanged, this);
        if (!group) return say("mDNS: " + std::string(avahi_strerror(avahi_client_errno(c))));
        if (!avahi_entry_group_is_empty(group)) return;
        for (int tries = 0; tries < 10; ++tries) {
            const int r = avahi_entry_group_add_service(group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                        static_cast<AvahiPublishFlags>(0), name.c_str(),
                                                        "_scpi-raw._tcp", nullptr, nullptr,
                                                        static_cast<std::uint16_t>(port), nullptr);
            if (r == AVAHI_ERR_COLLISION) {
                rename();
                continue;
            }
            if (r < 0) return say("mDNS: " + std::string(avahi_strerror(r)));
            break;
        }
        if (const int r = avahi_entry_group_commit(group); r < 0) say("mDNS: " + std::string(avahi_strerror(r)));
        else say("mDNS: advertising \"" + name + "\" as _scpi-raw._tcp");
    }

    void rename()
    {
        char* alt = avahi_alternative_service_name(name.c_str());
        name = alt;
        avahi_free(alt);
    }

    static void groupChanged(AvahiEntryGroup* g, AvahiEntryGroupState state, void* self)
    {
        auto* impl = static_cast<Impl*>(self);
        if (state == AVAHI_ENTRY_GROUP_COLLISION) {
            impl->rename();
            avahi_entry_group_reset(g);
            impl->publish(avahi_entry_group_get_client(g));
        }
    }

    static void clientChanged(AvahiClient* c, AvahiClientState state, void* self)
    {
        auto* impl = static_cast<Impl*>(self);
        if (state == AVAHI_CLIENT_S_RUNNING) impl->publish(c);
        else if (state == AVAHI_CLIENT_S_COLLISION || state == AVAHI_CLIENT_S_REGISTERING) {
            if (impl->group) avahi_entry_group_reset(impl->group);
        }
    }
};

MdnsAdvert::MdnsAdvert() : impl_(std::make_unique<Impl>()) {}
MdnsAdvert::~MdnsAdvert() { stop(); }

bool MdnsAdvert::start(const std::string& name, int port, const std::function<void(const std::string&)>& log)
{
    impl_->name = name;
    impl_->port = port;
    impl_->log = log;
    impl_->poll = avahi_threaded_poll_new();
    if (!impl_->poll) {
        impl_->say("mDNS: not advertised (no poll)");
        return false;
    }
    int error = 0;
    impl_->client = avahi_client_new(avahi_threaded_poll_get(impl_->poll), static_cast<AvahiClientFlags>(0),
                                     &Impl::clientChanged, impl_.get(), &error);
    if (!impl_->client) {
        impl_->say("mDNS: not advertised (" + std::string(avahi_strerror(error)) + ")");
        avahi_threaded_poll_free(impl_->poll);
        impl_->poll = nullptr;
        return false;
    }
    if (avahi_threaded_poll_start(impl_->poll) < 0) {
        impl_->say("mDNS: not advertised (no thread)");
        stop();
        return false;
    }
    return true;
}

void MdnsAdvert::stop()
{
    if (!impl_->poll) return;
    avahi_threaded_poll_stop(impl_->poll);
    if (impl_->client) avahi_client_free(impl_->client); // frees its groups
    impl_->client = nullptr;
    impl_->group = nullptr;
    avahi_threaded_poll_free(impl_->poll);
    impl_->poll = nullptr;
}

} // namespace zelbo::server
