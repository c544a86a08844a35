// The server's protocol engine fed PDU by PDU: context negotiation, faults,
// fragmentation both ways and the limits.
#include <gtest/gtest.h>

#include "platform/rpc/association.h"
#include "platform/rpc/tests/rpc_test_support.h"

namespace veltris::rpc {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::bindPdu;
using testing::requestPdu;

const SyntaxId kNdr64 = syntaxId("71710533-beba-4937-8319-b5dbef9ccc36", 1, 0);
const SyntaxId kBindTimeFeatures = syntaxId("6cb71c2c-9812-4540-0300-000000000000", 1, 0);
const SyntaxId kUnknown = syntaxId("99999999-8888-7777-6666-555544443333", 1, 0);

class FixedGate : public CallGate {
 public:
  Admission admission = Admission::Admitted;
  int entered = 0;
  int left = 0;
  Admission enter() override {
    if (admission == Admission::Admitted) ++entered;
    return admission;
  }
  void leave() override { ++left; }
};

class AssociationTest : public ::testing::Test {
 protected:
  AssociationTest() { rebuild(); }

  void rebuild() {
    auto iface = std::make_shared<const Interface>(testing::testInterface());
    association_ = std::make_unique<Association>(
        [iface](const SyntaxId& id) {
          return isCompatible(iface->id, id) ? iface : std::shared_ptr<const Interface>{};
        },
        limits_, CallContext{Protseq::Tcp, "4321", 0x7f000001, "127.0.0.1"}, &gate_);
  }

  Verdict feed(const Bytes& pdu) {
    sink_.pdus.clear();
    return association_->receive(pdu, sink_);
  }

  BindAckPdu bindOk(uint16_t maxXmit = 4280, uint16_t maxRecv = 4280) {
    EXPECT_EQ(feed(bindPdu(testing::testInterfaceId(), ndrTransferSyntax(), maxXmit, maxRecv)),
              Verdict::Continue);
    EXPECT_EQ(sink_.pdus.size(), 1u);
    auto ack = decodeBindAck(sink_.pdus.at(0));
    EXPECT_TRUE(ack);
    return ack.value_or(BindAckPdu{});
  }

  FaultPdu onlyFault() {
    EXPECT_EQ(sink_.pdus.size(), 1u);
    auto fault = decodeFault(sink_.pdus.at(0));
    EXPECT_TRUE(fault);
    return fault.value_or(FaultPdu{});
  }

  Bytes reassembled() {
    Bytes all;
    for (const Bytes& pdu : sink_.pdus) {
      auto response = decodeResponse(pdu);
      EXPECT_TRUE(response);
      if (response) all.insert(all.end(), response->stub.begin(), response->stub.end());
    }
    return all;
  }

