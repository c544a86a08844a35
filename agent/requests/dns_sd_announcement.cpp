#include "agent/requests/dns_sd_announcement.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "common/records.h"

namespace veltris::agent {
namespace {
constexpr char kServiceType[] = "_veltris._tcp";
}

DnsSdAnnouncement::~DnsSdAnnouncement() { withdraw(); }

void DnsSdAnnouncement::publish(uint16_t port) {
  std::lock_guard lock(mutex_);
  if (poll_ != nullptr || port == 0) return;
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) std::strcpy(host, "VELTRIS");
  name_ = avahi_strdup(host);
  port_ = port;
  poll_ = avahi_threaded_poll_new();
  if (poll_ == nullptr) return;
  int error = 0;
  // NO_FAIL: without a daemon the client waits for one instead of failing.
  client_ = avahi_client_new(avahi_threaded_poll_get(poll_), AVAHI_CLIENT_NO_FAIL,
                             [](AvahiClient* c, AvahiClientState s, void* self) {
                               clientChanged(c, static_cast<int>(s), self);
                             },
                             this, &error);
  if (client_ == nullptr) {
    std::printf("DNS-SD announcement not started: %s\n", avahi_strerror(error));
    avahi_threaded_poll_free(poll_);
    poll_ = nullptr;
    return;
  }
  avahi_threaded_poll_start(poll_);
}

void DnsSdAnnouncement::withdraw() {
  std::lock_guard lock(mutex_);
  if (poll_ != nullptr) {
    avahi_threaded_poll_stop(poll_);
    if (client_ != nullptr) avahi_client_free(client_);  // frees the group
    avahi_threaded_poll_free(poll_);
  }
  poll_ = nullptr;
  client_ = nullptr;
  group_ = nullptr;
  avahi_free(name_);
  name_ = nullptr;
}

// Runs on Avahi's thread.
void DnsSdAnnouncement::clientChanged(AvahiClient* client, int state, void* self) {
  auto* me = static_cast<DnsSdAnnouncement*>(self);
  switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
      me->addService(client);
      break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
    case AVAHI_CLIENT_CONNECTING:  // the daemon went away; Avahi reconnects by itself
      if (me->group_ != nullptr) avahi_entry_group_reset(me->group_);
      break;
    default:
      break;
  }
}

void DnsSdAnnouncement::groupChanged(AvahiEntryGroup* group, int state, void* self) {
  auto* me = static_cast<DnsSdAnnouncement*>(self);
  if (state == AVAHI_ENTRY_GROUP_COLLISION) {
    char* other = avahi_alternative_service_name(me->name_);
    avahi_free(me->name_);
    me->name_ = other;
    avahi_entry_group_reset(group);
    me->addService(avahi_entry_group_get_client(group));
  }
}

void DnsSdAnnouncement::addService(AvahiClient* client) {
  if (group_ == nullptr) {
    group_ = avahi_entry_group_new(
        client, [](AvahiEntryGroup* g, AvahiEntryGroupState s, void* self) { groupChanged(g, static_cast<int>(s), self); },
        this);
    if (group_ == nullptr) return;
  }
  if (!avahi_entry_group_is_empty(group_)) return;
  char version[32];
  std::snprintf(version, sizeof version, "version=%s", kVersionStamp);
  int status = avahi_entry_group_add_service(group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0),
                                             name_, kServiceType, nullptr, nullptr, port_, version, nullptr);
  if (status == AVAHI_ERR_COLLISION) {
    groupChanged(group_, AVAHI_ENTRY_GROUP_COLLISION, this);
    return;
  }
  if (status == 0) avahi_entry_group_commit(group_);
}

}  // namespace veltris::agent
