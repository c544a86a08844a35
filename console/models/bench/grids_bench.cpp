// Speed of the grid models with a table view attached (offscreen):
//   sessions grid of 2000 partners: one poll applied, one sort;
//   details grid at its 999-row limit: one refresh of 300 new packets.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTableView>

#include <vector>

#include "console/models/packets_model.h"
#include "console/models/sessions_model.h"
#include "tests/support/console_records.h"

using namespace veltris;
using namespace veltris::console;
using namespace veltris::console::testing;

namespace {

constexpr int kPartners = 2000;

std::vector<PartnerStatRecord> partners(uint32_t round) {
  std::vector<PartnerStatRecord> out;
  out.reserve(kPartners);
  for (int i = 0; i < kPartners; ++i) {
    const std::string station = "0200000" + std::to_string(10000 + i);
    const float grow = static_cast<float>(round * (i % 7));
    out.push_back(statRecord(1 + i % 4, station, "IP 10." + std::to_string(i / 250) + "." + std::to_string(i % 250) + ".1",
                             "host" + std::to_string(i), "10:00:00",
                             {1000 + grow, 10 + round, 1, 0, 2000 + grow, 20 + round}));
  }
  return out;
}

void BM_SessionsPoll2000(benchmark::State& state) {
  SessionsModel model;
  QTableView view;
  view.setModel(&model);
  view.resize(1000, 600);
  model.setMode(CounterMode::Delta);
  const auto first = partners(0);
  model.beginPoll(false);
  for (const auto& r : first) model.applyRecord(r);
  model.endPoll();
  const std::vector<std::vector<PartnerStatRecord>> polls = {partners(1), partners(2)};
  size_t n = 0;
  for (auto _ : state) {
    const auto& records = polls[n++ % 2];
    model.beginPoll(false);
    for (const auto& r : records) model.applyRecord(r);
    model.endPoll();
  }
  state.SetItemsProcessed(state.iterations() * kPartners);
}
BENCHMARK(BM_SessionsPoll2000)->Unit(benchmark::kMillisecond);

void BM_SessionsSort2000(benchmark::State& state) {
  SessionsModel model;
  QTableView view;
  view.setModel(&model);
  view.resize(1000, 600);
  view.selectRow(100);
  model.beginPoll(false);
  for (const auto& r : partners(3)) model.applyRecord(r);
  model.endPoll();
  const int columns[] = {1, 4, 5, 6, 11};
  size_t n = 0;
  for (auto _ : state) model.sort(columns[n++ % 5]);
}
BENCHMARK(BM_SessionsSort2000)->Unit(benchmark::kMillisecond);

void BM_DetailsRefresh300At999(benchmark::State& state) {
  PacketsModel model;
  QTableView view;
  view.setModel(&model);
  view.resize(1000, 600);
  uint32_t sequence = 1;
  auto batch = [&sequence](int count) {
    std::vector<DetailRecord> out;
    for (int i = 0; i < count; ++i) out.push_back(detailRecord(sequence++, i % 3 == 0 ? "  ->" : "<-  "));
    return out;
  };
  model.append(batch(PacketsModel::kMaxRows));
  for (auto _ : state) {
    state.PauseTiming();
    const auto records = batch(300);
    state.ResumeTiming();
    view.setUpdatesEnabled(false);
    model.append(records);
    view.setUpdatesEnabled(true);
    view.scrollToBottom();
  }
}
BENCHMARK(BM_DetailsRefresh300At999)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