  Limits limits_;
  FixedGate gate_;
  CollectingSink sink_;
  std::unique_ptr<Association> association_;
};

TEST_F(AssociationTest, BindAcceptsKnownInterfaceAndNegotiatesFragments) {
  BindAckPdu ack = bindOk(4280, 5840);
  ASSERT_EQ(ack.results.size(), 1u);
  EXPECT_EQ(ack.results[0].result, context_result::kAcceptance);
  EXPECT_EQ(ack.results[0].transferSyntax, ndrTransferSyntax());
  EXPECT_EQ(ack.maxXmitFrag, 5840);  // what the client can receive
  EXPECT_EQ(ack.maxRecvFrag, 4280);  // what the client sends
  EXPECT_EQ(ack.secondaryAddress, "4321");
  EXPECT_NE(ack.assocGroupId, 0u);
  EXPECT_EQ(association_->maxIncomingFragment(), 4280u);
}

TEST_F(AssociationTest, FragmentSizesStayBetweenTheMinimumAndOurLimit) {
  limits_.maxFragment = 8192;
  rebuild();
  BindAckPdu ack = bindOk(100, 65535);
  EXPECT_EQ(ack.maxRecvFrag, kMinFragment);
  EXPECT_EQ(ack.maxXmitFrag, 8192);
}

TEST_F(AssociationTest, RejectsUnknownAbstractAndTransferSyntaxPerContext) {
  BindPdu bind{4280, 4280, 0,
               {{0, testing::testInterfaceId(), {kNdr64}},
                {1, testing::testInterfaceId(), {kNdr64, ndrTransferSyntax()}},
                {2, kUnknown, {ndrTransferSyntax()}},
                {3, {testing::testInterfaceId().uuid, 2, 0}, {ndrTransferSyntax()}},
                {4, testing::testInterfaceId(), {kBindTimeFeatures}}}};
  Bytes pdu;
  encodeBind(pdu, PduType::Bind, 1, bind);
  ASSERT_EQ(feed(pdu), Verdict::Continue);
  auto ack = decodeBindAck(sink_.pdus.at(0));
  ASSERT_TRUE(ack);
  ASSERT_EQ(ack->results.size(), 5u);
  EXPECT_EQ(ack->results[0].reason, provider_reason::kTransferSyntaxesNotSupported);
  EXPECT_EQ(ack->results[1].result, context_result::kAcceptance);
  EXPECT_EQ(ack->results[2].reason, provider_reason::kAbstractSyntaxNotSupported);
  EXPECT_EQ(ack->results[3].reason, provider_reason::kAbstractSyntaxNotSupported);
  EXPECT_EQ(ack->results[4].result, context_result::kProviderRejection);
  // Only context 1 can carry calls.
  ASSERT_EQ(feed(requestPdu(2, testing::test_op::kEcho, Bytes{1}, 3, 0)), Verdict::Continue);
  EXPECT_EQ(onlyFault().status, fault::kUnknownInterface);
  ASSERT_EQ(feed(requestPdu(3, testing::test_op::kEcho, Bytes{1}, 3, 1)), Verdict::Continue);
  EXPECT_EQ(reassembled(), Bytes{1});
}

TEST_F(AssociationTest, BindNakForVersionAuthenticationAndRebind) {
  Bytes v4 = bindPdu(testing::testInterfaceId(), ndrTransferSyntax());
  v4[0] = 4;
  EXPECT_EQ(feed(v4), Verdict::Close);
  EXPECT_EQ(decodeBindNak(sink_.pdus.at(0))->reason, reject_reason::kProtocolVersionNotSupported);

  Bytes withAuth = bindPdu(testing::testInterfaceId(), ndrTransferSyntax());
  withAuth[10] = 16;
  EXPECT_EQ(feed(withAuth), Verdict::Close);
  EXPECT_EQ(decodeBindNak(sink_.pdus.at(0))->reason,
            reject_reason::kAuthenticationTypeNotRecognized);

  bindOk();
  EXPECT_EQ(feed(bindPdu(testing::testInterfaceId(), ndrTransferSyntax())), Verdict::Close);
  EXPECT_TRUE(decodeBindNak(sink_.pdus.at(0)));
}

TEST_F(AssociationTest, BigEndianPeersAreTurnedAwayCleanly) {
  Bytes bind = bindPdu(testing::testInterfaceId(), ndrTransferSyntax());
  bind[4] = 0x00;
  std::swap(bind[8], bind[9]);
  EXPECT_EQ(feed(bind), Verdict::Close);
  EXPECT_EQ(decodeBindNak(sink_.pdus.at(0))->reason, reject_reason::kUserDataNotReadable);

  rebuild();
  bindOk();
  Bytes request = requestPdu(5, 0, Bytes(4, 0));
  request[4] = 0x00;
  std::swap(request[8], request[9]);
  EXPECT_EQ(feed(request), Verdict::Close);
  EXPECT_EQ(onlyFault().status, fault::kUnsupportedType);
}

TEST_F(AssociationTest, FaultsKeepTheConnection) {
  EXPECT_EQ(feed(requestPdu(1, 0, Bytes{})), Verdict::Close);  // before any bind
  EXPECT_EQ(onlyFault().status, fault::kProtocolError);
  rebuild();
  bindOk();
  EXPECT_EQ(feed(requestPdu(2, 77, Bytes{})), Verdict::Continue);
  FaultPdu unknownOp = onlyFault();
  EXPECT_EQ(unknownOp.status, fault::kOpRangeError);
  EXPECT_TRUE(sink_.pdus[0][3] & pfc::kDidNotExecute);
  EXPECT_EQ(feed(requestPdu(3, testing::test_op::kBadStub, Bytes{})), Verdict::Continue);
  EXPECT_EQ(onlyFault().status, fault::kNdr);
  EXPECT_FALSE(sink_.pdus[0][3] & pfc::kDidNotExecute);
  EXPECT_EQ(feed(requestPdu(4, testing::test_op::kThrows, Bytes{})), Verdict::Continue);
  EXPECT_EQ(onlyFault().status, fault::kUnspecified);
  EXPECT_EQ(feed(requestPdu(5, testing::test_op::kEcho, Bytes{9, 8})), Verdict::Continue);
  EXPECT_EQ(reassembled(), (Bytes{9, 8}));
  EXPECT_EQ(gate_.entered, gate_.left);
}

TEST_F(AssociationTest, HandlersSeeTheirCallContext) {
  Interface iface{testing::testInterfaceId(), "peer", {}};
  std::string seenPeer;
  iface.operations.push_back({0, "peer",
                              [&](const CallContext&, std::span<const uint8_t>, Bytes&) {
                                seenPeer = currentCallContext()->peer;
                                return 0u;
                              }});
  auto shared = std::make_shared<const Interface>(std::move(iface));
  Association association([&](const SyntaxId&) { return shared; }, limits_,
                          CallContext{Protseq::Tcp, "1", 0, "10.0.0.9"});
  association.receive(bindPdu(testing::testInterfaceId(), ndrTransferSyntax()), sink_);
  association.receive(requestPdu(2, 0, Bytes{}), sink_);
  EXPECT_EQ(seenPeer, "10.0.0.9");
  EXPECT_EQ(currentCallContext(), nullptr);
}

TEST_F(AssociationTest, ReassemblesRequestFragments) {
  bindOk();
  Bytes whole = testing::pattern(3000);
  std::span<const uint8_t> all(whole);
  EXPECT_EQ(feed(requestPdu(9, 0, all.subspan(0, 1000), pfc::kFirstFrag)), Verdict::Continue);
  EXPECT_TRUE(sink_.pdus.empty());
  EXPECT_EQ(feed(requestPdu(9, 0, all.subspan(1000, 1000), 0)), Verdict::Continue);
  EXPECT_EQ(feed(requestPdu(9, 0, all.subspan(2000), pfc::kLastFrag)), Verdict::Continue);
  EXPECT_EQ(reassembled(), whole);
}

TEST_F(AssociationTest, FragmentsTheReplyToTheNegotiatedSize) {
  bindOk(4280, kMinFragment);
  ASSERT_EQ(feed(requestPdu(4, testing::test_op::kSized, testing::sizeStub(10000))),
            Verdict::Continue);
  ASSERT_EQ(sink_.pdus.size(), 8u);  // 1408 stub bytes per fragment
  for (size_t i = 0; i < sink_.pdus.size(); ++i) {
    auto header = decodeHeader(sink_.pdus[i]);
    EXPECT_LE(header->fragLength, kMinFragment);
    EXPECT_EQ((header->flags & pfc::kFirstFrag) != 0, i == 0);
    EXPECT_EQ((header->flags & pfc::kLastFrag) != 0, i == 7);
    EXPECT_EQ(decodeResponse(sink_.pdus[i])->allocHint, 10000 - 1408 * i);
  }
  EXPECT_EQ(reassembled(), testing::pattern(10000));

  ASSERT_EQ(feed(requestPdu(5, testing::test_op::kSized, testing::sizeStub(0))),
            Verdict::Continue);
  ASSERT_EQ(sink_.pdus.size(), 1u);
  EXPECT_EQ(sink_.pdus[0][3], pfc::kFirstFrag | pfc::kLastFrag);
}

TEST_F(AssociationTest, OutOfSequenceFragmentsEndTheConnection) {
  bindOk();
  EXPECT_EQ(feed(requestPdu(1, 0, Bytes(8, 0), pfc::kLastFrag)), Verdict::Close);
  rebuild();
  bindOk();
  EXPECT_EQ(feed(requestPdu(1, 0, Bytes(8, 0), pfc::kFirstFrag)), Verdict::Continue);
  EXPECT_EQ(feed(requestPdu(2, 0, Bytes(8, 0), pfc::kLastFrag)), Verdict::Close);
  rebuild();
  bindOk();
  EXPECT_EQ(feed(requestPdu(1, 0, Bytes(8, 0), pfc::kFirstFrag)), Verdict::Continue);
  EXPECT_EQ(feed(requestPdu(2, 0, Bytes(8, 0), pfc::kFirstFrag)), Verdict::Close);
}

TEST_F(AssociationTest, InboundLimitsFaultAndClose) {
  limits_.maxRequestStub = 1000;
  limits_.maxRequestFragments = 3;
  rebuild();
  bindOk();
  EXPECT_EQ(feed(requestPdu(1, 0, Bytes(800, 0), pfc::kFirstFrag)), Verdict::Continue);
  EXPECT_EQ(feed(requestPdu(1, 0, Bytes(800, 0), pfc::kLastFrag)), Verdict::Close);
  EXPECT_EQ(onlyFault().status, fault::kRemoteNoMemory);

  rebuild();
  bindOk();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(feed(requestPdu(2, 0, Bytes{}, i == 0 ? pfc::kFirstFrag : 0)), Verdict::Continue);
  }
  EXPECT_EQ(feed(requestPdu(2, 0, Bytes{}, 0)), Verdict::Close);
}

