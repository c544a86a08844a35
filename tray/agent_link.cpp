#include "tray/agent_link.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <QTimer>

#include "platform/access/agent_connection.h"
#include "platform/registry/registry.h"

namespace veltris::tray {
namespace {

constexpr int32_t kKeyRefused = -2;

QString fixedText(const char* field, size_t width) {
  return QString::fromLatin1(field, static_cast<qsizetype>(strnlen(field, width)));
}

QString connectionFailure(int32_t status) {
  return QString("VELTRIS Agent is not running on this PC (Connection failed with retcode %1)").arg(status);
}

QString refusedText() {
  return "VELTRIS Agent refused the access key (\"OpenKey\"); change it with Settings";
}

}  // namespace

StoredKey readStoredKey() {
  StoredKey result;
  reg::Registry registry = reg::Registry::system();
  std::vector<uint8_t> stored;
  long rc = registry.queryBinary(kParametersKey, "OpenKey", stored);
  const QString file = QString::fromStdString(registry.file().string());
  if (rc == reg::kAccessDenied) {
    result.outcome = StoredKey::NotPermitted;
    result.reason = "You may not read the access key in " + file;
    return result;
  }
  if (rc == reg::kFileNotFound) {
    result.reason = "\"OpenKey\" is not set in " + file + "; set a password with Settings";
    return result;
  }
  if (rc != reg::kSuccess) {
    result.outcome = StoredKey::Unreadable;
    result.reason = "Cannot read the access key from " + file + ": " + QString::fromStdString(registry.lastError());
    return result;
  }
  auto end = std::find(stored.begin(), stored.end(), uint8_t{0});
  result.key.assign(stored.begin(), end);
  if (result.key.size() > kAccessKeySize) result.key.resize(kAccessKeySize);
  result.outcome = result.key.empty() ? StoredKey::Missing : StoredKey::Found;
  if (result.key.empty()) result.reason = "\"OpenKey\" in " + file + " is empty; set a password with Settings";
  return result;
}

AgentReading readingFromReply(const ReplyHeader& header, const TotalsRecord& totals) {
  AgentReading r;
  r.answered = true;
  r.code = header.trafficState.get();
  r.sequence = totals.sequence.get();
  r.framesSent = totals.framesSent.get();
  r.broadcastsSent = totals.broadcastsSent.get();
  r.errorsSent = totals.errorsSent.get();
  r.framesReceived = totals.framesReceived.get();
  r.broadcastsReceived = totals.broadcastsReceived.get();
  r.errorsReceived = totals.errorsReceived.get();
  r.hostName = fixedText(totals.hostName, sizeof totals.hostName);
  r.ipSummary = fixedText(totals.ipSummary, sizeof totals.ipSummary);
  return r;
}

bool askAgent(const std::string& key, const std::string& request, QString& text, QString& error,
              const QString& saveTo) {
  access::AgentConnection connection;
  int32_t rc = connection.open(nullptr);
  if (rc != 0) {
    error = connectionFailure(rc);
    return false;
  }
  rc = connection.write(("OPEN " + key).c_str());
  if (rc == 0) rc = connection.write(request.c_str());
  if (rc != 0) {
    error = rc == kKeyRefused ? refusedText() : QString("Request '%1' failed with retcode %2")
                                                    .arg(QString::fromStdString(request)).arg(rc);
    connection.close();
    return false;
  }
  bool ok = true;
  if (!saveTo.isEmpty()) {
    if (connection.save(saveTo.toLocal8Bit().constData()) != 0) {
      error = "Snapshot could not be written to '" + saveTo + "'";
      ok = false;
    }
  } else {
    ReplyHeader header;
    auto reply = std::make_unique<TextReply>();
    if (connection.read(&header, sizeof header) != 0 || connection.read(reply.get(), sizeof *reply) != 0 ||
        std::memcmp(reply->tag, kTextReplyTag, 4) != 0) {
      error = "The agent's reply to '" + QString::fromStdString(request) + "' is not a text reply";
      ok = false;
    } else {
      text = QString::fromLatin1(reply->text, static_cast<qsizetype>(strnlen(reply->text, sizeof reply->text)));
    }
  }
  connection.close();
  return ok;
}

AgentPoller::AgentPoller() = default;
AgentPoller::~AgentPoller() {
  if (connection_) connection_->close();
}

void AgentPoller::setKey(const std::string& key) {
  std::lock_guard lock(keyMutex_);
  key_ = key;
}

std::string AgentPoller::key() const {
  std::lock_guard lock(keyMutex_);
  return key_;
}

void AgentPoller::start() {
  timer_ = new QTimer(this);
  connect(timer_, &QTimer::timeout, this, &AgentPoller::pollOnce);
  timer_->start(1000);
  pollOnce();
}

// One connection is kept between polls; any failure drops it and the next
// second starts afresh, so an agent that comes back is found again.
void AgentPoller::pollOnce() {
  const std::string key = this->key();
  AgentReading reading;
  if (connection_ && key != openedWith_) {
    connection_->close();
    connection_.reset();
  }
  if (!connection_) {
    connection_ = std::make_unique<access::AgentConnection>();
    int32_t rc = connection_->open(nullptr);
    if (rc == 0) rc = connection_->write(("OPEN " + key).c_str());
    if (rc != 0) {
      reading.keyRefused = rc == kKeyRefused;
      reading.failure = reading.keyRefused ? refusedText() : connectionFailure(rc);
      connection_->close();
      connection_.reset();
      emit polled(reading);
      return;
    }
    openedWith_ = key;
  }
  int32_t rc = connection_->write("TOTAL");
  ReplyHeader header;
  TotalsRecord totals;
  if (rc == 0 && connection_->read(&header, sizeof header) == 0 && connection_->read(&totals, sizeof totals) == 0 &&
      std::memcmp(header.tag, kReplyHeaderTag, 4) == 0) {
    emit polled(readingFromReply(header, totals));
    return;
  }
  reading.keyRefused = rc == kKeyRefused;
  reading.failure = reading.keyRefused ? refusedText() : connectionFailure(rc == 0 ? -1 : rc);
  connection_->close();
  connection_.reset();
  emit polled(reading);
}

}  // namespace veltris::tray
