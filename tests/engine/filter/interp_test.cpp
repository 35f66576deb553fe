// Running compiled scripts against a recording host: which callbacks are
// called, with what, in which order, and what the run returns.
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fakehost.h"
#include "treebuild.h"

using telsor::CSieveScript;

namespace {

struct Scenario {
  const char* script;
  unsigned missing;       // CFakeHost::NO_* bits
  const char* calls;      // the host's calls, in order
  HRESULT result;
};

const HRESULT kThrown = CFakeHost::kThrownCode;

const Scenario kScenarios[] = {
    // Actions are collected, then performed in order.
    {"keep;", 0, "keep", S_OK},
    {"keep; keep;", 0, "keep", S_OK},
    {"discard; discard;", 0, "discard", S_OK},
    {"fileinto \"a\"; fileinto \"a\"; redirect [\"x@y\", \"z@w\"];", 0,
     "fileinto([a]) fileinto([a]) redirect([x@y,z@w])", S_OK},
    {"reject \"r\"; discard;", 0, "reject(r) discard", S_OK},
    {"discard; reject \"r\";", 0, "discard reject(r)", S_OK},
    {"reject \"r\"; reject \"s\";", 0, "reject(r)", S_OK},
    {"", 0, "", S_OK},
    // Conflicts: nothing at all is performed.
    {"reject \"r\"; fileinto \"INBOX\";", 0, "", E_SIEVE_FILEINTO_CONFLICT},
    {"fileinto \"INBOX\"; reject \"r\";", 0, "", E_SIEVE_REJECT_CONFLICT},
    {"redirect \"a@b\"; reject \"r\";", 0, "", E_SIEVE_REJECT_CONFLICT},
    {"keep; reject \"r\";", 0, "", E_SIEVE_REJECT_CONFLICT},
    {"reject \"r\"; redirect \"a@b\";", 0, "", E_SIEVE_REDIRECT_CONFLICT},
    {"reject \"r\"; keep;", 0, "", E_SIEVE_KEEP_CONFLICT},
    {"discard; reject \"r\"; keep;", 0, "", E_SIEVE_KEEP_CONFLICT},
    // Vacation runs in pass 1, before every collected action.
    {"keep; vacation :days 3 \"away\";", 0, "vacation(null,3,0,,away) keep", S_OK},
    {"vacation \"away\";", 0, "vacation(null,0,0,null,away)", S_OK},
    {"vacation :days 5 :subject \"S\" :addresses [\"a@b\",\"c@d\"] :mime \"R\";", 0,
     "vacation([a@b,c@d],5,1,S,R)", S_OK},
    {"keep; vacation \"fail\"; discard;", 0, "vacation(null,0,0,null,fail)", E_FAIL},
    {"vacation \"away\";", CFakeHost::NO_VACATION, "", E_SIEVE_NO_ACTION_CALLBACK},
    // Stop: the stop callback comes after the actions, with the stop's line.
    {"keep;\nstop;\ndiscard;", 0, "keep stop@2", S_OK},
    {"if true {\n  keep;\n  stop;\n}\ndiscard;", 0, "keep stop@3", S_OK},
    {"stop;", CFakeHost::NO_STOP, "", S_OK},
    {"fileinto \"fail\";\nkeep;\nstop;", 0, "fileinto([fail]) stop@3", E_FAIL},
    // Missing callbacks.
    {"keep;", CFakeHost::NO_KEEP, "", E_SIEVE_NO_ACTION_CALLBACK},
    {"discard; keep;", CFakeHost::NO_DISCARD, "", E_SIEVE_NO_ACTION_CALLBACK},
    {"keep; fileinto \"f\";", CFakeHost::NO_FILEINTO, "keep", E_SIEVE_NO_ACTION_CALLBACK},
    {"reject \"r\";", CFakeHost::NO_REJECT, "", E_SIEVE_NO_ACTION_CALLBACK},
    {"redirect \"a\";", CFakeHost::NO_REDIRECT, "", E_SIEVE_NO_ACTION_CALLBACK},
    {"if header :is \"X\" \"yes\" {keep;}", CFakeHost::NO_HEADER, "", E_SIEVE_NO_STRING_TEST_CALLBACK},
    {"if address \"From\" \"yes\" {keep;}", CFakeHost::NO_ADDRESS, "", E_SIEVE_NO_STRING_TEST_CALLBACK},
    {"if envelope \"to\" \"yes\" {keep;}", CFakeHost::NO_ENVELOPE, "", E_SIEVE_NO_STRING_TEST_CALLBACK},
    {"if exists \"yes\" {keep;}", CFakeHost::NO_EXISTS, "", E_SIEVE_NO_STRING_TEST_CALLBACK},
    {"if body :text \"yes\" {keep;}", CFakeHost::NO_BODY, "", E_SIEVE_NO_STRING_TEST_CALLBACK},
    {"if attachment \"yes\" {keep;}", CFakeHost::NO_ATTACHMENT, "", E_SIEVE_NO_STRING_TEST_CALLBACK},
    {"keep; if size :over 1 {keep;}", CFakeHost::NO_SIZE, "", E_SIEVE_NO_VALUE_TEST_CALLBACK},
    {"if x_spamtest :value \"gt\" \"0.5\" {keep;}", CFakeHost::NO_XSPAMTEST, "", E_SIEVE_NO_VALUE_TEST_CALLBACK},
    // Each test is asked once, in pass 1, with the node's fields.
    {"if header :is \"A\" \"no\" {keep;} elsif header :contains \"B\" \"yes\" {fileinto \"f\";} else {discard;}", 0,
     "header([A],[no],1,1,0) header([B],[yes],1,2,0) fileinto([f])", S_OK},
    {"if header :is \"A\" \"no\" {keep;} elsif header :is \"B\" \"no\" {keep;} else {discard;}", 0,
     "header([A],[no],1,1,0) header([B],[no],1,1,0) discard", S_OK},
    {"if true {keep;} else {discard;}", 0, "keep", S_OK},
    {"if allof(exists \"yes\", exists \"no\", exists \"yes\") {keep;}", 0, "exists([yes]) exists([no])", S_OK},
    {"if anyof(exists \"no\", exists \"yes\", exists \"no\") {keep;}", 0, "exists([no]) exists([yes]) keep", S_OK},
    {"if allof(exists \"yes\", exists \"0x80000008\", exists \"yes\") {keep;} keep;", 0,
     "exists([yes]) exists([0x80000008])", E_FAIL},
    {"if not exists \"0x80000008\" {keep;} keep;", 0, "exists([0x80000008])", E_FAIL},
    {"if not true {keep;} if not false {discard;}", 0, "discard", S_OK},
    {"if exists \"0x600A0002\" {keep;} discard;", 0, "exists([0x600A0002]) stop@1", S_OK},
    {"if address :domain :contains :comparator \"i;octet\" [\"From\",\"Sender\"] \"yes\" {keep;}", 0,
     "address(3,[From,Sender],[yes],2,2,0) keep", S_OK},
    {"if envelope :localpart :count \"ge\" :comparator \"i;ascii-numeric\" \"from\" [\"2\"] {keep;}", 0,
     "envelope(2,[Return-path],[2],3,5,4)", S_OK},
    {"if header :value \"lt\" \"X\" [\"yes\", \"b\"] {keep;}", 0, "header([X],[yes,b],1,6,1) keep", S_OK},
    {"if size :over 1K {keep;} if size :under 3 {discard;}", 0, "size(2,1024) size(1,3) discard", S_OK},
    {"if x_spamtest :value \"gt\" \"0.5\" {keep;}", 0, "x_spamtest(2,0.5) keep", S_OK},
    {"if body :text :contains \"yes\" {keep;} if body :raw :content \"text/html\" \"no\" {discard;}", 0,
     "body(1,[text],[yes]) body(0,[text/html],[no]) keep", S_OK},
    {"if attachment :is \"yes\" {keep;}", 0, "attachment([yes]) keep", S_OK},
    // Exceptions out of a callback in pass 1.
    {"keep; if exists \"throw-code\" {discard;}", 0, "exists([throw-code])", kThrown},
    {"keep; if exists \"throw-engine\" {discard;}", 0, "exists([throw-engine])", E_SIEVE_EXCEPTION},
    {"keep; if exists \"throw-std\" {discard;}", 0, "exists([throw-std])", E_SIEVE_EXCEPTION},
    // Pass 2 stops at the first failing action.
    {"fileinto \"fail\"; keep;", 0, "fileinto([fail])", E_FAIL},
    {"redirect \"a\"; fileinto \"fail\"; discard;", 0, "redirect([a]) fileinto([fail])", E_FAIL},
};

TEST(SieveInterpreter, Scenarios) {
  for (const Scenario& s : kScenarios) {
    SCOPED_TRACE(s.script);
    CSieveScript script;
    ASSERT_EQ(script.ParseString(s.script, nullptr), S_OK) << script.GetErrorDescription();
    CFakeHost host(s.missing);
    EXPECT_EQ(host.Run(script), s.result);
    EXPECT_EQ(host.Calls(), s.calls);
  }
}

// Every field but node and line holds the caller's values after a run,
// whatever the outcome.
TEST(SieveInterpreter, ContextComesBackAsTheCallerLeftIt) {
  const char* scripts[] = {"keep; vacation \"v\"; if exists \"yes\" {stop;}", "reject \"r\"; keep;",
                           "if exists \"throw-engine\" {keep;}", "fileinto \"fail\";"};
  for (const char* text : scripts) {
    SCOPED_TRACE(text);
    CSieveScript script;
    ASSERT_EQ(script.ParseString(text, nullptr), S_OK);
    CFakeHost host;
    tag_SIEVE_INTERP_CTXT before = host.ctx;
    host.Run(script);
    tag_SIEVE_INTERP_CTXT after = host.ctx;
    after.node = before.node;
    after.line = before.line;
    EXPECT_EQ(memcmp(&before, &after, sizeof before), 0);
  }
}

TEST(SieveInterpreter, EmptyScriptTouchesNothing) {
  CSieveScript script;
  CFakeHost host;
  host.ctx.line = 77;
  host.ctx.depth = 5;
  EXPECT_EQ(host.Run(script), S_OK);
  EXPECT_EQ(host.ctx.line, 77u);
  EXPECT_EQ(host.ctx.depth, 5u);
  EXPECT_EQ(host.Calls(), "");
}

// A callback sees the node that called it and its line.
TEST(SieveInterpreter, CallbacksSeeTheirNodeAndLine) {
  CSieveScript script;
  ASSERT_EQ(script.ParseString("keep;\n\nif header :is \"H\" \"yes\"\n{ discard; }", nullptr), S_OK);
  static std::vector<std::pair<DWORD, DWORD>> seen;   // (line, type) per call
  seen.clear();
  struct Probe {
    static HRESULT Header(SIEVE_STRINGS, SIEVE_KEYS, TYPE_COMPARATOR, MATCH_TYPES, RELATIONAL_MATCH_TYPE, void* u) {
      auto* ctx = static_cast<tag_SIEVE_INTERP_CTXT*>(u);
      seen.push_back({ctx->line, ctx->node->m_nType});
      return S_SIEVE_TRUE;
    }
    static HRESULT Action(void* u) {
      auto* ctx = static_cast<tag_SIEVE_INTERP_CTXT*>(u);
      seen.push_back({ctx->line, ctx->node->m_nType});
      return S_OK;
    }
  };
  tag_SIEVE_INTERP_CTXT ctx = {};
  ctx.testUserData = &ctx;
  ctx.actionUserData = &ctx;
  ctx.header = Probe::Header;
  ctx.keep = Probe::Action;
  ctx.discard = Probe::Action;
  ASSERT_EQ(script.Execute(&ctx), S_OK);
  std::vector<std::pair<DWORD, DWORD>> expected = {
      {3, CExprTreeNode::NODE_HEADER}, {1, CExprTreeNode::NODE_KEEP}, {4, CExprTreeNode::NODE_DISCARD}};
  EXPECT_EQ(seen, expected);
}

// Pass 2 and the stop callback run the host's own code outside the
// interpreter's care: what they throw reaches the caller, and the collected
// actions are still released (the sanitizer build sees a leak otherwise).
TEST(SieveInterpreter, ExceptionsOfPassTwoReachTheCaller) {
  struct Throwing {
    static HRESULT Keep(void*) { throw std::runtime_error("keep"); }
    static HRESULT Stop(void*) { telsor::ThrowCode(0xE00A0077u); }
  };
  CSieveScript script;
  ASSERT_EQ(script.ParseString("fileinto \"f\"; keep; stop;", nullptr), S_OK);
  CFakeHost host;
  host.ctx.keep = Throwing::Keep;
  EXPECT_THROW(host.Run(script), std::runtime_error);
  EXPECT_EQ(host.Calls(), "fileinto([f])");
  CFakeHost other;
  other.ctx.stop = Throwing::Stop;
  EXPECT_THROW(other.Run(script), DWORD);
  EXPECT_EQ(other.Calls(), "fileinto([f]) keep");
}

// ---- trees the grammar does not build

// n nested allof tests around a true test, in one if.
CSharedObjPtr<CListCommands> NestedAllof(int n) {
  CSharedObjPtr<CTest> test = new CTestBoolean(1);
  for (int i = 0; i < n; ++i) {
    CSharedObjPtr<CListTest> list = new CListTest;
    list->AddTail(test);
    test = new CMultiTest(LOGIC_ALLOF, list);
  }
  CSharedObjPtr<CListCommands> block = new CListCommands;
  block->AddTail(new CCmdKEEP);
  CSharedObjPtr<CListCommands> root = new CListCommands;
  root->AddTail(new CCtrlIF(test, block, nullptr));
  return root;
}

// n command lists, each the only command of the one around it.
CSharedObjPtr<CListCommands> NestedLists(int n) {
  CSharedObjPtr<CListCommands> inner = new CListCommands;
  inner->AddTail(new CCmdKEEP);
  for (int i = 1; i < n; ++i) {
    CSharedObjPtr<CListCommands> outer = new CListCommands;
    outer->AddTail(inner);
    inner = outer;
  }
  return inner;
}

// Runs a root the way Execute runs a script's root in pass 1.
HRESULT RunRoot(CExprTreeNode* root, CFakeHost& host) { return root->Execute(&host.ctx); }

TEST(SieveInterpreter, DepthLimitIs128Levels) {
  // The root list is level 1, the allof tests the levels below it; the
  // block runs after them, at level 2.
  for (int allofs : {127, 128}) {
    CFakeHost host;
    host.ctx.keep = nullptr;   // reaching the keep shows every level ran
    EXPECT_EQ(RunRoot(NestedAllof(allofs), host), allofs == 127 ? E_SIEVE_NO_ACTION_CALLBACK : E_SIEVE_TOO_DEEP)
        << allofs;
    EXPECT_EQ(host.ctx.depth, 0u);
  }
  for (int lists : {128, 129}) {
    CFakeHost host;
    host.ctx.keep = nullptr;
    EXPECT_EQ(RunRoot(NestedLists(lists), host), lists == 128 ? E_SIEVE_NO_ACTION_CALLBACK : E_SIEVE_TOO_DEEP)
        << lists;
    EXPECT_EQ(host.ctx.depth, 0u);
  }
}

TEST(SieveInterpreter, AllofWithoutListRunsNeitherBranch) {
  CSharedObjPtr<CListCommands> root = new CListCommands;
  CSharedObjPtr<CListCommands> yes = new CListCommands;
  yes->AddTail(new CCmdDISCARD);
  CSharedObjPtr<CListCommands> no = new CListCommands;
  no->AddTail(new CCmdDISCARD);
  root->AddTail(new CCtrlIF(new CMultiTest(LOGIC_ALLOF, nullptr), yes, new CCtrlELSIF(nullptr, no, nullptr)));
  root->AddTail(new CCmdKEEP);
  CFakeHost host;
  EXPECT_EQ(RunRoot(root, host), S_OK);
  EXPECT_EQ(host.Calls(), "keep");

  CSharedObjPtr<CMultiTest> empty = new CMultiTest(LOGIC_ANYOF, new CListTest);
  EXPECT_EQ(empty->Execute(&host.ctx), E_POINTER);
  CSharedObjPtr<CTestNOT> bare = new CTestNOT(nullptr);
  EXPECT_EQ(bare->Execute(&host.ctx), E_POINTER);
}

TEST(SieveInterpreter, ActionsWithoutTheirOptionalParts) {
  CFakeHost host;
  CSharedObjPtr<CCmdREJECT> reject = new CCmdREJECT(nullptr);
  EXPECT_EQ(reject->Execute(&host.ctx), S_OK);
  CSharedObjPtr<CCmdVACATION> vacation = new CCmdVACATION(nullptr, nullptr);
  EXPECT_EQ(vacation->Execute(&host.ctx), S_OK);
  CSharedObjPtr<CCmdFILEINTO> fileinto = new CCmdFILEINTO(nullptr);
  EXPECT_EQ(fileinto->Execute(&host.ctx), S_OK);
  EXPECT_EQ(host.Calls(), "reject(null) vacation(null,0,0,null,null) fileinto(null)");
}

}  // namespace
