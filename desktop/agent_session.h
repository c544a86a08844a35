#pragma once
// AgentSession: the one way a desktop program talks to an agent or a snapshot.
//
// Every call into AgentAccess runs on one request thread, one at a time and in
// the order the requests were sent. Everything else, callbacks included,
// happens on the UI thread.
//
//   RequestJob job{"DETAILS 1234", {{kTotalsTag, sizeof(TotalsRecord), ReadStep::One},
//                                   {kDetailTag, sizeof(DetailRecord), ReadStep::WhileTag}}};
//   session.send(std::move(job), this, [this](const Reply& reply) {
//     if (!reply.ok) return;                 // failed; the failure went out through failed()
//     for (const DetailRecord& d : reply.records<DetailRecord>(1)) ...
//   });
//
// Rules:
// - Every connect, snapshot open and close starts a new generation. A reply of
//   an older generation is dropped: its callback never runs.
// - A request may name the view it was asked for (the time base). A reply
//   whose view is no longer the session's is dropped as well.
// - While a connect runs, requests wait until its "OPEN" has succeeded; they
//   are dropped when the connect fails.
// - A request with a refresh key is not sent while another one with the same
//   key is queued or running.
// - Failures come back as values (failed()), never as message boxes.
// - The session can be destroyed while a request runs: the request is
//   abandoned and nothing waits for it.
#include <QObject>
#include <QString>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "common/reply_records.h"
#include "desktop/agent_access.h"
#include "desktop/key_refusals.h"

namespace veltris::desktop {

inline constexpr char kConsoleVersion[] = "19990415";  // sVERSION

// How the request thread reads one kind of record after the reply header.
struct ReadStep {
  enum Mode { One, WhileTag };
  char tag[4];
  int size;
  // One: a single record, kept whatever its tag (the caller checks it); a
  // record of another tag ends the reply. WhileTag: records while the tag
  // matches; the first other record ends this step and is dropped.
  Mode mode;
};

// The time base a request was asked for. `serial` tells two choices of the
// same time base apart; kind None means the reply does not depend on it.
struct View {
  enum Kind { None, RealTime, Day };
  Kind kind = None;
  QString day;  // Day: yyyymmdd
  uint64_t serial = 0;
  friend bool operator==(const View&, const View&) = default;
};

struct RequestJob {
  QString text;
  std::vector<ReadStep> steps;
  // Runs on the request thread after the steps, only when the request got
  // through (e.g. AgentAccess::save after "SNAPSHOT").
  std::function<void(AgentAccess&)> afterRead;
  View view;           // session.view() for replies that belong to the time base
  QString refreshKey;  // e.g. "DETAILS": not sent twice at once
};

// A request answered with text ("CMD CONFIG"): the header, then one "TXT4" record.
RequestJob textRequest(const QString& text);

struct Reply {
  bool ok = false;  // delivered and its header read
  ReplyHeader header{};
  struct Part {
    int size = 0;
    int count = 0;
    bool firstReadFailed = false;  // the access library refused the step's first read
    std::vector<uint8_t> bytes;    // count records of size bytes
  };
  std::vector<Part> parts;  // one per ReadStep, as far as the reply went

  size_t count(size_t step) const { return step < parts.size() ? parts[step].count : 0; }
  // The step's first record; false when there is none.
  template <typename Record>
  bool first(size_t step, Record& out) const {
    if (count(step) == 0 || parts[step].size != static_cast<int>(sizeof(Record))) return false;
    std::memcpy(&out, parts[step].bytes.data(), sizeof(Record));
    return true;
  }
  template <typename Record>
  std::vector<Record> records(size_t step) const {
    std::vector<Record> out;
    if (count(step) == 0 || parts[step].size != static_cast<int>(sizeof(Record))) return out;
    out.resize(parts[step].count);
    std::memcpy(out.data(), parts[step].bytes.data(), out.size() * sizeof(Record));
    return out;
  }
};

// The text of a reply to textRequest(), up to its first NUL; nullopt when the
// reply holds no "TXT4" record.
std::optional<QString> replyText(const Reply& reply);

// A failure of the session, with the text to show.
struct Failure {
  enum Kind {
    NoPassword,       // no password typed and none in the registry
    OpenFailed,       // the access library could not open the agent
    KeyRefused,       // the agent refused the key of "OPEN"
    RequestFailed,    // a request could not be sent; the connection ended
    NoHeader,         // the reply had no header; the connection ended
    VersionMismatch,  // the agent or snapshot has another version
    SnapshotCorrupt,  // a snapshot could not be read
  };
  Kind kind;
  QString text;
  int32_t code = 0;  // the access library's result (OpenFailed, RequestFailed)
};

// Whether a reply is still wanted.
enum class Delivery { Deliver, DropGeneration, DropView };
Delivery deliveryOf(uint64_t askedGeneration, const View& askedView, uint64_t generation, const View& view);

class AgentSession : public QObject {
  Q_OBJECT
 public:
  explicit AgentSession(std::unique_ptr<AgentAccess> access, QObject* parent = nullptr);
  ~AgentSession() override;

