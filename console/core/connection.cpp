#include "console/core/connection.h"

#include <QApplication>
#include <QPointer>

#include "console/core/agent_registry.h"
#include "console/core/messages.h"

namespace veltris::console {
namespace {

// A reply can never hold more records than this; an agent that claims more is cut off.
constexpr int kMaxRecordsPerStep = 1 << 20;

bool tagIs(const uint8_t* record, const char* tag) { return std::memcmp(record, tag, 4) == 0; }

QString fixedText(const char* field, int width) {
  int n = 0;
  while (n < width && field[n] != '\0') ++n;
  return QString::fromLatin1(field, n);
}

void normalCursor() {
  while (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
}

}  // namespace

Connection::Connection(std::unique_ptr<AgentAccess> access, QWidget* parentWindow)
    : access_(std::move(access)), window_(parentWindow) {
  worker_ = std::thread([this] { runWorker(); });
}

Connection::~Connection() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  wake_.notify_all();
  worker_.join();
}

void Connection::enqueue(Job job) {
  ++pending_;
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(job));
  }
  wake_.notify_all();
}

void Connection::runWorker() {
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      job = std::move(queue_.front());
      queue_.pop_front();
      running_ = true;
    }
    Reply reply;
    int32_t result = 0;
    runJob(job, reply, result);
    QMetaObject::invokeMethod(
        this,
        [this, done = std::move(job.done), reply = std::move(reply), result]() mutable {
          --pending_;
          if (done) done(std::move(reply), result);
        },
        Qt::QueuedConnection);
    {
      std::lock_guard lock(mutex_);
      running_ = false;
    }
    idle_.notify_all();
  }
}

