#include "desktop/agent_session.h"

#include <QApplication>
#include <QDateTime>
#include <QPointer>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "desktop/agent_facts.h"
#include "desktop/messages.h"

namespace veltris::desktop {
namespace {

// A reply can never hold more records than this; an agent that claims more is cut off.
constexpr int kMaxRecordsPerStep = 1 << 20;

bool tagIs(const uint8_t* record, const char* tag) { return std::memcmp(record, tag, 4) == 0; }

QString fixedText(const char* field, int width) {
  int n = 0;
  while (n < width && field[n] != '\0') ++n;
  return QString::fromLatin1(field, n);
}

}  // namespace

RequestJob textRequest(const QString& text) {
  RequestJob job;
  job.text = text;
  job.steps = {{{kTextReplyTag[0], kTextReplyTag[1], kTextReplyTag[2], kTextReplyTag[3]}, sizeof(TextReply),
                ReadStep::One}};
  return job;
}

std::optional<QString> replyText(const Reply& reply) {
  TextReply text{};
  if (!reply.ok || !reply.first(0, text) || !tagIs(reinterpret_cast<const uint8_t*>(text.tag), kTextReplyTag))
    return std::nullopt;
  return fixedText(text.text, sizeof text.text);
}

void AgentSession::normalCursor() const {
  if (!waitCursor_) return;
  while (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
}

Delivery deliveryOf(uint64_t askedGeneration, const View& askedView, uint64_t generation, const View& view) {
  if (askedGeneration != generation) return Delivery::DropGeneration;
  if (askedView.kind != View::None && !(askedView == view)) return Delivery::DropView;
  return Delivery::Deliver;
}

struct AgentSession::Job {
  enum Kind { Request, Open, Close };
  Kind kind = Request;
  RequestJob request;
  uint64_t generation = 0;
  bool snapshot = false;                       // sent on a snapshot connection
  std::function<void(Reply&&, int32_t)> done;  // on the UI thread: reply, write/open result
};

// The request thread and what it shares with the session. It outlives a
// session that is destroyed while a request runs.
struct AgentSession::Worker {
  std::unique_ptr<AgentAccess> access;
  std::mutex mutex;
  std::condition_variable wake;
  std::condition_variable idle;
  std::deque<Job> queue;
  bool running = false;  // a job is in the access library
  bool stopping = false;
  QObject* receiver = nullptr;  // the session; null once it is gone
  std::thread thread;
  uint64_t brokenGeneration = ~uint64_t{0};  // request thread only: this generation's connection ended

  void run();
  void runJob(Job& job, Reply& reply, int32_t& result);
};

void AgentSession::Worker::run() {
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex);
      wake.wait(lock, [this] { return stopping || !queue.empty(); });
      if (stopping) return;
      job = std::move(queue.front());
      queue.pop_front();
      running = true;
    }
    Reply reply;
    int32_t result = 0;
    runJob(job, reply, result);
    {
      std::lock_guard lock(mutex);
      running = false;
      if (stopping) return;
      QMetaObject::invokeMethod(
          receiver,
          [done = std::move(job.done), reply = std::move(reply), result]() mutable {
            if (done) done(std::move(reply), result);
          },
          Qt::QueuedConnection);
    }
    idle.notify_all();
  }
}

void AgentSession::Worker::runJob(Job& job, Reply& reply, int32_t& result) {
  if (job.kind == Job::Close) {
    access->close();
    return;
  }
  const QByteArray text = job.request.text.toLatin1();
  if (job.kind == Job::Open) {
    access->close();
    result = access->open(text.isEmpty() ? nullptr : text.constData());
    return;
  }
  if (job.generation == brokenGeneration) {  // an earlier request ended this connection
    result = -1;
    return;
  }
  // A snapshot answers each request from its file: one failure ends nothing.
  const bool ends = !job.snapshot && text != "EXIT";
  result = access->write(text.constData());
  if (result != 0) {
    if (ends && !(result == -2 && text.startsWith("OPEN "))) brokenGeneration = job.generation;
    return;
  }
  if (text == "DUMP") {
    reply.ok = true;
    return;
  }
  if (access->read(&reply.header, sizeof(ReplyHeader)) != 0 ||
      std::memcmp(reply.header.tag, kReplyHeaderTag, 4) != 0) {
    if (ends) brokenGeneration = job.generation;
    return;
  }
  reply.ok = true;
  std::vector<uint8_t> record;
  for (const ReadStep& step : job.request.steps) {
    Reply::Part part;
    part.size = step.size;
    record.assign(static_cast<size_t>(step.size), 0);
    bool endOfReply = false;
    for (int n = 0; n < kMaxRecordsPerStep; ++n) {
      int32_t r = access->read(record.data(), step.size);
      if (r != 0) {
        part.firstReadFailed = n == 0;
        endOfReply = true;
        break;
      }
      bool matches = tagIs(record.data(), step.tag);
      if (step.mode == ReadStep::WhileTag && !matches) {
        endOfReply = true;
        break;
      }
      part.bytes.insert(part.bytes.end(), record.begin(), record.end());
      ++part.count;
      if (step.mode == ReadStep::One) {
        endOfReply = !matches;
        break;
      }
    }
    reply.parts.push_back(std::move(part));
    if (endOfReply) break;
  }
  if (job.request.afterRead) job.request.afterRead(*access);
}

