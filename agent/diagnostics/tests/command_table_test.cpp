#include "agent/diagnostics/command_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veltris::agent {
namespace {

using Program = std::vector<std::string>;

Program programOf(std::string_view text) {
  const CommandTranslation translation = translateCommand(text);
  EXPECT_TRUE(translation.permitted) << text << ": " << translation.refusal;
  return translation.program;
}

std::string refusalOf(std::string_view text) {
  const CommandTranslation translation = translateCommand(text);
  EXPECT_FALSE(translation.permitted) << text;
  EXPECT_TRUE(translation.program.empty()) << text;
  return translation.refusal;
}

TEST(CommandTableTest, PingCountsFourAndTranslatesItsSwitches) {
  EXPECT_EQ(programOf("PING 10.0.0.1"), (Program{"ping", "-c", "4", "10.0.0.1"}));
  EXPECT_EQ(programOf("ping -n 2 -l 100 -w 1500 -i 64 host.example.com"),
            (Program{"ping", "-c", "2", "-s", "100", "-W", "2", "-t", "64", "host.example.com"}));
  EXPECT_EQ(programOf("Ping /a ::1 /N 1"), (Program{"ping", "-c", "1", "::1"}));
  EXPECT_EQ(programOf("PING -4 pc01"), (Program{"ping", "-c", "4", "-4", "pc01"}));
}

TEST(CommandTableTest, EachWindowsWordHasItsLinuxProgram) {
  EXPECT_EQ(programOf("NETSTAT"), (Program{"ss", "-t", "-r"}));
  EXPECT_EQ(programOf("NETSTAT -n"), (Program{"ss", "-t", "-n"}));
  EXPECT_EQ(programOf("netstat -an"), (Program{"ss", "-t", "-u", "-a", "-n"}));
  EXPECT_EQ(programOf("NETSTAT -a -n -o"), (Program{"ss", "-t", "-u", "-a", "-n", "-p"}));
  EXPECT_EQ(programOf("NETSTAT -r"), (Program{"ip", "route", "show"}));
  EXPECT_EQ(programOf("NETSTAT -rn"), (Program{"ip", "route", "show"}));
  EXPECT_EQ(programOf("NETSTAT -e"), (Program{"ip", "-s", "link", "show"}));
  EXPECT_EQ(programOf("NETSTAT /s"), (Program{"ss", "-s"}));
  EXPECT_EQ(programOf("ARP -a"), (Program{"ip", "neighbour", "show"}));
  EXPECT_EQ(programOf("arp -g 10.1.2.3"), (Program{"ip", "neighbour", "show", "to", "10.1.2.3"}));
  EXPECT_EQ(programOf("IPCONFIG"), (Program{"ip", "address", "show"}));
  EXPECT_EQ(programOf("IPCONFIG -all"), (Program{"ip", "-details", "-statistics", "address", "show"}));
  EXPECT_EQ(programOf("ipconfig /ALL"), (Program{"ip", "-details", "-statistics", "address", "show"}));
  EXPECT_EQ(programOf("ROUTE PRINT"), (Program{"ip", "route", "show"}));
  EXPECT_EQ(programOf("route print"), (Program{"ip", "route", "show"}));
  EXPECT_EQ(programOf("TRACERT 10.0.0.1"), (Program{"traceroute", "10.0.0.1"}));
  EXPECT_EQ(programOf("TRACERT -d -h 5 -w 500 gw"), (Program{"traceroute", "-n", "-m", "5", "-w", "1", "gw"}));
  EXPECT_EQ(programOf("NSLOOKUP www.example.com"), (Program{"nslookup", "www.example.com"}));
  EXPECT_EQ(programOf("nslookup pc01 10.0.0.53"), (Program{"nslookup", "pc01", "10.0.0.53"}));
  EXPECT_EQ(programOf("NBTSTAT -n"), (Program{"nmblookup", "-A", "127.0.0.1"}));
  EXPECT_EQ(programOf("NBTSTAT -c"), (Program{"net", "cache", "list"}));
  EXPECT_EQ(programOf("NBTSTAT -a PC01"), (Program{"nmblookup", "-S", "PC01"}));
  EXPECT_EQ(programOf("NBTSTAT -A 10.0.0.7"), (Program{"nmblookup", "-A", "10.0.0.7"}));
  EXPECT_EQ(programOf("NET VIEW"), (Program{"smbclient", "-L", "127.0.0.1", "-N"}));
  EXPECT_EQ(programOf("net view \\\\SERVER1"), (Program{"smbclient", "-L", "SERVER1", "-N"}));
  EXPECT_EQ(programOf("  PING   10.0.0.1  "), (Program{"ping", "-c", "4", "10.0.0.1"}));  // extra blanks
}

TEST(CommandTableTest, WordsOutsideTheTableAreRefused) {
  EXPECT_EQ(refusalOf("rm -rf somefile"), "'rm' is not one of the permitted commands");
  for (const char* text : {"DEL C:\\x", "ROUTE ADD 0.0.0.0 MASK 0.0.0.0 10.0.0.1", "ROUTE", "NET USE x:", "NET",
                           "sh -c id", "/bin/ping 10.0.0.1", "PINGX 10.0.0.1", "", "   "})
    refusalOf(text);
}

TEST(CommandTableTest, ShellMetacharactersNeverReachAProgram) {
  for (const char* text : {"PING 127.0.0.1;rm -rf /", "PING 127.0.0.1 && reboot", "PING $(reboot)", "PING `id`",
                           "NSLOOKUP a|b", "NET VIEW \\\\host&calc", "PING a>b", "TRACERT host;id", "ARP -a 1.2.3.4;",
                           "NBTSTAT -a PC*", "PING \"10.0.0.1\"", "NSLOOKUP -type=any x"})
    refusalOf(text);
  EXPECT_EQ(refusalOf("PING 127.0.0.1|id"), "not a host name or address: '127.0.0.1|id'");
}

TEST(CommandTableTest, UnexpectedSwitchesAndBadValuesAreRefused) {
  EXPECT_EQ(refusalOf("PING -t 10.0.0.1"), "pinging until stopped (-t) is not permitted");
  EXPECT_EQ(refusalOf("PING -f 10.0.0.1"), "unexpected switch '-f'");
  EXPECT_EQ(refusalOf("PING -n 0 10.0.0.1"), "switch '-n' needs a number from 1 to 100");
  refusalOf("PING -n 101 10.0.0.1");
  refusalOf("PING -n abc 10.0.0.1");
  refusalOf("PING 10.0.0.1 -n");
  EXPECT_EQ(refusalOf("PING"), "a host name or address is needed");
  EXPECT_EQ(refusalOf("PING 10.0.0.1 10.0.0.2"), "more than one host: '10.0.0.1' and '10.0.0.2'");
  refusalOf("NETSTAT -p tcp");
  EXPECT_EQ(refusalOf("NETSTAT -n 5"), "repeating output ('5') is not permitted");
  refusalOf("ARP -d 10.0.0.1");
  refusalOf("ARP -s 10.0.0.1 00-aa-00-62-c6-09");
  refusalOf("ARP");
  refusalOf("IPCONFIG /release");
  refusalOf("IPCONFIG /renew");
  refusalOf("IPCONFIG /all extra");
  refusalOf("ROUTE PRINT -4");
  refusalOf("NSLOOKUP");
  refusalOf("NSLOOKUP a b c");
  refusalOf("NBTSTAT");
  refusalOf("NBTSTAT -R");
  refusalOf("NBTSTAT -a");
  refusalOf("NBTSTAT -A not-an-address");
  refusalOf("NBTSTAT -n 5");
  refusalOf("NBTSTAT -a NAME_LONGER_THAN_15");
  refusalOf("NET VIEW /domain");
  refusalOf("NET VIEW a b");
}

// A name or address argument that begins with "-" would reach the Linux
// program as an option of its own.
TEST(CommandTableTest, NamesThatLookLikeOptionsAreRefused) {
  const struct {
    const char* text;
    const char* refusal;
  } cases[] = {
      {"NSLOOKUP -debug", "not a host name or address: '-debug'"},
      {"NSLOOKUP pc01 -port=5353", "not a host name or address: '-port=5353'"},
      {"NSLOOKUP -", "not a host name or address: '-'"},
      {"NET VIEW -x", "not a computer name: '-x'"},
      {"NET VIEW \\\\-U", "not a computer name: '\\\\-U'"},
      {"NET VIEW \\\\", "not a computer name: '\\\\'"},
      {"NBTSTAT -a -d10", "not a computer name: '-d10'"},
      {"NBTSTAT -a -", "not a computer name: '-'"},
      {"TRACERT -d -x", "unexpected switch '-x'"},
  };
  for (const auto& c : cases) {
    const CommandTranslation translation = translateCommand(c.text);
    EXPECT_FALSE(translation.permitted) << c.text;
    EXPECT_TRUE(translation.program.empty()) << c.text;
    EXPECT_NE(translation.refusal.find(c.refusal), std::string::npos) << c.text << ": " << translation.refusal;
  }
}

TEST(CommandTableTest, OverLongTextAndControlCharactersAreRefused) {
  const std::string host(kMaxCommandText - 5, 'a');
  EXPECT_EQ(programOf("PING " + host).back(), host);  // exactly the longest text
  EXPECT_EQ(refusalOf("PING a" + host), "the command is longer than 242 characters");
  EXPECT_EQ(refusalOf(std::string(1000, 'x')), "the command is longer than 242 characters");
  EXPECT_EQ(refusalOf("PING 10.0.0.1\n"), "the command contains control characters");
  EXPECT_EQ(refusalOf("PING\t10.0.0.1"), "the command contains control characters");
  refusalOf(std::string("PING 10.0.0.1\x7f"));
  refusalOf("PING h\xc3\xa9te");  // not a host name
}

TEST(CommandTableTest, RefusalTextNamesTheCommandAndThePermittedForms) {
  const std::string text = refusalText("rm -rf somefile", "'rm' is not one of the permitted commands");
  EXPECT_EQ(text.substr(0, text.find("\r\n\r\n") + 4),
            "Command not permitted: 'rm -rf somefile'\r\n  'rm' is not one of the permitted commands\r\n\r\n");
  const std::vector<std::string_view> forms = permittedForms();
  ASSERT_EQ(forms.size(), 9u);
  for (std::string_view form : forms) EXPECT_NE(text.find("\r\n  " + std::string(form) + "\r\n"), std::string::npos);
  EXPECT_EQ(refusalText("PING a\nb", "x").substr(0, 33), "Command not permitted: 'PING a?b'");
  const std::string longText = refusalText(std::string(300, 'z'), "long");
  EXPECT_NE(longText.find(std::string(kMaxCommandText, 'z') + "...'"), std::string::npos);
}

}  // namespace
}  // namespace veltris::agent
