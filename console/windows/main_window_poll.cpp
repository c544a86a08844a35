// MainWindow: the poll cycle, its status pictures, "&Clear" and "&Reset CLEAR".
#include <QIcon>
#include <QLabel>
#include <QTabWidget>
#include <QTimer>
#include <cstring>

#include "console/core/desktop_layer.h"
#include "console/dialogs/small_dialogs.h"
#include "console/tabs/overview_tab.h"
#include "console/widgets/trend_graph.h"
#include "console/windows/main_window.h"
#include "help/help_contexts.h"
#include "help/help_window.h"

namespace veltris::console {

void MainWindow::pollOnce() {
  if (!connection_->isOpen() || connection_->busy()) return;  // a slow agent: skip this tick
  const bool historyDay = historyMode();
  QString request = pollRequest_ + signedText(static_cast<int32_t>(current_.sequence.get()));
  RequestJob job{request, {}, {}, connection_->view(), {}};
  if (!historyDay) job.steps.push_back({{'T', 'O', 'T', ' '}, sizeof(TotalsRecord), ReadStep::One});
  job.steps.push_back({{'S', 'T', 'A', 'T'}, sizeof(PartnerStatRecord), ReadStep::WhileTag});
  connection_->send(std::move(job), this,
                    [this, historyDay](const Reply& reply) { onPollReply(reply, historyDay); });
}

void MainWindow::onPollReply(const Reply& reply, bool historyDay) {
  if (!reply.ok) return;  // ConnectionLost has stopped polling
  size_t statStep = 0;
  if (!historyDay) {
    statStep = 1;
    previous_ = current_;
    current_ = TotalsRecord{};
    reply.first(0, current_);
    if (current_.resetCount.get() != previous_.resetCount.get()) emit partnerTableReset();
    if (!loopbackShown_ && current_.framesSent.get() == 0 && current_.framesReceived.get() >= 5) {
      loopbackShown_ = true;
      (new LoopbackWarningDialog(this))->show();
    }
    if (std::memcmp(current_.tag, kTotalsTag, 4) != 0) {
      timerPoll_->stop();
      showMessage(this, tr("Invalid TOTAL record"), tr("ERROR"));
      timerInit_->start();
      return;
    }
    const int32_t secondsQuiet = current_.secondsSinceReceived.get();
    if (secondsQuiet >= 63 && !receiveHidden_) {
      receiveHidden_ = true;
      overview_->setReceiveWarning(true);
    } else if (secondsQuiet <= 62 && receiveHidden_) {
      receiveHidden_ = false;
      overview_->setReceiveWarning(false);
    }
    auto diff = [](const LeU32& now, const LeU32& before) {
      return static_cast<float>(static_cast<int32_t>(now.get() - before.get()));
    };
    const TotalsRecord& c = current_;
    const TotalsRecord& p = previous_;
    const float differences[8] = {c.bytesSent.get() - p.bytesSent.get(),     diff(c.framesSent, p.framesSent),
                                  diff(c.broadcastsSent, p.broadcastsSent),   diff(c.errorsSent, p.errorsSent),
                                  c.bytesReceived.get() - p.bytesReceived.get(),
                                  diff(c.framesReceived, p.framesReceived),
                                  diff(c.broadcastsReceived, p.broadcastsReceived),
                                  diff(c.errorsReceived, p.errorsReceived)};
    // 0 intervals: the first reading of a time base only sets the baseline.
    const int intervals = overview_->pacer().readingTaken();
    if (intervals > 0) {
      for (int g = 0; g < 8; ++g) overview_->graph(g)->spreadValue(differences[g], intervals);
    }
  }
  emit statRecordsArrived(reply.records<PartnerStatRecord>(statStep), historyDay);
}

// Status bar.

void MainWindow::setStatus(int trafficState, const QString& time) {
  statusPicture_ = statusPicturePath(statusPicture(trafficState));
  panels_[1]->setPixmap(QIcon(statusPicture_).pixmap(16, 16));
  panels_[1]->setToolTip(statusTooltip(trafficState));
  panels_[2]->setText(time.left(8));
}

void MainWindow::clearStatus() {
  statusPicture_.clear();
  panels_[1]->clear();
  panels_[1]->setToolTip(QString());
  panels_[2]->clear();
}

// "&Clear" and "&Reset CLEAR".

void MainWindow::clearCounters() {
  panels_[0]->clear();
  RequestJob job{QStringLiteral("TOTAL"), {{{'T', 'O', 'T', ' '}, sizeof(TotalsRecord), ReadStep::One}}, {}};
  connection_->send(std::move(job), this, [this](const Reply& reply) {
    TotalsRecord totals{};
    if (!reply.ok || !reply.first(0, totals)) return;
    emit countersCleared(totals.sequence.get());
    for (TrendGraph* g : overview_->graphs()) g->clear();
  });
}

void MainWindow::resetClear() { emit clearReset(); }

void MainWindow::tabChanged(int index) {
  panels_[0]->clear();
  help::setHelpContext(this, help::kTabBase + index);
  emit tabShown(index);
}

}  // namespace veltris::console
