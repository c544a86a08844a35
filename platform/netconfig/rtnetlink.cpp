#include "platform/netconfig/rtnetlink.h"

#include <linux/if_addr.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

namespace veltris::netconfig {
namespace {

constexpr size_t kReceiveBuffer = 64 * 1024;
constexpr size_t kMaxDumpBytes = 64 * 1024 * 1024;  // far beyond any real table
constexpr time_t kReceiveTimeoutSeconds = 2;

using MessageVisitor = std::function<void(const nlmsghdr&)>;

class RouteSocket {
 public:
  RouteSocket() : fd_(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {
    if (fd_ < 0) return;
    timeval timeout{kReceiveTimeoutSeconds, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  }
  ~RouteSocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  RouteSocket(const RouteSocket&) = delete;
  RouteSocket& operator=(const RouteSocket&) = delete;

  bool dump(uint16_t type, const void* header, size_t headerSize, const MessageVisitor& visit, std::string& error);

 private:
  bool receiveAll(uint32_t sequence, const MessageVisitor& visit, std::string& error);
  int fd_;
};

std::string systemError(const char* what, int code) { return std::string(what) + ": " + std::strerror(code); }

bool RouteSocket::dump(uint16_t type, const void* header, size_t headerSize, const MessageVisitor& visit,
                       std::string& error) {
  if (fd_ < 0) {
    error = systemError("netlink socket", errno);
    return false;
  }
  struct {
    nlmsghdr message;
    char payload[64];
  } request{};
  static constexpr uint32_t kSequence = 1;
  request.message.nlmsg_len = static_cast<uint32_t>(NLMSG_LENGTH(headerSize));
  request.message.nlmsg_type = type;
  request.message.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.message.nlmsg_seq = kSequence;
  std::memcpy(NLMSG_DATA(&request.message), header, std::min(headerSize, sizeof request.payload));
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (::sendto(fd_, &request, request.message.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
    error = systemError("netlink request", errno);
    return false;
  }
  return receiveAll(kSequence, visit, error);
}

bool RouteSocket::receiveAll(uint32_t sequence, const MessageVisitor& visit, std::string& error) {
  std::vector<char> buffer(kReceiveBuffer);
  size_t total = 0;
  while (total < kMaxDumpBytes) {
    const ssize_t got = ::recv(fd_, buffer.data(), buffer.size(), 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      error = got == 0 ? "netlink: connection closed" : systemError("netlink answer", errno);
      return false;
    }
    total += static_cast<size_t>(got);
    int left = static_cast<int>(got);
    for (auto* m = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(m, left); m = NLMSG_NEXT(m, left)) {
      if (m->nlmsg_seq != sequence) continue;
      if (m->nlmsg_type == NLMSG_DONE) return true;
      if (m->nlmsg_type == NLMSG_ERROR) {
        int code = EPROTO;
        if (m->nlmsg_len >= NLMSG_LENGTH(sizeof(nlmsgerr)))
          code = -reinterpret_cast<const nlmsgerr*>(NLMSG_DATA(m))->error;
        error = systemError("netlink dump", code);
        return false;
      }
      visit(*m);
    }
  }
  error = "netlink: answer larger than expected";
  return false;
}

// The attributes behind a fixed header of type Header.
template <typename Header>
bool messageParts(const nlmsghdr& m, const Header*& header, const rtattr*& first, int& length) {
  if (m.nlmsg_len < NLMSG_LENGTH(sizeof(Header))) return false;
  header = reinterpret_cast<const Header*>(NLMSG_DATA(&m));
  first = reinterpret_cast<const rtattr*>(reinterpret_cast<const char*>(header) + NLMSG_ALIGN(sizeof(Header)));
  length = static_cast<int>(m.nlmsg_len - NLMSG_LENGTH(sizeof(Header)));
  return true;
}

template <typename Visit>
void forEachAttribute(const rtattr* first, int length, Visit visit) {
  for (const rtattr* a = first; RTA_OK(a, length); a = RTA_NEXT(a, length)) {
    visit(*a, static_cast<const char*>(RTA_DATA(a)), RTA_PAYLOAD(a));
  }
}

uint32_t u32Of(const char* data, size_t size) {
  uint32_t value = 0;
  std::memcpy(&value, data, std::min(size, sizeof value));
  return value;
}

std::string stringOf(const char* data, size_t size) { return std::string(data, ::strnlen(data, size)); }

std::string linkKind(const char* data, size_t size) {
  std::string kind;
  forEachAttribute(reinterpret_cast<const rtattr*>(data), static_cast<int>(size),
                   [&](const rtattr& a, const char* value, size_t valueSize) {
                     if (a.rta_type == IFLA_INFO_KIND) kind = stringOf(value, valueSize);
                   });
  return kind;
}

void addLink(const nlmsghdr& m, std::vector<LinkEntry>& links) {
  const ifinfomsg* info = nullptr;
  const rtattr* first = nullptr;
  int length = 0;
  if (m.nlmsg_type != RTM_NEWLINK || !messageParts(m, info, first, length)) return;
  LinkEntry link;
  link.index = info->ifi_index;
  link.type = info->ifi_type;
  forEachAttribute(first, length, [&](const rtattr& a, const char* value, size_t size) {
    if (a.rta_type == IFLA_IFNAME) link.name = stringOf(value, size);
    if (a.rta_type == IFLA_LINKINFO) link.kind = linkKind(value, size);
  });
  links.push_back(std::move(link));
}

void addAddress(const nlmsghdr& m, std::vector<AddressEntry>& addresses) {
  const ifaddrmsg* info = nullptr;
  const rtattr* first = nullptr;
  int length = 0;
  if (m.nlmsg_type != RTM_NEWADDR || !messageParts(m, info, first, length) || info->ifa_family != AF_INET) return;
  AddressEntry entry;
  entry.index = static_cast<int>(info->ifa_index);
  entry.prefixLength = info->ifa_prefixlen;
  uint32_t flags = info->ifa_flags;
  uint32_t local = 0, peer = 0;
  entry.validLifetime = kForever;
  forEachAttribute(first, length, [&](const rtattr& a, const char* value, size_t size) {
    if (a.rta_type == IFA_LOCAL && size >= 4) local = u32Of(value, size);
    if (a.rta_type == IFA_ADDRESS && size >= 4) peer = u32Of(value, size);
    if (a.rta_type == IFA_FLAGS && size >= 4) flags = u32Of(value, size);
    if (a.rta_type == IFA_CACHEINFO && size >= sizeof(ifa_cacheinfo)) {
      ifa_cacheinfo cache{};
      std::memcpy(&cache, value, sizeof cache);
      entry.validLifetime = cache.ifa_valid;
      entry.updatedHundredths = cache.tstamp;
    }
  });
  entry.address = local != 0 ? local : peer;
  entry.permanent = (flags & IFA_F_PERMANENT) != 0;
  addresses.push_back(entry);
}

void addNextHops(const char* data, size_t size, uint32_t metric, std::vector<DefaultRoute>& routes) {
  size_t at = 0;
  while (at + sizeof(rtnexthop) <= size) {
    rtnexthop hop{};
    std::memcpy(&hop, data + at, sizeof hop);
    if (hop.rtnh_len < sizeof(rtnexthop) || at + hop.rtnh_len > size) return;
    DefaultRoute route{hop.rtnh_ifindex, 0, metric};
    forEachAttribute(reinterpret_cast<const rtattr*>(data + at + RTNH_ALIGN(sizeof(rtnexthop))),
                     static_cast<int>(hop.rtnh_len - RTNH_ALIGN(sizeof(rtnexthop))),
                     [&](const rtattr& a, const char* value, size_t valueSize) {
                       if (a.rta_type == RTA_GATEWAY && valueSize >= 4) route.gateway = u32Of(value, valueSize);
                     });
    routes.push_back(route);
    at += RTNH_ALIGN(hop.rtnh_len);
  }
}

void addDefaultRoute(const nlmsghdr& m, std::vector<DefaultRoute>& routes) {
  const rtmsg* info = nullptr;
  const rtattr* first = nullptr;
  int length = 0;
  if (m.nlmsg_type != RTM_NEWROUTE || !messageParts(m, info, first, length)) return;
  if (info->rtm_family != AF_INET || info->rtm_dst_len != 0 || info->rtm_type != RTN_UNICAST) return;
  uint32_t table = info->rtm_table;
  DefaultRoute route;
  const char* multipath = nullptr;
  size_t multipathSize = 0;
  forEachAttribute(first, length, [&](const rtattr& a, const char* value, size_t size) {
    if (a.rta_type == RTA_TABLE && size >= 4) table = u32Of(value, size);
    if (a.rta_type == RTA_OIF && size >= 4) route.index = static_cast<int>(u32Of(value, size));
    if (a.rta_type == RTA_GATEWAY && size >= 4) route.gateway = u32Of(value, size);
    if (a.rta_type == RTA_PRIORITY && size >= 4) route.metric = u32Of(value, size);
    if (a.rta_type == RTA_MULTIPATH) multipath = value, multipathSize = size;
  });
  if (table != RT_TABLE_MAIN) return;
  if (multipath != nullptr) addNextHops(multipath, multipathSize, route.metric, routes);
  else routes.push_back(route);
}

}  // namespace

bool dumpLinks(std::vector<LinkEntry>& links, std::string& error) {
  links.clear();
  ifinfomsg header{};
  header.ifi_family = AF_UNSPEC;
  return RouteSocket().dump(RTM_GETLINK, &header, sizeof header, [&](const nlmsghdr& m) { addLink(m, links); },
                            error);
}

bool dumpAddresses(std::vector<AddressEntry>& addresses, std::string& error) {
  addresses.clear();
  ifaddrmsg header{};
  header.ifa_family = AF_INET;
  return RouteSocket().dump(RTM_GETADDR, &header, sizeof header,
                            [&](const nlmsghdr& m) { addAddress(m, addresses); }, error);
}

bool dumpDefaultRoutes(std::vector<DefaultRoute>& routes, std::string& error) {
  routes.clear();
  rtmsg header{};
  header.rtm_family = AF_INET;
  if (!RouteSocket().dump(RTM_GETROUTE, &header, sizeof header,
                          [&](const nlmsghdr& m) { addDefaultRoute(m, routes); }, error))
    return false;
  std::stable_sort(routes.begin(), routes.end(),
                   [](const DefaultRoute& a, const DefaultRoute& b) { return a.metric < b.metric; });
  return true;
}

}  // namespace veltris::netconfig
