// Result codes of the filter facility (0x0A), named once.
//
//   CSieveScript script;
//   HRESULT hr = script.ParseString("require \"relational\";", nullptr);
//   if (hr == E_SIEVE_UNSUPPORTED_FEATURE) puts(script.GetErrorDescription());
//
// Filter-script tests answer S_SIEVE_FALSE / S_SIEVE_TRUE, and a stop command
// S_SIEVE_STOP; these are successes (bit 31 clear). The filter also passes on
// the generic codes of foundation/results.h and the matchers' codes of
// search/searchresults.h; a compiled script of another format version gives
// E_RECORD_VERSION (foundation/results.h).
#ifndef TELSOR_FILTER_FILTERRESULTS_H
#define TELSOR_FILTER_FILTERRESULTS_H

#include "foundation/results.h"

// Test and control results.
#define S_SIEVE_FALSE ((int32_t)0x600A0000u)
#define S_SIEVE_TRUE ((int32_t)0x600A0001u)
#define S_SIEVE_STOP ((int32_t)0x600A0002u)

// Parser and compiled script.
#define E_SIEVE_SYNTAX ((int32_t)0xE00A0001u)                 // syntax error without a code of its own
#define E_SIEVE_NO_ACTION_CALLBACK ((int32_t)0xE00A0002u)     // an action's callback is missing
#define E_SIEVE_NO_STRING_TEST_CALLBACK ((int32_t)0xE00A0003u)  // header/address/envelope/exists/body/attachment
#define E_SIEVE_NO_VALUE_TEST_CALLBACK ((int32_t)0xE00A0004u)   // size or x_spamtest callback missing
#define E_SIEVE_TOO_DEEP ((int32_t)0xE00A0005u)               // command lists and tests nested too deep
#define E_SIEVE_OPEN_FAILED ((int32_t)0xE00A0006u)            // catalogue, script or log file: not a regular file, not opened or not read
#define E_SIEVE_UNSUPPORTED_FEATURE ((int32_t)0xE00A0007u)    // require names an unknown capability
#define E_SIEVE_BUILD_REQUIRE ((int32_t)0xE00A0008u)
#define E_SIEVE_BUILD_IF ((int32_t)0xE00A0009u)
#define E_SIEVE_BUILD_ELSIF ((int32_t)0xE00A000Au)
#define E_SIEVE_BUILD_REJECT ((int32_t)0xE00A000Bu)
#define E_SIEVE_BUILD_FILEINTO ((int32_t)0xE00A000Cu)
#define E_SIEVE_BUILD_REDIRECT ((int32_t)0xE00A000Du)
#define E_SIEVE_BUILD_KEEP ((int32_t)0xE00A000Eu)
#define E_SIEVE_BUILD_DISCARD ((int32_t)0xE00A000Fu)
#define E_SIEVE_BUILD_STOP ((int32_t)0xE00A0010u)
#define E_SIEVE_BAD_ADDRESS_TEST ((int32_t)0xE00A0011u)       // the address test refused its arguments
#define E_SIEVE_BAD_ENVELOPE_TEST ((int32_t)0xE00A0012u)
#define E_SIEVE_BAD_HEADER_TEST ((int32_t)0xE00A0013u)
#define E_SIEVE_BAD_BODY_TEST ((int32_t)0xE00A0014u)
#define E_SIEVE_BAD_ATTACHMENT_TEST ((int32_t)0xE00A0015u)
#define E_SIEVE_UNKNOWN_IDENTIFIER ((int32_t)0xE00A0016u)     // a word that is no keyword
#define E_SIEVE_UNKNOWN_TAG ((int32_t)0xE00A0017u)            // a ":tag" that is no tag
#define E_SIEVE_BAD_NODE_TYPE ((int32_t)0xE00A0018u)          // node type code above 35
#define E_SIEVE_EXPECTED_CONTENT_TYPES ((int32_t)0xE00A0019u)
#define E_SIEVE_EXPECTED_PATTERNS ((int32_t)0xE00A001Au)
#define E_SIEVE_EXCEPTION ((int32_t)0xE00A0032u)              // an exception ended the operation
#define E_SIEVE_EXPECTED_NUMBER ((int32_t)0xE00A0033u)        // size without a number or ":over"/":under"
#define E_SIEVE_BAD_RELATIONAL ((int32_t)0xE00A0034u)         // relational name, or :count without a numeric comparator
#define E_SIEVE_BAD_COMPARATOR ((int32_t)0xE00A0035u)
#define E_SIEVE_BUILD_ADDRESS_PART ((int32_t)0xE00A0036u)
#define E_SIEVE_REGEX_BUDGET ((int32_t)0xE00A0037u)           // the script's :regex keys outgrew their shared budget

// Conflicting actions.
#define E_SIEVE_REJECT_CONFLICT ((int32_t)0xE00A0064u)        // reject after fileinto, redirect or keep
#define E_SIEVE_FILEINTO_CONFLICT ((int32_t)0xE00A0065u)      // fileinto after reject
#define E_SIEVE_REDIRECT_CONFLICT ((int32_t)0xE00A0066u)      // redirect after reject
#define E_SIEVE_KEEP_CONFLICT ((int32_t)0xE00A0067u)          // keep after reject

// Compiled-script container (E_RECORD_VERSION, 0xE00A00C9, is in foundation/results.h).
#define E_SIEVE_BAD_MAGIC ((int32_t)0xE00A00C8u)
#define E_SIEVE_BAD_CHECKSUM ((int32_t)0xE00A00CAu)

// Script store.
#define E_SIEVE_SCRIPT_NOT_FOUND ((int32_t)0xE00A03EBu)       // no such script, or its file is missing
#define E_SIEVE_SCRIPT_LOCK ((int32_t)0xE00A03EFu)            // locking the script file failed

#endif  // TELSOR_FILTER_FILTERRESULTS_H
