#include "console/tabs/overview_tab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "console/widgets/trend_graph.h"

namespace veltris::console {
namespace {

#define TR_OVERVIEW(text) QT_TRANSLATE_NOOP("veltris::console::OverviewTab", text)
constexpr const char* kTitles[8] = {TR_OVERVIEW("Bytes Sent"), TR_OVERVIEW("Packets Sent"), TR_OVERVIEW("Broadcasts Sent"),
                                    TR_OVERVIEW("Errors Sent"), TR_OVERVIEW("Bytes Recv"),   TR_OVERVIEW("Packets Recv"),
                                    TR_OVERVIEW("Broadcasts Recv"), TR_OVERVIEW("Errors Recv")};
#undef TR_OVERVIEW
constexpr const char* kNames[8] = {"graphBytesSent", "graphPktsSent", "graphPktsSentBC", "graphPktsSentRE",
                                   "graphBytesRecv", "graphPktsRecv", "graphPktsRecvBC", "graphPktsRecvRE"};

}  // namespace

OverviewTab::OverviewTab(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("tabOverview"));
  fraOptions = new QGroupBox(this);
  optHistoryGraph24 = new QRadioButton(tr("24 Hours"), fraOptions);
  optHistoryGraph24->setChecked(true);
  optHistoryGraph12 = new QRadioButton(tr("12 Hours, 6am to 6pm"), fraOptions);
  chkShowValues = new QCheckBox(tr("Show Values"), fraOptions);
  chkShowValues->setToolTip(tr("Show Graph Values"));
  chkShowValues->setChecked(true);
  btnRealTime = new QPushButton(tr("REAL-TIME"), fraOptions);
  btnRealTime->setToolTip(tr("History via Calendar"));
  btnHistory = new QPushButton(tr("Histor&y"), fraOptions);
  btnHistory->setToolTip(tr("History List"));
  cmbHistory = new QComboBox(fraOptions);
  cmbHistory->setObjectName(QStringLiteral("cmbHistory"));
  cmbHistory->setToolTip(tr("When - Realtime Timer Interval  OR  History Day"));
  cmbHistory->setMinimumContentsLength(18);
  btnClear = new QPushButton(tr("&Clear"), fraOptions);
  btnClear->setToolTip(tr("Reset Counters"));

  auto* options = new QHBoxLayout(fraOptions);
  options->setContentsMargins(6, 4, 6, 4);
  options->addWidget(new QLabel(tr("When:"), fraOptions));
  options->addWidget(cmbHistory);
  options->addWidget(btnRealTime);
  options->addWidget(btnHistory);
  options->addWidget(optHistoryGraph24);
  options->addWidget(optHistoryGraph12);
  options->addStretch(1);
  options->addWidget(chkShowValues);
  options->addWidget(btnClear);

  fraClientArea = new QWidget(this);
  auto* grid = new QGridLayout(fraClientArea);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setSpacing(4);
  for (int g = 0; g < 8; ++g) {
    graphs_[g] = new TrendGraph(fraClientArea);
    graphs_[g]->setObjectName(QLatin1String(kNames[g]));
    graphs_[g]->setTitle(tr(kTitles[g]));
    graphs_[g]->setBackColor(Qt::black);
    graphs_[g]->setBarColor(g < 4 ? QColor(0, 255, 0) : QColor(0, 255, 255));
    grid->addWidget(graphs_[g], g / 4, g % 4);
  }
  picWarning = new QLabel(fraClientArea);
  picWarning->setAlignment(Qt::AlignCenter);
  picWarning->setText(QStringLiteral("<b>%1</b><br>%2").arg(
      tr("No traffic received in over 60 seconds"), tr("There may be a physical connection problem or an adapter problem")));
  picWarning->setStyleSheet(QStringLiteral("QLabel { background: #ffff80; color: #800000; font-size: 14pt; }"));
  picWarning->hide();
  grid->addWidget(picWarning, 1, 0, 1, 4);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(fraOptions);
  layout->addWidget(fraClientArea, 1);
  setRealTime(true);
}

void OverviewTab::setReceiveWarning(bool shown) {
  for (int g = BytesRecv; g <= PktsRecvRE; ++g) graphs_[g]->setVisible(!shown);
  picWarning->setVisible(shown);
}

bool OverviewTab::receiveWarningShown() const { return !picWarning->isHidden(); }

void OverviewTab::setRealTime(bool realTime) {
  btnRealTime->setVisible(!realTime);
  optHistoryGraph24->setVisible(!realTime);
  optHistoryGraph12->setVisible(!realTime);
}

}  // namespace veltris::console
