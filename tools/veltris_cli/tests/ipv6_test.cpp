// IPv6 end to end: the real agent replays IPv6 traffic and veltris-cli asks it
// for the decoded frames over IPv6 loopback ("--computer [::1]"). One capture
// is a golden file; the other is made here by real programs (ping -6, a TCP
// connection, a DNS AAAA query to a small resolver) in two network namespaces,
// which needs root and is skipped otherwise.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <thread>

#include "tests/support/agent_harness.h"

namespace veltris::cli::testing {
namespace {

using namespace std::chrono_literals;

constexpr char kKey[] = "Sesame16";

// The resolver: answers AAAA questions for names under "example.test" with
// 2001:db8:25::80 and everything else with "not found"; a TCP listener on
// 40080 reads a line and closes. Ends by itself after 20 seconds.
constexpr const char* kServer = R"PY(
import select, socket, sys, time
address = sys.argv[1]
udp = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
udp.bind((address, 53))
tcp = socket.socket(socket.AF_INET6)
tcp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
tcp.bind((address, 40080))
tcp.listen(4)
open(sys.argv[2], "w").close()
end = time.time() + 20
while time.time() < end:
    ready, _, _ = select.select([udp, tcp], [], [], 0.2)
    for s in ready:
        if s is udp:
            query, peer = udp.recvfrom(512)
            at = 12
            while at < len(query) and query[at]:
                at += query[at] + 1
            question = query[12:at + 5]
            found = b"\x07example\x04test\x00" in question and query[at + 1:at + 3] == b"\x00\x1c"
            answer = b"\xc0\x0c\x00\x1c\x00\x01\x00\x00\x00\x3c\x00\x10" + socket.inet_pton(socket.AF_INET6, "2001:db8:25::80")
            flags = bytes([0x81, 0x80 if found else 0x83])
            counts = b"\x00\x01" + (b"\x00\x01" if found else b"\x00\x00") + bytes(4)
            udp.sendto(query[:2] + flags + counts + question + (answer if found else b""), peer)
        else:
            conn, _ = tcp.accept()
            conn.recv(100)
            conn.close()
)PY";

// Runs under `timeout`; the trap removes both namespaces and stops the
// background programs whatever happens. Exit 2: no IPv6 between them.
constexpr const char* kScenario = R"SH(
set -u
DIR=$1; A=v6cli$$a; B=v6cli$$b; IA=v6c$$a; IB=v6c$$b
cleanup() {
  [ -n "${TD:-}" ] && kill "$TD" 2>/dev/null
  [ -n "${SRV:-}" ] && kill "$SRV" 2>/dev/null
  ip netns del "$A" 2>/dev/null; ip netns del "$B" 2>/dev/null
}
trap cleanup EXIT
trap 'exit 1' INT TERM
ip netns add "$A" && ip netns add "$B" || exit 1
ip link add "$IA" netns "$A" address 02:00:00:00:25:01 type veth peer name "$IB" netns "$B" address 02:00:00:00:25:02 || exit 1
ip -n "$A" addr add 2001:db8:25::1/64 dev "$IA" nodad || exit 2
ip -n "$B" addr add 2001:db8:25::2/64 dev "$IB" nodad || exit 2
for n in "$A" "$B"; do ip -n "$n" link set lo up; done
ip -n "$A" link set "$IA" up; ip -n "$B" link set "$IB" up
ip netns exec "$B" /usr/bin/python3 "$DIR/server.py" 2001:db8:25::2 "$DIR/ready" & SRV=$!
ip netns exec "$A" tcpdump -i "$IA" -s 256 -U -n --immediate-mode -w "$DIR/live.pcap" 2>"$DIR/tcpdump.log" & TD=$!
for i in $(seq 50); do
  [ -e "$DIR/ready" ] && grep -q listening "$DIR/tcpdump.log" && break
  sleep 0.1
done
ip netns exec "$A" ping -6 -c 2 -i 0.2 -W 1 2001:db8:25::2 >/dev/null || exit 2
ip netns exec "$A" /usr/bin/python3 - <<'PYEND'
import socket
def query(name, ident):
    q = ident.to_bytes(2, "big") + b"\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00"
    q += b"".join(bytes([len(p)]) + p.encode() for p in name.split(".")) + b"\x00\x00\x1c\x00\x01"
    s = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
    s.settimeout(2)
    s.sendto(q, ("2001:db8:25::2", 53))
    s.recv(512)
query("server.example.test", 1)
query("nowhere.example.org", 2)
c = socket.create_connection(("2001:db8:25::2", 40080), timeout=2)
c.sendall(b"hello\n")
c.recv(10)
c.close()
PYEND
sleep 0.5
kill -INT "$TD"; wait "$TD"; TD=
)SH";

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The frame count of tcpdump's closing line "N packets captured".
size_t capturedFrames(const std::string& log) {
  size_t at = log.find(" packets captured");
  if (at == std::string::npos) return 0;
  size_t start = log.rfind('\n', at);
  start = start == std::string::npos ? 0 : start + 1;
  return std::stoul(log.substr(start, at - start));
}