TEST_F(AssociationTest, InboundLimitsHoldExactlyAtTheirValue) {
  limits_.maxRequestStub = 1000;
  limits_.maxRequestFragments = 4;
  struct Case {
    std::vector<size_t> fragments;
    bool served;
  };
  const Case cases[] = {
      {{1000}, true},          {{1001}, false},           {{600, 400}, true},
      {{600, 401}, false},     {{250, 250, 250, 250}, true}, {{200, 200, 200, 200, 200}, false},
  };
  for (const Case& c : cases) {
    rebuild();
    bindOk();
    Verdict last = Verdict::Continue;
    for (size_t i = 0; i < c.fragments.size() && last == Verdict::Continue; ++i) {
      uint8_t flags = (i == 0 ? pfc::kFirstFrag : 0) | (i + 1 == c.fragments.size() ? pfc::kLastFrag : 0);
      last = feed(requestPdu(5, testing::test_op::kEcho, Bytes(c.fragments[i], 0x5a), flags));
    }
    SCOPED_TRACE(c.fragments.size());
    if (c.served) {
      EXPECT_EQ(last, Verdict::Continue);
      EXPECT_EQ(reassembled().size(), 1000u);
    } else {
      EXPECT_EQ(last, Verdict::Close);
      EXPECT_EQ(onlyFault().status, fault::kRemoteNoMemory);
    }
  }
}

