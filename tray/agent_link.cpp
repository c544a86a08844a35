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

}  // namespace

QString refusedText() {
  return "Security check FAILED: the VELTRIS Agent refused the password; choose \"Enter Password...\" "
         "from this icon's menu";
}

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
              const QString& saveTo, bool* keyRefused) {
  if (keyRefused) *keyRefused = false;
  access::AgentConnection connection;
  int32_t rc = connection.open(nullptr);
  if (rc != 0) {
    error = connectionFailure(rc);
    return false;
  }
  rc = connection.write(("OPEN " + key).c_str());
  if (rc == 0) rc = connection.write(request.c_str());
  if (rc != 0) {
    if (keyRefused) *keyRefused = rc == kKeyRefused;
    error = rc == kKeyRefused ? refusedText() : QString("Request '%1' failed with retcode %2")
                                                    .arg(QString::fromStdString(request)).arg(rc);
    connection.close();
    return false;
  }
  bool ok = false;
  ReplyHeader header;
  auto reply = std::make_unique<TextReply>();
  char next = 0;
  if (connection.read(&header, sizeof header) != 0 || std::memcmp(header.tag, kReplyHeaderTag, 4) != 0 ||
      connection.read(reply->tag, sizeof reply->tag) != 0) {
    error = "The agent's reply to '" + QString::fromStdString(request) + "' has no header";
  } else if (std::memcmp(reply->tag, kTextReplyTag, 4) == 0) {
    // A text reply: the answer, or the agent's reason for not making a snapshot.
    if (connection.read(reinterpret_cast<char*>(reply.get()) + sizeof reply->tag,
                        static_cast<int32_t>(sizeof *reply - sizeof reply->tag)) != 0) {
      error = "The agent's text reply to '" + QString::fromStdString(request) + "' is cut short";
    } else {
      QString said = QString::fromLatin1(reply->text, static_cast<qsizetype>(strnlen(reply->text, sizeof reply->text)));
      if (saveTo.isEmpty()) {
        text = said;
        ok = true;
      } else {
        error = said.trimmed();
      }
    }
  } else if (saveTo.isEmpty()) {
    error = "The agent's reply to '" + QString::fromStdString(request) + "' is not a text reply";
  } else if (connection.read(&next, 1) != 0) {
    // Only the signature: the agent could not make its snapshot.
    error = "The VELTRIS Agent could not make the snapshot (its reply is empty)";
  } else if (connection.save(saveTo.toLocal8Bit().constData()) != 0) {
    error = "Could not save to file";
  } else {
    ok = true;
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
  held_ = key.empty();
}

bool AgentPoller::holding() const {
  std::lock_guard lock(keyMutex_);
  return held_;
}

std::string AgentPoller::key() const {
  std::lock_guard lock(keyMutex_);
  return key_;
}

// The refused key is not sent again until someone offers a key anew.
void AgentPoller::hold(const std::string& refused) {
  std::lock_guard lock(keyMutex_);
  if (key_ == refused) held_ = true;
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
  std::string key;
  {
    std::lock_guard lock(keyMutex_);
    if (held_) return;
    key = key_;
  }
  AgentReading reading;
  reading.key = key;
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
      if (reading.keyRefused) hold(key);
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
    AgentReading answered = readingFromReply(header, totals);
    answered.key = key;
    emit polled(answered);
    return;
  }
  reading.keyRefused = rc == kKeyRefused;
  if (reading.keyRefused) hold(key);
  reading.failure = reading.keyRefused ? refusedText() : connectionFailure(rc == 0 ? -1 : rc);
  connection_->close();
  connection_.reset();
  emit polled(reading);
}

}  // namespace veltris::tray
