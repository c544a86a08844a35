// NDR stubs: protocol towers, the endpoint mapper's calls and the agent
// interface's RequestRpc / PingRpc, against hand-computed bytes.
#include <gtest/gtest.h>

#include "platform/rpc/epm_stubs.h"
#include "platform/rpc/tapsor_interface.h"
#include "platform/rpc/tower.h"

namespace veltris::rpc {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes syntaxFloor(const SyntaxId& id) {
  Bytes floor = {19, 0, 0x0d};
  floor.insert(floor.end(), id.uuid.bytes.begin(), id.uuid.bytes.end());
  Bytes rest = {static_cast<uint8_t>(id.major), 0, 2, 0, static_cast<uint8_t>(id.minor), 0};
  floor.insert(floor.end(), rest.begin(), rest.end());
  return floor;
}

Bytes tcpTower() {
  Bytes tower = {5, 0};
  for (const Bytes& part :
       {syntaxFloor(tapsor::interfaceId()), syntaxFloor(ndrTransferSyntax()),
        Bytes{1, 0, 0x0b, 2, 0, 0, 0}, Bytes{1, 0, 0x07, 2, 0, 0x12, 0x34},
        Bytes{1, 0, 0x09, 4, 0, 127, 0, 0, 1}}) {
    tower.insert(tower.end(), part.begin(), part.end());
  }
  return tower;
}

TEST(Tower, TcpTowerHasFiveFloorsWithBigEndianPortAndAddress) {
  Bytes tower = encodeTower(tapsor::interfaceId(), {Protseq::Tcp, 0x7f000001, "4660"});
  EXPECT_EQ(tower, tcpTower());
  EXPECT_EQ(tower.size(), 75u);
  auto decoded = decodeTower(tower);
  ASSERT_TRUE(decoded && decoded->address);
  EXPECT_EQ(decoded->iface, tapsor::interfaceId());
  EXPECT_EQ(decoded->transfer, ndrTransferSyntax());
  EXPECT_EQ(decoded->address->endpoint, "4660");
  EXPECT_EQ(decoded->address->ipv4, 0x7f000001u);
}

TEST(Tower, LocalTowerNamesTheEndpoint) {
  Bytes tower = encodeTower(tapsor::interfaceId(), {Protseq::Local, 0, "LRPC-1"});
  EXPECT_EQ(tower[0], 4);
  EXPECT_EQ(Bytes(tower.end() - 12, tower.end()),
            (Bytes{1, 0, 0x10, 7, 0, 'L', 'R', 'P', 'C', '-', '1', 0}));
  auto decoded = decodeTower(tower);
  ASSERT_TRUE(decoded && decoded->address);
  EXPECT_EQ(decoded->address->protseq, Protseq::Local);
  EXPECT_EQ(decoded->address->endpoint, "LRPC-1");
}

TEST(Tower, RejectsShortOrInconsistentTowers) {
  Bytes tower = tcpTower();
  for (size_t n = 0; n < tower.size(); ++n) {
    auto decoded = decodeTower(Bytes(tower.begin(), tower.begin() + static_cast<long>(n)));
    EXPECT_TRUE(!decoded || !decoded->address) << n;
  }
  Bytes tooManyFloors = tower;
  tooManyFloors[0] = 200;
  EXPECT_FALSE(decodeTower(tooManyFloors));
  Bytes spx = tower;
  spx[2 + 25 + 25 + 2] = 0x0c;  // floor 3 says LRPC, floor 4 is a TCP port
  auto decoded = decodeTower(spx);
  ASSERT_TRUE(decoded);
  EXPECT_FALSE(decoded->address);
}

TEST(EptMap, RequestMatchesWhatWindowsClientsSend) {
  EptMapRequest request;
  request.object = Uuid{};
  request.tower = tcpTower();
  request.maxTowers = 1;
  Bytes stub;
  encodeEptMapRequest(request, stub);
  Bytes expected = {1, 0, 0, 0};
  expected.resize(20, 0);
  Bytes counts = {2, 0, 0, 0, 75, 0, 0, 0, 75, 0, 0, 0};
  expected.insert(expected.end(), counts.begin(), counts.end());
  expected.insert(expected.end(), request.tower->begin(), request.tower->end());
  expected.push_back(0);                 // align to 4
  expected.resize(expected.size() + 20);  // null context handle
  expected.insert(expected.end(), {1, 0, 0, 0});
  EXPECT_EQ(stub, expected);
  EptMapRequest decoded;
  ASSERT_TRUE(decodeEptMapRequest(stub, decoded));
  EXPECT_EQ(decoded.tower, request.tower);
  EXPECT_EQ(decoded.maxTowers, 1u);
  EXPECT_FALSE(decodeEptMapRequest(Bytes(stub.begin(), stub.end() - 1), decoded));
  Bytes lying = stub;
  lying[24] = 76;  // conformance count differs from tower_length
  EXPECT_FALSE(decodeEptMapRequest(lying, decoded));
}

TEST(EptMap, ResponseRoundTripsAndChecksCounts) {
  EptMapResponse response;
  response.maxTowers = 4;
  response.towers = {tcpTower(), encodeTower(tapsor::interfaceId(), {Protseq::Local, 0, "x"})};
  Bytes stub;
  encodeEptMapResponse(response, stub);
  EXPECT_EQ(Bytes(stub.begin() + 20, stub.begin() + 36),
            (Bytes{2, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0}));
  EptMapResponse decoded;
  ASSERT_TRUE(decodeEptMapResponse(stub, decoded));
  EXPECT_EQ(decoded.towers, response.towers);
  EXPECT_EQ(decoded.status, 0u);
  Bytes actualAboveMax = stub;
  actualAboveMax[24] = 1;  // max count 1 < actual count 2
  EXPECT_FALSE(decodeEptMapResponse(actualAboveMax, decoded));
}

TEST(EptLookup, RequestAndResponseRoundTrip) {
  EptLookupRequest request{1, std::nullopt, tapsor::interfaceId(), 2, {}, 500};
  Bytes stub;
  encodeEptLookupRequest(request, stub);
  EXPECT_EQ(stub.size(), 4u + 4 + 4 + 20 + 4 + 20 + 4);
  EptLookupRequest decodedRequest;
  ASSERT_TRUE(decodeEptLookupRequest(stub, decodedRequest));
  EXPECT_EQ(decodedRequest.ifId, request.ifId);
  EXPECT_FALSE(decodedRequest.object);

  EptLookupResponse response;
  response.maxEntries = 500;
  response.entries = {{Uuid{}, tcpTower(), "VELTRIS agent"}, {Uuid{}, tcpTower(), ""}};
  Bytes out;
  encodeEptLookupResponse(response, out);
  // first entry: object, tower referent, annotation offset 0 / count 14 / text
  EXPECT_EQ(Bytes(out.begin() + 52, out.begin() + 64),
            (Bytes{0, 0, 2, 0, 0, 0, 0, 0, 14, 0, 0, 0}));
  EptLookupResponse decoded;
  ASSERT_TRUE(decodeEptLookupResponse(out, decoded));
  ASSERT_EQ(decoded.entries.size(), 2u);
  EXPECT_EQ(decoded.entries[0].annotation, "VELTRIS agent");
  EXPECT_EQ(decoded.entries[1].tower, tcpTower());
}

TEST(RequestRpc, InStubIsExactlyKeyThenRequest) {
  tapsor::RequestRpcIn in;
  in.accessKey[0] = 'K';
  in.request[0] = 'T';
  in.request[255] = 0x7f;
  Bytes stub = tapsor::encodeRequestRpcIn(in);
  ASSERT_EQ(stub.size(), 272u);
  EXPECT_EQ(stub[0], 'K');
  EXPECT_EQ(stub[16], 'T');
  EXPECT_EQ(stub[271], 0x7f);
  tapsor::RequestRpcIn decoded;
  EXPECT_TRUE(tapsor::decodeRequestRpcIn(stub, decoded));
  EXPECT_EQ(decoded.request, in.request);
  EXPECT_FALSE(tapsor::decodeRequestRpcIn(Bytes(271, 0), decoded));
  EXPECT_FALSE(tapsor::decodeRequestRpcIn(Bytes(273, 0), decoded));
}

TEST(RequestRpc, OutStubPadsTheReplyBeforeLengthAndStatus) {
  Bytes reply = {'A', 'B', 'C', 'D', 'E'};
  Bytes stub;
  tapsor::encodeRequestRpcOut(reply, false, 0, stub);
  Bytes expected = {0, 0, 2, 0, 5, 0, 0, 0, 'A', 'B', 'C', 'D', 'E', 0, 0, 0,
                    5, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(stub, expected);
  tapsor::RequestRpcOut out;
  ASSERT_TRUE(tapsor::decodeRequestRpcOut(stub, out));
  EXPECT_FALSE(out.nullReply);
  EXPECT_EQ(out.reply, reply);
  EXPECT_EQ(out.replyLength, 5);

  Bytes refused;
  tapsor::encodeRequestRpcOut({}, true, tapsor::kKeyMismatch, refused);
  EXPECT_EQ(refused, (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0xfe, 0xff, 0xff, 0xff}));
  ASSERT_TRUE(tapsor::decodeRequestRpcOut(refused, out));
  EXPECT_TRUE(out.nullReply);
  EXPECT_EQ(out.status, -2);
}

TEST(RequestRpc, OutStubDecoderRejectsInconsistentCounts) {
  Bytes stub;
  tapsor::encodeRequestRpcOut(Bytes(8, 'x'), false, 0, stub);
  tapsor::RequestRpcOut out;
  Bytes countTooBig = stub;
  countTooBig[4] = 0xff;
  EXPECT_FALSE(tapsor::decodeRequestRpcOut(countTooBig, out));
  Bytes lengthDiffers = stub;
  lengthDiffers[16] = 7;
  EXPECT_FALSE(tapsor::decodeRequestRpcOut(lengthDiffers, out));
  Bytes trailing = stub;
  trailing.push_back(0);
  EXPECT_FALSE(tapsor::decodeRequestRpcOut(trailing, out));
  EXPECT_FALSE(tapsor::decodeRequestRpcOut(Bytes(stub.begin(), stub.end() - 1), out));
  int32_t status = 1;
  EXPECT_TRUE(tapsor::decodePingRpcOut(Bytes{0, 0, 0, 0}, status));
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(tapsor::decodePingRpcOut(Bytes{0, 0, 0}, status));
}

}  // namespace
}  // namespace veltris::rpc
