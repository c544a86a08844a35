#pragma once
// "Browse" of the connection dialog: the computers of the local network found
// through DNS-SD (Avahi). Agents announcing "_veltris._tcp" come first, then
// the other computers that announce a workstation ("_workstation._tcp").
#include <QCoreApplication>
#include <QString>
#include <QStringList>

namespace veltris::console {

struct BrowseResult {
  bool ok = false;
  QStringList names;  // host names without ".local", agents first, no repeats
  QString errorTitle;  // the box title of a failure
  QString errorText;   // "Error: " + what failed

  Q_DECLARE_TR_FUNCTIONS(veltris::console::BrowseResult)
};

// Browses for at most `timeoutMs` milliseconds (the lists are complete once
// Avahi reports "all for now").
BrowseResult browseNetwork(int timeoutMs = 3000);

}  // namespace veltris::console
