#pragma once
// The console's small windows: the legend, the about box with this Linux
// machine's system information, and the loopback warning.
#include <QDialog>
#include <QIcon>
#include <QList>
#include <QString>

namespace veltris::console {

// frmLegend: the six status pictures with their meanings, and the graph note.
class LegendDialog : public QDialog {
 public:
  // `pictures`: the six status pictures in the order of the legend.
  LegendDialog(const QList<QIcon>& pictures, bool foreground, QWidget* parent = nullptr);
  static const QStringList& meanings();
  static QString graphNote();
};

// frmAbout.
class AboutDialog : public QDialog {
 public:
  AboutDialog(bool foreground, QWidget* parent = nullptr);
  static QString description();
  void showSystemInfo();
};

// What "&System Info..." shows: this machine's system, processor, memory,
// desktop and network interfaces. Empty when nothing could be read.
QString linuxSystemInfo();

// frmWarnNoLoopback.
class LoopbackWarningDialog : public QDialog {
 public:
  explicit LoopbackWarningDialog(QWidget* parent = nullptr);
};

}  // namespace veltris::console
