#pragma once
// Our decoder against tshark: tshark's fields for the frames of a capture
// file, and the comparison of every field that both report.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "agent/decode/tests/test_frames.h"

namespace veltris::agent::decode::test {

constexpr const char* kTshark = "/usr/bin/tshark";

// The tshark fields compared, in the order of the columns.
inline const std::vector<std::string> kFields = {
    "eth.dst",          "ip.dst",           "ip.id",          "ip.flags.mf",         "ip.frag_offset",
    "tcp.srcport",      "tcp.dstport",      "tcp.seq_raw",    "tcp.ack_raw",         "tcp.flags",
    "tcp.len",          "smb.cmd",          "udp.srcport",    "udp.dstport",         "dns.flags.response",
    "dns.flags.rcode",  "dns.qry.name",     "nbns.name",      "nbdgm.source_name",   "nbdgm.destination_name",
    "arp.opcode",       "arp.src.proto_ipv4", "arp.dst.proto_ipv4", "icmp.type",      "icmp.code",
    "ipx.dst.net",      "ipx.dst.node",     "ipx.dst.socket", "ipx.src.socket",      "ipxsap.packet_type",
    "netbios.command",  "netbios.nb_name",  "llc.dsap",       "llc.ssap",
};

inline std::string run(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  *status = pclose(pipe);
  return out;
}

using Fields = std::map<std::string, std::vector<std::string>>;

// tshark's fields per frame; each field may occur several times.
inline std::vector<Fields> dissect(const std::string& pcap) {
  std::string command = std::string(kTshark) + " -r " + pcap + " -T fields -E separator=/t -E occurrence=a -E aggregator=,";
  for (const std::string& field : kFields) command += " -e " + field;
  int status = 0;
  std::istringstream lines(run(command + " 2>/dev/null", &status));
  std::vector<Fields> frames;
  std::string line;
  while (std::getline(lines, line)) {
    Fields fields;
    std::istringstream columns(line);
    std::string column;
    for (const std::string& field : kFields) {
      if (!std::getline(columns, column, '\t')) column.clear();
      std::istringstream values(column);
      std::string value;
      while (std::getline(values, value, ',')) fields[field].push_back(value);
    }
    frames.push_back(std::move(fields));
  }
  return frames;
}

inline std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}
inline std::string withoutColons(std::string s) { return std::regex_replace(s, std::regex(":"), ""); }
inline unsigned long number(const std::string& s) { return std::stoul(s, nullptr, 0); }

class Comparison {
 public:
  Comparison(const Fields& theirs, const Decoded& ours, size_t frame) : theirs_(theirs), ours_(ours), frame_(frame) {}

  const std::string* their(const std::string& field, size_t occurrence = 0) const {
    auto it = theirs_.find(field);
    return it != theirs_.end() && it->second.size() > occurrence ? &it->second[occurrence] : nullptr;
  }
  void expect(const std::string& what, const std::string& ourValue, const std::string& theirValue) {
    EXPECT_EQ(ourValue, theirValue) << "frame " << frame_ << " " << what << "\n  description: " << ours_.description
                                    << "\n  protocol: " << ours_.protocol;
    ++checks;
  }
  std::smatch match(const std::string& pattern) const {
    std::smatch m;
    std::regex_search(ours_.description, m, std::regex(pattern));
    return m;
  }
  std::string where() const { return "frame " + std::to_string(frame_) + ": " + ours_.description; }
  int checks = 0;

 private:
  const Fields& theirs_;
  const Decoded& ours_;
  size_t frame_;
};

inline std::string portNumber(const std::string& text) { return text == "www-http" ? "80" : text; }

inline void compareTcp(Comparison& c) {
  if (c.their("tcp.srcport") == nullptr || c.their("icmp.type") != nullptr) return;
  std::smatch m = c.match(R"(^TCP/(\d+|www-http)(?: (\d+|www-http))? Ack=(\d+) Seq=(\d+) DataLen=(\d+)( *?)((?: (?:URG|ACK|PSH|RST|SYN|FIN))*)(?: FRAGMENTED|$))");
  ASSERT_FALSE(m.empty()) << c.where();
  std::string destination = portNumber(m[1]);
  c.expect("tcp.dstport", destination, *c.their("tcp.dstport"));
  c.expect("tcp.srcport", m[2].matched ? portNumber(m[2]) : destination, *c.their("tcp.srcport"));
  c.expect("tcp.ack", m[3], *c.their("tcp.ack_raw"));
  c.expect("tcp.seq", m[4], *c.their("tcp.seq_raw"));
  c.expect("tcp.len", m[5], *c.their("tcp.len"));
  c.expect("data length column", std::to_string(m[5].length() + m[6].length()),
           std::to_string(std::max<size_t>(5, m[5].length())));
  unsigned long flags = number(*c.their("tcp.flags"));
  std::string theirFlags;
  const std::pair<unsigned, const char*> names[] = {{0x20, " URG"}, {0x10, " ACK"}, {0x08, " PSH"},
                                                     {0x04, " RST"}, {0x02, " SYN"}, {0x01, " FIN"}};
  for (const auto& [bit, name] : names) {
    if (flags & bit) theirFlags += name;
  }
  c.expect("tcp.flags", m[7], theirFlags);
}

