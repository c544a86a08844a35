#pragma once
// The widgets of the " &Adapter" and " &Test" tabs.
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QWidget>

#include "console/models/adapter_model.h"

namespace veltris::console {

class AdapterTab : public QWidget {
 public:
  explicit AdapterTab(QWidget* parent = nullptr);
  AdapterModel model;
  QGroupBox* fraOptions;
  QPushButton* btnRefresh;
  QLabel* lblTitle;
  QTableView* gridAdapter;
  // Hides the Ethernet and Token Ring rows no adapter needs.
  void applyRowVisibility();
};

class TestTab : public QWidget {
 public:
  explicit TestTab(QWidget* parent = nullptr);
  QGroupBox* fraOptions;  // "Diagnostic Commands"
  QPushButton* btnConfig;
  QPushButton* btnTest;
  QComboBox* cmbCmd;
  QPushButton* btnCmd;
  QPlainTextEdit* tbxTest;
  // The separator line between appended outputs.
  static QString separator() { return QString(57, '-'); }
};

}  // namespace veltris::console
