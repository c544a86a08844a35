#pragma once
// SETUP's folders and the file lists of its distribution folder. Every target
// lies below the system root (VELTRIS_ROOT) and the install prefix.
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace veltris::setup {

struct SetupFolders {
  QString setup;    // the folder of SETUP's own program
  QString temp;     // the temporary folder, without a trailing separator
  QString root;     // the system root: VELTRIS_ROOT or "/"
  QString prefix;   // the install prefix below the root, "/usr/local" by default

  QString programs() const;  // TapsorSv and TapsorCC: <root><prefix>/sbin
  QString data() const;      // the help book goes here: <root><prefix>/share/veltris
  QString agentProgram() const { return programs() + "/TapsorSv"; }
  QString trayProgram() const;  // veltris-tray as the user starts it (without the root): <prefix>/bin/veltris-tray
};

// Where each file of the taskbar list goes. The autostart entry and the polkit
// action go where the desktop and polkit read them, whatever the prefix.
struct Placement {
  QString name;
  QString folder;
};
QList<Placement> taskbarPlacements(const SetupFolders& folders);

// Found at start; false with the failing step's message when one is missing.
bool findFolders(SetupFolders& folders, const QString& programFolder, QString& failure);

struct FileList {
  QStringList names;  // files or folders, checked and copied as one group
};
const FileList& helpList();           // the help book folder "help"
const FileList& agentFilesList();     // "TapsorSv", "TapsorCC"
// The LAN taskbar icon and QuickLook: the tray, its settings helper, its
// autostart entry and the helper's polkit action.
const FileList& taskbarList();
const FileList& advancedToolsList();  // "SetupCL", "SetupCL.LST", "VELTRS1.tar.gz"

// The file check: the first name of `list` missing from `directory`, or empty.
QString firstMissing(const FileList& list, const QString& directory);
// "Could not find file %s in directory %s" for the first missing file, then exit.
void checkFiles(QWidget* owner, const FileList& list, const QString& directory);

enum class Transfer { Copy, Move };
// Called after each file with the count done and the count of the whole group.
using TransferProgress = std::function<void(int done, int total)>;
// Copies (or moves) every name of `list` from `from` into `to`, replacing what
// is there by a rename so a running program keeps its old file. Folders are
// copied whole. False with the reason on the first failure.
bool transferFiles(const FileList& list, const QString& from, const QString& to, Transfer how, QString& failure,
                   const TransferProgress& progress = {});

}  // namespace veltris::setup
