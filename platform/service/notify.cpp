#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/service/service_manager.h"

namespace veltris::service {

bool startedByServiceManager() {
  const char* socketPath = std::getenv("NOTIFY_SOCKET");
  return socketPath != nullptr && *socketPath != '\0';
}

bool notifyServiceManager(std::string_view message) {
  const char* socketPath = std::getenv("NOTIFY_SOCKET");
  if (socketPath == nullptr || *socketPath == '\0') return false;
  size_t length = std::strlen(socketPath);
  sockaddr_un address{};
  if (length >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socketPath, length);
  if (address.sun_path[0] == '@') address.sun_path[0] = '\0';  // abstract namespace
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
  ssize_t sent = ::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                          reinterpret_cast<sockaddr*>(&address), size);
  int saved = errno;
  ::close(fd);
  errno = saved;
  return sent == static_cast<ssize_t>(message.size());
}

bool logEvent(const char* source, EventType type, std::string_view text) {
  struct stat info {};
  if (::stat("/dev/log", &info) != 0 || !S_ISSOCK(info.st_mode)) return false;  // no syslog listening
  ::openlog(source, LOG_PID, LOG_DAEMON);
  ::syslog(type == EventType::Error ? LOG_ERR : LOG_WARNING, "%.*s", static_cast<int>(text.size()), text.data());
  ::closelog();
  return true;
}

void writeEventLog(const char* source, long code, const char* text) {
  logEvent(source, EventType::Error, std::string(source) + " error: " + std::to_string(code) + ": " + text);
}

}  // namespace veltris::service
