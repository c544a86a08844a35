#pragma once
// The widgets of the " &Sessions", " &Broadcasts", " &Errors" and " &Details"
// tabs: an options frame above a grid on the tab's table model.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QWidget>

#include "console/models/broadcasts_model.h"
#include "console/models/packets_model.h"
#include "console/models/sessions_model.h"

namespace veltris::console {

// A read-only grid with whole-row selection, a sortable or fixed header and a context menu.
QTableView* makeGrid(const char* objectName, QAbstractItemModel* model, QWidget* parent);
// The grid's rows (all, or the selected ones) as tab-separated text with its header line.
QString gridText(const QTableView* grid);

class SessionsTab : public QWidget {
 public:
  explicit SessionsTab(QWidget* parent = nullptr);
  SessionsModel model;
  QGroupBox* fraOptions;
  QRadioButton* optTotals;
  QRadioButton* optCounter;
  QRadioButton* optDelta;
  QPushButton* btnClear;
  QLabel* lblTitle;
  QTableView* gridSess;
};

class BroadcastsTab : public QWidget {
 public:
  explicit BroadcastsTab(QWidget* parent = nullptr);
  BroadcastsModel model;
  QGroupBox* fraOptions;
  QRadioButton* optBcastSent;
  QRadioButton* optBroadcasters;
  QCheckBox* chkBcastLowLevelDescr;
  QPushButton* btnBcastRefresh;
  QLabel* lblTitle;
  QTableView* gridBcast;
};

// The details and errors tabs differ only in names and texts.
class PacketsTab : public QWidget {
 public:
  PacketsTab(bool errors, QWidget* parent = nullptr);
  const bool errors;
  PacketsModel model;
  QGroupBox* fraOptions;
  QCheckBox* chkLowLevel;       // chkLowLevelDescr / chkErrorsLowLevelDescr
  QCheckBox* chkExcludeRecvBC;  // details only (nullptr on errors)
  QPushButton* btnRefresh;      // btnRefresh / btnErrorRefresh
  QPushButton* btnClear;
  QLabel* lblTitle;
  QTableView* grid;             // gridDetails / gridErrors
  // Shows the high-level or the low-level description column.
  void showLowLevel(bool lowLevel);
};

}  // namespace veltris::console