  // Connect: opens the agent `computer` ("" for this PC, or "*SNAPSHOT* " +
  // path), proves the password and compares versions. `done(true)` when the
  // program may start polling; `done(false)` after a failure. An overtaken
  // connect (another connect or a close came first) never calls `done`.
  void connectTo(const QString& computer, QObject* context, std::function<void(bool)> done);
  // Request: sends job.text and reads its header and records. False when the
  // job's refresh key is already in flight (nothing was queued).
  bool send(RequestJob job, QObject* context, std::function<void(const Reply&)> done);
  // Ends the connection (TapsorRpcClose); queued requests are dropped.
  void close();
  // Waits until the request thread has nothing left to do (tests and benchmarks).
  void drain();

  // The time base that replies must belong to; `kind` None is not a choice.
  const View& view() const { return view_; }
  void setView(View::Kind kind, const QString& day = QString());
  uint64_t generation() const { return generation_; }

  // A request is queued or running: a poll tick skips rather than queue another.
  bool busy() const { return pending_ > 0; }
  bool isOpen() const { return state_ == State::Open; }
  bool connecting() const { return state_ == State::Opening; }
  bool snapshot() const { return snapshot_; }
  const QString& password() const { return password_; }
  void setPassword(const QString& password) { password_ = password; }
  // The password that opened this PC's agent, kept for the session: a user
  // who may not read the registry is not asked twice.
  const QString& localPassword() const { return localPassword_; }
  void setLocalPassword(const QString& password) { localPassword_ = password; }
  // The key a connect to `computer` would send now ("" for this PC), and
  // whether a program may send it on its own (the agent has not just refused it).
  QString keyFor(const QString& computer) const;
  bool mayResend(const QString& computer) const;
  // The user offers `key` again: it may be sent.
  void offerKey(const QString& key) { refusals_.cleared(key); }
  const ReplyHeader& lastHeader() const { return header_; }
  // Whether a connect shows the wait cursor until it ends (the default). A
  // program that connects in the background (the tray's poll) turns it off;
  // the session then leaves the application's cursors alone.
  void setWaitCursor(bool shown) { waitCursor_ = shown; }

 signals:
  // A reply header arrived on a live connection: the status bar's picture and time.
  void replyStatus(int trafficState, const QString& replyTime);
  // A failure to show. For RequestFailed and NoHeader (and a version mismatch
  // of an agent) statusCleared() came before and lost() follows.
  void failed(const veltris::desktop::Failure& failure);
  // The connection broke: clear the status panels.
  void statusCleared();
  // The connection broke: stop polling, re-arm the start-up path.
  void lost();

 private:
  enum class State { Closed, Opening, Open };
  struct Job;
  struct Worker;
  struct Parked {
    RequestJob request;
    std::function<void(const Reply&)> done;
  };

  void enqueue(Job job);
  void dropQueued();  // a new generation; queued jobs are dropped
  void finishRequest(const RequestJob& job, Reply&& reply, int32_t result,
                     const std::function<void(const Reply&)>& done);
  void finishConnect(int32_t openResult, QObject* context, std::function<void(bool)> done);
  void sendOpen(QObject* context, std::function<void(bool)> done);
  void connectionLost(Failure failure);
  void report(Failure::Kind kind, const QString& text, int32_t code = 0);
  void normalCursor() const;

  std::shared_ptr<Worker> worker_;
  QString password_;
  bool snapshot_ = false;
  State state_ = State::Closed;
  ReplyHeader header_{};
  int pending_ = 0;  // UI thread only
  uint64_t generation_ = 0;
  uint64_t viewSerial_ = 0;
  View view_;
  bool snapshotFailureShown_ = false;  // this generation's snapshot already said it is corrupt
  bool waitCursor_ = true;
  bool local_ = false;                  // the connect or connection is to this PC's agent
  QString localPassword_;
  KeyRefusals refusals_;                // keys the agent refused in this session
  std::map<QString, int> inFlight_;     // refresh keys queued or running
  std::vector<Parked> parked_;          // sent while the connect ran
};

}  // namespace veltris::desktop

Q_DECLARE_METATYPE(veltris::desktop::Failure)
