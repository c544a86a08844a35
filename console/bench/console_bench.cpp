// Console benchmarks (offscreen): the UI-thread half of one poll cycle with a
// "STATS_PRO" reply of 2000 partners (the graphs alone, and with the sessions
// grid shown), the whole cycle through the request thread, and TrendGraph
// updates with painting, fast path and full redraw.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QImage>
#include <QPainter>
#include <QSettings>
#include <QTemporaryDir>
#include <cstring>

#include "console/core/desktop_layer.h"
#include "desktop/testing/scripted_access.h"
#include "console/widgets/trend_graph.h"
#include "console/tabs/console_tabs.h"
#include "console/windows/main_window.h"
#include "console/tabs/overview_tab.h"

using namespace veltris;
using namespace veltris::console;

namespace {

constexpr int kPartners = 2000;

// Runs what is queued now (posted events, repaints), then returns.
void runQueuedEvents() {
  QEventLoop loop;
  QTimer::singleShot(0, &loop, &QEventLoop::quit);
  loop.exec();
}

// Partner i at poll `sequence`: every counter and the time seen move from poll to poll.
PartnerStatRecord partner(int i, uint32_t sequence) {
  PartnerStatRecord r{};
  std::memcpy(r.tag, "STAT", 4);
  r.adapterNumber = 1;
  std::snprintf(r.station, sizeof r.station, "%012llX", 0x020000000000LL + i);
  std::snprintf(r.protoAddr, sizeof r.protoAddr, "IP 10.%d.%d.%d", i >> 16 & 255, i >> 8 & 255, i & 255);
  char seen[9];  // the field has no room for the NUL
  std::snprintf(seen, sizeof seen, "%02u:%02u:%02u", sequence / 3600 % 24, sequence / 60 % 60, sequence % 60);
  std::memcpy(r.lastSeen, seen, sizeof r.lastSeen);
  r.framesSent = static_cast<uint32_t>(i * 3) + sequence;
  r.bytesSent = static_cast<float>(i * 300 + sequence * 64);
  r.framesReceived = static_cast<uint32_t>(i * 2) + sequence * 2;
  r.bytesReceived = static_cast<float>(i * 200 + sequence * 128);
  return r;
}

Reply pollReply(uint32_t sequence) {
  Reply reply;
  reply.ok = true;
  std::memcpy(reply.header.tag, "TASK", 4);
  TotalsRecord totals{};
  std::memcpy(totals.tag, "TOT ", 4);
  totals.sequence = sequence;
  totals.framesSent = sequence;
  totals.framesReceived = sequence * 2;
  totals.bytesSent = static_cast<float>(sequence) * 300;
  Reply::Part tot;
  tot.size = sizeof totals;
  tot.count = 1;
  tot.bytes.assign(reinterpret_cast<uint8_t*>(&totals), reinterpret_cast<uint8_t*>(&totals) + sizeof totals);
  Reply::Part stats;
  stats.size = sizeof(PartnerStatRecord);
  for (int i = 0; i < kPartners; ++i) {
    PartnerStatRecord r = partner(i, sequence);
    stats.bytes.insert(stats.bytes.end(), reinterpret_cast<uint8_t*>(&r), reinterpret_cast<uint8_t*>(&r) + sizeof r);
  }
  stats.count = kPartners;
  reply.parts = {std::move(tot), std::move(stats)};
  return reply;
}

// A window that is not connected: its timers are stopped and polls are fed by hand.
// `withTabs`: the tabs after Overview too, the Sessions tab shown.
struct IdleWindow {
  explicit IdleWindow(bool withTabs = false) : window(std::make_unique<ScriptedAccess>(), QStringLiteral("BENCH")) {
    window.findChild<QTimer*>(QStringLiteral("timerInit"))->stop();
    if (withTabs) {
      installConsoleTabs(window, std::make_unique<SettingsStore>(std::make_unique<QSettings>(
                                     settings.filePath(QStringLiteral("VELTRIS.conf")), QSettings::IniFormat)));
      window.showTab(MainWindow::TabSessions);
    }
    window.resize(1100, 640);
    window.show();
    runQueuedEvents();
  }
  QTemporaryDir settings;
  MainWindow window;
};

void pollReplyOnUiThread(benchmark::State& state, bool withTabs) {
  IdleWindow w(withTabs);
  size_t records = 0;
  QObject::connect(&w.window, &MainWindow::statRecordsArrived,
                   [&](const std::vector<PartnerStatRecord>& r, bool) { records += r.size(); });
  std::vector<Reply> replies;
  for (uint32_t i = 1; i <= 64; ++i) replies.push_back(pollReply(i * 97));
  size_t n = 0;
  for (auto _ : state) {
    w.window.onPollReply(replies[n++ % replies.size()], false);
    runQueuedEvents();  // the graphs repaint
  }
  benchmark::DoNotOptimize(records);
  state.counters["partners"] = kPartners;
}
void BM_PollReplyOnUiThread(benchmark::State& state) { pollReplyOnUiThread(state, false); }
// The same poll with the sessions grid shown: 2000 rows changed, the visible ones painted.
void BM_PollReplyWithSessionsTab(benchmark::State& state) { pollReplyOnUiThread(state, true); }
BENCHMARK(BM_PollReplyOnUiThread)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PollReplyWithSessionsTab)->Unit(benchmark::kMillisecond);

