// The message filter's test callbacks: size, address, envelope, header,
// exists, body, attachment and x_spamtest, and the comparisons they share.
#include "filter/filtertests.h"

#include <float.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "foundation/errorroad.h"
#include "foundation/tstring.h"
#include "mime/html2cleantext.h"
#include "mime/message.h"
#include "mime/rfc2047text.h"

namespace telsor {

namespace {

HRESULT Verdict(bool holds) { return holds ? S_SIEVE_TRUE : S_SIEVE_FALSE; }

tag_FILTER_CTXT* ContextOf(void* user) { return static_cast<tag_FILTER_CTXT*>(user); }

// Calls fn(text) for every key text of every matcher, in order, until fn
// returns true; true when one did. A matcher without a text counts as one
// empty key.
template <class Fn>
bool AnyKeyText(SIEVE_KEYS keys, Fn&& fn) {
  if (keys == nullptr) return false;
  for (SIEVE_KEYS key = keys; *key != nullptr; ++key) {
    DWORD count = (*key)->GetCount();
    if (count == 0) count = 1;
    for (DWORD i = 0; i < count; ++i) {
      const char* text = (*key)->GetPattern(static_cast<LONG>(i));
      if (fn(text != nullptr ? text : "")) return true;
    }
  }
  return false;
}

// True when some matcher finds a hit in the text: NUL-terminated when
// length is 0, else length bytes (which may hold NUL bytes).
bool SearchAnyKey(SIEVE_KEYS keys, const char* text, DWORD length) {
  if (keys == nullptr) return false;
  if (text == nullptr) text = "";
  for (SIEVE_KEYS key = keys; *key != nullptr; ++key) {
    DWORD matched = 0;
    if ((*key)->Search(text, length, &matched) != SEEK_NOT_FOUND) return true;
  }
  return false;
}

// A decimal number cut to the 32-bit signed range, as an unsigned 32-bit value.
DWORD ClampToDword(long long n) {
  if (n > INT32_MAX) n = INT32_MAX;
  if (n < INT32_MIN) n = INT32_MIN;
  return static_cast<DWORD>(static_cast<int32_t>(n));
}

// A value's number: its first run of digits (0 without one).
DWORD ValueNumber(const char* value) {
  while (*value != '\0' && (*value < '0' || *value > '9')) ++value;
  long long n = 0;
  for (; *value >= '0' && *value <= '9'; ++value) {
    n = n * 10 + (*value - '0');
    if (n > INT32_MAX) n = INT32_MAX;   // stays there for any more digits
  }
  return ClampToDword(n);
}

// A key's number: blanks and a sign allowed (0 without digits).
DWORD KeyNumber(const char* key) { return ClampToDword(strtoll(key, nullptr, 10)); }

int CompareDwords(DWORD a, DWORD b) { return a < b ? -1 : (a > b ? 1 : 0); }

// text/plain under ":text": each run of white space before a non-blank
// becomes one space; white space at the end goes.
bool IsWhite(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

void FoldWhiteSpace(TSTRING& text) {
  int length = text.GetLength();
  char* p = text.GetBuffer(length);
  int out = 0;
  bool pending = false;
  for (int i = 0; i < length; ++i) {
    if (IsWhite(p[i])) {
      pending = true;
      continue;
    }
    if (pending) p[out++] = ' ';
    pending = false;
    p[out++] = p[i];
  }
  text.ReleaseBuffer(out);
}

// Whether a listed content type selects a part's type: a full type equals
// it, a bare type ("text") is a prefix of it; both without case.
bool TypeSelects(const char* listed, const char* type) {
  if (strchr(listed, '/') != nullptr) return strcasecmp(listed, type) == 0;
  return strncasecmp(type, listed, strlen(listed)) == 0;
}

// The Subject of the message, RFC 2047 words decoded, made once per binding.
const char* DecodedSubject(tag_FILTER_CTXT* context) {
  if (context->GetSubject() == nullptr) {
    TSTRING subject = context->GetMessage()->Subject();
    int open = subject.Find("=?");
    if (open >= 0 && subject.Find("?=", open + 2) >= 0) {
      CRfc2047Text words(subject);
      words.Parse();
      subject = words.GetDecodedText();
    }
    WithMemoryException([&] { context->PutSubject(subject.c_str()); });
  }
  return context->GetSubject();
}

// Runs fn(field) for the field at first and each following one of the same
// name in a name-sorted collection, until fn returns true.
template <class Fn>
bool AnyFieldNamed(CRfc822Fields& fields, LONG first, Fn&& fn) {
  const char* name = fields[first].GetName().c_str();
  LONG count = static_cast<LONG>(fields.GetCount());
  for (LONG i = first; i < count; ++i) {
    CRfc822Field& field = fields[i];
    if (i != first && strcasecmp(field.GetName().c_str(), name) != 0) break;
    if (fn(field)) return true;
  }
  return false;
}

// The parts below part; a failure code of the list is returned in err.
CRfc822Parts* ChildrenOf(CRfc822Part* part, HRESULT& err) {
  DWORD code = 0;
  CRfc822Parts* parts = part->GetParts(&code);
  err = static_cast<HRESULT>(code);
  return parts;
}

bool HasChildren(CRfc822Part* part) {
  CRfc822Parts* parts = part->GetParts(nullptr);
  return parts != nullptr && parts->GetCount() != 0;
}

// Answers of the tests that recurse: true and errors end the walk.
bool Ends(HRESULT hr) { return hr != S_SIEVE_FALSE; }

}  // namespace

bool RelationHolds(RELATIONAL_MATCH_TYPE relation, int c) {
  switch (relation) {
    case RELATIONAL_LT: return c < 0;
    case RELATIONAL_GT: return c > 0;
    case RELATIONAL_EQ: return c == 0;
    case RELATIONAL_GE: return c >= 0;
    case RELATIONAL_LE: return c <= 0;
    case RELATIONAL_NE: return c != 0;
    default: return false;
  }
}

HRESULT RelationalValueCmp(const char* value, SIEVE_KEYS keys, TYPE_COMPARATOR comparator,
                           RELATIONAL_MATCH_TYPE relation) {
  if (value == nullptr) value = "";
  const DWORD number = comparator == COMPARATOR_ASCII_NUMERIC ? ValueNumber(value) : 0;
  return Verdict(AnyKeyText(keys, [&](const char* key) {
    int c;
    if (comparator == COMPARATOR_OCTET)
      c = strcmp(value, key);
    else if (comparator == COMPARATOR_ASCII_NUMERIC)
      c = CompareDwords(number, KeyNumber(key));
    else
      c = strcasecmp(value, key);
    return RelationHolds(relation, c);
  }));
}

HRESULT RelationalCountCmp(ULONG count, SIEVE_KEYS keys, TYPE_COMPARATOR comparator,
                           RELATIONAL_MATCH_TYPE relation) {
  // The count's decimal text reads back as the count under every comparator.
  char text[16];
  snprintf(text, sizeof text, "%u", static_cast<unsigned>(count));
  return RelationalValueCmp(text, keys, comparator, relation);
}

int CmpAddress(const CRfc822Address* address, ADDRESS_PART part, SIEVE_KEYS keys, MATCH_TYPES matchType,
               RELATIONAL_MATCH_TYPE relation) {
  if (keys == nullptr || address == nullptr) return 0;
  const TSTRING& local = address->GetLocalPart();
  const TSTRING& domain = address->GetDomain();
  TSTRING text;
  switch (part) {
    case ADDRESS_ALL:
      if (local.IsEmpty() && domain.IsEmpty()) return 0;
      text = local.IsEmpty() ? TSTRING("unknown-user") : local;
      text.append("@", 1);
      text.append(domain.IsEmpty() ? "unspecified-domain" : domain.c_str(), -1);
      break;
    case ADDRESS_LOCALPART:
      if (local.IsEmpty()) return 0;
      text = local;
      break;
    case ADDRESS_DOMAIN:
      if (domain.IsEmpty()) return 0;
      text = domain;
      break;
    default:
      return 0;
  }
  if (matchType == MATCH_VALUE)
    return AnyKeyText(keys, [&](const char* key) { return RelationHolds(relation, strcasecmp(text.c_str(), key)); })
               ? 1
               : 0;
  return SearchAnyKey(keys, text.c_str(), 0) ? 1 : 0;
}

HRESULT TestAddressHeader(CRfc822Fields& fields, const char* name, ADDRESS_PART part, SIEVE_KEYS keys,
                          TYPE_COMPARATOR, MATCH_TYPES matchType, RELATIONAL_MATCH_TYPE relation) {
  if (name == nullptr) return S_SIEVE_FALSE;
  LONG first = fields.FindFirst(name);
  if (first < 0) return S_SIEVE_FALSE;
  ULONG count = 0;
  bool found = AnyFieldNamed(fields, first, [&](CRfc822Field& field) {
    CRfc822Addresses* addresses = WithMemoryException([&] { return field.GetAddreses(); });
    if (addresses == nullptr) return false;
    if (matchType == MATCH_COUNT) {
      count += static_cast<ULONG>(addresses->GetCount());
      return false;
    }
    for (void* pos = addresses->GetHeadPosition(); pos != nullptr;)
      if (CmpAddress(&addresses->GetNext(pos), part, keys, matchType, relation)) return true;
    return false;
  });
  if (found) return S_SIEVE_TRUE;
  // Counts compare as numbers whatever the comparator.
  if (matchType == MATCH_COUNT) return RelationalCountCmp(count, keys, COMPARATOR_ASCII_NUMERIC, relation);
  return S_SIEVE_FALSE;
}

HRESULT TestRawBody(CRfc822Part* part, SIEVE_KEYS keys, tag_FILTER_CTXT*) {
  try {
    ULONG length = 0;
    const unsigned char* content = part->GetContentAsString(length);
    if (content == nullptr || length == 0) return S_SIEVE_FALSE;
    return Verdict(SearchAnyKey(keys, reinterpret_cast<const char*>(content), length));
  } catch (...) {
    HRESULT hr = ResultOfCurrentException();
    return hr == E_OUTOFMEMORY ? ResultFromSystemError(ERROR_NOT_ENOUGH_MEMORY) : hr;
  }
}

HRESULT CheckBodyData(CRfc822Part* part, const char* type, SIEVE_KEYS keys, tag_FILTER_CTXT* context) {
  ULONG length = 0;
  const char* data = nullptr;
  switch (context->GetBodyTransform()) {
    case BODY_TRANSFORM_TEXT: {
      CBodyTransformCache& cache = context->GetBodyCache();
      const tag_KEY_BODY_TRANSFORM_DATA key = {part, static_cast<int32_t>(BODY_TRANSFORM_TEXT)};
      CBodyTransformCache::iterator at = cache.find(key);
      if (at == cache.end()) {
        const unsigned char* content = part->GetContentAsString(length);
        TSTRING text(reinterpret_cast<const char*>(content), content != nullptr ? static_cast<int>(length) : 0);
        if (strcasecmp(type, "text/html") == 0) {
          CHtml2CleanText converter(0);
          HRESULT hr = converter.Execute(text, 0, nullptr);
          if (hr != S_OK) return hr;
        } else if (strcasecmp(type, "text/plain") == 0) {
          FoldWhiteSpace(text);
        }
        at = WithMemoryException([&] { return cache.emplace(key, text).first; });
      }
      data = at->second.c_str();
      length = static_cast<ULONG>(at->second.GetLength());
      break;
    }
    case BODY_TRANSFORM_RAW: {
      const unsigned char* content = part->GetContentAsString(length);
      if (content == nullptr) return S_SIEVE_FALSE;
      data = reinterpret_cast<const char*>(content);
      break;
    }
    default:
      return S_SIEVE_FALSE;
  }
  // An empty content is searched as the empty text.
  return Verdict(SearchAnyKey(keys, length != 0 ? data : "", length));
}

HRESULT TestBodyForEachPart(CRfc822Part* part, SIEVE_STRINGS types, SIEVE_KEYS keys, tag_FILTER_CTXT* context) {
  HRESULT hr;
  CRfc822Parts* children = ChildrenOf(part, hr);
  if (hr != S_OK) return hr;
  for (void* pos = children->GetHeadPosition(); pos != nullptr;) {
    CRfc822Part* child = children->GetNext(pos);
    TSTRING type = child->GetContentClass() == CRfc822Part::CONTENT_CLASS_MESSAGE ? TSTRING("message/rfc822")
                   : child->GetContentMediaType().IsEmpty()                      ? TSTRING("text/plain")
                                                                                 : child->GetContentMediaType();
    for (SIEVE_STRINGS listed = types; listed != nullptr && *listed != nullptr; ++listed) {
      if (!TypeSelects(*listed, type.c_str())) continue;
      hr = CheckBodyData(child, type.c_str(), keys, context);
      if (Ends(hr)) return hr;
    }
    if (HasChildren(child)) {
      hr = TestBodyForEachPart(child, types, keys, context);
      if (Ends(hr)) return hr;
    }
  }
  return S_SIEVE_FALSE;
}

HRESULT TestAttachmentForEachPart(CRfc822Part* part, SIEVE_KEYS keys, tag_FILTER_CTXT* context) {
  HRESULT hr;
  CRfc822Parts* children = ChildrenOf(part, hr);
  if (hr != S_OK) return hr;
  for (void* pos = children->GetHeadPosition(); pos != nullptr;) {
    CRfc822Part* child = children->GetNext(pos);
    if (!child->IsAttachment()) continue;
    const TSTRING& fileName = child->GetAttachmentName();
    const TSTRING& name = child->GetName();
    if ((!fileName.IsEmpty() && SearchAnyKey(keys, fileName.c_str(), 0)) ||
        (!name.IsEmpty() && SearchAnyKey(keys, name.c_str(), 0)))
      return S_SIEVE_TRUE;
    hr = TestAttachmentForEachPart(child, keys, context);
    if (Ends(hr)) return hr;
  }
  return S_SIEVE_FALSE;
}

// ---- The callbacks

HRESULT SieveTestSize(NUMBER_CMP_OPERATOR op, uint64_t limit, void* user) {
  tag_FILTER_CTXT* context = ContextOf(user);
  HRESULT hr = LoadMessageScope(context, PARSE_SCOPE_HEADER_ONLY);
  if (hr != S_OK) return hr;
  const uint64_t size = context->GetMessage()->GetContent().GetSize();
  if (op == NUMBER_UNDER) return Verdict(size < limit);
  if (op == NUMBER_OVER) return Verdict(size > limit);
  return Verdict(size == limit);
}

HRESULT SieveTestAddress(ADDRESS_PART part, SIEVE_STRINGS names, SIEVE_KEYS keys, TYPE_COMPARATOR comparator,
                         MATCH_TYPES matchType, RELATIONAL_MATCH_TYPE relation, void* user) {
  if (keys == nullptr) return S_SIEVE_FALSE;
  tag_FILTER_CTXT* context = ContextOf(user);
  HRESULT hr = LoadMessageScope(context, PARSE_SCOPE_HEADER_ONLY);
  if (hr != S_OK) return hr;
  CRfc822Fields& fields = context->GetMessage()->GetFields(CRfc822Fields::ORDER_BY_NAME);
  for (SIEVE_STRINGS name = names; name != nullptr && *name != nullptr; ++name) {
    hr = TestAddressHeader(fields, *name, part, keys, comparator, matchType, relation);
    if (hr != S_SIEVE_FALSE) return hr;
  }
  return S_SIEVE_FALSE;
}

HRESULT SieveTestEnvelope(ADDRESS_PART part, SIEVE_STRINGS names, SIEVE_KEYS keys, TYPE_COMPARATOR comparator,
                          MATCH_TYPES matchType, RELATIONAL_MATCH_TYPE relation, void* user) {
  tag_FILTER_CTXT* context = ContextOf(user);
  if (context == nullptr || context->GetEnvelope() == nullptr) return E_SIEVE_NO_STRING_TEST_CALLBACK;
  if (keys == nullptr) return S_SIEVE_FALSE;
  for (SIEVE_STRINGS name = names; name != nullptr && *name != nullptr; ++name) {
    HRESULT hr = TestAddressHeader(*context->GetEnvelope(), *name, part, keys, comparator, matchType, relation);
    if (hr != S_SIEVE_FALSE) return hr;
  }
  return S_SIEVE_FALSE;
}

HRESULT SieveTestHeader(SIEVE_STRINGS names, SIEVE_KEYS keys, TYPE_COMPARATOR comparator, MATCH_TYPES matchType,
                        RELATIONAL_MATCH_TYPE relation, void* user) {
  if (keys == nullptr) return S_SIEVE_FALSE;
  tag_FILTER_CTXT* context = ContextOf(user);
  HRESULT hr = LoadMessageScope(context, PARSE_SCOPE_HEADER_ONLY);
  if (hr != S_OK) return hr;
  CRfc822Fields& fields = context->GetMessage()->GetFields(CRfc822Fields::ORDER_BY_NAME);
  // One value against the keys; true ends the test.
  ULONG count = 0;
  auto test = [&](const char* value) {
    switch (matchType) {
      case MATCH_COUNT:
        ++count;
        return false;
      case MATCH_VALUE:
        return RelationalValueCmp(value, keys, comparator, relation) == S_SIEVE_TRUE;
      case MATCH_IS:
        if (comparator == COMPARATOR_ASCII_NUMERIC)
          return RelationalValueCmp(value, keys, COMPARATOR_ASCII_NUMERIC, RELATIONAL_EQ) == S_SIEVE_TRUE;
        return SearchAnyKey(keys, value, 0);
      default:
        return SearchAnyKey(keys, value, 0);
    }
  };
  for (SIEVE_STRINGS name = names; name != nullptr && *name != nullptr; ++name) {
    LONG first = fields.FindFirst(*name);
    if (first < 0) continue;
    count = 0;
    bool found;
    if (strcasecmp(*name, "Subject") == 0)
      found = test(DecodedSubject(context));
    else
      found = AnyFieldNamed(fields, first, [&](CRfc822Field& field) { return test(field.GetContents().c_str()); });
    if (found) return S_SIEVE_TRUE;
    if (matchType == MATCH_COUNT && RelationalCountCmp(count, keys, comparator, relation) == S_SIEVE_TRUE)
      return S_SIEVE_TRUE;
  }
  return S_SIEVE_FALSE;
}

HRESULT SieveTestExists(SIEVE_STRINGS names, void* user) {
  tag_FILTER_CTXT* context = ContextOf(user);
  HRESULT hr = LoadMessageScope(context, PARSE_SCOPE_HEADER_ONLY);
  if (hr != S_OK) return hr;
  if (names == nullptr) return S_SIEVE_TRUE;
  CRfc822Fields& fields = context->GetMessage()->GetFields(CRfc822Fields::ORDER_BY_NAME);
  for (SIEVE_STRINGS name = names; *name != nullptr; ++name)
    if (!fields.IsExist(*name)) return S_SIEVE_FALSE;
  return S_SIEVE_TRUE;
}

HRESULT SieveTestBody(DWORD transform, SIEVE_STRINGS contentTypes, SIEVE_KEYS keys, void* user) {
  if (keys == nullptr) return S_SIEVE_FALSE;
  tag_FILTER_CTXT* context = ContextOf(user);
  HRESULT hr = LoadMessageScope(context, PARSE_SCOPE_FULL);
  if (hr != S_OK) return hr;
  context->PutBodyTransform(transform);
  if (contentTypes != nullptr && contentTypes[0] != nullptr)
    return TestBodyForEachPart(context->GetMessage(), contentTypes, keys, context);
  return TestRawBody(context->GetMessage(), keys, context);
}

HRESULT SieveTestAttachment(SIEVE_KEYS keys, void* user) {
  if (keys == nullptr) return S_SIEVE_FALSE;
  tag_FILTER_CTXT* context = ContextOf(user);
  HRESULT hr = LoadMessageScope(context, PARSE_SCOPE_FULL);
  if (hr != S_OK) return hr;
  return TestAttachmentForEachPart(context->GetMessage(), keys, context);
}

HRESULT SieveTestXSpamTest(RELATIONAL_MATCH_TYPE relation, double value, void* user) {
  tag_FILTER_CTXT* context = ContextOf(user);
  if (context == nullptr || context->GetFilter() == nullptr) return E_POINTER;
  const double spam = context->GetFilter()->XSpamTest();
  if (value == DBL_MAX) return Verdict(relation == RELATIONAL_EQ && spam == DBL_MAX);
  if (spam == DBL_MAX) return S_SIEVE_FALSE;
  switch (relation) {
    case RELATIONAL_LT: return Verdict(spam < value);
    case RELATIONAL_GT: return Verdict(spam > value);
    case RELATIONAL_EQ: return Verdict(spam == value);
    case RELATIONAL_GE: return Verdict(spam >= value);
    case RELATIONAL_LE: return Verdict(spam <= value);
    case RELATIONAL_NE: return Verdict(spam != value);
    default: return S_SIEVE_FALSE;
  }
}

}  // namespace telsor
