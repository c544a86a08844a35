#pragma once
// The Tools menu: Linux programs in place of the Windows administration
// tools. Each item starts the first of its candidates that is installed, and
// is greyed when none is, or when it works only on this PC and a remote
// computer is watched.
#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class QAction;
class QMenu;

namespace veltris::console {

struct ToolCandidate {
  QStringList command;   // program and arguments
  QStringList needs;    // programs that must be on PATH (the program itself included)
};

struct ToolItem {
  const char* objectName;
  QString caption;       // for the two items that carry the computer's name: without it
  bool carriesName;      // caption + "\\\\" + name
  bool localOnly;
  QList<ToolCandidate> candidates;
};

const QList<ToolItem>& toolItems();

// True when `program` can be started; replaced in tests.
using ProgramFinder = std::function<bool(const QString& program)>;
bool programOnPath(const QString& program);

// The command an item would start, or empty when none of its candidates is installed.
QStringList chooseToolCommand(const ToolItem& item, const ProgramFinder& installed);

class ToolsMenu {
  Q_DECLARE_TR_FUNCTIONS(veltris::console::ToolsMenu)

 public:
  // Adds the items to `menu`.
  explicit ToolsMenu(QMenu* menu, ProgramFinder installed = programOnPath);
  // Takes over existing actions, one per item in the order of toolItems().
  explicit ToolsMenu(const QList<QAction*>& actions, ProgramFinder installed = programOnPath);
  // Captions and enabled states for the watched computer.
  void update(bool local, const QString& computerName);
  QAction* action(const char* objectName) const;
  QStringList commandOf(const char* objectName) const;

 private:
  void wire();

  ProgramFinder installed_;
  QList<QAction*> actions_;
  QList<QStringList> commands_;
};

}  // namespace veltris::console
