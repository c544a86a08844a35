// The printers against hand-made reply bytes: what people read in the tables
// and what scripts read in the JSON documents.
#include <gtest/gtest.h>

#include <algorithm>

#include <sstream>

#include "tools/veltris_cli/reply_printer.h"
#include "tools/veltris_cli/tests/record_bytes.h"

namespace veltris::cli {
namespace {

using testing::concat;
using testing::RecordBytes;
using testing::replyHeader;
using testing::totalsRecord;

std::string print(const std::vector<RecordBytes>& records, OutputFormat format, const std::string& request = "X") {
  std::vector<RecordBytes> all = {replyHeader()};
  all.insert(all.end(), records.begin(), records.end());
  std::vector<uint8_t> bytes = concat(all);
  BufferSource source(bytes);
  Reply reply;
  ReadOutcome outcome = readReply(source, reply);
  EXPECT_EQ(outcome.error, ReplyError::None) << outcome.detail;
  std::ostringstream out;
  printReply(request, reply, format, out);
  return out.str();
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

RecordBytes partner(const std::string& station, const std::string& protoAddr, const std::string& role,
                    const std::string& host, uint32_t framesSent) {
  RecordBytes r(124);
  r.text(0, "STAT").u32(4, 1).padded(8, 16, station).padded(24, 28, protoAddr).padded(52, 8, role);
  r.padded(60, 32, host).text(92, "13:45:01").f32(100, 2114.0f).u32(104, framesSent).u32(108, 1).u32(112, 1);
  r.f32(116, 290.0f).u32(120, 3);
  return r;
}

RecordBytes detail(uint32_t sequence, const std::string& direction, const std::string& description) {
  RecordBytes r(364);
  r.text(0, "DETL").u32(4, 1).u32(8, sequence).u32(12, 1514).text(16, "13:45:02");
  r.text(28, "*020000000001").text(44, "IP 10.0.0.1").text(72, "Self").text(80, "WORKSTATION7");
  r.text(112, direction).padded(116, 28, "10.0.0.5").padded(144, 100, description);
  r.text(244, "TCP/IP netbios-ssn").padded(344, 16, "TCP RESET").u32(360, 0);
  return r;
}

// Repeated replies: one compact document per line, with the time it arrived.
TEST(CliHeaderAndTotals, JsonLinesAreOneDocumentPerLineWithTheArrivalTime) {
  std::vector<RecordBytes> all = {replyHeader(), totalsRecord(812), partner("*020000000001", "IP 10.0.0.1", "Self", "", 4)};
  std::vector<uint8_t> bytes = concat(all);
  BufferSource source(bytes);
  Reply reply;
  ASSERT_EQ(readReply(source, reply).error, ReplyError::None);
  std::ostringstream out;
  printReply("STATS_PRO 0", reply, OutputFormat::JsonLines, out, 924183907);
  const std::string text = out.str();
  EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
  EXPECT_TRUE(contains(text, "\"time\": \"13:45:07\", \"trafficState\"")) << text;
  EXPECT_TRUE(contains(text, "\"receivedAt\": 924183907}")) << text;
  EXPECT_TRUE(contains(text, "{\"tag\": \"STAT\"")) << text;
  std::ostringstream indented;
  printReply("STATS_PRO 0", reply, OutputFormat::Json, indented);
  const std::string document = indented.str();
  EXPECT_GT(std::count(document.begin(), document.end(), '\n'), 2) << "one record per line";
  EXPECT_FALSE(contains(document, "receivedAt"));
}

TEST(CliHeaderAndTotals, TableShowsStateAndBothDirections) {
  std::string out = print({totalsRecord(812)}, OutputFormat::Table);
  EXPECT_TRUE(contains(out, "VELTRIS agent 19990415  19990415 13:45:07  traffic state 4: Session traffic\n")) << out;
  EXPECT_TRUE(contains(out, "  Host name             WORKSTATION7\n")) << out;
  EXPECT_TRUE(contains(out, "  IP summary            IP=10.0.0.1\n")) << out;
  EXPECT_TRUE(contains(out, "  Packet sequence       812\n")) << out;
  EXPECT_TRUE(contains(out, "  Last frame received   7 s ago\n")) << out;
  EXPECT_TRUE(contains(out, "Sent       2114       4           1       1\n")) << out;
  EXPECT_TRUE(contains(out, "Received    290       3           2       0\n")) << out;
}

TEST(CliHeaderAndTotals, NothingReceivedYetAndFullHostName) {
  RecordBytes totals = totalsRecord(0);
  totals.u32(44, 938000000).text(48, std::string(32, 'H')).text(80, "");  // the agent's clock: no frame yet
  std::string out = print({totals}, OutputFormat::Table);
  EXPECT_TRUE(contains(out, "nothing received yet")) << out;
  EXPECT_TRUE(contains(out, std::string(32, 'H') + "\n")) << out;  // not run into the IP summary
}

TEST(CliHeaderAndTotals, JsonDocument) {
  std::string out = print({totalsRecord(812)}, OutputFormat::Json, "TOTAL");
  EXPECT_EQ(out,
            "{\"request\": \"TOTAL\",\n"
            " \"header\": {\"tag\": \"TASK\", \"version\": \"19990415\", \"date\": \"19990415\", \"time\": "
            "\"13:45:07\", \"trafficState\": 4, \"trafficText\": \"Session traffic\"},\n"
            " \"records\": [\n"
            "  {\"tag\": \"TOT \", \"sequence\": 812, \"bytesSent\": 2114, \"framesSent\": 4, \"broadcastsSent\": 1, "
            "\"errorsSent\": 1, \"bytesReceived\": 290, \"framesReceived\": 3, \"broadcastsReceived\": 2, "
            "\"errorsReceived\": 0, \"resetCount\": 1, \"secondsSinceReceived\": 7, \"hostName\": \"WORKSTATION7\", "
            "\"ipSummary\": \"IP=10.0.0.1\"}\n"
            " ]}\n");
  EXPECT_EQ(print({}, OutputFormat::Json, "TPT 19990101"),
            "{\"request\": \"TPT 19990101\",\n"
            " \"header\": {\"tag\": \"TASK\", \"version\": \"19990415\", \"date\": \"19990415\", \"time\": "
            "\"13:45:07\", \"trafficState\": 4, \"trafficText\": \"Session traffic\"},\n"
            " \"records\": []}\n");
}

TEST(CliStatistics, PartnerTableTrimsPaddingAndAlignsCounters) {
  std::string out = print({totalsRecord(9), partner("*020000000001", "IP 10.0.0.1", "Self", "WORKSTATION7", 4),
                           partner("020000000005", "IP 10.0.0.5", "", "", 123456)},
                          OutputFormat::Table);
  EXPECT_TRUE(contains(out, "Session Partner Statistics (2 partners)\n")) << out;
  EXPECT_TRUE(contains(out,
                       "NIC  Adapter        Protocol     Config  Name          Time      Bytes Sent  Pkts Sent"
                       "  Broadcast  Errors  Bytes Recv  Pkts Recv\n"))
      << out;
  EXPECT_TRUE(contains(out,
                       "  1  *020000000001  IP 10.0.0.1  Self    WORKSTATION7  13:45:01        2114          4"
                       "          1       1         290          3\n"))
      << out;
  EXPECT_TRUE(contains(out, "  1  020000000005   IP 10.0.0.5                        13:45:01        2114     123456"))
      << out;
}

TEST(CliStatistics, PartnerJsonKeepsEveryField) {
  std::string out = print({partner("020000000005", "IP 10.0.0.5", "GW", "ROUTER", 4)}, OutputFormat::Json);
  EXPECT_TRUE(contains(out,
                       "{\"tag\": \"STAT\", \"adapter\": 1, \"station\": \"020000000005\", \"protoAddr\": "
                       "\"IP 10.0.0.5\", \"roleLabel\": \"GW\", \"hostName\": \"ROUTER\", \"lastSeen\": "
                       "\"13:45:01\", \"bytesSent\": 2114, \"framesSent\": 4, \"broadcasts\": 1, \"errors\": 1, "
                       "\"bytesReceived\": 290, \"framesReceived\": 3}"))
      << out;
}

// "ADR6": the IPv6 address in full beside the partner's (cut) text.
TEST(CliStatistics, Ipv6AddressesInFull) {
  RecordBytes r(68);
  r.text(0, "ADR6").u32(4, 2).padded(8, 16, "020000000005").padded(24, 28, "2001:db8:1234:~ef0:1234:5678");
  const uint8_t address[16] = {0x20, 0x01, 0x0d, 0xb8, 0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0xde, 0xf0, 0x12, 0x34, 0x56, 0x78};
  r.text(52, std::string(reinterpret_cast<const char*>(address), sizeof address));
  std::string json = print({r}, OutputFormat::Json);
  EXPECT_TRUE(contains(json,
                       "{\"tag\": \"ADR6\", \"adapter\": 2, \"station\": \"020000000005\", \"protoAddr\": "
                       "\"2001:db8:1234:~ef0:1234:5678\", \"address\": \"2001:db8:1234:5678:9abc:def0:1234:5678\"}"))
      << json;
  std::string table = print({r}, OutputFormat::Table);
  EXPECT_TRUE(contains(table, "IPv6 Partner Addresses (1 partners)")) << table;
  EXPECT_TRUE(contains(table, "2001:db8:1234:5678:9abc:def0:1234:5678")) << table;
}

TEST(CliStatistics, HistoryDaysSortedAndPeriodsWithTheirTimes) {
  RecordBytes late(12), early(12), first(40), last(40);
  late.text(0, "HIST").text(4, "19990415");
  early.text(0, "HIST").text(4, "19990322");
  first.text(0, "TPT ").u32(4, 0).f32(8, 1500.0f).u32(12, 10);
  last.text(0, "TPT ").u32(4, 143).u32(28, 77);
  std::string days = print({totalsRecord(1), late, early}, OutputFormat::Table);
  EXPECT_TRUE(contains(days, "History days (2)\nDay\n--------\n19990322\n19990415\n")) << days;
  std::string periods = print({first, last}, OutputFormat::Table);
  EXPECT_TRUE(contains(periods, "Period totals (2 periods of 10 minutes)\n")) << periods;
  EXPECT_TRUE(contains(periods, "   0  00:00")) << periods;
  EXPECT_TRUE(contains(periods, " 143  23:50")) << periods;
  std::string json = print({last}, OutputFormat::Json);
  EXPECT_TRUE(contains(json, "\"slot\": 143, \"period\": \"23:50\"")) << json;
  EXPECT_TRUE(contains(json, "\"framesReceived\": 77")) << json;
}

TEST(CliDetails, RowsInCaptureOrderWithDirectionAndBothDescriptions) {
  std::string out = print({totalsRecord(300), detail(299, "  ->", "TCP/netbios-ssn 1025 Seq=1"),
                           detail(7, "<=  ", "TCP/1025 netbios-ssn RST")},
                          OutputFormat::Table);
  EXPECT_TRUE(contains(out, "Packet details (2 packets)\n")) << out;
  const size_t older = out.find("13:45:02    7  <=    1514");
  const size_t newer = out.find("13:45:02  299    ->  1514");
  ASSERT_NE(older, std::string::npos) << out;
  ASSERT_NE(newer, std::string::npos) << out;
  EXPECT_LT(older, newer);  // the ring's slot order is not the capture order
  EXPECT_TRUE(contains(out, "TCP/IP netbios-ssn  TCP/netbios-ssn 1025 Seq=1  10.0.0.5     TCP RESET\n")) << out;
}

TEST(CliDetails, JsonKeepsTheDirectionMarkerWhole) {
  std::string out = print({detail(299, "  ->", "TCP")}, OutputFormat::Json);
  EXPECT_TRUE(contains(out,
                       "\"sequence\": 299, \"length\": 1514, \"time\": \"13:45:02\", \"station\": "
                       "\"*020000000001\", \"protoAddr\": \"IP 10.0.0.1\", \"roleLabel\": \"Self\", \"hostName\": "
                       "\"WORKSTATION7\", \"direction\": \"  ->\", \"destination\": \"10.0.0.5\", \"description\": "
                       "\"TCP\", \"protocol\": \"TCP/IP netbios-ssn\", \"errorType\": \"TCP RESET\", "
                       "\"mediaType\": 0}"))
      << out;
}

TEST(CliBroadcasts, HeaderLineThenOneRowPerGroup) {
  RecordBytes header(40), entry(244);
  header.text(0, "BHDR").text(4, "13:45:07").text(16, "13:30:07").u32(28, 12).u32(32, 3).u32(36, 1);
  entry.text(0, "BENT").u32(4, 1).text(8, "02000000001D").text(24, "IP 10.0.0.29").text(60, "HOST29");
  entry.u32(92, 3).u32(96, 12).text(100, "13:45:06").u32(112, 4711);
  entry.text(116, "ARP Request, Looking for 10.0.0.118").text(216, "FFFFFFFFFFFF");
  std::string out = print({header, entry}, OutputFormat::Table);
  EXPECT_TRUE(contains(out,
                       "Summary of Broadcasts from 13:30:07 to 13:45:07: 12 in the last 15 minutes, "
                       "3 in the last minute, 1 groups\nNIC"))
      << out;
  EXPECT_TRUE(contains(out,
                       "  1  02000000001D  IP 10.0.0.29          HOST29  13:45:06            12           3  4711"
                       "  ARP Request, Looking for 10.0.0.118  FFFFFFFFFFFF\n"))
      << out;
  std::string json = print({header, entry}, OutputFormat::Json);
  EXPECT_TRUE(contains(json,
                       "{\"tag\": \"BHDR\", \"now\": \"13:45:07\", \"windowStart\": \"13:30:07\", "
                       "\"windowCount\": 12, \"lastMinuteCount\": 3, \"entryCount\": 1}"))
      << json;
  EXPECT_TRUE(contains(json,
                       "\"lastMinuteCount\": 3, \"windowCount\": 12, \"time\": \"13:45:06\", \"sequence\": 4711, "
                       "\"keyText\": \"ARP Request, Looking for 10.0.0.118\", \"destination\": \"FFFFFFFFFFFF\"}"))
      << json;
}

TEST(CliAdapterStatus, ListsNamedFieldsAndSkipsEmptyCounters) {
  RecordBytes oid(744);
  oid.text(0, "OID ").u32(4, 2).text(8, "eth0").text(40, "Open").text(56, "NDIS");
  oid.text(72, "Intel PRO/1000, NDIS 4.0").text(136, "e1000e 3.2").text(168, "020000000001");
  oid.text(184, "Ready").text(204, "Connected").text(224, "Ethernet").text(240, "1000 Mbps");
  oid.text(256, "0").text(336, "17").text(724, "");
  std::string out = print({oid}, OutputFormat::Table);
  EXPECT_TRUE(contains(out, "Adapter 2\n  Adapter name          eth0\n  Open state            Open\n")) << out;
  EXPECT_TRUE(
      contains(out, "  Link speed            1000 Mbps\n  Transmit errors       0\n  One collision         17\n"))
      << out;
  EXPECT_FALSE(contains(out, "Receive errors")) << out;
  std::string json = print({oid}, OutputFormat::Json);
  EXPECT_TRUE(contains(json, "{\"tag\": \"OID \", \"adapter\": 2, \"adapterName\": \"eth0\", \"openState\": \"Open\""))
      << json;
  EXPECT_TRUE(contains(json, "\"receiveErrors\": \"\", \"receiveNoBuffer\": \"\"")) << json;
  EXPECT_TRUE(contains(json, "\"ringState\": \"\"}")) << json;
}

TEST(CliTextReply, PrintedAsItStandsUpToItsTerminator) {
  RecordBytes txt(4100, 'x');  // bytes behind the terminator are undefined
  txt.text(0, "TXT4").text(4, std::string("Host Name: WS7\r\nIP Address: 10.0.0.1\r\n") + '\0');
  EXPECT_EQ(print({txt}, OutputFormat::Table),
            "VELTRIS agent 19990415  19990415 13:45:07  traffic state 4: Session traffic\n\n"
            "Host Name: WS7\nIP Address: 10.0.0.1\n");
  std::string json = print({txt}, OutputFormat::Json);
  EXPECT_TRUE(contains(json, "\"text\": \"Host Name: WS7\\r\\nIP Address: 10.0.0.1\\r\\n\"}")) << json;
}

TEST(CliTrafficState, TextsOfTheTaskbar) {
  EXPECT_EQ(trafficStateText(1), "Error detected");
  EXPECT_EQ(trafficStateText(6), "Session traffic since last broadcast");
  EXPECT_EQ(trafficStateText(9), "NO traffic received since PC started");
  EXPECT_EQ(trafficStateText(10), "No traffic received in over 60 seconds");
  EXPECT_EQ(trafficStateText(11), "unknown traffic state");
}

}  // namespace
}  // namespace veltris::cli
