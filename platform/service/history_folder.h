#pragma once
// The agent's history folder as the service sees it: which folders may hold
// the history, creating one, and the drop-in beside the unit that opens a
// folder outside the state directory to the sandboxed service. SETUP and
// veltris-settings-helper both go through here.
#include <filesystem>
#include <string>

namespace veltris::service {

// Why `folder` cannot hold the history, or empty when it can. Judged on the
// path as written and on where its links lead (see the table in the .cpp).
std::string historyFolderRefusal(const std::string& folder);
// The same rules on an absolute, normalised path, without looking at the disk.
std::string historyFolderRuleRefusal(const std::filesystem::path& folder);

// `folder` without "." and ".." parts and without a trailing separator.
std::filesystem::path normalFolder(const std::string& folder);

// Creates `folder` with its missing parents (parents 0755; the folder itself
// 0750, group "veltris" when that group exists and we are root), following no
// link on the way. An existing folder is success. False with the reason.
bool createHistoryFolder(const std::string& folder, std::string& error);

// <unit directory>/TapsorSv.service.d/history-folder.conf
std::filesystem::path historyDropInPath();

enum class DropInChange { Unchanged, Written, Removed };
struct DropInResult {
  bool ok = true;
  DropInChange change = DropInChange::Unchanged;
  std::string error;  // when !ok
};
// Writes the drop-in that opens `folder` to the service, or removes it when
// the folder is empty or lies in the state directory. A refused folder gets
// no drop-in (and an error).
DropInResult updateHistoryDropIn(const std::string& folder);

// What systemd was asked after a change; empty errors when it all went well.
struct ReloadResult {
  bool reloaded = false, restarted = false;
  std::string error;
};
// daemon-reload, and with `restart` a try-restart of the agent (only when it runs).
// Nothing is asked when no agent unit is installed in this root.
ReloadResult reloadAgentUnit(bool restart);

}  // namespace veltris::service
