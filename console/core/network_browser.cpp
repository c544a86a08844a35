#include "console/core/network_browser.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>

#include <QElapsedTimer>
#include <memory>
#include <vector>

namespace veltris::console {
namespace {

constexpr char kAgentService[] = "_veltris._tcp";
constexpr char kWorkstationService[] = "_workstation._tcp";

struct Pending;

struct Browse {
  std::vector<std::unique_ptr<Pending>> pending;  // outlives resolvers freed with the client
  AvahiSimplePoll* poll = nullptr;
  AvahiClient* client = nullptr;
  int browsersDone = 0;
  int resolving = 0;
  QStringList agents;
  QStringList workstations;
  QString failure;
};

struct Pending {
  Browse* browse;
  bool agent;
};

QString shortName(const char* host) {
  QString name = QString::fromUtf8(host);
  if (name.endsWith(QLatin1String(".local"), Qt::CaseInsensitive)) name.chop(6);
  return name;
}

void resolved(AvahiServiceResolver* resolver, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event, const char*,
              const char*, const char*, const char* host, const AvahiAddress*, uint16_t, AvahiStringList*,
              AvahiLookupResultFlags, void* userdata) {
  auto* pending = static_cast<Pending*>(userdata);
  Browse* b = pending->browse;
  if (event == AVAHI_RESOLVER_FOUND && host != nullptr) {
    QStringList& list = pending->agent ? b->agents : b->workstations;
    QString name = shortName(host);
    if (!list.contains(name, Qt::CaseInsensitive)) list << name;
  }
  --b->resolving;
  avahi_service_resolver_free(resolver);
}

void browsed(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol, AvahiBrowserEvent event,
             const char* name, const char* type, const char* domain, AvahiLookupResultFlags, void* userdata) {
  auto* b = static_cast<Browse*>(userdata);
  switch (event) {
    case AVAHI_BROWSER_NEW: {
      b->pending.push_back(std::make_unique<Pending>(Pending{b, std::string(type) == kAgentService}));
      if (avahi_service_resolver_new(b->client, interface, protocol, name, type, domain, AVAHI_PROTO_UNSPEC,
                                     AvahiLookupFlags(0), resolved, b->pending.back().get()) != nullptr) {
        ++b->resolving;
      }
      break;
    }
    case AVAHI_BROWSER_ALL_FOR_NOW:
      ++b->browsersDone;
      break;
    case AVAHI_BROWSER_FAILURE:
      b->failure = QString::fromUtf8(avahi_strerror(avahi_client_errno(b->client)));
      ++b->browsersDone;
      break;
    default:
      break;
  }
}

}  // namespace

BrowseResult browseNetwork(int timeoutMs) {
  BrowseResult result;
  Browse b;
  b.poll = avahi_simple_poll_new();
  if (b.poll == nullptr) {
    result.errorTitle = QStringLiteral("WNetOpenEnum");
    result.errorText = BrowseResult::tr("Error: out of memory for the network browse");
    return result;
  }
  int error = 0;
  b.client = avahi_client_new(avahi_simple_poll_get(b.poll), AvahiClientFlags(0), nullptr, nullptr, &error);
  if (b.client == nullptr) {
    result.errorTitle = QStringLiteral("WNetOpenEnum");
    result.errorText = BrowseResult::tr("Error: the network cannot be browsed: the Avahi service (avahi-daemon) "
                                          "is not running on this PC (") +
                       QString::fromUtf8(avahi_strerror(error)) +
                       BrowseResult::tr("). Type the computer's name or address instead.");
    avahi_simple_poll_free(b.poll);
    return result;
  }
  AvahiServiceBrowser* browsers[2] = {};
  const char* types[2] = {kAgentService, kWorkstationService};
  for (int i = 0; i < 2; ++i) {
    browsers[i] = avahi_service_browser_new(b.client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, types[i], nullptr,
                                            AvahiLookupFlags(0), browsed, &b);
    if (browsers[i] == nullptr) ++b.browsersDone;
  }
  QElapsedTimer clock;
  clock.start();
  while ((b.browsersDone < 2 || b.resolving > 0) && clock.elapsed() < timeoutMs) {
    if (avahi_simple_poll_iterate(b.poll, static_cast<int>(timeoutMs - clock.elapsed())) != 0) break;
  }
  for (AvahiServiceBrowser* browser : browsers) {
    if (browser != nullptr) avahi_service_browser_free(browser);
  }
  avahi_client_free(b.client);  // frees resolvers still running
  avahi_simple_poll_free(b.poll);
  if (!b.failure.isEmpty() && b.agents.isEmpty() && b.workstations.isEmpty()) {
    result.errorTitle = QStringLiteral("WNetEnumResources");
    result.errorText = BrowseResult::tr("Error: ") + b.failure;
    return result;
  }
  result.ok = true;
  result.names = b.agents;
  for (const QString& name : b.workstations) {
    if (!result.names.contains(name, Qt::CaseInsensitive)) result.names << name;
  }
  return result;
}

}  // namespace veltris::console