class Ipv6AgainstAgent : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!havePython()) GTEST_SKIP() << "no /usr/bin/python3 to read the JSON with";
    root_.setOpenKey(kKey);
  }

  // Starts the agent on `capture` as the station `station`; true once it has
  // replayed `frames` frames.
  bool startAgent(const std::string& capture, const std::string& station, size_t frames) {
    epmPort_ = freeTcpPort();
    agent_.start(root_.path(), {capture + "@" + station}, {"VELTRIS_EPM_PORT=" + std::to_string(epmPort_)});
    return agent_.waitForOutput("replayed: " + std::to_string(frames) + " frames", 60s) &&
           agent_.waitForOutput("To Terminate", 30s);
  }

  ProgramResult cli(const std::string& computer, std::vector<std::string> args) {
    args.insert(args.begin(), {VELTRIS_CLI_PATH, "--computer", computer, "--key", kKey});
    return runProgram(args, {"VELTRIS_ROOT=" + root_.path().string(), "VELTRIS_EPM_PORT=" + std::to_string(epmPort_)});
  }

  // Every frame as "destination | description | protocol" lines, asked over ::1.
  std::string decodedOverIpv6(std::string& error) {
    // The agent prints its last start-up line just before it listens: on a
    // loaded machine the first call can come in between.
    ProgramResult result = cli("[::1]", {"--json", "DETAILS", "0"});
    for (int retry = 0; retry < 20 && result.exitCode != 0 && result.err.find("1722") != std::string::npos; ++retry) {
      std::this_thread::sleep_for(250ms);
      result = cli("[::1]", {"--json", "DETAILS", "0"});
    }
    error = result.err;
    if (result.exitCode != 0) return {};
    return evalJson(result.out,
                    "'\\n'.join(r['destination'] + ' | ' + r['description'] + ' | ' + r['protocol'] "
                    "for r in docs[0]['records'][1:])");
  }

  TempRoot root_;
  AgentProcess agent_;
  uint16_t epmPort_ = 0;
};

TEST_F(Ipv6AgainstAgent, GoldenCaptureOverIpv6Loopback) {
  ASSERT_TRUE(startAgent(std::string(GOLDEN_DIR) + "/ipv6_transport.pcap", "00:a0:24:11:22:33", 24)) << agent_.output();
  std::string error;
  std::string lines = decodedOverIpv6(error);
  ASSERT_FALSE(lines.empty()) << error;
  for (const char* expected : {"2001:db8::7 | TCP/https 50000 Ack=0 Seq=12345 DataLen=0     SYN | TCP/IPv6 https",
                               "Query Question=www.example.com Type=AAAA | Domain Name Server Query",
                               "ff02::fb | UDP/mdns Reply okay Answer=printer.local Type=AAAA | Multicast DNS Reply",
                               "Solicit xid=1A2B3C | DHCPv6 Solicit"}) {
    EXPECT_TRUE(contains(lines, expected)) << expected << "\n" << lines;
  }
  // The table shows each text whole.
  for (const char* computer : {"::1", "[0:0:0:0:0:0:0:1]"}) {
    ProgramResult table = cli(computer, {"DETAILS", "0"});
    ASSERT_EQ(table.exitCode, 0) << computer << ": " << table.err;
    EXPECT_TRUE(contains(table.out, "Packet details (24 packets)\n")) << table.out;
    EXPECT_TRUE(contains(table.out, " Relay-forward Hops=1 Peer=fe80::5 ")) << table.out;
    EXPECT_TRUE(contains(table.out, "  2001:db8::547\n")) << table.out;
  }
}

TEST_F(Ipv6AgainstAgent, RealProgramsInTwoNamespaces) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for network namespaces";
  for (const char* tool : {"/usr/bin/tcpdump", "/usr/bin/timeout", "/usr/bin/ping"}) {
    if (access(tool, X_OK) != 0) GTEST_SKIP() << tool << " missing";
  }
  const fs::path dir = root_.path() / "live";
  fs::create_directories(dir);
  std::ofstream(dir / "server.py") << kServer;
  std::ofstream(dir / "scenario.sh") << kScenario;
  ProgramResult made = runProgram({"/usr/bin/timeout", "60", "bash", (dir / "scenario.sh").string(), dir.string()}, {});
  std::ifstream tcpdumpLog(dir / "tcpdump.log");
  std::string log = made.out + made.err + std::string(std::istreambuf_iterator<char>(tcpdumpLog), {});
  if (made.exitCode == 2) GTEST_SKIP() << "no IPv6 between namespaces here: " << log;
  ASSERT_EQ(made.exitCode, 0) << log;
  size_t frames = capturedFrames(log);
  ASSERT_GE(frames, 12u) << log;

  ASSERT_TRUE(startAgent((dir / "live.pcap").string(), "02:00:00:00:25:01", frames)) << agent_.output();
  std::string error;
  std::string lines = decodedOverIpv6(error);
  ASSERT_FALSE(lines.empty()) << error;
  for (const char* expected : {"2001:db8:25::2 | ICMPv6 PING | ICMPv6 PING",
                               "2001:db8:25::1 | ICMPv6 PING Reply | ICMPv6 PING Reply",
                               "ICMPv6 Neighbor Solicitation, Target=2001:db8:25::",
                               "ICMPv6 Neighbor Advertisement, Target=2001:db8:25::",
                               "2001:db8:25::2 | UDP/domain ",
                               " Query Question=server.example.test Type=AAAA | Domain Name Server Query",
                               " Reply okay Question=server.example.test Type=AAAA | Domain Name Server Reply",
                               " Reply NOT-FOUND Question=nowhere.example.org Type=AAAA",
                               "2001:db8:25::2 | TCP/40080 ", " SYN | TCP/IPv6", " ACK SYN | TCP/IPv6",
                               " FIN | TCP/IPv6"}) {
    EXPECT_TRUE(contains(lines, expected)) << expected << "\n" << lines;
  }
  EXPECT_FALSE(contains(lines, "TYPE 86DD")) << lines;
}

}  // namespace
}  // namespace veltris::cli::testing