// The whole cycle: request thread reading 2000 records from the access layer, then the UI thread.
void BM_PollCycleThroughRequestThread(benchmark::State& state) {
  auto owned = std::make_unique<ScriptedAccess>();
  ScriptedAccess* script = owned.get();
  AgentSession connection(std::move(owned), nullptr);
  for (auto _ : state) {
    state.PauseTiming();
    Reply r = pollReply(5);
    script->expectWrite("STATS_PRO  0");
    script->expectRecord(r.header);
    script->expectRead(r.parts[0].bytes);
    for (int i = 0; i < kPartners; ++i) {
      script->expectRead(std::vector<uint8_t>(r.parts[1].bytes.begin() + i * 124, r.parts[1].bytes.begin() + (i + 1) * 124));
    }
    script->expectReplyEnd();
    state.ResumeTiming();
    bool replied = false;
    size_t records = 0;
    QEventLoop loop;
    connection.send({QStringLiteral("STATS_PRO  0"),
                     {{{'T', 'O', 'T', ' '}, sizeof(TotalsRecord), ReadStep::One},
                      {{'S', 'T', 'A', 'T'}, sizeof(PartnerStatRecord), ReadStep::WhileTag}},
                     {}},
                    nullptr, [&](const Reply& reply) {
                      records = reply.count(1);
                      replied = true;
                      loop.quit();
                    });
    if (!replied) loop.exec();
    if (records != kPartners) {
      state.SkipWithError("the reply lacks records");
      break;
    }
  }
}
BENCHMARK(BM_PollCycleThroughRequestThread)->Unit(benchmark::kMillisecond);

// One second of eight graphs: eight updates, each painted into the window's image.
void graphSecond(benchmark::State& state, bool fast) {
  std::vector<std::unique_ptr<TrendGraph>> graphs;
  for (int i = 0; i < 8; ++i) {
    graphs.push_back(std::make_unique<TrendGraph>());
    graphs.back()->resize(270, 250);
    graphs.back()->setFastPathEnabled(fast);
    graphs.back()->show();
  }
  runQueuedEvents();
  QImage screen(270, 250, QImage::Format_RGB32);
  uint32_t n = 0;
  for (auto _ : state) {
    for (auto& g : graphs) {
      g->addValue(static_cast<float>(3000 + (n * 7919) % 5000));  // same decade: the scale holds
      QPainter p(&screen);
      g->render(&p);
    }
    ++n;
  }
}
void BM_EightGraphsFastPath(benchmark::State& state) { graphSecond(state, true); }
void BM_EightGraphsFullRedraw(benchmark::State& state) { graphSecond(state, false); }
BENCHMARK(BM_EightGraphsFastPath)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EightGraphsFullRedraw)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
