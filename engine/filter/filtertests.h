// The eight test callbacks of the message filter (filter/msgfilter.h) and
// the comparisons they share. The interpreter calls a test with the test
// node's values and the filter's tag_FILTER_CTXT as user data; the test
// reads the message through the MIME model and answers S_SIEVE_TRUE,
// S_SIEVE_FALSE or a failure code:
//
//   telsor::CMsgFilter filter;
//   HRESULT hr = filter.SetMessage("/var/mail/msg.eml", nullptr);
//   if (FAILED(hr)) return hr;
//   telsor::CSeekExactStr forty;
//   forty.Compile("40", 1, 0);
//   const telsor::CSeekPattern* keys[] = {&forty, nullptr};
//   const char* names[] = {"X-Level", nullptr};
//   // header :value "gt" :comparator "i;ascii-numeric" "X-Level" "40"
//   hr = telsor::SieveTestHeader(names, keys, COMPARATOR_ASCII_NUMERIC, MATCH_VALUE,
//                                RELATIONAL_GT, filter.GetFilterContext());
//   // S_SIEVE_TRUE for "X-Level: level: 42"
//
// Keys arrive compiled (a null-terminated array of matchers); a matcher may
// hold several keys (the keys of an :is or :contains list share one
// dictionary or multi-word matcher), and the relational comparisons try
// every key of every matcher (GetCount, GetPattern(i)). Other match types
// search each matcher once over the whole value.
//
// Relations hold between the message's value and a key when the comparison
// c (value against key) satisfies lt c < 0, gt c > 0, eq c == 0, ge c >= 0,
// le c <= 0, ne c != 0; any other relation never holds. Comparators:
// "i;octet" compares bytes, "i;ascii-numeric" numbers as unsigned 32-bit
// values (the value's first run of digits; the key read with blanks and a
// sign, so "-1" is 4294967295; a number beyond 32 bits is cut to the
// nearest 32-bit signed limit first), any other comparator compares without
// ASCII case.
//
// Tests on headers parse the header only; body and attachment tests the
// whole message (LoadMessageScope); a parse failure is the test's result.
// The envelope test without an envelope gives E_SIEVE_NO_STRING_TEST_CALLBACK.
// Failures of the message model (unreadable content, memory) leave as the
// engine's exceptions, which the interpreter turns into its result; the raw
// body test alone answers them itself (8 for memory, a code for a code).
#ifndef TELSOR_FILTER_FILTERTESTS_H
#define TELSOR_FILTER_FILTERTESTS_H

#include <stdint.h>

#include "filter/exprtree.h"
#include "filter/msgfilter.h"
#include "filter/sieveinterp.h"
#include "foundation/wintypes.h"
#include "mime/headerfields.h"
#include "mime/messagepart.h"
#include "mime/rfc822address.h"
#include "search/seekpattern.h"

namespace telsor {

// Body transforms of the body test.
const DWORD BODY_TRANSFORM_RAW = 0;    // content as stored
const DWORD BODY_TRANSFORM_TEXT = 1;   // ":text": HTML to clean text, plain text with white space folded

// True when the relation holds for the comparison result c.
bool RelationHolds(RELATIONAL_MATCH_TYPE relation, int c);

// S_SIEVE_TRUE when the relation holds between value and some key.
[[nodiscard]] HRESULT RelationalValueCmp(const char* value, SIEVE_KEYS keys, TYPE_COMPARATOR comparator,
                                         RELATIONAL_MATCH_TYPE relation);
// The same for a count: compared as a decimal text, or as a number with
// "i;ascii-numeric".
[[nodiscard]] HRESULT RelationalCountCmp(ULONG count, SIEVE_KEYS keys, TYPE_COMPARATOR comparator,
                                         RELATIONAL_MATCH_TYPE relation);
// 1 when the address part (:all gives "local@domain", with "unknown-user"
// or "unspecified-domain" for a missing half) matches a key, else 0. With
// :value the part is compared with every key without case.
int CmpAddress(const CRfc822Address* address, ADDRESS_PART part, SIEVE_KEYS keys, MATCH_TYPES matchType,
               RELATIONAL_MATCH_TYPE relation);
// The addresses of every field named name in a name-sorted collection:
// :count counts them against the keys, other match types try CmpAddress
// on each.
[[nodiscard]] HRESULT TestAddressHeader(CRfc822Fields& fields, const char* name, ADDRESS_PART part, SIEVE_KEYS keys,
                                        TYPE_COMPARATOR comparator, MATCH_TYPES matchType,
                                        RELATIONAL_MATCH_TYPE relation);

// The message's whole content searched with the keys.
[[nodiscard]] HRESULT TestRawBody(CRfc822Part* part, SIEVE_KEYS keys, tag_FILTER_CTXT* context);
// Every part below part whose type one of types names ("text" names every
// "text/..." type), searched through CheckBodyData.
[[nodiscard]] HRESULT TestBodyForEachPart(CRfc822Part* part, SIEVE_STRINGS types, SIEVE_KEYS keys,
                                          tag_FILTER_CTXT* context);
// One part's content under the context's current transform (cached per
// part and transform), searched with the keys.
[[nodiscard]] HRESULT CheckBodyData(CRfc822Part* part, const char* type, SIEVE_KEYS keys, tag_FILTER_CTXT* context);
// The file names of the attachments below part; a part not marked as an
// attachment is skipped with everything below it.
[[nodiscard]] HRESULT TestAttachmentForEachPart(CRfc822Part* part, SIEVE_KEYS keys, tag_FILTER_CTXT* context);

// The callbacks (user: the tag_FILTER_CTXT).
[[nodiscard]] HRESULT SieveTestSize(NUMBER_CMP_OPERATOR op, uint64_t limit, void* user);
[[nodiscard]] HRESULT SieveTestAddress(ADDRESS_PART part, SIEVE_STRINGS names, SIEVE_KEYS keys,
                                       TYPE_COMPARATOR comparator, MATCH_TYPES matchType,
                                       RELATIONAL_MATCH_TYPE relation, void* user);
[[nodiscard]] HRESULT SieveTestEnvelope(ADDRESS_PART part, SIEVE_STRINGS names, SIEVE_KEYS keys,
                                        TYPE_COMPARATOR comparator, MATCH_TYPES matchType,
                                        RELATIONAL_MATCH_TYPE relation, void* user);
[[nodiscard]] HRESULT SieveTestHeader(SIEVE_STRINGS names, SIEVE_KEYS keys, TYPE_COMPARATOR comparator,
                                      MATCH_TYPES matchType, RELATIONAL_MATCH_TYPE relation, void* user);
[[nodiscard]] HRESULT SieveTestExists(SIEVE_STRINGS names, void* user);
[[nodiscard]] HRESULT SieveTestBody(DWORD transform, SIEVE_STRINGS contentTypes, SIEVE_KEYS keys, void* user);
[[nodiscard]] HRESULT SieveTestAttachment(SIEVE_KEYS keys, void* user);
[[nodiscard]] HRESULT SieveTestXSpamTest(RELATIONAL_MATCH_TYPE relation, double value, void* user);

}  // namespace telsor

#endif  // TELSOR_FILTER_FILTERTESTS_H
