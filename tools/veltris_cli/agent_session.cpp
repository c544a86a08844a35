#include "tools/veltris_cli/agent_session.h"

#include <array>
#include <cstdio>

#include "platform/access/veltris.h"

namespace veltris::cli {
namespace {

constexpr int32_t kOpenFailedSilently = -1;
constexpr int32_t kKeyRefused = -2;

struct StatusText {
  int32_t status;
  const char* text;
};

constexpr std::array<StatusText, 18> kStatusTexts = {{
    {TAPSOR_SNAPSHOT_UNREADABLE, "the snapshot file cannot be read"},
    {TAPSOR_SNAPSHOT_NOT_A_SNAPSHOT, "the file is not a VELTRIS snapshot"},
    {TAPSOR_SNAPSHOT_CUT_SHORT, "the snapshot is cut short"},
    {TAPSOR_SNAPSHOT_NO_REPLY, "the snapshot holds no reply to this request"},
    {1460, "the agent did not answer in time"},
    {1700, "the computer name is not a valid binding"},
    {1702, "no connection is open"},
    {1703, "this protocol sequence is not supported"},
    {1704, "unknown protocol sequence"},
    {1706, "the port or endpoint is not valid"},
    {1717, "the agent does not offer the VELTRIS interface"},
    {1722, "the RPC server is unavailable: is TapsorSv running there?"},
    {1723, "the agent is too busy"},
    {1726, "the call failed"},
    {1727, "the call failed and was not executed"},
    {1728, "RPC protocol error"},
    {1753, "the endpoint mapper knows no VELTRIS agent"},
    {1783, "the agent's reply could not be decoded"},
}};

std::string withExplanation(std::string message, int32_t status) {
  std::string text = rpcStatusText(status);
  return text.empty() ? message : message + " (" + text + ")";
}

std::string requestFailedMessage(int32_t status) {
  char text[96];
  std::snprintf(text, sizeof text, "Request to VELTRIS Monitoring Agent failed with retcode %d x%X", status,
                static_cast<unsigned>(status));
  return withExplanation(text, status);
}

// Messages never show the key that follows "OPEN ".
std::string requestForMessages(const std::string& request) {
  return request.compare(0, 5, "OPEN ") == 0 ? "OPEN" : request;
}

}  // namespace

std::string rpcStatusText(int32_t status) {
  for (const StatusText& entry : kStatusTexts) {
    if (entry.status == status) return entry.text;
  }
  return "";
}

bool AgentSession::open(const std::string& computer, const std::string& key, SessionError& error) {
  close();
  int32_t status = TapsorRpcOpen(computer.empty() ? nullptr : computer.c_str());
  if (status == kOpenFailedSilently) {
    error = {kExitFailed, "Connection to " + (computer.empty() ? std::string("this PC") : computer) + " failed"};
    return false;
  }
  if (status != 0) {
    error = {kExitFailed, withExplanation("Connection failed with retcode " + std::to_string(status), status)};
    return false;
  }
  open_ = true;
  Reply reply;
  return exchange("OPEN " + key, reply, error);
}

bool AgentSession::exchange(const std::string& request, Reply& reply, SessionError& error) {
  int32_t status = TapsorRpcWrite(request.c_str());
  if (status == kKeyRefused) {
    error = {kExitKeyRefused, "Security check FAILED (the agent refused the access key)"};
    return false;
  }
  if (status != 0) {
    error = {kExitFailed, requestFailedMessage(status)};
    return false;
  }
  LibrarySource source;
  ReadOutcome outcome = readReply(source, reply);
  if (outcome.error == ReplyError::BadHeader) {
    error = {kExitBadReply, "Could not determine VERSION of VELTRIS Monitoring Agent: " + outcome.detail};
    return false;
  }
  if (outcome.error == ReplyError::Malformed) {
    error = {kExitBadReply, "Malformed reply to \"" + requestForMessages(request) + "\": " + outcome.detail};
    return false;
  }
  return true;
}

bool AgentSession::saveSnapshot(const std::string& path, SessionError& error) {
  if (TapsorRpcSave(path.c_str()) != 0) {
    error = {kExitFailed, "Could not save the snapshot to " + path +
                              " (the reply carries no snapshot, or the file could not be written)"};
    return false;
  }
  return true;
}

void AgentSession::close() {
  if (open_) TapsorRpcClose();
  open_ = false;
}

}  // namespace veltris::cli