TEST_F(AssociationTest, OversizedReplyFaultsButKeepsTheConnection) {
  limits_.maxReplyStub = 4096;
  rebuild();
  bindOk();
  EXPECT_EQ(feed(requestPdu(1, testing::test_op::kSized, testing::sizeStub(4097))),
            Verdict::Continue);
  EXPECT_EQ(onlyFault().status, fault::kOutArgsTooBig);
  EXPECT_EQ(feed(requestPdu(2, testing::test_op::kSized, testing::sizeStub(4096))),
            Verdict::Continue);
  EXPECT_EQ(reassembled().size(), 4096u);
}

TEST_F(AssociationTest, GateDecidesBusyAndClosing) {
  bindOk();
  gate_.admission = Admission::Busy;
  EXPECT_EQ(feed(requestPdu(1, 0, Bytes{})), Verdict::Continue);
  EXPECT_EQ(onlyFault().status, fault::kServerTooBusy);
  gate_.admission = Admission::Closing;
  EXPECT_EQ(feed(requestPdu(2, 0, Bytes{})), Verdict::Close);
  EXPECT_TRUE(sink_.pdus.empty());
}

TEST_F(AssociationTest, AlterContextAddsContextsWithinTheLimit) {
  limits_.maxContexts = 2;
  rebuild();
  bindOk();
  BindPdu alter{0, 0, 0,
                {{5, testing::testInterfaceId(), {ndrTransferSyntax()}},
                 {6, testing::testInterfaceId(), {ndrTransferSyntax()}}}};
  Bytes pdu;
  encodeBind(pdu, PduType::AlterContext, 2, alter);
  ASSERT_EQ(feed(pdu), Verdict::Continue);
  EXPECT_EQ(decodeHeader(sink_.pdus.at(0))->type, static_cast<uint8_t>(PduType::AlterContextResp));
  auto response = decodeBindAck(sink_.pdus.at(0));
  ASSERT_TRUE(response);
  EXPECT_EQ(response->results[0].result, context_result::kAcceptance);
  EXPECT_EQ(response->results[1].reason, provider_reason::kLocalLimitExceeded);
  EXPECT_EQ(feed(requestPdu(3, 0, Bytes{7}, 3, 5)), Verdict::Continue);
  EXPECT_EQ(reassembled(), Bytes{7});
}