void Connection::runJob(Job& job, Reply& reply, int32_t& result) {
  if (job.closeOnly) {
    access_->close();
    return;
  }
  const QByteArray text = job.request.text.toLatin1();
  if (job.openOnly) {
    access_->close();
    result = access_->open(text.isEmpty() ? nullptr : text.constData());
    return;
  }
  if (job.epoch == brokenEpoch_) {  // an earlier request ended this connection
    result = -1;
    return;
  }
  result = access_->write(text.constData());
  // Failures that end the connection: later requests of this epoch are not sent.
  const bool quiet = (job.snapshot && text.startsWith("CMD")) || text == "EXIT" ||
                     (result == -2 && text.startsWith("OPEN "));
  if (result != 0) {
    if (!quiet) brokenEpoch_ = job.epoch;
    return;
  }
  if (text == "DUMP") {
    reply.ok = true;
    return;
  }
  if (access_->read(&reply.header, sizeof(ReplyHeader)) != 0 ||
      std::memcmp(reply.header.tag, kReplyHeaderTag, 4) != 0) {
    if (text != "EXIT") brokenEpoch_ = job.epoch;
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
      int32_t r = access_->read(record.data(), step.size);
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
  if (job.request.afterRead) job.request.afterRead(*access_);
}

// The caller's callback, skipped once its context object is gone.
std::function<void(const Reply&)> guarded(QObject* context, std::function<void(const Reply&)> done) {
  if (context == nullptr) return done;
  QPointer<QObject> alive(context);
  return [alive, done = std::move(done)](const Reply& reply) {
    if (alive && done) done(reply);
  };
}

void Connection::send(RequestJob request, QObject* context, std::function<void(const Reply&)> done) {
  done = guarded(context, std::move(done));
  Job job;
  job.request = request;
  job.epoch = epoch_;
  job.snapshot = snapshot_;
  job.context = context;
  uint64_t epoch = epoch_;
  job.done = [this, request, epoch, done = std::move(done)](Reply&& reply, int32_t result) {
    finishRequest(request, std::move(reply), result, epoch, done);
  };
  enqueue(std::move(job));
}

void Connection::finishRequest(const RequestJob& job, Reply&& reply, int32_t result, uint64_t epoch,
                               const std::function<void(const Reply&)>& done) {
  const QString& text = job.text;
  if (epoch != epoch_) {  // the connection ended while this request waited
    reply.ok = false;
    if (done) done(reply);
    return;
  }
  if (result != 0) {
    reply.ok = false;
    if ((snapshot_ && text.left(3) == QLatin1String("CMD")) || text == QLatin1String("EXIT")) {
      // quiet
    } else if (result == -2 && text.left(5) == QLatin1String("OPEN ")) {
      showMessage(window_, QStringLiteral("Security check FAILED"));
    } else if (result == -2) {
      connectionLost(QStringLiteral("Security check FAILED"));
    } else {
      connectionLost(QStringLiteral("Request to VELTRIS Monitoring Agent failed with retcode ") +
                     signedText(result) + QStringLiteral(" x") +
                     QString::number(static_cast<uint32_t>(result), 16).toUpper());
    }
    if (done) done(reply);
    return;
  }
  if (!reply.ok) {  // no "TASK" header
    if (text != QLatin1String("EXIT"))
      connectionLost(QStringLiteral("Could not determine VERSION of VELTRIS Monitoring Agent"));
    if (done) done(reply);
    return;
  }
  if (text != QLatin1String("DUMP")) {
    header_ = reply.header;
    if (!snapshot_) emit replyStatus(static_cast<int32_t>(header_.trafficState.get()), fixedText(header_.time, 8));
  }
  if (done) done(reply);
}

void Connection::connectTo(const QString& computer, QObject* context, std::function<void(bool)> done) {
  snapshot_ = computer.startsWith(QLatin1String("*SNAPSHOT*"));
  if (password_.isEmpty() && !snapshot_) {
    password_ = agentOpenKey();
    if (password_.isEmpty()) {
      showMessage(window_, QStringLiteral("Please specify a PASSWORD"));
      done(false);
      return;
    }
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);
  dropQueued();  // the open job closes the old connection first
  ++epoch_;
  Job job;
  job.openOnly = true;
  job.request.text = computer.trimmed();
  job.epoch = epoch_;
  job.context = context;
  uint64_t epoch = epoch_;
  QPointer<QObject> alive(context);
  bool hadContext = context != nullptr;
  job.done = [this, computer, epoch, context, alive, hadContext, done = std::move(done)](Reply&&,
                                                                                       int32_t result) mutable {
    if (hadContext && !alive) {
      normalCursor();
      return;
    }
    finishConnect(computer, result, epoch, context, std::move(done));
  };
  enqueue(std::move(job));
}

void Connection::finishConnect(const QString& computer, int32_t openResult, uint64_t epoch, QObject* context,
                               std::function<void(bool)> done) {
  normalCursor();
  if (epoch != epoch_) {
    done(false);
    return;
  }
  if (snapshot_) password_.clear();
  if (openResult == -1) {
    done(false);
    return;
  }
  if (openResult != 0) {
    showMessage(window_, QStringLiteral("Connection failed with retcode ") + signedText(openResult));
    done(false);
    return;
  }
  open_ = true;
  Q_UNUSED(computer);
  send({QStringLiteral("OPEN ") + password_, {}, {}}, context, [this, done = std::move(done)](const Reply& reply) {
    if (!reply.ok) {
      done(false);
      return;
    }
    QString version = fixedText(reply.header.version, 8);
    if (version == QLatin1String(kConsoleVersion)) {
      done(true);
      return;
    }
    QString mine = QStringLiteral("VELTRIS CLIENT version ") + QLatin1String(kConsoleVersion);
    if (snapshot_) {
      showMessage(window_, mine + QStringLiteral(" does not match Snapshot version ") + version);
    } else {
      connectionLost(mine + QStringLiteral(" does not match VELTRIS Monitoring Agent version ") + version);
    }
    done(false);
  });
}

void Connection::connectionLost(const QString& message) {
  if (snapshot_) {
    showMessage(window_, QStringLiteral("SnapShot file is corrupt"));
    return;
  }
  normalCursor();
  emit statusCleared();
  close();
  showMessage(window_, message);
  emit lost();
}

void Connection::close() {
  dropQueued();
  Job job;
  job.closeOnly = true;
  job.epoch = epoch_;
  job.done = [](Reply&&, int32_t) {};
  enqueue(std::move(job));
}

void Connection::dropQueued() {
  open_ = false;
  ++epoch_;
  std::deque<Job> dropped;
  {
    std::lock_guard lock(mutex_);
    dropped.swap(queue_);
  }
  for (Job& job : dropped) {  // answered as failed, after the caller has returned
    QMetaObject::invokeMethod(
        this,
        [this, done = std::move(job.done)]() mutable {
          --pending_;
          if (done) done(Reply{}, 0);
        },
        Qt::QueuedConnection);
  }
}

void Connection::drain() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return queue_.empty() && !running_; });
}

}  // namespace veltris::console
