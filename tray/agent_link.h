#pragma once
// The tray's way to the agent on this PC: the access key from the registry,
// the one-second "TOTAL" poll on a thread of its own, and one-off requests
// (reports, tests, snapshots) on their own connections.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include <QMetaType>
#include <QObject>
#include <QString>

#include "common/registry_names.h"
#include "common/reply_records.h"

class QTimer;

namespace veltris::access {
class AgentConnection;
}

namespace veltris::tray {

// "OpenKey" as this PC's registry holds it, at most 16 characters.
struct StoredKey {
  enum Outcome { Found, Missing, NotPermitted, Unreadable };
  Outcome outcome = Missing;
  std::string key;
  QString reason;  // for Missing, NotPermitted and Unreadable
};
StoredKey readStoredKey();

// One answer of the agent to the poll.
struct AgentReading {
  bool answered = false;
  bool keyRefused = false;
  std::string key;  // the key this reading was asked with
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

// Sends one request on a fresh connection to this PC's agent. For a text
// reply `text` gets its text; for "SNAPSHOT" `saveTo` names a file that the
// caller has created, which gets the snapshot. False with `error` set when
// anything failed (the agent's own text when it sent one); `keyRefused` tells
// that the agent refused the key.
bool askAgent(const std::string& key, const std::string& request, QString& text, QString& error,
              const QString& saveTo = {}, bool* keyRefused = nullptr);

// Polls the agent once a second on its own thread and reports each reading.
// It sends no key of its own accord after the agent refused it, nor an empty
// one: it holds until setKey() offers a key (the same one included).
class AgentPoller : public QObject {
  Q_OBJECT
 public:
  AgentPoller();
  ~AgentPoller() override;

  void setKey(const std::string& key);
  std::string key() const;
  bool holding() const;

 public slots:
  void start();  // in the poller's thread
  void pollOnce();

 signals:
  void polled(const veltris::tray::AgentReading& reading);

 private:
  void hold(const std::string& refused);

  mutable std::mutex keyMutex_;
  std::string key_;
  bool held_ = true;  // no key yet, or the agent refused key_
  std::string openedWith_;
  std::unique_ptr<access::AgentConnection> connection_;
  QTimer* timer_ = nullptr;
};

}  // namespace veltris::tray

Q_DECLARE_METATYPE(veltris::tray::AgentReading)