AgentSession::AgentSession(std::unique_ptr<AgentAccess> access, QObject* parent)
    : QObject(parent), worker_(std::make_shared<Worker>()) {
  qRegisterMetaType<Failure>();
  worker_->access = std::move(access);
  worker_->receiver = this;
  worker_->thread = std::thread([worker = worker_] { worker->run(); });
}

AgentSession::~AgentSession() {
  bool abandoned;
  {
    std::lock_guard lock(worker_->mutex);
    worker_->stopping = true;
    worker_->receiver = nullptr;
    worker_->queue.clear();
    abandoned = worker_->running;
  }
  worker_->wake.notify_all();
  // A request still in the access library is abandoned; its thread ends after it.
  if (abandoned) {
    worker_->thread.detach();
  } else {
    worker_->thread.join();
  }
}

void AgentSession::enqueue(Job job) {
  ++pending_;
  {
    std::lock_guard lock(worker_->mutex);
    worker_->queue.push_back(std::move(job));
  }
  worker_->wake.notify_all();
}

void AgentSession::setView(View::Kind kind, const QString& day) { view_ = View{kind, day, ++viewSerial_}; }

bool AgentSession::send(RequestJob request, QObject* context, std::function<void(const Reply&)> done) {
  const QString key = request.refreshKey;
  if (!key.isEmpty()) {
    if (inFlight_.count(key) != 0) return false;
    inFlight_[key] = 1;
  }
  if (context != nullptr) {
    QPointer<QObject> alive(context);
    done = [alive, done = std::move(done)](const Reply& reply) {
      if (alive && done) done(reply);
    };
  }
  if (state_ == State::Opening) {  // sent once "OPEN" has succeeded
    parked_.push_back({std::move(request), std::move(done)});
    return true;
  }
  Job job;
  job.request = request;
  job.generation = generation_;
  job.snapshot = snapshot_;
  const uint64_t generation = generation_;
  job.done = [this, request = std::move(request), generation, done = std::move(done)](Reply&& reply,
                                                                                     int32_t result) {
    --pending_;
    if (generation != generation_) return;
    if (!request.refreshKey.isEmpty()) inFlight_.erase(request.refreshKey);
    if (deliveryOf(generation, request.view, generation_, view_) != Delivery::Deliver) return;
    finishRequest(request, std::move(reply), result, done);
  };
  enqueue(std::move(job));
  return true;
}

void AgentSession::finishRequest(const RequestJob& job, Reply&& reply, int32_t result,
                                 const std::function<void(const Reply&)>& done) {
  const QString& text = job.text;
  if (result != 0) {
    reply.ok = false;
    if ((snapshot_ && text.startsWith(QLatin1String("CMD"))) || text == QLatin1String("EXIT")) {
      // quiet
    } else if (result == -2 && text.startsWith(QLatin1String("OPEN "))) {
      refusals_.refused(password_, QDateTime::currentSecsSinceEpoch());
      report(Failure::KeyRefused, tr("Security check FAILED"));
    } else if (result == -2) {
      refusals_.refused(password_, QDateTime::currentSecsSinceEpoch());
      connectionLost({Failure::KeyRefused, tr("Security check FAILED")});
    } else {
      connectionLost({Failure::RequestFailed, tr("Request to VELTRIS Monitoring Agent failed with retcode ") +
                                                  signedText(result) + QStringLiteral(" x") +
                                                  QString::number(static_cast<uint32_t>(result), 16).toUpper(),
                       result});
    }
    if (done) done(reply);
    return;
  }
  if (!reply.ok) {  // no "TASK" header
    if (text != QLatin1String("EXIT"))
      connectionLost({Failure::NoHeader, tr("Could not determine VERSION of VELTRIS Monitoring Agent")});
    if (done) done(reply);
    return;
  }
  if (text != QLatin1String("DUMP")) {
    header_ = reply.header;
    if (!snapshot_) emit replyStatus(static_cast<int32_t>(header_.trafficState.get()), fixedText(header_.time, 8));
  }
  if (done) done(reply);
}

QString AgentSession::keyFor(const QString& computer) const {
  if (!password_.isEmpty()) return password_;
  const QString stored = agentOpenKey();
  if (!stored.isEmpty() || !computer.trimmed().isEmpty()) return stored;
  return localPassword_;
}

bool AgentSession::mayResend(const QString& computer) const {
  return refusals_.maySend(keyFor(computer), QDateTime::currentSecsSinceEpoch());
}

