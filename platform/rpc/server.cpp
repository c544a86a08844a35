#include "platform/rpc/server.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "platform/rpc/association.h"
#include "platform/rpc/status.h"

namespace veltris::rpc {
namespace {

// Room in the kernel's queue for a burst of clients while a flood is cleared.
constexpr int kMinBacklog = 128;
// Connections taken from one listener per turn of the reactor.
constexpr int kAcceptsPerTurn = 64;
// Readiness reports taken per turn; more wait for the next one.
constexpr int kEventsPerTurn = 64;
// Tags of the reactor's readiness reports: the wake event, a listener (with
// its descriptor), else a connection's number.
constexpr uint64_t kWakeTag = 0;
constexpr uint64_t kListenerTag = uint64_t{1} << 63;
// A worker without a connection to serve waits this long before it ends.
constexpr auto kWorkerLinger = std::chrono::seconds(2);
// Buffers above this are given back once their PDU has been handled.
constexpr size_t kKeptBuffer = 8 * 1024;
// A read takes up to this much, so a brief call comes in with one system call;
// bytes behind the PDU wait in the buffer for the next turn.
constexpr size_t kReadAhead = 1024;

struct Listener {
  Protseq protseq = Protseq::Tcp;
  std::string endpoint;
  Socket socket;
  uint64_t inode = 0;  // local endpoints: the socket file we created
  bool sameEndpoint = false;  // a further address of the endpoint before it
};

}  // namespace

// One client connection. Between PDUs it waits in the reactor, which reads
// whatever arrives without a thread of its own and answers brief PDUs itself;
// any other whole PDU goes to a worker, which handles it (and any that follow
// at once) and hands the connection back. So does a reply the peer does not
// take in at once: a worker sends the rest.
struct ServerConnection {
  Socket socket;
  Protseq protseq = Protseq::Tcp;
  std::string peer;
  std::unique_ptr<Association> association;
  std::vector<uint8_t> buffer;  // the PDU being read, then what came behind it
  size_t filled = 0;
  size_t pduLength = 0;  // the whole PDU at the front of the buffer, 0 while incomplete
  std::vector<uint8_t> unsent;  // reply bytes the reactor could not send without waiting
  Clock::time_point acceptedAt;
  Clock::time_point lastActivity;  // end of the last PDU handled
  Clock::time_point pduStartedAt;  // first byte of the PDU in the buffer
  bool inReactor = true;           // false while a worker has it
  bool busy = false;               // a worker is handling one of its PDUs
  bool dropped = false;            // closed and out of the table
  uint64_t id = 0;                 // tag of its readiness reports, from 1

  bool local() const { return protseq == Protseq::Local; }
};

namespace {

class SocketSink : public PduSink {
 public:
  SocketSink(int fd, std::chrono::milliseconds timeout) : fd_(fd), timeout_(timeout) {}
  bool send(std::span<const uint8_t> pdu) override {
    return writeAll(fd_, pdu, Clock::now() + timeout_) == IoResult::Ok;
  }

