#include "console/adapter/command_check.h"

namespace veltris::console {

const QStringList& allowedCommandPrefixes() {
  static const QStringList prefixes = {"NET ",     "IPCONFIG ", "PING ", "TRACERT ",        "NSLOOKUP ",  "NETSTAT ",
                                       "NBTSTAT ", "ARP ",      "ROUTE ", "VELTRISSV STOP ", "TRENDTEST "};
  return prefixes;
}

const QStringList& commandListEntries() {
  static const QStringList entries = {"NETSTAT",     "IPCONFIG -ALL", "NET VIEW \\\\name", "PING name",  "TRACERT name",
                                      "NSLOOKUP name", "ROUTE PRINT", "ARP -a",            "NBTSTAT -s"};
  return entries;
}

CommandCheck checkCommand(const QString& text) {
  const QString checked = text.toUpper() + QLatin1Char(' ');
  if (checked.trimmed().isEmpty()) return {false, {}, CommandCheck::tr("Please enter command text")};
  if (checked.startsWith(QLatin1String("NET USE ")))
    return {false, {}, CommandCheck::tr("Sorry NET USE may not be issued.  Please refer to HELP for more information")};
  for (const QString& prefix : allowedCommandPrefixes()) {
    // The agent's own switches are case-sensitive (NBTSTAT -a / -A), so the
    // command goes out as typed; only the check uses the upper-case form.
    if (checked.startsWith(prefix)) return {true, text.trimmed(), {}};
  }
  return {false, {}, CommandCheck::tr("Invalid command.  Please select from drop down list.")};
}

}  // namespace veltris::console
