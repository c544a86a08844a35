#pragma once
// Announces the agent on the local network as a DNS-SD service "_veltris._tcp"
// through Avahi, so that consoles can list it under "Browse". Without
// avahi-daemon nothing is announced (Avahi's client waits for a daemon to
// appear) and the agent works as before.
#include <cstdint>
#include <mutex>

struct AvahiClient;
struct AvahiEntryGroup;
struct AvahiThreadedPoll;

namespace veltris::agent {

class DnsSdAnnouncement {
 public:
  DnsSdAnnouncement() = default;
  ~DnsSdAnnouncement();
  DnsSdAnnouncement(const DnsSdAnnouncement&) = delete;
  DnsSdAnnouncement& operator=(const DnsSdAnnouncement&) = delete;

  // Publishes this host's agent with the endpoint mapper's TCP port.
  void publish(uint16_t port);
  void withdraw();

 private:
  static void clientChanged(AvahiClient* client, int state, void* self);
  static void groupChanged(AvahiEntryGroup* group, int state, void* self);
  void addService(AvahiClient* client);

  std::mutex mutex_;
  AvahiThreadedPoll* poll_ = nullptr;
  AvahiClient* client_ = nullptr;
  AvahiEntryGroup* group_ = nullptr;
  char* name_ = nullptr;  // service name, changed on a collision
  uint16_t port_ = 0;
};

}  // namespace veltris::agent
