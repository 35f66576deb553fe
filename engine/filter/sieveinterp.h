// The interpreter context: how a host runs a compiled filter script.
//
// A script never sees the message. Every test and every action goes out
// through a callback that the host puts into tag_SIEVE_INTERP_CTXT:
//
//   struct MyHost { bool discarded; } host = {false};
//   CRfc822Message message;
//   message.Subject() = "cheap pills";
//   PFN_SIEVE_HEADER onHeader = [](SIEVE_STRINGS names, SIEVE_KEYS keys, TYPE_COMPARATOR, MATCH_TYPES,
//                                  RELATIONAL_MATCH_TYPE, void* user) -> HRESULT {
//     // search the message's fields named in names with keys[0], keys[1], ...
//     CRfc822Message& m = *static_cast<CRfc822Message*>(user);
//     for (; *names; ++names) {
//       if (strcasecmp(*names, "Subject") != 0) continue;
//       for (SIEVE_KEYS k = keys; *k; ++k)
//         if ((*k)->Search(m.Subject().c_str(), m.Subject().GetLength(), nullptr) != SEEK_NOT_FOUND)
//           return S_SIEVE_TRUE;
//     }
//     return S_SIEVE_FALSE;
//   };
//   PFN_SIEVE_ACTION onDiscard = [](void* user) -> HRESULT {
//     static_cast<MyHost*>(user)->discarded = true;
//     return S_OK;                             // anything else ends the run
//   };
//   CSieveScript script;
//   HRESULT hr = script.ParseString("if header :contains \"Subject\" \"pills\" { discard; }", nullptr);
//   if (FAILED(hr)) return hr;
//   tag_SIEVE_INTERP_CTXT ctx = {};          // depth 0, every callback null
//   ctx.testUserData = &message;
//   ctx.header = onHeader;
//   ctx.actionUserData = &host;
//   ctx.discard = onDiscard;
//   hr = script.Execute(&ctx);               // CSieveScript, sievescript.h; host.discarded
//
//   tag_SIEVE_INTERP_CTXT ctx = {};          // depth 0, every callback null
//   ctx.testUserData = &message;
//   ctx.header = OnHeader;
//   ctx.actionUserData = &host;
//   ctx.discard = OnDiscard;
//   HRESULT hr = script.Execute(&ctx);       // CSieveScript, sievescript.h
//
// Execute runs in two passes. Pass 1 evaluates the tests for real and only
// collects the actions (reject, redirect, fileinto, discard, keep), refusing
// conflicting ones (E_SIEVE_*_CONFLICT: then nothing at all is performed);
// vacation is called at once. Pass 2 calls the host's action callbacks for
// the collected actions, in order, then the stop callback when the script
// executed "stop". A null callback that the script reaches ends the run
// with E_SIEVE_NO_ACTION_CALLBACK, E_SIEVE_NO_STRING_TEST_CALLBACK or
// E_SIEVE_NO_VALUE_TEST_CALLBACK.
//
// Test callbacks answer S_SIEVE_TRUE, S_SIEVE_FALSE or a failure code;
// action callbacks 0 to go on, anything else ends the run with that code.
// String lists are arrays of texts ending with a null entry and key lists
// arrays of compiled matchers ending with a null entry; either may be null.
// Both belong to the script's tree and are only lent for the call.
//
// Threads: one compiled tree may be run by several threads at once, each
// with its own context (and its own CSieveScript copy). Callbacks run on the
// calling thread.
#ifndef TELSOR_FILTER_SIEVEINTERP_H
#define TELSOR_FILTER_SIEVEINTERP_H

#include <stdint.h>

#include "filter/exprtree.h"
#include "foundation/wintypes.h"
#include "search/seekpattern.h"

typedef const telsor::CSeekPattern* const* SIEVE_KEYS;
typedef const char* const* SIEVE_STRINGS;

// Test callbacks; the last argument is the context's test user data.
typedef HRESULT (*PFN_SIEVE_SIZE)(NUMBER_CMP_OPERATOR op, uint64_t limit, void* user);
typedef HRESULT (*PFN_SIEVE_ADDRESS)(ADDRESS_PART part, SIEVE_STRINGS names, SIEVE_KEYS keys,
                                     TYPE_COMPARATOR comparator, MATCH_TYPES matchType,
                                     RELATIONAL_MATCH_TYPE relational, void* user);
// Envelope: as address, with envelope parts in place of header names.
typedef PFN_SIEVE_ADDRESS PFN_SIEVE_ENVELOPE;
typedef HRESULT (*PFN_SIEVE_HEADER)(SIEVE_STRINGS names, SIEVE_KEYS keys, TYPE_COMPARATOR comparator,
                                    MATCH_TYPES matchType, RELATIONAL_MATCH_TYPE relational, void* user);
typedef HRESULT (*PFN_SIEVE_EXISTS)(SIEVE_STRINGS names, void* user);
// transform: 1 with ":text", else 0.
typedef HRESULT (*PFN_SIEVE_BODY)(DWORD transform, SIEVE_STRINGS contentTypes, SIEVE_KEYS keys, void* user);
typedef HRESULT (*PFN_SIEVE_ATTACHMENT)(SIEVE_KEYS keys, void* user);
// value: CTestXSpamTest::NIL (the largest finite double) stands for "NIL".
typedef HRESULT (*PFN_SIEVE_X_SPAMTEST)(RELATIONAL_MATCH_TYPE op, double value, void* user);

// Action callbacks; the last argument is the context's action user data.
typedef HRESULT (*PFN_SIEVE_REJECT)(const char* reason, void* user);   // reason may be null
typedef HRESULT (*PFN_SIEVE_TARGETS)(SIEVE_STRINGS targets, void* user);   // redirect, fileinto
typedef HRESULT (*PFN_SIEVE_ACTION)(void* user);   // discard, keep, stop (stop's result is ignored)
// addresses null without :addresses; days 0 without :days; mime 1 with
// :mime; subject "" without :subject and null when the command has no tags.
typedef HRESULT (*PFN_SIEVE_VACATION)(SIEVE_STRINGS addresses, uint64_t days, int mime, const char* subject,
                                      const char* reason, void* user);

struct tag_SIEVE_INTERP_CTXT {
  DWORD depth;                  // 0 from the host; command lists and allof/anyof nest it
  const CExprTreeNode* node;    // the test or action node calling its callback
  DWORD line;                   // script line of the node that ran last
  void* testUserData;
  PFN_SIEVE_SIZE size;
  PFN_SIEVE_ADDRESS address;
  PFN_SIEVE_ENVELOPE envelope;
  PFN_SIEVE_HEADER header;
  PFN_SIEVE_EXISTS exists;
  PFN_SIEVE_BODY body;
  PFN_SIEVE_ATTACHMENT attachment;
  PFN_SIEVE_X_SPAMTEST xSpamTest;
  void* actionUserData;
  PFN_SIEVE_REJECT reject;
  PFN_SIEVE_TARGETS redirect;
  PFN_SIEVE_TARGETS fileinto;
  PFN_SIEVE_ACTION discard;
  PFN_SIEVE_ACTION keep;
  PFN_SIEVE_ACTION stop;        // told that the script executed "stop"
  PFN_SIEVE_VACATION vacation;
};

// Command lists and allof/anyof tests entered deeper than this fail with
// E_SIEVE_TOO_DEEP: 128 levels run, the 129th does not.
const DWORD SIEVE_MAX_DEPTH = 127;

#endif  // TELSOR_FILTER_SIEVEINTERP_H
