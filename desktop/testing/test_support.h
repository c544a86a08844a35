#pragma once
// Shared pieces of the console tests: a private system root with a registry,
// a recorder for message boxes, and reply records built field by field.
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cstring>
#include <string>
#include <vector>

#include "common/reply_records.h"
#include "desktop/agent_session.h"
#include "desktop/messages.h"
#include "desktop/testing/scripted_access.h"

namespace veltris::desktop::test {

// VELTRIS_ROOT, XDG_CONFIG_HOME and XDG_RUNTIME_DIR inside a temporary folder.
class TestRoot {
 public:
  // installed: the driver's "Title" is set; openKey: "" leaves "OpenKey" out.
  explicit TestRoot(bool installed = true, const QString& openKey = QStringLiteral("SECRET"));
  ~TestRoot();
  QString path() const { return dir_.path(); }
  void writeRegistry(bool installed, const QString& openKey);

 private:
  QTemporaryDir dir_;
};

// Records message boxes instead of showing them.
class MessageLog {
 public:
  MessageLog();
  ~MessageLog();
  QStringList texts;
  QStringList titles;
  QString last() const { return texts.isEmpty() ? QString() : texts.back(); }
};

// The session's failures go to showMessage, as a window that owns a session shows them.
void showFailures(AgentSession& session);

ReplyHeader header(uint32_t state = 4, const char* version = "19990415", const char* time = "12:34:56");

struct Counts {
  uint32_t sequence = 0;
  float bytesSent = 0;
  uint32_t framesSent = 0, broadcastsSent = 0, errorsSent = 0;
  float bytesReceived = 0;
  uint32_t framesReceived = 0, broadcastsReceived = 0, errorsReceived = 0;
  uint32_t resetCount = 0;
  int32_t secondsQuiet = 0;
};
TotalsRecord totals(const Counts& c, const char* host = "AGENTPC", const char* ip = "IP=10.0.0.1");
HistoryDayRecord historyDay(const char* day);
PeriodTotalsRecord periodTotals(uint32_t slot, float bytesSent, uint32_t framesSent, float bytesReceived = 0,
                                uint32_t framesReceived = 0);
PartnerStatRecord partnerStat(uint32_t adapter, const char* station, const char* protoAddr, uint32_t framesSent);

// The script's mismatches on one line, for a failed check's message.
QString mismatchText(const ScriptedAccess& script);

// close, open, "OPEN " + password, header: a successful Connect.
void scriptConnect(ScriptedAccess& script, const std::string& computer = "", const std::string& password = "SECRET");
// "HISTORY_LIST": header, totals, the days, end of reply.
void scriptHistoryList(ScriptedAccess& script, const Counts& counts, const std::vector<const char*>& days = {});
// A real-time poll reply: header with `state`, totals, STAT records, end of reply.
void scriptPoll(ScriptedAccess& script, const std::string& request, const Counts& counts,
                const std::vector<PartnerStatRecord>& stats = {}, uint32_t state = 4);

}  // namespace veltris::desktop::test