 private:
  int fd_;
  std::chrono::milliseconds timeout_;
};

// Sends without waiting; what the socket does not take is kept for a worker.
class ReactorSink : public PduSink {
 public:
  explicit ReactorSink(int fd) : fd_(fd) {}
  bool send(std::span<const uint8_t> pdu) override {
    size_t sent = 0;
    while (unsent.empty() && sent < pdu.size()) {
      ssize_t n = ::send(fd_, pdu.data() + sent, pdu.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        sent += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
      break;
    }
    unsent.insert(unsent.end(), pdu.begin() + static_cast<ptrdiff_t>(sent), pdu.end());
    return true;
  }
  std::vector<uint8_t> unsent;

 private:
  int fd_;
};

enum class ReadStep { Complete, NeedMore, Closed, Malformed };

// Whether the buffer holds a whole PDU at its front, without reading; `want`
// becomes the bytes it takes to tell or to complete it.
ReadStep bufferedStep(ServerConnection& c, size_t& want) {
  want = kCommonHeaderSize;
  if (c.filled < kCommonHeaderSize) return ReadStep::NeedMore;
  size_t length = decodeHeader({c.buffer.data(), kCommonHeaderSize})->fragLength;
  if (length < kCommonHeaderSize || length > c.association->maxIncomingFragment()) return ReadStep::Malformed;
  want = length;
  if (c.filled < length) return ReadStep::NeedMore;
  c.pduLength = length;
  return ReadStep::Complete;
}

ReadStep bufferedStep(ServerConnection& c) {
  size_t want;
  return bufferedStep(c, want);
}

// Reads what has arrived without waiting, up to a whole PDU and what fits behind it.
ReadStep readAvailable(ServerConnection& c) {
  for (;;) {
    size_t want;
    if (ReadStep step = bufferedStep(c, want); step != ReadStep::NeedMore) return step;
    if (c.buffer.size() < std::max(want, kReadAhead)) c.buffer.resize(std::max(want, kReadAhead));
    ssize_t n = ::recv(c.socket.fd(), c.buffer.data() + c.filled, c.buffer.size() - c.filled, MSG_DONTWAIT);
    if (n > 0) {
      if (c.filled == 0) c.pduStartedAt = Clock::now();
      c.filled += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return ReadStep::Closed;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return ReadStep::NeedMore;
    return ReadStep::Closed;
  }
}

// Asks the client to close its end; the connection ends without waiting for it.
void sendShutdown(int fd) {
  std::vector<uint8_t> pdu;
  encodeHeaderOnly(pdu, PduType::Shutdown, 0);
  (void)!::send(fd, pdu.data(), pdu.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace

struct Server::State : std::enable_shared_from_this<State> {
  explicit State(const Limits& l) : limits(l) {}

  std::shared_ptr<const Interface> find(const SyntaxId& id);
  void reactorLoop();
  // Reactor thread: the poller watches the listeners and the connections in
  // the reactor, no others; answers whether stopping.
  bool updateWatch();
  void acceptFrom(int listenerFd);
  void admit(Socket socket, Protseq protseq, const std::string& endpoint);
  bool makeRoom(Protseq protseq, const std::string& peer);  // under mutex
  void dropLocked(std::shared_ptr<ServerConnection> connection);  // a copy: it may be the list's own element
  void readFrom(const std::shared_ptr<ServerConnection>& connection);
  bool answer(const std::shared_ptr<ServerConnection>& connection);  // true: stays in the reactor
  void finishPdu(ServerConnection& connection);
  void expire(Clock::time_point now, int& waitMs);
  void toWorker(std::shared_ptr<ServerConnection> connection);  // under mutex
  void workerLoop();
  bool serve(ServerConnection& connection);  // true: back to the reactor
  bool setBusy(ServerConnection& connection, bool busy);  // false once stopping
  void wake();
  void closeListeners();
  unsigned threadsOfCaller() const;
  Clock::time_point deadline(const ServerConnection& c) const;

  void trace(const std::string& peer, std::string_view pdu, std::string_view reason) const {
    if (tracer) tracer(peer, pdu, reason);
  }

  const Limits limits;
  Server::Trace tracer;
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::condition_variable work;
  std::vector<std::shared_ptr<const Interface>> interfaces;
  std::vector<Listener> listeners;
  std::list<std::shared_ptr<ServerConnection>> connections;
  std::deque<std::shared_ptr<ServerConnection>> ready;  // whole PDUs waiting for a worker
  std::map<std::string, unsigned> connectionsPerPeer;
  unsigned networkConnections = 0;
  unsigned localConnections = 0;
  unsigned liveThreads = 0;  // workers
  unsigned idleWorkers = 0;
  unsigned activeCalls = 0;
  unsigned maxCalls = 1;
  bool listening = false;
  bool stopping = false;
  Socket wakeEvent;
  Socket poller;  // epoll
  uint64_t lastId = 0;
  std::unordered_map<uint64_t, std::shared_ptr<ServerConnection>> watched;  // reactor thread only
  std::vector<int> watchedListeners;                                         // reactor thread only
  std::thread reactor;
  std::unique_ptr<CallGate> gate;
  std::vector<ListenAddress> tcpAddresses;  // empty: every address
};

namespace {

// Set on worker threads, so a stop requested by a handler skips its own call.
thread_local const Server::State* servingState = nullptr;

class ConnectionGate : public CallGate {
 public:
  explicit ConnectionGate(Server::State& state) : state_(state) {}

  Admission enter() override;
  void leave() override;

 private:
  Server::State& state_;
};

}  // namespace

Admission ConnectionGate::enter() {
  std::lock_guard lock(state_.mutex);
  if (state_.stopping) return Admission::Closing;
  if (state_.activeCalls >= state_.maxCalls) return Admission::Busy;
  ++state_.activeCalls;
  return Admission::Admitted;
}

void ConnectionGate::leave() {
  std::lock_guard lock(state_.mutex);
  --state_.activeCalls;
}

std::shared_ptr<const Interface> Server::State::find(const SyntaxId& id) {
  std::lock_guard lock(mutex);
  for (const auto& iface : interfaces) {
    if (isCompatible(iface->id, id)) return iface;
  }
  return nullptr;
}

bool Server::State::setBusy(ServerConnection& connection, bool busy) {
  std::lock_guard lock(mutex);
  connection.busy = busy;
  return !stopping;
}

void Server::State::wake() {
  uint64_t one = 1;
  if (wakeEvent.valid()) (void)!::write(wakeEvent.fd(), &one, sizeof one);
}

unsigned Server::State::threadsOfCaller() const { return servingState == this ? 1 : 0; }

Clock::time_point Server::State::deadline(const ServerConnection& c) const {
  Clock::time_point due = c.lastActivity + limits.idleTimeout;
  if (c.association->callPending()) due = c.lastActivity + limits.receiveTimeout;  // the rest of a call
  if (c.filled > 0) due = c.pduStartedAt + limits.receiveTimeout;
  if (!c.association->bound()) due = std::min(due, c.acceptedAt + limits.bindTimeout);
  return due;
}

void Server::State::dropLocked(std::shared_ptr<ServerConnection> connection) {
  connection->dropped = true;
  connections.remove(connection);
  (connection->local() ? localConnections : networkConnections)--;
  if (--connectionsPerPeer[connection->peer] == 0) connectionsPerPeer.erase(connection->peer);
  connection->socket.close();
  changed.notify_all();
}

// Closes the connection that matters least: of this peer when it is at its
// limit, else of the full table; one that never bound goes first, then the
// one idle longest. Busy connections and those with a PDU under way stay.
bool Server::State::makeRoom(Protseq protseq, const std::string& peer) {
  const bool local = protseq == Protseq::Local;
  auto found = connectionsPerPeer.find(peer);
  const bool peerFull = found != connectionsPerPeer.end() && found->second >= limits.maxConnectionsPerPeer;
  const bool tableFull = local ? localConnections >= limits.maxLocalConnections
                               : networkConnections >= limits.maxConnections;
  if (!peerFull && !tableFull) return true;
  std::shared_ptr<ServerConnection> victim;
  auto rank = [](const ServerConnection& c) {
    return std::make_pair(c.association->bound(), c.association->bound() ? c.lastActivity : c.acceptedAt);
  };
  for (const auto& c : connections) {
    if (!c->inReactor || c->busy || c->local() != local || (c->association->bound() && c->filled > 0)) continue;
    if (peerFull && c->peer != peer) continue;
    if (!victim || rank(*c) < rank(*victim)) victim = c;
  }
  if (!victim) return false;
  trace(victim->peer, {}, "closed to make room for a new connection");
  dropLocked(victim);
  return true;
}

void Server::State::admit(Socket socket, Protseq protseq, const std::string& endpoint) {
  if (protseq == Protseq::Tcp) setNoDelay(socket.fd());
  auto connection = std::make_shared<ServerConnection>();
  connection->protseq = protseq;
  connection->peer = peerKey(socket.fd(), protseq);
  connection->acceptedAt = connection->lastActivity = Clock::now();
  CallContext context{protseq, endpoint, localAddress(socket.fd()), connection->peer,
                      peerUser(socket.fd(), protseq)};
  connection->association = std::make_unique<Association>(
      [this](const SyntaxId& id) { return find(id); }, limits, std::move(context), gate.get());
  connection->socket = std::move(socket);
  std::lock_guard lock(mutex);
  if (stopping) return;  // the socket closes
  if (!makeRoom(protseq, connection->peer)) {
    trace(connection->peer, {}, "too many connections");
    return;
  }
  ++connectionsPerPeer[connection->peer];
  (connection->local() ? localConnections : networkConnections)++;
  connection->id = ++lastId;
  connections.push_back(std::move(connection));
}

void Server::State::toWorker(std::shared_ptr<ServerConnection> connection) {
  connection->inReactor = false;
  ready.push_back(std::move(connection));
  if (ready.size() <= idleWorkers) {
    work.notify_one();
    return;
  }
  try {
    // The thread holds the state: a handler that stops the server outlives it.
    std::thread(&State::workerLoop, shared_from_this()).detach();
    ++liveThreads;
    ++idleWorkers;  // counted until it takes the connection
  } catch (const std::system_error&) {
    // No thread now: the connection waits for a worker that finishes.
  }
}

void Server::State::readFrom(const std::shared_ptr<ServerConnection>& connection) {
  ReadStep step = readAvailable(*connection);
  // Brief PDUs are answered here, those already read behind one as well; the
  // next read waits for the next poll.
  while (step == ReadStep::Complete &&
         connection->association->isBrief({connection->buffer.data(), connection->pduLength})) {
    if (!answer(connection)) return;
    step = bufferedStep(*connection);
  }
  if (step == ReadStep::NeedMore) return;
  std::lock_guard lock(mutex);
  if (step == ReadStep::Complete) {
    toWorker(connection);
  } else {
    if (step == ReadStep::Malformed) trace(connection->peer, {}, "fragment malformed or larger than agreed");
    dropLocked(connection);
  }
}

void Server::State::finishPdu(ServerConnection& c) {
  const size_t behind = c.filled - c.pduLength;
  c.lastActivity = Clock::now();
  if (behind != 0) {  // the start of the next PDU
    std::memmove(c.buffer.data(), c.buffer.data() + c.pduLength, behind);
    c.pduStartedAt = c.lastActivity;
  }
  c.filled = behind;
  c.pduLength = 0;
  if (c.buffer.capacity() > kKeptBuffer) std::vector<uint8_t>(c.buffer.begin(), c.buffer.begin() + behind).swap(c.buffer);
}

// A brief PDU, answered on the reactor's thread.
bool Server::State::answer(const std::shared_ptr<ServerConnection>& connection) {
  ServerConnection& c = *connection;
  ReactorSink sink(c.socket.fd());
  Verdict verdict = c.association->receive({c.buffer.data(), c.pduLength}, sink);
  finishPdu(c);
  std::lock_guard lock(mutex);
  if (verdict == Verdict::Close) {
    trace(c.peer, c.association->closeReason().pdu, c.association->closeReason().reason);
    dropLocked(connection);
    return false;
  }
  if (sink.unsent.empty()) return true;
  c.unsent = std::move(sink.unsent);
  toWorker(connection);
  return false;
}

void Server::State::expire(Clock::time_point now, int& waitMs) {
  std::lock_guard lock(mutex);
  Clock::time_point next = Clock::time_point::max();
  for (auto it = connections.begin(); it != connections.end();) {
    auto current = it++;
    const ServerConnection& c = **current;
    if (!c.inReactor) continue;
    Clock::time_point due = deadline(c);
    if (due <= now) {
      trace(c.peer, {}, c.association->bound() ? "idle or receive time-out" : "no bind in time");
      dropLocked(*current);
    } else {
      next = std::min(next, due);
    }
  }
  if (next != Clock::time_point::max()) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
    waitMs = static_cast<int>(std::clamp<long long>(left, 1, 60 * 60 * 1000));
  }
}

bool Server::State::updateWatch() {
  auto control = [&](int op, int fd, uint64_t tag) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = tag;
    (void)::epoll_ctl(poller.fd(), op, fd, &event);
  };
  std::lock_guard lock(mutex);
  if (stopping) return true;
  // A closed descriptor has left the poller by itself.
  for (auto it = watched.begin(); it != watched.end();) {
    ServerConnection& c = *it->second;
    if (!c.dropped && c.inReactor) {
      ++it;
      continue;
    }
    if (!c.dropped) control(EPOLL_CTL_DEL, c.socket.fd(), 0);
    it = watched.erase(it);
  }
  for (const auto& c : connections) {
    if (c->inReactor && watched.emplace(c->id, c).second) control(EPOLL_CTL_ADD, c->socket.fd(), c->id);
  }
  for (const Listener& l : listeners) {
    if (std::find(watchedListeners.begin(), watchedListeners.end(), l.socket.fd()) != watchedListeners.end()) continue;
    watchedListeners.push_back(l.socket.fd());
    control(EPOLL_CTL_ADD, l.socket.fd(), kListenerTag | static_cast<uint32_t>(l.socket.fd()));
  }
  return false;
}

void Server::State::acceptFrom(int listenerFd) {
  Protseq protseq = Protseq::Tcp;
  std::string endpoint;
  {
    std::lock_guard lock(mutex);
    auto l = std::find_if(listeners.begin(), listeners.end(), [&](const Listener& x) { return x.socket.fd() == listenerFd; });
    if (l == listeners.end()) return;
    protseq = l->protseq;
    endpoint = l->endpoint;
  }
  for (int n = 0; n < kAcceptsPerTurn; ++n) {
    int fd = ::accept4(listenerFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
      admit(Socket(fd), protseq, endpoint);
      continue;
    }
    if (errno == EMFILE || errno == ENFILE) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));  // out of descriptors
    }
    break;
  }
}

void Server::State::reactorLoop() {
  epoll_event events[kEventsPerTurn];
  std::vector<int> ready;
  // What a previous listen left in the poller went with its closed descriptors.
  watched.clear();
  watchedListeners.clear();
  for (;;) {
    int waitMs = -1;
    expire(Clock::now(), waitMs);
    if (updateWatch()) {
      watched.clear();
      return;
    }
    int count = ::epoll_wait(poller.fd(), events, kEventsPerTurn, waitMs);
    if (count < 0) continue;  // EINTR
    // Connections first, then new ones: room made for a newcomer never closes
    // one whose report is still to be handled.
    ready.clear();
    for (int i = 0; i < count; ++i) {
      const uint64_t tag = events[i].data.u64;
      if (tag == kWakeTag) {
        uint64_t value = 0;
        (void)!::read(wakeEvent.fd(), &value, sizeof value);
      } else if (tag & kListenerTag) {
        ready.push_back(static_cast<int>(tag & 0xFFFFFFFFu));
      } else if (auto found = watched.find(tag); found != watched.end()) {
        std::shared_ptr<ServerConnection> connection = found->second;
        if (!connection->dropped && connection->inReactor) readFrom(connection);
      }
    }
    for (int fd : ready) acceptFrom(fd);
  }
}

void Server::State::workerLoop() {
  servingState = this;
  std::unique_lock lock(mutex);
  for (;;) {
    if (!work.wait_for(lock, kWorkerLinger, [&] { return !ready.empty() || stopping; })) break;
    if (ready.empty()) break;  // stopping, nothing left to serve
    std::shared_ptr<ServerConnection> connection = std::move(ready.front());
    ready.pop_front();
    --idleWorkers;
    lock.unlock();
    bool keep = serve(*connection);
    lock.lock();
    ++idleWorkers;
    if (keep && !stopping) {
      connection->inReactor = true;
      wake();
    } else {
      if (keep) sendShutdown(connection->socket.fd());
      dropLocked(connection);
    }
  }
  --idleWorkers;
  --liveThreads;
  changed.notify_all();
}

// Sends what the reactor left unsent, then handles the PDU in the buffer and
// any whole PDUs behind it. False when the connection ends.
bool Server::State::serve(ServerConnection& c) {
  if (!c.unsent.empty()) {
    const bool sent = writeAll(c.socket.fd(), c.unsent, Clock::now() + limits.receiveTimeout) == IoResult::Ok;
    std::vector<uint8_t>().swap(c.unsent);
    c.lastActivity = Clock::now();
    if (!sent) {
      trace(c.peer, {}, "peer gone while sending");
      return false;
    }
    ReadStep step = readAvailable(c);
    if (step == ReadStep::NeedMore) return true;
    if (step == ReadStep::Malformed) trace(c.peer, {}, "fragment malformed or larger than agreed");
    if (step != ReadStep::Complete) return false;
  }
  SocketSink sink(c.socket.fd(), limits.receiveTimeout);
  for (;;) {
    if (!setBusy(c, true)) return true;  // stopping: the shutdown PDU follows
    std::span<const uint8_t> pdu(c.buffer.data(), c.pduLength);
    Verdict verdict = c.association->receive(pdu, sink);
    bool running = setBusy(c, false);
    finishPdu(c);
    if (verdict == Verdict::Close) {
      trace(c.peer, c.association->closeReason().pdu, c.association->closeReason().reason);
      return false;
    }
    if (!running) return true;
    ReadStep step = readAvailable(c);
    if (step == ReadStep::NeedMore) return true;
    if (step == ReadStep::Malformed) trace(c.peer, {}, "fragment malformed or larger than agreed");
    if (step != ReadStep::Complete) return false;
  }
}

void Server::State::closeListeners() {
  std::vector<Listener> closing;
  {
    std::lock_guard lock(mutex);
    closing.swap(listeners);
  }
  for (Listener& l : closing) {
    l.socket.close();
    if (l.protseq == Protseq::Local) removeLocalSocket(l.endpoint, l.inode);
  }
}

Server::Server(Limits limits) : state_(std::make_shared<State>(limits)) {
  state_->gate = std::make_unique<ConnectionGate>(*state_);
}

void Server::setTrace(Trace trace) { state_->tracer = std::move(trace); }

Server::~Server() {
  stopListening();
  std::unique_lock lock(state_->mutex);
  state_->changed.wait(lock, [&] { return state_->liveThreads <= state_->threadsOfCaller(); });
  lock.unlock();
  state_->closeListeners();
}

uint32_t Server::registerInterface(Interface iface) {
  std::lock_guard lock(state_->mutex);
  for (const auto& known : state_->interfaces) {
    if (known->id.uuid == iface.id.uuid && known->id.major == iface.id.major) {
      return status::kTypeAlreadyRegistered;
    }
  }
  state_->interfaces.push_back(std::make_shared<const Interface>(std::move(iface)));
  return status::kOk;
}

ListenerResult Server::openEndpoint(std::string_view protseqText, std::string_view endpoint,
                                    unsigned maxCalls) {
  ListenerResult result;
  Protseq protseq = Protseq::Tcp;
  result.status = protseqFromName(protseqText, protseq);
  if (result.status != status::kOk) {
    result.error = std::string(protseqText) + ": protocol sequence not supported";
    return result;
  }
  int backlog = std::max(kMinBacklog, static_cast<int>(std::min(maxCalls, 1024u)));
  Listener listener;
  listener.protseq = protseq;
  if (protseq == Protseq::Tcp) {
    uint16_t port = 0;
    if (!endpoint.empty() && !parsePort(endpoint, port)) {
      return {status::kInvalidEndpointFormat, "", "bad TCP port: " + std::string(endpoint)};
    }
    std::vector<Socket> sockets = listenTcp(port, backlog, result, tcpAddresses());
    if (sockets.empty()) return result;
    std::lock_guard lock(state_->mutex);
    for (size_t i = 0; i < sockets.size(); ++i) {
      state_->listeners.push_back({Protseq::Tcp, result.endpoint, std::move(sockets[i]), 0, i > 0});
    }
    if (state_->listening) state_->wake();
    return result;
  }
  listener.socket = listenLocal(std::string(endpoint), backlog, result);
  if (!listener.socket.valid()) return result;
  listener.endpoint = result.endpoint;
  listener.inode = localSocketInode(listener.endpoint);
  std::lock_guard lock(state_->mutex);
  state_->listeners.push_back(std::move(listener));
  if (state_->listening) state_->wake();
  return result;
}

void Server::setTcpAddresses(std::vector<ListenAddress> addresses) {
  std::lock_guard lock(state_->mutex);
  state_->tcpAddresses = std::move(addresses);
}

std::vector<ListenAddress> Server::tcpAddresses() const {
  std::lock_guard lock(state_->mutex);
  return state_->tcpAddresses;
}

std::vector<Binding> Server::bindings() const {
  std::lock_guard lock(state_->mutex);
  std::vector<Binding> result;
  for (const Listener& l : state_->listeners) {
    if (l.sameEndpoint) continue;
    result.push_back({l.protseq, l.protseq == Protseq::Tcp ? localHostName() : "", l.endpoint});
  }
  return result;
}

uint32_t Server::listen(unsigned maxConcurrentCalls) {
  std::lock_guard lock(state_->mutex);
  if (state_->listening) return status::kAlreadyListening;
  if (state_->listeners.empty()) return status::kNoProtseqsRegistered;
  if (!state_->wakeEvent.valid()) {
    state_->wakeEvent = Socket(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!state_->wakeEvent.valid()) return status::kCantCreateEndpoint;
  }
  if (!state_->poller.valid()) {
    state_->poller = Socket(::epoll_create1(EPOLL_CLOEXEC));
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = kWakeTag;
    if (!state_->poller.valid() || ::epoll_ctl(state_->poller.fd(), EPOLL_CTL_ADD, state_->wakeEvent.fd(), &event) != 0)
      return status::kCantCreateEndpoint;
  }
  const Limits& limits = state_->limits;
  state_->maxCalls = std::max(1u, std::min({maxConcurrentCalls, limits.maxConcurrentCalls,
                                            limits.maxConnections + limits.maxLocalConnections}));
  state_->listening = true;
  state_->stopping = false;
  state_->reactor = std::thread(&State::reactorLoop, state_.get());
  return status::kOk;
}

void Server::waitForStop() {
  std::unique_lock lock(state_->mutex);
  state_->changed.wait(lock, [&] { return !state_->listening; });
}

uint32_t Server::stopListening() {
  State& s = *state_;
  std::unique_lock lock(s.mutex);
  if (!s.listening) return status::kNotListening;
  if (s.stopping) {  // another thread is stopping: wait for it, unless it waits for us
    if (s.threadsOfCaller() == 1) return status::kOk;
    s.changed.wait(lock, [&] { return !s.listening; });
    return status::kOk;
  }
  s.stopping = true;
  s.wake();
  s.work.notify_all();
  lock.unlock();
  if (s.reactor.joinable()) s.reactor.join();
  lock.lock();
  // Connections waiting between PDUs end now; a worker's connection ends
  // after its reply, with the shutdown PDU.
  for (auto it = s.connections.begin(); it != s.connections.end();) {
    auto current = it++;
    if (!(*current)->inReactor) continue;
    sendShutdown((*current)->socket.fd());
    s.dropLocked(*current);
  }
  s.changed.wait(lock, [&] {
    return s.liveThreads <= s.threadsOfCaller() && (s.threadsOfCaller() == 1 || s.connections.empty());
  });
  lock.unlock();
  s.closeListeners();
  lock.lock();
  s.listening = false;
  s.changed.notify_all();
  return status::kOk;
}

bool Server::isListening() const {
  std::lock_guard lock(state_->mutex);
  return state_->listening;
}

size_t Server::connectionCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->connections.size();
}

}  // namespace veltris::rpc
