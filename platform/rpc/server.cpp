#include "platform/rpc/server.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <list>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/rpc/association.h"
#include "platform/rpc/status.h"

namespace veltris::rpc {
namespace {

constexpr int kMinBacklog = 16;

struct Listener {
  Protseq protseq = Protseq::Tcp;
  std::string endpoint;
  Socket socket;
  uint64_t inode = 0;  // local endpoints: the socket file we created
};

struct Connection {
  int fd = -1;
  std::string peer;
  bool busy = false;  // handling a PDU: a stop lets it finish and send its reply
};

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

}  // namespace

struct Server::State : std::enable_shared_from_this<State> {
  explicit State(const Limits& l) : limits(l) {}

  std::shared_ptr<const Interface> find(const SyntaxId& id);
  void acceptLoop();
  void admit(Socket socket, Protseq protseq, const std::string& endpoint);
  void serve(std::shared_ptr<Connection> connection, Socket socket, CallContext context);
  bool setBusy(Connection& connection, bool busy);  // false once stopping
  void wake();
  void closeListeners();
  unsigned threadsOfCaller() const;

  void trace(const std::string& peer, std::string_view pdu, std::string_view reason) const {
    if (tracer) tracer(peer, pdu, reason);
  }

  const Limits limits;
  Server::Trace tracer;
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::shared_ptr<const Interface>> interfaces;
  std::vector<Listener> listeners;
  std::list<std::shared_ptr<Connection>> connections;
  std::map<std::string, unsigned> connectionsPerPeer;
  unsigned liveThreads = 0;
  unsigned activeCalls = 0;
  unsigned maxCalls = 1;
  bool listening = false;
  bool stopping = false;
  Socket wakeEvent;
  std::thread acceptor;
};

namespace {

// Asks the client to close its end; the connection ends without waiting for it.
void sendShutdown(int fd) {
  std::vector<uint8_t> pdu;
  encodeHeaderOnly(pdu, PduType::Shutdown, 0);
  (void)!::send(fd, pdu.data(), pdu.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

// Set on connection threads, so a stop requested by a handler skips its own call.
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

bool Server::State::setBusy(Connection& connection, bool busy) {
  std::lock_guard lock(mutex);
  connection.busy = busy;
  return !stopping;
}

void Server::State::wake() {
  uint64_t one = 1;
  if (wakeEvent.valid()) (void)!::write(wakeEvent.fd(), &one, sizeof one);
}

unsigned Server::State::threadsOfCaller() const { return servingState == this ? 1 : 0; }

void Server::State::acceptLoop() {
  for (;;) {
    std::vector<pollfd> fds{{wakeEvent.fd(), POLLIN, 0}};
    std::vector<std::pair<Protseq, std::string>> origins;
    {
      std::lock_guard lock(mutex);
      if (stopping) return;
      for (const Listener& l : listeners) {
        fds.push_back({l.socket.fd(), POLLIN, 0});
        origins.emplace_back(l.protseq, l.endpoint);
      }
    }
    if (::poll(fds.data(), fds.size(), -1) < 0) continue;  // EINTR
    if (fds[0].revents & POLLIN) {
      uint64_t count = 0;
      (void)!::read(wakeEvent.fd(), &count, sizeof count);
      continue;  // stop, or a new endpoint to watch
    }
    for (size_t i = 1; i < fds.size(); ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      int fd = ::accept4(fds[i].fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd >= 0) {
        admit(Socket(fd), origins[i - 1].first, origins[i - 1].second);
      } else if (errno == EMFILE || errno == ENFILE) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // out of descriptors
      }
    }
  }
}

void Server::State::admit(Socket socket, Protseq protseq, const std::string& endpoint) {
  if (protseq == Protseq::Tcp) setNoDelay(socket.fd());
  std::string peer = peerKey(socket.fd(), protseq);
  auto connection = std::make_shared<Connection>();
  connection->fd = socket.fd();
  connection->peer = peer;
  {
    std::lock_guard lock(mutex);
    unsigned& fromPeer = connectionsPerPeer[peer];
    if (stopping || connections.size() >= limits.maxConnections ||
        fromPeer >= limits.maxConnectionsPerPeer) {
      if (fromPeer == 0) connectionsPerPeer.erase(peer);
      if (!stopping) trace(peer, {}, "too many connections");
      return;  // the socket closes
    }
    ++fromPeer;
    connections.push_back(connection);
    ++liveThreads;
  }
  CallContext context{protseq, endpoint, localAddress(socket.fd()), peer};
  try {
    // The thread holds the state: a handler that stops the server outlives it.
    std::thread(&State::serve, shared_from_this(), connection, std::move(socket),
                std::move(context))
        .detach();
  } catch (const std::system_error&) {
    std::lock_guard lock(mutex);
    connections.remove(connection);
    if (--connectionsPerPeer[peer] == 0) connectionsPerPeer.erase(peer);
    --liveThreads;
    changed.notify_all();
  }
}

void Server::State::serve(std::shared_ptr<Connection> connection, Socket socket,
                          CallContext context) {
  servingState = this;
  {
    ConnectionGate gate(*this);
    Association association([this](const SyntaxId& id) { return find(id); }, limits,
                            std::move(context), &gate);
    SocketSink sink(socket.fd(), limits.receiveTimeout);
    PduReader reader(socket.fd());
    std::vector<uint8_t> pdu;
    bool stopped = false;
    for (;;) {
      IoResult r = reader.next(pdu, association.maxIncomingFragment(),
                               Clock::now() + limits.idleTimeout, limits.receiveTimeout);
      if (r != IoResult::Ok) {
        if (r == IoResult::TimedOut) trace(connection->peer, {}, "idle or receive time-out");
        if (r == IoResult::Malformed) trace(connection->peer, {}, "fragment malformed or larger than agreed");
        if (r == IoResult::Failed) trace(connection->peer, {}, "receive failed");
        break;
      }
      if (!setBusy(*connection, true)) {
        stopped = true;
        break;
      }
      Verdict verdict = association.receive(pdu, sink);
      bool running = setBusy(*connection, false);
      if (verdict == Verdict::Close) {
        trace(connection->peer, association.closeReason().pdu, association.closeReason().reason);
        break;
      }
      if (!running) {
        stopped = true;
        break;
      }
    }
    if (stopped) sendShutdown(socket.fd());
  }
  {
    std::lock_guard lock(mutex);
    connections.remove(connection);
    if (--connectionsPerPeer[connection->peer] == 0) connectionsPerPeer.erase(connection->peer);
  }
  socket.close();
  std::lock_guard lock(mutex);
  --liveThreads;
  changed.notify_all();
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

Server::Server(Limits limits) : state_(std::make_shared<State>(limits)) {}

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
    listener.socket = listenTcp(port, backlog, result);
  } else {
    listener.socket = listenLocal(std::string(endpoint), backlog, result);
  }
  if (!listener.socket.valid()) return result;
  listener.endpoint = result.endpoint;
  if (protseq == Protseq::Local) listener.inode = localSocketInode(listener.endpoint);
  std::lock_guard lock(state_->mutex);
  state_->listeners.push_back(std::move(listener));
  if (state_->listening) state_->wake();
  return result;
}

std::vector<Binding> Server::bindings() const {
  std::lock_guard lock(state_->mutex);
  std::vector<Binding> result;
  for (const Listener& l : state_->listeners) {
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
  const Limits& limits = state_->limits;
  state_->maxCalls = std::max(1u, std::min({maxConcurrentCalls, limits.maxConcurrentCalls,
                                            limits.maxConnections}));
  state_->listening = true;
  state_->stopping = false;
  state_->acceptor = std::thread(&State::acceptLoop, state_.get());
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
  lock.unlock();
  if (s.acceptor.joinable()) s.acceptor.join();
  lock.lock();
  for (const auto& connection : s.connections) {
    if (connection->busy) continue;  // it sends its reply, then the shutdown PDU
    sendShutdown(connection->fd);
    ::shutdown(connection->fd, SHUT_RDWR);
  }
  s.changed.wait(lock, [&] { return s.liveThreads <= s.threadsOfCaller(); });
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
