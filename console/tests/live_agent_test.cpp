// The console against the real agent TapsorSv: the agent replays frames that
// the test writes into a FIFO as it goes, so each poll sees known traffic.
// Connect, poll, a wrong password, another version, and losing the agent.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <cstring>
#include <thread>

#include "console/core/desktop_layer.h"
#include "desktop/library_access.h"
#include "desktop/agent_session.h"
#include "console/widgets/trend_graph.h"
#include "console/windows/connect_dialog.h"
#include "console/tests/window_parts.h"
#include "console/windows/main_window.h"
#include "desktop/testing/test_support.h"

using namespace veltris;
using namespace veltris::console;
using namespace veltris::console::testing;
using namespace veltris::desktop::test;

namespace {

using Frame = std::vector<uint8_t>;

Frame ethernet(uint8_t dst, uint8_t src, uint16_t type) {
  Frame f = {2, 0, 0, 0, 0, dst, 2, 0, 0, 0, 0, src, uint8_t(type >> 8), uint8_t(type)};
  if (dst == 0xFF) std::fill(f.begin(), f.begin() + 6, 0xFF);
  return f;
}

// TCP segment of `total` bytes on the wire between 10.0.0.src and 10.0.0.dst.
Frame tcp(uint8_t src, uint8_t dst, uint32_t seq, uint8_t flags, size_t total) {
  Frame f = ethernet(dst, src, 0x0800);
  uint16_t ipLength = static_cast<uint16_t>(total - 14);
  Frame ip = {0x45, 0, uint8_t(ipLength >> 8), uint8_t(ipLength), 0, 0, 0, 0, 64, 6, 0, 0, 10, 0, 0, src, 10, 0, 0, dst};
  Frame t = {0x04, 0x01, 0x00, 0x8B, uint8_t(seq >> 24), uint8_t(seq >> 16), uint8_t(seq >> 8), uint8_t(seq),
             0,    0,    0,    0,    0x50,              flags,             0x20,             0,
             0,    0,    0,    0};
  f.insert(f.end(), ip.begin(), ip.end());
  f.insert(f.end(), t.begin(), t.end());
  f.resize(total, 0xAB);
  return f;
}

Frame arpRequest(uint8_t sender, uint8_t target) {
  Frame f = ethernet(0xFF, sender, 0x0806);
  Frame a = {0, 1, 8, 0, 6, 4, 0, 1, 2, 0, 0, 0, 0, sender, 10, 0, 0, sender, 0, 0, 0, 0, 0, 0, 10, 0, 0, target};
  f.insert(f.end(), a.begin(), a.end());
  f.resize(60, 0);
  return f;
}

void put32(std::string& out, uint32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); }

std::string pcapFileHeader() {
  std::string h;
  put32(h, 0xA1B2C3D4);
  h.append("\x02\x00\x04\x00", 4);
  put32(h, 0);
  put32(h, 0);
  put32(h, 65535);
  put32(h, 1);  // Ethernet
  return h;
}

std::string pcapRecord(const Frame& f) {
  std::string r;
  put32(r, static_cast<uint32_t>(::time(nullptr)));
  put32(r, 0);
  put32(r, static_cast<uint32_t>(f.size()));
  put32(r, static_cast<uint32_t>(f.size()));
  r.append(reinterpret_cast<const char*>(f.data()), f.size());
  return r;
}

