#include "desktop/testing/test_support.h"

#include <QDir>
#include <QFile>
#include <cstdlib>

#include "desktop/messages.h"

namespace veltris::desktop::test {

TestRoot::TestRoot(bool installed, const QString& openKey) {
  QDir(dir_.path()).mkpath(QStringLiteral("etc/veltris"));
  QDir(dir_.path()).mkpath(QStringLiteral("config"));
  QDir(dir_.path()).mkpath(QStringLiteral("runtime"));
  QFile::setPermissions(dir_.path() + QStringLiteral("/runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  writeRegistry(installed, openKey);
  setenv("VELTRIS_ROOT", dir_.path().toLocal8Bit().constData(), 1);
  setenv("XDG_CONFIG_HOME", (dir_.path() + QStringLiteral("/config")).toLocal8Bit().constData(), 1);
  setenv("XDG_RUNTIME_DIR", (dir_.path() + QStringLiteral("/runtime")).toLocal8Bit().constData(), 1);
}

TestRoot::~TestRoot() { unsetenv("VELTRIS_ROOT"); }

void TestRoot::writeRegistry(bool installed, const QString& openKey) {
  QFile file(dir_.path() + QStringLiteral("/etc/veltris/registry.reg"));
  file.open(QIODevice::WriteOnly | QIODevice::Truncate);
  QString text = QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n");
  text += QStringLiteral("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvik\\VELTRIS\\Parameters]\r\n");
  if (!openKey.isEmpty()) text += QStringLiteral("\"OpenKey\"=\"%1\"\r\n").arg(openKey);
  text += QStringLiteral("\r\n");
  if (installed) {
    text += QStringLiteral("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvik\\Tapsor\\CurrentVersion]\r\n"
                           "\"Title\"=\"VELTRIS Capture Driver\"\r\n\r\n");
  }
  file.write(text.toUtf8());
}

MessageLog::MessageLog() {
  setMessageHandler([this](QWidget*, const QString& text, const QString& title) {
    texts << text;
    titles << title;
  });
}

MessageLog::~MessageLog() { setMessageHandler({}); }

namespace {
void fill(char* field, size_t width, const char* text, char pad) {
  std::memset(field, pad, width);
  std::memcpy(field, text, std::min(width, std::strlen(text)));
}
}  // namespace

ReplyHeader header(uint32_t state, const char* version, const char* time) {
  ReplyHeader h{};
  std::memcpy(h.tag, "TASK", 4);
  fill(h.version, 8, version, '\0');
  fill(h.date, 8, "20261207", '\0');
  fill(h.time, 8, time, '\0');
  h.trafficState = state;
  return h;
}

TotalsRecord totals(const Counts& c, const char* host, const char* ip) {
  TotalsRecord t{};
  std::memcpy(t.tag, "TOT ", 4);
  t.sequence = c.sequence;
  t.bytesSent = c.bytesSent;
  t.framesSent = c.framesSent;
  t.broadcastsSent = c.broadcastsSent;
  t.errorsSent = c.errorsSent;
  t.bytesReceived = c.bytesReceived;
  t.framesReceived = c.framesReceived;
  t.broadcastsReceived = c.broadcastsReceived;
  t.errorsReceived = c.errorsReceived;
  t.resetCount = c.resetCount;
  t.secondsSinceReceived = c.secondsQuiet;
  fill(t.hostName, sizeof t.hostName, host, '\0');
  fill(t.ipSummary, sizeof t.ipSummary, ip, '\0');
  return t;
}

HistoryDayRecord historyDay(const char* day) {
  HistoryDayRecord r{};
  std::memcpy(r.tag, "HIST", 4);
  fill(r.day, 8, day, '\0');
  return r;
}

PeriodTotalsRecord periodTotals(uint32_t slot, float bytesSent, uint32_t framesSent, float bytesReceived,
                                uint32_t framesReceived) {
  PeriodTotalsRecord r{};
  std::memcpy(r.tag, "TPT ", 4);
  r.slot = slot;
  r.bytesSent = bytesSent;
  r.framesSent = framesSent;
  r.bytesReceived = bytesReceived;
  r.framesReceived = framesReceived;
  return r;
}

PartnerStatRecord partnerStat(uint32_t adapter, const char* station, const char* protoAddr, uint32_t framesSent) {
  PartnerStatRecord r{};
  std::memcpy(r.tag, "STAT", 4);
  r.adapterNumber = adapter;
  fill(r.station, 16, station, ' ');
  fill(r.protoAddr, 28, protoAddr, ' ');
  fill(r.roleLabel, 8, "", ' ');
  fill(r.hostName, 32, "", ' ');
  fill(r.lastSeen, 8, "12:00:00", ' ');
  r.framesSent = framesSent;
  return r;
}

void scriptConnect(ScriptedAccess& script, const std::string& computer, const std::string& password) {
  script.expectClose().expectOpen(computer).expectWrite("OPEN " + password).expectRecord(header());
}

void scriptHistoryList(ScriptedAccess& script, const Counts& counts, const std::vector<const char*>& days) {
  script.expectWrite("HISTORY_LIST").expectRecord(header()).expectRecord(totals(counts));
  for (const char* day : days) script.expectRecord(historyDay(day));
  script.expectReplyEnd();
}

void scriptPoll(ScriptedAccess& script, const std::string& request, const Counts& counts,
                const std::vector<PartnerStatRecord>& stats, uint32_t state) {
  script.expectWrite(request).expectRecord(header(state)).expectRecord(totals(counts));
  for (const PartnerStatRecord& s : stats) script.expectRecord(s);
  script.expectReplyEnd();
}

void showFailures(AgentSession& session) {
  QObject::connect(&session, &AgentSession::failed, &session,
                   [](const Failure& failure) { showMessage(nullptr, failure.text); });
}

QString mismatchText(const ScriptedAccess& script) {
  QStringList lines;
  for (const std::string& m : script.mismatches()) lines << QString::fromStdString(m);
  return lines.join(QStringLiteral("; "));
}

}  // namespace veltris::desktop::test
