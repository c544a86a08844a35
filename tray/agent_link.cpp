#include "tray/agent_link.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <QCoreApplication>

#include "common/registry_names.h"
#include "platform/registry/registry.h"

namespace veltris::tray {
namespace {

using desktop::Failure;
using desktop::Reply;

class Texts {
  Q_DECLARE_TR_FUNCTIONS(AgentLink)
 public:
  static QString refused() {
    return tr("Security check FAILED: the VELTRIS Agent refused the password; choose \"Enter Password...\" "
              "from this icon's menu");
  }
  static QString notRunning(int32_t code) {
    return tr("VELTRIS Agent is not running on this PC (Connection failed with retcode %1)").arg(code);
  }
  static QString notPermitted(const QString& file) { return tr("You may not read the access key in %1").arg(file); }
  static QString notSet(const QString& file) {
    return tr("\"OpenKey\" is not set in %1; set a password with Settings").arg(file);
  }
  static QString empty(const QString& file) {
    return tr("\"OpenKey\" in %1 is empty; set a password with Settings").arg(file);
  }
  static QString unreadable(const QString& file, const QString& why) {
    return tr("Cannot read the access key from %1: %2").arg(file, why);
  }
  static QString notText(const QString& request) {
    return tr("The agent's reply to '%1' is not a text reply").arg(request);
  }
  static QString emptySnapshot() { return tr("The VELTRIS Agent could not make the snapshot (its reply is empty)"); }
  static QString notSaved() { return tr("Could not save to file"); }
};

QString fixedText(const char* field, size_t width) {
  return QString::fromLatin1(field, static_cast<qsizetype>(strnlen(field, width)));
}

// What the request thread found in a "SNAPSHOT" reply.
struct SnapshotOutcome {
  enum Result { Saved, AgentSaid, Empty, NotSaved };
  Result result = NotSaved;
  QString said;  // AgentSaid: the agent's reason for making none
};

// Runs on the request thread after the reply header: a text record is the
// agent's refusal; the signature alone is an empty snapshot; anything else is saved.
void readSnapshot(desktop::AgentAccess& access, const QByteArray& path, SnapshotOutcome& out) {
  auto text = std::make_unique<TextReply>();
  if (access.read(text->tag, sizeof text->tag) != 0) {
    out.result = SnapshotOutcome::Empty;
    return;
  }
  if (std::memcmp(text->tag, kTextReplyTag, 4) == 0) {
    access.read(text->text, sizeof text->text);  // a short text is zero-filled
    out.result = SnapshotOutcome::AgentSaid;
    out.said = fixedText(text->text, sizeof text->text).trimmed();
    return;
  }
  char next = 0;
  if (access.read(&next, 1) != 0) {
    out.result = SnapshotOutcome::Empty;
    return;
  }
  out.result = access.save(path.constData()) == 0 ? SnapshotOutcome::Saved : SnapshotOutcome::NotSaved;
}

}  // namespace

QString refusedText() { return Texts::refused(); }
QString notRunningText(int32_t code) { return Texts::notRunning(code); }

StoredKey readStoredKey() {
  StoredKey result;
  reg::Registry registry = reg::Registry::system();
  std::vector<uint8_t> stored;
  long rc = registry.queryBinary(kParametersKey, kOpenKeyValue, stored);
  const QString file = QString::fromStdString(registry.file().string());
  if (rc == reg::kAccessDenied) {
    result.outcome = StoredKey::NotPermitted;
    result.reason = Texts::notPermitted(file);
    return result;
  }
  if (rc == reg::kFileNotFound) {
    result.reason = Texts::notSet(file);
    return result;
  }
  if (rc != reg::kSuccess) {
    result.outcome = StoredKey::Unreadable;
    result.reason = Texts::unreadable(file, QString::fromStdString(registry.lastError()));
    return result;
  }
  auto end = std::find(stored.begin(), stored.end(), uint8_t{0});
  result.key = QString::fromLatin1(reinterpret_cast<const char*>(stored.data()), end - stored.begin())
                   .left(static_cast<qsizetype>(kAccessKeySize));
  result.outcome = result.key.isEmpty() ? StoredKey::Missing : StoredKey::Found;
  if (result.key.isEmpty()) result.reason = Texts::empty(file);
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

// ---- AgentPoll --------------------------------------------------------------

AgentPoll::AgentPoll(std::unique_ptr<desktop::AgentAccess> access, QObject* parent)
    : QObject(parent), session_(std::move(access)) {
  qRegisterMetaType<AgentReading>();
  session_.setWaitCursor(false);  // the poll connects in the background
  connect(&session_, &desktop::AgentSession::failed, this, [this](const Failure& f) { failure_ = f; });
  connect(&timer_, &QTimer::timeout, this, &AgentPoll::pollOnce);
}

void AgentPoll::setKey(const QString& key, std::chrono::milliseconds delay) {
  key_ = key;
  held_ = key.isEmpty();
  sendAfter_ = QDeadlineTimer(delay);
}

void AgentPoll::start(int intervalMs) {
  timer_.start(intervalMs);
  pollOnce();
}

void AgentPoll::pollOnce() {
  if (held_ || session_.connecting() || !sendAfter_.hasExpired()) return;
  if (!session_.isOpen() || openedWith_ != key_) return connectAndPoll();
  sendTotal();
}

void AgentPoll::connectAndPoll() {
  const QString key = key_;
  openedWith_ = key;
  failure_.reset();
  session_.setPassword(key);
  session_.connectTo(QString(), this, [this, key](bool ok) {
    if (ok) return sendTotal();
    reportFailure(key);
  });
}

// "TOTAL" carries a refresh key: a tick while the last poll runs sends nothing.
void AgentPoll::sendTotal() {
  const QString key = openedWith_;
  desktop::RequestJob job;
  job.text = QStringLiteral("TOTAL");
  job.steps = {{{kTotalsTag[0], kTotalsTag[1], kTotalsTag[2], kTotalsTag[3]}, sizeof(TotalsRecord),
                desktop::ReadStep::One}};
  job.refreshKey = job.text;
  failure_.reset();
  session_.send(std::move(job), this, [this, key](const Reply& reply) {
    TotalsRecord totals{};
    if (reply.ok && reply.first(0, totals) && reply.count(0) == 1) {
      AgentReading reading = readingFromReply(reply.header, totals);
      reading.key = key;
      emit polled(reading);
      return;
    }
    reportFailure(key);
  });
}

void AgentPoll::reportFailure(const QString& key) {
  AgentReading reading;
  reading.key = key;
  if (failure_ && failure_->kind == Failure::KeyRefused) {
    reading.keyRefused = true;
    reading.failure = refusedText();
    if (key == key_) held_ = true;
  } else if (failure_ && failure_->kind == Failure::VersionMismatch) {
    reading.failure = failure_->text;
  } else {
    reading.failure = notRunningText(failure_ && failure_->code != 0 ? failure_->code : -1);
  }
  failure_.reset();
  if (session_.isOpen()) session_.close();  // the next tick starts afresh
  emit polled(reading);
}

// ---- AgentRequests ----------------------------------------------------------

AgentRequests::AgentRequests(std::unique_ptr<desktop::AgentAccess> access, KeySource keySource, QObject* parent)
    : QObject(parent), session_(std::move(access)), keySource_(std::move(keySource)) {
  session_.setWaitCursor(false);  // QuickLook shows its own
  connect(&session_, &desktop::AgentSession::failed, this, [this](const Failure& f) { failure_ = f; });
}

void AgentRequests::askText(const QString& request, Done done) {
  queue_.push_back({request, QString(), std::move(done)});
  QMetaObject::invokeMethod(this, &AgentRequests::next, Qt::QueuedConnection);
}

void AgentRequests::askSnapshot(const QString& path, Done done) {
  queue_.push_back({QStringLiteral("SNAPSHOT"), path, std::move(done)});
  QMetaObject::invokeMethod(this, &AgentRequests::next, Qt::QueuedConnection);
}

void AgentRequests::next() {
  if (running_ || queue_.empty()) return;
  running_ = true;
  const std::optional<QString> key = keySource_ ? keySource_() : std::nullopt;
  if (!key || key->isEmpty()) return finish(QString(), {false, {}, refusedText(), false});
  if (session_.isOpen() && openedWith_ == *key) return send(*key);
  openedWith_ = *key;
  failure_.reset();
  session_.setPassword(*key);
  session_.connectTo(QString(), this, [this, key = *key](bool ok) {
    if (ok) return send(key);
    finish(key, failedAnswer());
  });
}

void AgentRequests::send(const QString& key) {
  const Pending& pending = queue_.front();
  failure_.reset();
  if (!pending.saveTo.isEmpty()) return sendSnapshot(key, pending.saveTo);
  const QString request = pending.request;
  session_.send(desktop::textRequest(request), this, [this, key, request](const Reply& reply) {
    if (const std::optional<QString> text = desktop::replyText(reply)) return finish(key, {true, *text, {}, false});
    if (reply.ok) return finish(key, {false, {}, Texts::notText(request), false});
    finish(key, failedAnswer());
  });
}

void AgentRequests::sendSnapshot(const QString& key, const QString& path) {
  auto outcome = std::make_shared<SnapshotOutcome>();
  desktop::RequestJob job;
  job.text = QStringLiteral("SNAPSHOT");
  job.afterRead = [outcome, file = path.toLocal8Bit()](desktop::AgentAccess& access) {
    readSnapshot(access, file, *outcome);
  };
  session_.send(std::move(job), this, [this, key, outcome](const Reply& reply) {
    if (!reply.ok) return finish(key, failedAnswer());
    switch (outcome->result) {
      case SnapshotOutcome::Saved: return finish(key, {true, {}, {}, false});
      case SnapshotOutcome::AgentSaid:
        return finish(key, {false, {}, outcome->said.isEmpty() ? Texts::notSaved() : outcome->said, false});
      case SnapshotOutcome::Empty: return finish(key, {false, {}, Texts::emptySnapshot(), false});
      case SnapshotOutcome::NotSaved: break;
    }
    finish(key, {false, {}, Texts::notSaved(), false});
  });
}

AgentAnswer AgentRequests::failedAnswer() const {
  if (failure_ && failure_->kind == Failure::KeyRefused) return {false, {}, refusedText(), true};
  if (failure_ && failure_->kind == Failure::OpenFailed) return {false, {}, notRunningText(failure_->code), false};
  if (failure_) return {false, {}, failure_->text, false};
  return {false, {}, notRunningText(-1), false};
}

void AgentRequests::finish(const QString& key, AgentAnswer answer) {
  Pending done = std::move(queue_.front());
  queue_.pop_front();
  running_ = false;
  failure_.reset();
  if (answer.keyRefused) emit keyRefused(key);
  QMetaObject::invokeMethod(this, &AgentRequests::next, Qt::QueuedConnection);
  if (done.done) done.done(answer);
}

}  // namespace veltris::tray