void AgentSession::connectTo(const QString& computer, QObject* context, std::function<void(bool)> done) {
  snapshot_ = computer.startsWith(QLatin1String("*SNAPSHOT*"));
  local_ = !snapshot_ && computer.trimmed().isEmpty();
  if (password_.isEmpty() && !snapshot_) {
    password_ = keyFor(computer);
    if (password_.isEmpty()) {
      report(Failure::NoPassword, tr("Please specify a PASSWORD"));
      done(false);
      return;
    }
  }
  dropQueued();  // the open job closes the old connection first
  if (waitCursor_) QApplication::setOverrideCursor(Qt::WaitCursor);
  state_ = State::Opening;
  snapshotFailureShown_ = false;
  Job job;
  job.kind = Job::Open;
  job.request.text = computer.trimmed();
  job.generation = generation_;
  const uint64_t generation = generation_;
  QPointer<QObject> alive(context);
  const bool hadContext = context != nullptr;
  job.done = [this, generation, alive, hadContext, done = std::move(done)](Reply&&, int32_t result) mutable {
    --pending_;
    if (generation != generation_) return;  // overtaken: the newer connect or the close decides
    if (hadContext && !alive) {
      dropQueued();
      return;
    }
    finishConnect(result, alive, std::move(done));
  };
  enqueue(std::move(job));
}

void AgentSession::finishConnect(int32_t openResult, QObject* context, std::function<void(bool)> done) {
  normalCursor();
  if (snapshot_) password_.clear();
  if (openResult != 0) {
    state_ = State::Closed;
    parked_.clear();
    inFlight_.clear();
    if (openResult != -1) {
      if (snapshot_) {
        report(Failure::SnapshotCorrupt, tr("SnapShot file is corrupt"));
      } else {
        report(Failure::OpenFailed, tr("Connection failed with retcode ") + signedText(openResult), openResult);
      }
    }
    done(false);
    return;
  }
  sendOpen(context, std::move(done));
}

void AgentSession::sendOpen(QObject* context, std::function<void(bool)> done) {
  // "OPEN" itself is not parked behind the connect.
  state_ = State::Closed;
  QPointer<QObject> alive(context);
  const bool hadContext = context != nullptr;
  const uint64_t generation = generation_;
  send({QStringLiteral("OPEN ") + password_, {}, {}, {}, {}}, nullptr,
       [this, alive, hadContext, generation, done = std::move(done)](const Reply& reply) {
         const bool current = generation == generation_;
         if (!reply.ok || !current) {
           if (current) state_ = State::Closed;
           parked_.clear();
           if (current && (!hadContext || alive)) done(false);
           return;
         }
         const QString version = fixedText(reply.header.version, 8);
         if (version != QLatin1String(kConsoleVersion)) {
           state_ = State::Closed;
           parked_.clear();
           const QString mine = tr("VELTRIS CLIENT version ") + QLatin1String(kConsoleVersion);
           if (snapshot_) {
             report(Failure::VersionMismatch, mine + tr(" does not match Snapshot version ") + version);
           } else {
             connectionLost({Failure::VersionMismatch, mine + tr(" does not match VELTRIS Monitoring Agent version ") + version});
           }
           if (!hadContext || alive) done(false);
           return;
         }
         state_ = State::Open;
         refusals_.cleared(password_);
         if (local_) localPassword_ = password_;
         std::vector<Parked> parked;
         parked.swap(parked_);
         for (Parked& p : parked) {
           const QString key = p.request.refreshKey;
           if (!key.isEmpty()) inFlight_.erase(key);  // send() marks it again
           send(std::move(p.request), nullptr, std::move(p.done));
         }
         if (!hadContext || alive) done(true);
       });
  state_ = State::Opening;
}

void AgentSession::connectionLost(Failure failure) {
  if (snapshot_) {
    if (snapshotFailureShown_) return;  // one message per snapshot, not one per request
    snapshotFailureShown_ = true;
    report(Failure::SnapshotCorrupt, tr("SnapShot file is corrupt"));
    return;
  }
  normalCursor();
  emit statusCleared();
  close();
  emit failed(failure);
  emit lost();
}

void AgentSession::report(Failure::Kind kind, const QString& text, int32_t code) {
  emit failed(Failure{kind, text, code});
}

void AgentSession::close() {
  dropQueued();
  Job job;
  job.kind = Job::Close;
  job.generation = generation_;
  job.done = [this](Reply&&, int32_t) { --pending_; };
  enqueue(std::move(job));
}

void AgentSession::dropQueued() {
  if (state_ == State::Opening) normalCursor();
  state_ = State::Closed;
  ++generation_;
  inFlight_.clear();
  parked_.clear();
  std::deque<Job> dropped;
  {
    std::lock_guard lock(worker_->mutex);
    dropped.swap(worker_->queue);
  }
  pending_ -= static_cast<int>(dropped.size());
}

void AgentSession::drain() {
  std::unique_lock lock(worker_->mutex);
  worker_->idle.wait(lock, [this] { return worker_->queue.empty() && !worker_->running; });
}

}  // namespace veltris::desktop
