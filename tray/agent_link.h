#pragma once
// The tray's way to the agent on this PC: the access key from the registry,
// the one-second "TOTAL" poll, and QuickLook's requests (reports, tests,
// snapshots). Both go through desktop::AgentSession, each on a session and a
// connection of its own, so a test of minutes does not stop the poll.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

#include <QDeadlineTimer>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTimer>

#include "common/reply_records.h"
#include "desktop/agent_access.h"
#include "desktop/agent_session.h"
#include "desktop/library_access.h"

namespace veltris::tray {

// "OpenKey" as this PC's registry holds it, at most 16 characters.
struct StoredKey {
  enum Outcome { Found, Missing, NotPermitted, Unreadable };
  Outcome outcome = Missing;
  QString key;
  QString reason;  // for Missing, NotPermitted and Unreadable
};
StoredKey readStoredKey();

// One answer of the agent to the poll.
struct AgentReading {
  bool answered = false;
  bool keyRefused = false;
  QString key;      // the key this reading was asked with
  QString failure;  // why not answered, for the tooltip
  uint32_t code = 0;
  uint32_t sequence = 0;  // packet sequence number: the percent base
  uint32_t framesSent = 0, broadcastsSent = 0, errorsSent = 0;
  uint32_t framesReceived = 0, broadcastsReceived = 0, errorsReceived = 0;
  QString hostName;
  QString ipSummary;
};

// The reading taken from a "TOTAL" reply: header and totals record.
AgentReading readingFromReply(const ReplyHeader& header, const TotalsRecord& totals);

// The text shown when the agent refused the access key.
QString refusedText();
// The text shown when the agent could not be reached.
QString notRunningText(int32_t code);

// Polls the agent with "TOTAL" once a second and reports each reading. It
// sends no key of its own accord after the agent refused it, nor an empty
// one: it holds until setKey() offers a key (the same one included). The
// connection is kept between polls; a failure closes it and the next second
// starts afresh, so an agent that comes back is found again.
class AgentPoll : public QObject {
  Q_OBJECT
 public:
  explicit AgentPoll(std::unique_ptr<desktop::AgentAccess> access, QObject* parent = nullptr);

  // The key to poll with: the next tick sends it (on a new connection when
  // it differs from the open one's), but not before `delay` has passed. An
  // empty key holds the poll.
  void setKey(const QString& key, std::chrono::milliseconds delay = std::chrono::milliseconds(0));
  const QString& key() const { return key_; }
  bool holding() const { return held_; }
  void start(int intervalMs = 1000);
  desktop::AgentSession& session() { return session_; }

 public slots:
  void pollOnce();

 signals:
  void polled(const veltris::tray::AgentReading& reading);

 private:
  void connectAndPoll();
  void sendTotal();
  void reportFailure(const QString& key);

  desktop::AgentSession session_;
  QTimer timer_;
  QString key_;
  bool held_ = true;  // no key yet, or the agent refused key_
  QDeadlineTimer sendAfter_;
  QString openedWith_;
  std::optional<desktop::Failure> failure_;  // the session's, for the request under way
};

// What QuickLook's request came back with.
struct AgentAnswer {
  bool ok = false;
  QString text;   // a text reply's text
  QString error;  // why not ok: the agent's own text when it sent one
  bool keyRefused = false;
};

// QuickLook's requests, one at a time in the order asked. A request is sent
// only with a key that `keySource` hands out (nullopt: none may be sent).
class AgentRequests : public QObject {
  Q_OBJECT
 public:
  using KeySource = std::function<std::optional<QString>()>;
  using Done = std::function<void(const AgentAnswer&)>;

  AgentRequests(std::unique_ptr<desktop::AgentAccess> access, KeySource keySource, QObject* parent = nullptr);

  // A request answered with text ("CMD CONFIG"). `done` runs later, never at once.
  void askText(const QString& request, Done done);
  // "SNAPSHOT" into `path`, a file the caller has created.
  void askSnapshot(const QString& path, Done done);
  bool busy() const { return !queue_.empty(); }

 signals:
  // The agent refused `key`: it is not to be sent again on its own.
  void keyRefused(const QString& key);

 private:
  struct Pending {
    QString request;
    QString saveTo;  // "SNAPSHOT" only
    Done done;
  };
  void next();
  void send(const QString& key);
  void sendSnapshot(const QString& key, const QString& path);
  AgentAnswer failedAnswer() const;
  void finish(const QString& key, AgentAnswer answer);

  desktop::AgentSession session_;
  KeySource keySource_;
  std::deque<Pending> queue_;
  bool running_ = false;
  QString openedWith_;
  std::optional<desktop::Failure> failure_;
};

}  // namespace veltris::tray

Q_DECLARE_METATYPE(veltris::tray::AgentReading)
