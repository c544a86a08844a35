// PDU encoders and decoders against bytes computed by hand from the DCE 1.1
// connection-oriented PDU layouts.
#include <gtest/gtest.h>

#include "platform/rpc/pdu.h"
#include "platform/rpc/status.h"
#include "platform/rpc/tapsor_interface.h"
#include "platform/rpc/tests/rpc_test_support.h"

namespace veltris::rpc {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kTapsorUuidWire = {0x10, 0xbc, 0xbc, 0xca, 0xae, 0xaa, 0xd2, 0x11,
                               0xa9, 0xf7, 0x00, 0x10, 0x4b, 0x7b, 0xab, 0xc3};
const Bytes kNdrUuidWire = {0x04, 0x5d, 0x88, 0x8a, 0xeb, 0x1c, 0xc9, 0x11,
                            0x9f, 0xe8, 0x08, 0x00, 0x2b, 0x10, 0x48, 0x60};

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(Uuid, ParsesIntoWireOrderAndFormatsBack) {
  auto uuid = parseUuid("CABCBC10-aaae-11d2-a9f7-00104b7babc3");
  ASSERT_TRUE(uuid);
  EXPECT_EQ(Bytes(uuid->bytes.begin(), uuid->bytes.end()), kTapsorUuidWire);
  EXPECT_EQ(toString(*uuid), "cabcbc10-aaae-11d2-a9f7-00104b7babc3");
  EXPECT_EQ(Bytes(ndrTransferSyntax().uuid.bytes.begin(), ndrTransferSyntax().uuid.bytes.end()),
            kNdrUuidWire);
  for (const char* bad : {"", "cabcbc10aaae-11d2-a9f7-00104b7babc3x", "cabcbc10-aaae-11d2-a9f7-00104b7babcz",
                          "cabcbc10-aaae-11d2-a9f7-00104b7babc"}) {
    EXPECT_FALSE(parseUuid(bad)) << bad;
  }
}

TEST(Uuid, CompatibilityNeedsSameMajorAndNoNewerMinor) {
  SyntaxId registered = testing::testInterfaceId();  // v1.2
  EXPECT_TRUE(isCompatible(registered, {registered.uuid, 1, 0}));
  EXPECT_TRUE(isCompatible(registered, {registered.uuid, 1, 2}));
  EXPECT_FALSE(isCompatible(registered, {registered.uuid, 1, 3}));
  EXPECT_FALSE(isCompatible(registered, {registered.uuid, 2, 0}));
  EXPECT_FALSE(isCompatible(registered, {ndrTransferSyntax().uuid, 1, 2}));
}

TEST(PduHeader, DecodesEitherIntegerRepresentation) {
  Bytes le = {5, 0, 0, 3, 0x10, 0, 0, 0, 0x48, 0x01, 0x00, 0x00, 0x07, 0, 0, 0};
  auto h = decodeHeader(le);
  ASSERT_TRUE(h);
  EXPECT_TRUE(h->littleEndian());
  EXPECT_EQ(h->fragLength, 0x148);
  EXPECT_EQ(h->callId, 7u);
  Bytes be = {5, 0, 0, 3, 0x00, 0, 0, 0, 0x01, 0x48, 0x00, 0x00, 0, 0, 0, 7};
  h = decodeHeader(be);
  ASSERT_TRUE(h);
  EXPECT_FALSE(h->littleEndian());
  EXPECT_EQ(h->fragLength, 0x148);
  EXPECT_EQ(h->callId, 7u);
  EXPECT_FALSE(decodeHeader(Bytes(15, 0)));
}

TEST(Bind, EncodesTheHandComputedBytes) {
  Bytes pdu = testing::bindPdu(tapsor::interfaceId(), ndrTransferSyntax(), 4280, 4280, 1);
  Bytes expected = concat({{5, 0, 11, 3, 0x10, 0, 0, 0, 72, 0, 0, 0, 1, 0, 0, 0},
                           {0xb8, 0x10, 0xb8, 0x10, 0, 0, 0, 0},
                           {1, 0, 0, 0},
                           {0, 0, 1, 0},
                           kTapsorUuidWire,
                           {1, 0, 0, 0},
                           kNdrUuidWire,
                           {2, 0, 0, 0}});
  EXPECT_EQ(pdu, expected);
  auto bind = decodeBind(pdu);
  ASSERT_TRUE(bind);
  EXPECT_EQ(bind->maxXmitFrag, 4280);
  ASSERT_EQ(bind->contexts.size(), 1u);
  EXPECT_EQ(bind->contexts[0].abstractSyntax, tapsor::interfaceId());
  EXPECT_EQ(bind->contexts[0].transferSyntaxes, std::vector<SyntaxId>{ndrTransferSyntax()});
}

TEST(BindAck, PadsTheSecondaryAddressToFourBytes) {
  BindAckPdu ack{4280, 5840, 0x12345678, "1234",
                 {{context_result::kProviderRejection,
                   provider_reason::kAbstractSyntaxNotSupported, SyntaxId{}}}};
  Bytes pdu;
  encodeBindAck(pdu, PduType::BindAck, 2, ack);
  Bytes expected = concat({{5, 0, 12, 3, 0x10, 0, 0, 0, 60, 0, 0, 0, 2, 0, 0, 0},
                           {0xb8, 0x10, 0xd0, 0x16, 0x78, 0x56, 0x34, 0x12},
                           {5, 0, '1', '2', '3', '4', 0, 0},
                           {1, 0, 0, 0},
                           {2, 0, 1, 0},
                           Bytes(20, 0)});
  EXPECT_EQ(pdu, expected);
  auto decoded = decodeBindAck(pdu);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->secondaryAddress, "1234");
  EXPECT_EQ(decoded->assocGroupId, 0x12345678u);
  ASSERT_EQ(decoded->results.size(), 1u);
  EXPECT_EQ(decoded->results[0].reason, provider_reason::kAbstractSyntaxNotSupported);
}