inline void compareUdp(Comparison& c) {
  if (c.their("udp.srcport") == nullptr || c.their("icmp.type") != nullptr) return;
  std::smatch m = c.match(R"(^UDP/(\d+|www-http)(?: (\d+|www-http))?(?: |$))");
  ASSERT_FALSE(m.empty()) << c.where();
  std::string destination = portNumber(m[1]);
  c.expect("udp.dstport", destination, *c.their("udp.dstport"));
  c.expect("udp.srcport", m[2].matched ? portNumber(m[2]) : destination, *c.their("udp.srcport"));
}

inline void compareDns(Comparison& c) {
  if (c.their("dns.flags.response") == nullptr) return;
  bool response = *c.their("dns.flags.response") == "1" || *c.their("dns.flags.response") == "True";
  std::smatch m = c.match(R"( (Query|Reply okay|Reply NOT-FOUND) Question=(\S*))");
  ASSERT_FALSE(m.empty()) << c.where();
  std::string expected = !response ? "Query" : (number(*c.their("dns.flags.rcode")) & 3) ? "Reply NOT-FOUND" : "Reply okay";
  c.expect("dns.flags", m[1], expected);
  c.expect("dns.qry.name", m[2], *c.their("dns.qry.name"));
}

inline void compareNetbiosNames(Comparison& c) {
  if (const std::string* name = c.their("nbns.name")) {
    c.expect("nbns.name", upper(c.match(R"(QuestionName=(\S+))")[1]), upper(*name));
  }
  if (const std::string* name = c.their("nbdgm.source_name")) {
    c.expect("nbdgm.source_name", upper(c.match(R"( Src=(\S+))")[1]), upper(*name));
  }
  if (const std::string* name = c.their("nbdgm.destination_name")) {
    c.expect("nbdgm.destination_name", upper(c.match(R"( Dest=(\S+))")[1]), upper(*name));
  }
  if (const std::string* name = c.their("netbios.nb_name")) {
    std::smatch m = c.match(R"(^NetBEUI ([A-Za-z ]*?)(?: Dest=(\w+)<..>)?(?: Src=(\w+)<..>)?$)");
    ASSERT_FALSE(m.empty()) << c.where();
    c.expect("netbios.nb_name", *name == m[2].str() || *name == m[3].str() ? *name : m[0].str(), *name);
    const std::map<unsigned long, std::string> commands = {{0x0A, "Name Query"}, {0x01, "Add Name Query"}};
    c.expect("netbios.command", m[1], commands.at(number(*c.their("netbios.command"))));
  }
}

inline void compareArp(Comparison& c) {
  if (c.their("arp.opcode") == nullptr) return;
  std::smatch m = c.match(R"(^(ARP Request|ARP Reply), Target=([\d.]+), Sender=([\d.]+)$)");
  ASSERT_FALSE(m.empty()) << c.where();
  c.expect("arp.opcode", m[1], *c.their("arp.opcode") == "1" ? "ARP Request" : "ARP Reply");
  c.expect("arp.dst.proto_ipv4", m[2], *c.their("arp.dst.proto_ipv4"));
  c.expect("arp.src.proto_ipv4", m[3], *c.their("arp.src.proto_ipv4"));
}

inline void compareIcmp(Comparison& c, const Decoded& ours) {
  const std::string* type = c.their("icmp.type");
  if (type == nullptr) return;
  const std::map<std::string, std::string> starts = {
      {"8", "ICMP PING"}, {"0", "ICMP PING Reply"}, {"3", "ICMP "}, {"11", "ICMP Time Exceeded for Dest="}};
  if (auto start = starts.find(*type); start != starts.end()) {
    c.expect("icmp.type", ours.description.substr(0, start->second.size()), start->second);
  }
  if (const std::string* quoted = c.their("ip.dst", 1)) {
    c.expect("quoted ip.dst", c.match(R"((?:Target|Dest)=([\d.]+))")[1], *quoted);
  }
  if (*type == "3" && *c.their("icmp.code") == "3") {
    c.expect("quoted udp.dstport", c.match(R"(ICMP Port '(\d+)' Unreachable)")[1], *c.their("udp.dstport"));
  }
}