TEST_F(AssociationTest, OrphanedDropsTheCallAndCancelIsIgnored) {
  bindOk();
  EXPECT_EQ(feed(requestPdu(8, 0, Bytes{1}, pfc::kFirstFrag)), Verdict::Continue);
  Bytes orphaned;
  encodeHeaderOnly(orphaned, PduType::Orphaned, 8);
  EXPECT_EQ(feed(orphaned), Verdict::Continue);
  Bytes cancel;
  encodeHeaderOnly(cancel, PduType::CoCancel, 9);
  EXPECT_EQ(feed(cancel), Verdict::Continue);
  EXPECT_EQ(feed(requestPdu(9, 0, Bytes{2})), Verdict::Continue);
  EXPECT_EQ(reassembled(), Bytes{2});
  Bytes response;
  encodeCallFragment(response, {PduType::Response, 10, 3, 0, 0, 0}, {});
  EXPECT_EQ(feed(response), Verdict::Close);  // not something a client sends
}

TEST(AssociationHold, WhatAHandlerHoldsIsLetGoOnceTheReplyIsOut) {
  CollectingSink sink;
  size_t pdusWhenLetGo = 0;
  int letGo = 0;
  Interface iface = testing::testInterface();
  iface.operations.push_back({7, "hold", [&](const CallContext&, std::span<const uint8_t>, std::vector<uint8_t>& out) {
                                out.assign(10000, 0x33);  // several fragments
                                EXPECT_TRUE(whenReplySent([&] {
                                  ++letGo;
                                  pdusWhenLetGo = sink.pdus.size();
                                }));
                                return 0u;
                              }});
  auto shared = std::make_shared<const Interface>(std::move(iface));
  Association association([shared](const SyntaxId&) { return shared; }, Limits{}, CallContext{});
  ASSERT_EQ(association.receive(bindPdu(testing::testInterfaceId(), ndrTransferSyntax(), 4280, 4280), sink),
            Verdict::Continue);
  sink.pdus.clear();
  ASSERT_EQ(association.receive(requestPdu(2, 7, Bytes{}), sink), Verdict::Continue);
  EXPECT_EQ(letGo, 1);
  EXPECT_EQ(pdusWhenLetGo, sink.pdus.size());
  EXPECT_GT(pdusWhenLetGo, 2u);
  EXPECT_FALSE(whenReplySent([] {}));  // outside a call nothing is kept
}

}  // namespace
}  // namespace veltris::rpc

namespace veltris::rpc {
namespace {

// Every way a connection ends names the PDU and the reason for the server's trace.
TEST_F(AssociationTest, EveryCloseSaysWhichPduAndWhy) {
  Bytes shortLength = bindPdu(testing::testInterfaceId(), ndrTransferSyntax());
  shortLength[8] = 10;
  Bytes v4 = bindPdu(testing::testInterfaceId(), ndrTransferSyntax());
  v4[0] = 4;
  Bytes bigEndian = bindPdu(testing::testInterfaceId(), ndrTransferSyntax());
  bigEndian[4] = 0x00;
  std::swap(bigEndian[8], bigEndian[9]);
  Bytes response = requestPdu(1, 0, Bytes{});
  response[2] = static_cast<uint8_t>(PduType::Response);
  struct Case {
    const char* name;
    bool bound;
    std::vector<Bytes> pdus;  // the last one ends the connection
    const char* pdu;
    const char* reason;
  };
  const Case cases[] = {
      {"length", false, {shortLength}, "bind", "header unreadable or length not the PDU's"},
      {"version", false, {v4}, "bind", "bind_nak sent, reason 4"},
      {"big endian", false, {bigEndian}, "bind", "bind_nak sent, reason 6"},
      {"unbound request", false, {requestPdu(1, 0, Bytes{})}, "request", "fault 0x1c01000b sent"},
      {"server's PDU", true, {response}, "response", "not a PDU a client sends"},
      {"stray fragment", true, {requestPdu(1, 0, Bytes(8, 0), pfc::kLastFrag)}, "request",
       "fragment of no call in progress"},
      {"overlap", true,
       {requestPdu(1, 0, Bytes(8, 0), pfc::kFirstFrag), requestPdu(2, 0, Bytes(8, 0), pfc::kFirstFrag)},
       "request", "a call is still being received"},
  };
  for (const Case& c : cases) {
    rebuild();
    if (c.bound) bindOk();
    for (size_t i = 0; i + 1 < c.pdus.size(); ++i) ASSERT_EQ(feed(c.pdus[i]), Verdict::Continue) << c.name;
    ASSERT_EQ(feed(c.pdus.back()), Verdict::Close) << c.name;
    EXPECT_STREQ(association_->closeReason().pdu, c.pdu) << c.name;
    EXPECT_EQ(association_->closeReason().reason, c.reason) << c.name;
  }
}

}  // namespace
}  // namespace veltris::rpc
