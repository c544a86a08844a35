#include "setup/registry_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string_view>

#include "platform/system_root.h"

namespace veltris::setup {

bool prepareRegistryFile() {
  const std::filesystem::path file = platform::registryFile();
  std::error_code ec;
  if (std::filesystem::exists(file, ec)) return true;
  std::filesystem::create_directories(file.parent_path(), ec);
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno == EEXIST;
  constexpr std::string_view header = "Windows Registry Editor Version 5.00\r\n\r\n";
  const bool written = ::write(fd, header.data(), header.size()) == static_cast<ssize_t>(header.size());
  ::close(fd);
  return written;
}

}  // namespace veltris::setup