// TapsorSv -debug on a FIFO that the test feeds.
class Agent {
 public:
  explicit Agent(const QString& root) : root_(root), fifo_(root + QStringLiteral("/live.pcap")) {
    ::unlink(fifo_.toLocal8Bit().constData());
    ::mkfifo(fifo_.toLocal8Bit().constData(), 0600);
    pid_ = ::fork();
    if (pid_ == 0) {
      int devnull = ::open("/dev/null", O_WRONLY);
      ::dup2(devnull, STDOUT_FILENO);
      ::setenv("VELTRIS_EPM_PORT", "0", 1);
      std::string param = fifo_.toStdString() + "@02:00:00:00:00:01";
      ::execl(TAPSORSV_PATH, "TapsorSv", "-debug", param.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // The agent opens the file twice: the header check, then the replay.
    writer_ = std::thread([this] {
      int fd = ::open(fifo_.toLocal8Bit().constData(), O_WRONLY);
      std::string header = pcapFileHeader();
      (void)!::write(fd, header.data(), header.size());
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      (void)!::write(fd, header.data(), header.size());
      fd_ = fd;
    });
  }
  ~Agent() { stop(); }
  bool ready() {
    // The request service starts two seconds after the agent.
    LibraryAccess probe;
    for (int i = 0; i < 150; ++i) {
      if (probe.open(nullptr) == 0 && probe.write("OPEN SECRET") == 0) {
        probe.close();
        writer_.join();
        return fd_ >= 0;
      }
      probe.close();
      QTest::qWait(100);
    }
    return false;
  }
  void send(const std::vector<Frame>& frames) {
    for (const Frame& f : frames) {
      std::string r = pcapRecord(f);
      (void)!::write(fd_, r.data(), r.size());
    }
  }
  void stop() {
    if (writer_.joinable()) writer_.join();
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  QString root_;
  QString fifo_;
  pid_t pid_ = -1;
  int fd_ = -1;
  std::thread writer_;
};

// The real library, with the version of every reply header replaced.
class OtherVersionAccess : public LibraryAccess {
 public:
  int32_t write(const char* request) override {
    headerNext_ = true;
    return LibraryAccess::write(request);
  }
  int32_t read(void* record, int32_t size) override {
    int32_t r = LibraryAccess::read(record, size);
    if (headerNext_ && size == static_cast<int32_t>(sizeof(ReplyHeader))) std::memcpy(static_cast<char*>(record) + 4, "20000101", 8);
    headerNext_ = false;
    return r;
  }

 private:
  bool headerNext_ = false;
};

bool connectWith(std::unique_ptr<AgentAccess> access, const QString& password) {
  AgentSession connection(std::move(access), nullptr);
  showFailures(connection);
  connection.setPassword(password);
  int result = -1;
  connection.connectTo(QString(), nullptr, [&](bool ok) { result = ok; });
  if (!QTest::qWaitFor([&] { return result >= 0; }, 10000)) result = 0;
  connection.close();
  connection.drain();
  return result == 1;
}

}  // namespace

class LiveAgentTest : public QObject {
  Q_OBJECT
 private slots:
  void pollsLoseTheAgentAndReconnect();
  void wrongPasswordAndOtherVersion();
};

void LiveAgentTest::pollsLoseTheAgentAndReconnect() {
  TestRoot root;
  MessageLog messages;
  auto agent = std::make_unique<Agent>(root.path());
  QVERIFY(agent->ready());

  MainWindow window(std::make_unique<LibraryAccess>(), QString());
  QVERIFY(QTest::qWaitFor([&] { return timerPoll(window).isActive(); }, 10000));
  timerPoll(window).stop();
  QVERIFY2(messages.texts.isEmpty(), qPrintable(messages.texts.join('|')));
  QVERIFY(window.isLocal());
  const TotalsRecord start = window.currentTotals();

  // This PC (.1) sends four data segments and a reset to .5, which answers
  // three times; .9 and this PC broadcast ARP requests.
  agent->send({tcp(1, 5, 1000, 0x18, 100), tcp(5, 1, 7000, 0x18, 120), tcp(1, 5, 1100, 0x18, 200),
               tcp(1, 5, 1300, 0x18, 1514), tcp(5, 1, 7100, 0x18, 80), tcp(1, 5, 2800, 0x18, 300),
               tcp(5, 1, 7200, 0x18, 90), tcp(1, 5, 3100, 0x14, 60), arpRequest(9, 1), arpRequest(9, 5),
               arpRequest(1, 9)});
  for (int i = 0; i < 50 && window.currentTotals().sequence.get() < start.sequence.get() + 11; ++i) {
    window.pollOnce();
    QVERIFY(QTest::qWaitFor([&] { return !window.connection().busy(); }, 5000));
    QTest::qWait(50);
  }
  const TotalsRecord& now = window.currentTotals();
  QCOMPARE(now.sequence.get(), start.sequence.get() + 11);
  // Every poll added the difference of the agent's totals: the graphs hold the traffic.
  OverviewTab* o = overview(window);
  QCOMPARE(o->graph(OverviewTab::PktsSent)->total(), 4LL);
  QCOMPARE(o->graph(OverviewTab::BytesSent)->total(), 100LL + 200 + 1514 + 300);
  QCOMPARE(o->graph(OverviewTab::PktsRecv)->total(), 3LL);
  QCOMPARE(o->graph(OverviewTab::BytesRecv)->total(), 120LL + 80 + 90);
  QCOMPARE(o->graph(OverviewTab::PktsSentRE)->total(), 1LL);
  QCOMPARE(o->graph(OverviewTab::PktsRecvRE)->total(), 0LL);
  QCOMPARE(o->graph(OverviewTab::PktsSentBC)->total(), 1LL);
  QCOMPARE(o->graph(OverviewTab::PktsRecvBC)->total(), 2LL);
  QCOMPARE(o->graph(OverviewTab::PktsSent)->total(),
           static_cast<long long>(now.framesSent.get() - start.framesSent.get()));
  QVERIFY(!statusPanel(window, 3)->text().isEmpty());
  QVERIFY(!window.statusPictureName().isEmpty());

  // The agent goes away: the request's message, a failed reconnect, the dialog.
  agent->stop();
  agent.reset();
  bool dialogSeen = false;
  std::unique_ptr<Agent> second;
  QTimer poke;
  poke.setInterval(50);
  QObject::connect(&poke, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<ConnectDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || dialogSeen) return;
    dialogSeen = true;
    poke.stop();
    QCOMPARE(window.windowTitle(), QStringLiteral("VELTRIS - Local - Connection failed"));
    second = std::make_unique<Agent>(root.path());
    QVERIFY(second->ready());
    part<QLineEdit>(*dialog, "txtServer")->setText(QStringLiteral("."));  // this PC
    part<QPushButton>(*dialog, "btnRemote")->click();
  });
  poke.start();
  window.pollOnce();
  QVERIFY(QTest::qWaitFor([&] { return dialogSeen && timerPoll(window).isActive(); }, 30000));
  timerPoll(window).stop();
  QVERIFY2(messages.texts.size() >= 2, qPrintable(messages.texts.join('|')));
  QVERIFY2(messages.texts[0].startsWith(QStringLiteral("Request to VELTRIS Monitoring Agent failed with retcode ")),
           qPrintable(messages.texts[0]));
  QVERIFY2(messages.texts[1].startsWith(QStringLiteral("Connection failed with retcode ")), qPrintable(messages.texts[1]));
  QVERIFY(window.windowTitle().startsWith(QStringLiteral("VELTRIS - ")));
  QVERIFY(!window.windowTitle().contains(QStringLiteral("failed")));
  window.close();
}

void LiveAgentTest::wrongPasswordAndOtherVersion() {
  TestRoot root;
  MessageLog messages;
  Agent agent(root.path());
  QVERIFY(agent.ready());
  QVERIFY(connectWith(std::make_unique<LibraryAccess>(), QStringLiteral("SECRET")));
  QVERIFY(messages.texts.isEmpty());
  QVERIFY(!connectWith(std::make_unique<LibraryAccess>(), QStringLiteral("WRONG")));
  QCOMPARE(messages.texts, QStringList{QStringLiteral("Security check FAILED")});
  QVERIFY(!connectWith(std::make_unique<OtherVersionAccess>(), QStringLiteral("SECRET")));
  QCOMPARE(messages.last(), QStringLiteral("VELTRIS CLIENT version 19990415 does not match VELTRIS Monitoring "
                                           "Agent version 20000101"));
}

QTEST_MAIN(LiveAgentTest)
#include "live_agent_test.moc"
