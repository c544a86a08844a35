// Real traffic: two network namespaces joined by a veth pair exchange ARP,
// ping, DNS (a tiny server answering "okay" and "not found") and TCP to an
// open and a closed port; tcpdump records it, and our decoder must agree with
// tshark on every field both report. Needs root; skips otherwise.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "agent/decode/tests/pcap_reader.h"
#include "agent/decode/tests/tshark_compare.h"

namespace veltris::agent::decode::test {
namespace {

// The server side: DNS on port 53 (names with "nowhere" are not found) and
// a TCP listener on 8080; it ends by itself after 20 seconds.
constexpr const char* kServer = R"PY(
import select, socket, sys, time
address = sys.argv[1]
udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
udp.bind((address, 53))
tcp = socket.socket()
tcp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
tcp.bind((address, 8080))
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
            rcode = 3 if b"nowhere" in query else 0
            udp.sendto(query[:2] + bytes([0x81, 0x80 | rcode]) + query[4:6] + bytes(6) + query[12:at + 5], peer)
        else:
            conn, _ = tcp.accept()
            conn.recv(100)
            conn.close()
)PY";

// Runs under `timeout`; the trap removes both namespaces (and so the veth
// pair) and stops the background processes whatever happens.
constexpr const char* kScenario = R"SH(
set -u
DIR=$1; A=vdec$$a; B=vdec$$b; IA=vd$$a; IB=vd$$b
cleanup() {
  [ -n "${TD:-}" ] && kill "$TD" 2>/dev/null
  [ -n "${SRV:-}" ] && kill "$SRV" 2>/dev/null
  ip netns del "$A" 2>/dev/null; ip netns del "$B" 2>/dev/null
}
trap cleanup EXIT
trap 'exit 1' INT TERM
ip netns add "$A" && ip netns add "$B" || exit 1
ip link add "$IA" netns "$A" type veth peer name "$IB" netns "$B" || exit 1
for n in "$A" "$B"; do ip netns exec "$n" sysctl -qw net.ipv6.conf.all.disable_ipv6=1; done
ip -n "$A" addr add 10.201.7.1/24 dev "$IA"; ip -n "$A" link set "$IA" up
ip -n "$B" addr add 10.201.7.2/24 dev "$IB"; ip -n "$B" link set "$IB" up
ip netns exec "$B" /usr/bin/python3 "$DIR/server.py" 10.201.7.2 "$DIR/ready" & SRV=$!
ip netns exec "$A" tcpdump -i "$IA" -s 256 -U -n --immediate-mode -w "$DIR/live.pcap" 2>"$DIR/tcpdump.log" & TD=$!
for i in $(seq 50); do
  [ -e "$DIR/ready" ] && grep -q listening "$DIR/tcpdump.log" && break
  sleep 0.1
done
ip netns exec "$A" ping -c 2 -i 0.2 -W 1 10.201.7.2 >/dev/null
ip netns exec "$A" /usr/bin/python3 - <<'EOF'
import socket
def query(name, ident):
    q = ident.to_bytes(2, "big") + b"\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00"
    q += b"".join(bytes([len(p)]) + p.encode() for p in name.split(".")) + b"\x00\x00\x01\x00\x01"
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.settimeout(2)
    s.sendto(q, ("10.201.7.2", 53))
    s.recv(512)
query("www.example.com", 1)
query("nowhere.example.org", 2)
for port in (8080, 9):
    c = socket.socket()
    c.settimeout(2)
    try:
        c.connect(("10.201.7.2", port))
        c.sendall(b"hello")
        c.recv(10)
    except OSError:
        pass
    c.close()
EOF
sleep 0.5
kill -INT "$TD"; wait "$TD"; TD=
)SH";

TEST(LiveCapture, RealTrafficAgreesWithTshark) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for network namespaces";
  for (const char* tool : {"/usr/bin/python3", kTshark, "/usr/bin/tcpdump", "/usr/bin/timeout"}) {
    if (access(tool, X_OK) != 0) GTEST_SKIP() << tool << " missing";
  }
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("decode_live_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "server.py") << kServer;
  std::ofstream(dir / "scenario.sh") << kScenario;
  int status = 0;
  std::string log = run("timeout 60 bash " + (dir / "scenario.sh").string() + " " + dir.string() + " 2>&1", &status);
  std::vector<std::vector<uint8_t>> frames = readPcap((dir / "live.pcap").string());
  std::vector<Fields> dissected = dissect((dir / "live.pcap").string());
  std::ifstream tcpdumpLog(dir / "tcpdump.log");
  log += std::string(std::istreambuf_iterator<char>(tcpdumpLog), {});
  std::filesystem::remove_all(dir);
  ASSERT_EQ(status, 0) << log;
  ASSERT_GE(frames.size(), 10u) << log;
  ASSERT_EQ(dissected.size(), frames.size());

  std::vector<Decoded> decoded;
  int checks = compareWithTshark(frames, dissected, &decoded);
  std::printf("compared %d fields of %zu captured frames with tshark\n", checks, frames.size());

  auto seen = [&decoded](const std::string& text) {
    return std::any_of(decoded.begin(), decoded.end(), [&text](const Decoded& d) {
      return d.description.find(text) != std::string::npos;
    });
  };
  for (const char* expected : {"ARP Request, Target=10.201.7.2, Sender=10.201.7.1", "ARP Reply", "ICMP PING",
                               "ICMP PING Reply", "UDP/53", "Query Question=www.example.com",
                               "Reply okay Question=www.example.com", "Reply NOT-FOUND Question=nowhere.example.org",
                               "TCP/8080", " SYN", " RST", " FIN"}) {
    EXPECT_TRUE(seen(expected)) << "no frame with " << expected;
  }
}

}  // namespace
}  // namespace veltris::agent::decode::test
