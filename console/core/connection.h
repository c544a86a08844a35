#pragma once
// The console's connection to one agent: Connect, Request and ConnectionLost.
//
// Every call into AgentAccess runs on one request thread owned by the
// Connection, one at a time and in the order the requests were sent, so the
// windows stay responsive while an agent answers slowly. Everything else,
// messages and callbacks included, happens on the UI thread.
//
// How a tab sends a request and gets its records:
//
//   RequestJob job{"DETAILS 1234", {{kTotalsTag, sizeof(TotalsRecord), ReadStep::One},
//                                   {kDetailTag, sizeof(DetailRecord), ReadStep::WhileTag}}};
//   connection.send(std::move(job), this, [this](const Reply& reply) {
//     if (!reply.ok) return;                 // Request failed: message shown, connection ended
//     TotalsRecord totals;
//     if (!reply.first(0, totals)) ...       // the totals record could not be read
//     for (const DetailRecord& d : reply.records<DetailRecord>(1)) ...
//   });
//
// The callback runs exactly once, on the UI thread, unless `context` is
// destroyed first. A request that was still queued when the connection was
// lost is not sent; its callback gets ok == false.
#include <QObject>
#include <QString>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/reply_records.h"
#include "console/access/agent_access.h"

class QWidget;

namespace veltris::console {

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

struct RequestJob {
  QString text;
  std::vector<ReadStep> steps;
  // Runs on the request thread after the steps, only when the request got
  // through (e.g. AgentAccess::save after "SNAPSHOT").
  std::function<void(AgentAccess&)> afterRead;
};

struct Reply {
  bool ok = false;  // delivered and its header read: Request returned true
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

class Connection : public QObject {
  Q_OBJECT
 public:
  // `parentWindow` parents the message boxes.
  Connection(std::unique_ptr<AgentAccess> access, QWidget* parentWindow);
  ~Connection() override;

  // Connect: opens the agent `computer` ("" for this PC, or "*SNAPSHOT* " +
  // path), proves the password and compares versions. `done(true)` when the
  // console may start polling.
  void connectTo(const QString& computer, QObject* context, std::function<void(bool)> done);
  // Request: sends job.text and reads its header and records.
  void send(RequestJob job, QObject* context, std::function<void(const Reply&)> done);
  // ConnectionLost: ends a broken connection and shows `message`.
  void connectionLost(const QString& message);
  // Ends the connection without a message (TapsorRpcClose); queued requests are dropped.
  void close();
  // Waits until the request thread has nothing left to do (closing the window).
  void drain();

  // A request is queued or running: a poll tick skips rather than queue another.
  bool busy() const { return pending_ > 0; }
  bool isOpen() const { return open_; }
  bool snapshot() const { return snapshot_; }
  const QString& password() const { return password_; }
  void setPassword(const QString& password) { password_ = password; }
  const ReplyHeader& lastHeader() const { return header_; }

 signals:
  // A reply header arrived on a live connection: the status bar's picture and time.
  void replyStatus(int trafficState, const QString& replyTime);
  // ConnectionLost cleared the status panels.
  void statusCleared();
  // ConnectionLost ran on a live connection: stop polling, re-arm the start-up timer.
  void lost();

 private:
  struct Job {
    RequestJob request;
    uint64_t epoch;
    bool openOnly = false;  // close, then open(request.text)
    bool closeOnly = false;
    bool snapshot = false;  // sent on a snapshot connection
    QObject* context = nullptr;
    std::function<void(Reply&&, int32_t)> done;  // on the UI thread: reply, write/open result
  };
  void enqueue(Job job);
  void dropQueued();  // ends the connection's state; queued jobs answer as failed
  void runWorker();
  void runJob(Job& job, Reply& reply, int32_t& result);
  void finishRequest(const RequestJob& job, Reply&& reply, int32_t result, uint64_t epoch,
                     const std::function<void(const Reply&)>& done);
  void finishConnect(const QString& computer, int32_t openResult, uint64_t epoch, QObject* context,
                     std::function<void(bool)> done);

  std::unique_ptr<AgentAccess> access_;
  QWidget* window_;
  QString password_;
  bool snapshot_ = false;
  bool open_ = false;
  ReplyHeader header_{};
  int pending_ = 0;  // UI thread only
  uint64_t epoch_ = 0;  // raised by every close; replies of older epochs are void

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<Job> queue_;
  bool running_ = false;  // the worker holds a job
  bool stopping_ = false;
  uint64_t brokenEpoch_ = ~uint64_t{0};  // worker only: a request of this epoch ended the connection
  std::thread worker_;
};

}  // namespace veltris::console