TEST(BindNak, CarriesReasonAndVersions) {
  Bytes pdu;
  encodeBindNak(pdu, 3, BindNakPdu{reject_reason::kProtocolVersionNotSupported, {{5, 0}}});
  Bytes expected = {5, 0, 13, 3, 0x10, 0, 0, 0, 24, 0, 0, 0, 3, 0, 0, 0,
                    4, 0, 1, 5, 0, 0, 0, 0};
  EXPECT_EQ(pdu, expected);
  auto nak = decodeBindNak(pdu);
  ASSERT_TRUE(nak);
  EXPECT_EQ(nak->reason, reject_reason::kProtocolVersionNotSupported);
  EXPECT_EQ(nak->versions.size(), 1u);
}

TEST(Request, EncodesAndDecodesWithAndWithoutObject) {
  Bytes stub = {1, 2, 3, 4};
  Bytes pdu = testing::requestPdu(7, 1, stub);
  Bytes expected = {5, 0, 0, 3, 0x10, 0, 0, 0, 28, 0, 0, 0, 7, 0, 0, 0,
                    4, 0, 0, 0, 0, 0, 1, 0, 1, 2, 3, 4};
  EXPECT_EQ(pdu, expected);
  auto request = decodeRequest(pdu);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->opnum, 1);
  EXPECT_EQ(Bytes(request->stub.begin(), request->stub.end()), stub);

  Bytes withObject = {5, 0, 0, 0x83, 0x10, 0, 0, 0, 44, 0, 0, 0, 8, 0, 0, 0, 4, 0, 0, 0, 0, 0, 9, 0};
  withObject.insert(withObject.end(), kTapsorUuidWire.begin(), kTapsorUuidWire.end());
  withObject.insert(withObject.end(), stub.begin(), stub.end());
  request = decodeRequest(withObject);
  ASSERT_TRUE(request);
  ASSERT_TRUE(request->object);
  EXPECT_EQ(request->opnum, 9);
  EXPECT_EQ(Bytes(request->stub.begin(), request->stub.end()), stub);
}

TEST(Fault, IsThirtyTwoBytesWithStatusAtTwentyFour) {
  Bytes pdu;
  encodeFault(pdu, 9, 0, fault::kOpRangeError, true);
  Bytes expected = {5, 0, 3, 0x23, 0x10, 0, 0, 0, 32, 0, 0, 0, 9, 0, 0, 0,
                    0, 0, 0, 0, 0, 0, 0, 0, 0x02, 0x00, 0x01, 0x1c, 0, 0, 0, 0};
  EXPECT_EQ(pdu, expected);
  auto decoded = decodeFault(pdu);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->status, fault::kOpRangeError);
  EXPECT_EQ(statusFromFault(decoded->status), status::kProcnumOutOfRange);
}

TEST(Decoders, RejectTruncatedMismatchedAndForeignPdus) {
  Bytes bind = testing::bindPdu(tapsor::interfaceId(), ndrTransferSyntax());
  for (size_t n = 0; n < bind.size(); ++n) {
    EXPECT_FALSE(decodeBind(Bytes(bind.begin(), bind.begin() + static_cast<long>(n)))) << n;
  }
  Bytes longer = bind;
  longer.push_back(0);  // frag_length no longer matches
  EXPECT_FALSE(decodeBind(longer));
  Bytes claimsMoreContexts = bind;
  claimsMoreContexts[24] = 2;
  EXPECT_FALSE(decodeBind(claimsMoreContexts));
  Bytes bigEndian = bind;
  bigEndian[4] = 0x00;
  EXPECT_FALSE(decodeBind(bigEndian));
  EXPECT_FALSE(decodeRequest(bind));  // wrong type
  Bytes authTooLong = testing::requestPdu(1, 0, Bytes(8, 0));
  authTooLong[10] = 200;
  EXPECT_FALSE(decodeRequest(authTooLong));
}

TEST(Fragments, CarryAMultipleOfEightStubBytes) {
  EXPECT_EQ(stubBytesPerFragment(4280), 4256u);
  EXPECT_EQ(stubBytesPerFragment(kMinFragment), 1408u);
  EXPECT_EQ(stubBytesPerFragment(65535), 65504u);
  EXPECT_EQ(stubBytesPerFragment(10), 8u);
}

}  // namespace
}  // namespace veltris::rpc