inline void compareIpx(Comparison& c, const Decoded& ours) {
  if (c.their("ipx.dst.socket") == nullptr) return;
  char net[16];
  std::snprintf(net, sizeof net, "%08lX", number(*c.their("ipx.dst.net")));
  c.expect("ipx.dst", ours.destination, std::string(net) + ":" + upper(withoutColons(*c.their("ipx.dst.node"))));
  if (const std::string* sap = c.their("ipxsap.packet_type")) {
    const std::map<std::string, std::string> operations = {{"1", "SAP General Service Query"},
                                                           {"3", "SAP Nearest Service Query"}};
    c.expect("ipxsap.packet_type", ours.protocol, "IPX " + operations.at(*sap) + " (NetWare)");
    return;
  }
  std::smatch m = c.match(R"(DestSocket=(\d+) SrcSocket=(\d+))");
  ASSERT_FALSE(m.empty()) << c.where();
  c.expect("ipx.dst.socket", m[1], std::to_string(number(*c.their("ipx.dst.socket"))));
  c.expect("ipx.src.socket", m[2], std::to_string(number(*c.their("ipx.src.socket"))));
}

inline void compareLinkAndIp(Comparison& c, const Decoded& ours) {
  if (const std::string* ip = c.their("ip.dst")) {
    c.expect("ip.dst", ours.destination, *ip);
    unsigned long offset = number(*c.their("ip.frag_offset"));
    char id[8];
    std::snprintf(id, sizeof id, "%04lX", number(*c.their("ip.id")));
    if (offset != 0) c.expect("ip.frag_offset", ours.description, "TCP FragmentOffset=" + std::to_string(offset * 8) + " id=" + id);
    bool more = *c.their("ip.flags.mf") == "1" || *c.their("ip.flags.mf") == "True";
    if (more) c.expect("ip.flags.mf", c.match(R"( FRAGMENTED id=(\w+))")[1], id);
  } else if (c.their("ipx.dst.socket") == nullptr) {
    c.expect("eth.dst", ours.destination, upper(withoutColons(*c.their("eth.dst"))));
  }
  if (const std::string* dsap = c.their("llc.dsap"); dsap != nullptr && ours.description.find("LLC ") != std::string::npos) {
    char saps[8];
    std::snprintf(saps, sizeof saps, "%02lX/%02lX", number(*dsap), number(*c.their("llc.ssap")));
    c.expect("llc.sap", c.match(R"(LLC (\w\w/\w\w))")[1], saps);
  }
  if (const std::string* command = c.their("smb.cmd")) {
    const std::map<unsigned long, std::string> names = {{0x72, " Negotiate"}, {0x73, " Session setup"}};
    const std::string& name = names.at(number(*command));
    size_t at = ours.protocol.size() >= name.size() ? ours.protocol.size() - name.size() : 0;
    c.expect("smb.cmd", ours.protocol.substr(at), name);
  }
}

// Decodes every frame with numbered ports and compares it with tshark's
// dissection; answers the number of fields compared.
inline int compareWithTshark(const std::vector<std::vector<uint8_t>>& frames, const std::vector<Fields>& dissected,
                             std::vector<Decoded>* decoded = nullptr) {
  static const PortNames noNames{std::span<const PortNames::Entry>()};
  DecodeContext context;
  context.portNames = &noNames;
  int checks = 0;
  for (size_t i = 0; i < frames.size() && i < dissected.size(); ++i) {
    Frame frame;
    for (uint8_t b : frames[i]) frame.u8(b);
    Decoded ours = decode(frame, context);
    Comparison c(dissected[i], ours, i + 1);
    compareLinkAndIp(c, ours);
    compareTcp(c);
    compareUdp(c);
    compareDns(c);
    compareNetbiosNames(c);
    compareArp(c);
    compareIcmp(c, ours);
    compareIpx(c, ours);
    EXPECT_GE(c.checks, 1) << "frame " << i + 1 << " compared nothing";
    checks += c.checks;
    if (decoded != nullptr) decoded->push_back(std::move(ours));
  }
  return checks;
}

}  // namespace veltris::agent::decode::test
