// Header fields and the field collection.
#include "mime/headerfields.h"

#include <ctype.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <exception>
#include <new>
#include <typeinfo>

#include "mime/mimehelpers.h"
#include "mime/rfc822address.h"
#include "mime/rfc822parser.h"

namespace telsor {

namespace {

const char* const g_aKnownHeaders[] = {
    "Return-Path", "Received",   "Resent-Date",     "Date",     "Resent-From",
    "From",        "Subject",    "Sender",          "To",       "Resent-To",
    "Cc",          "Resent-Cc",  "Bcc",             "Reply-To", "Resent-Reply-To",
    "Message-ID",  "Resent-Message-ID", "Priority", "MIME-Version", "Content-Type",
    "Content-Transfer-Encoding", "Content-Disposition", "Content-Description", "Content-ID",
};

bool IsFoldSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool IsSpace(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

// ---- CRfc822Field

CRfc822Field::CRfc822Field() : m_nIndex(0) {}

CRfc822Field::CRfc822Field(const char* name, const char* contents, ULONG index)
    : m_strName(name), m_strContents(contents), m_nIndex(index) {}

namespace {

// text up to its first NUL byte: text itself when it holds none.
TSTRING UpToNul(const TSTRING& text) {
  return strlen(text.c_str()) == static_cast<size_t>(text.GetLength()) ? text : TSTRING(text.c_str());
}

}  // namespace

CRfc822Field::CRfc822Field(const TSTRING& name, const TSTRING& contents, ULONG index)
    : m_strName(UpToNul(name)), m_strContents(UpToNul(contents)), m_nIndex(index) {}

CRfc822Field::CRfc822Field(const CRfc822Field& other)
    : m_strName(other.m_strName), m_strContents(other.m_strContents), m_nIndex(other.m_nIndex) {
  CopyAddresses(other);
}

CRfc822Field& CRfc822Field::operator=(const CRfc822Field& other) {
  if (this != &other) {
    m_strName = other.m_strName;
    m_strContents = other.m_strContents;
    m_pAddresses.reset();
    CopyAddresses(other);
  }
  return *this;
}

CRfc822Field::~CRfc822Field() {}

void CRfc822Field::CopyAddresses(const CRfc822Field& other) {
  if (!other.m_pAddresses) return;
  std::unique_ptr<CRfc822Addresses> list(new CRfc822Addresses(10));
  const CRfc822Addresses& source = *other.m_pAddresses;
  for (void* p = source.GetHeadPosition(); p != nullptr;) {
    CRfc822Address address(source.GetNext(p));
    list->AddTail(address);
  }
  m_pAddresses = std::move(list);
}

void CRfc822Field::PutContents(const char* contents) {
  m_strContents = contents;
  m_pAddresses.reset();
}

CRfc822Addresses* CRfc822Field::GetAddreses() {
  if (!m_pAddresses && !m_strContents.IsEmpty()) {
    m_pAddresses.reset(new CRfc822Addresses(10));
    CRfc822Parser::ParseAddressList(m_strContents, *m_pAddresses, ADDRESS_TYPE_FIELD);
  }
  return m_pAddresses.get();
}

void CRfc822Field::Compose(IStream* stream, ULONG limit) const {
  ComposeHeader(m_strName.c_str(), m_strContents.c_str(), stream, limit);
}

BOOL CRfc822Field::IsKnownHeader(const char* name) {
  if (name == nullptr) return 0;
  // The lengths of the known names, measured once.
  static const struct tag_KNOWN_LENGTHS {
    size_t length[sizeof g_aKnownHeaders / sizeof g_aKnownHeaders[0]];
    tag_KNOWN_LENGTHS() {
      for (size_t i = 0; i < sizeof length / sizeof length[0]; ++i) length[i] = strlen(g_aKnownHeaders[i]);
    }
  } known;
  const size_t length = strlen(name);
  for (size_t i = 0; i < sizeof known.length / sizeof known.length[0]; ++i) {
    const char* text = g_aKnownHeaders[i];
    if (known.length[i] == length && text[0] == name[0] && strcasecmp(text, name) == 0) return 1;
  }
  return 0;
}

void CRfc822Field::UnfoldLine(TSTRING& text) { telsor::UnfoldLine(text); }

void CRfc822Field::ComposeHeader(const char* name, const char* value, IStream* stream, ULONG limit) {
  WriteString(stream, name, 0);
  if (value == nullptr || *value == '\0') {
    WriteString(stream, ":\r\n", 3);
    return;
  }
  WriteString(stream, ": ", 2);
  const char* p = value;
  const char* const end = value + strlen(value);  // measured once: pieces stay linear
  while (*p != '\0' && IsSpace(*p)) ++p;
  ULONG prefix = name != nullptr ? static_cast<ULONG>(strlen(name)) + 2 : 2;
  ULONG used = 0;
  for (;;) {
    bool spaced = false;
    while (*p != '\0' && IsSpace(*p)) {
      ++p;
      spaced = true;
    }
    if (*p == '\0') break;
    // The next piece: up to white space within limit characters, else up
    // to a "," or ";" within them, else limit characters.
    size_t rest = static_cast<size_t>(end - p);
    size_t window = rest < limit ? rest : limit;
    size_t n = window;
    bool cut = false;
    for (size_t i = 0; i < window; ++i) {
      if (IsFoldSpace(p[i])) {
        n = i;
        cut = true;
        break;
      }
    }
    if (!cut) {
      for (size_t i = 0; i < window; ++i) {
        if (p[i] == ',' || p[i] == ';') {
          n = i;
          break;
        }
      }
    }
    if (n == 0) n = 1;
    if (used + n + 1 + prefix < limit) {
      if (spaced) WriteString(stream, " ", 1);
      used += static_cast<ULONG>(n) + 1;
    } else {
      WriteString(stream, spaced ? "\r\n  " : "\r\n ", spaced ? 4 : 3);
      used = static_cast<ULONG>(n) + 1;
      prefix = 0;
    }
    WriteString(stream, p, static_cast<ULONG>(n));
    p += n;
  }
  WriteString(stream, "\r\n", 2);
}

TSTRING CRfc822Field::FormatHeader(const char* name, const char* value, const char* items, ULONG limit,
                                   ULONG indent) {
  TSTRING text(name);
  if (value != nullptr && *value != '\0') {
    text.append(" ", 1);
    text.append(value, -1);
    text.append(";", 1);
  }
  ULONG col = static_cast<ULONG>(text.GetLength());
  const char* p = items != nullptr ? items : "";
  for (;;) {
    while (*p != '\0' && (IsSpace(*p) || *p == ',')) ++p;
    if (*p == '\0') break;
    const char* start = p;
    while (*p != '\0' && !IsSpace(*p) && *p != ',') ++p;
    ULONG length = static_cast<ULONG>(p - start);
    bool comma = *p == ',';
    ULONG width = length + (comma ? 1 : 0);
    if (col + width <= limit) {
      text.append(" ", 1);
      col += 1;
    } else {
      text.append("\r\n", 2);
      text.append(static_cast<int>(indent), ' ');
      col = indent;
    }
    text.append(start, static_cast<int>(length));
    if (comma) {
      text.append(",", 1);
      ++p;
    }
    col += width;
  }
  int end = text.GetLength();
  while (end > 0 && (text[end - 1] == ',' || IsSpace(text[end - 1]))) --end;
  text = text.Left(end);
  text.append("\r\n", 2);
  return text;
}

// ---- CRfc822Fields

CRfc822Fields::CRfc822Fields() : m_nOrder(ORDER_INSERTION) {}

CRfc822Fields::CRfc822Fields(const CRfc822Fields& other) : m_nOrder(ORDER_INSERTION) { *this = other; }

CRfc822Fields::~CRfc822Fields() {}

CRfc822Fields& CRfc822Fields::operator=(const CRfc822Fields& other) {
  if (this == &other) return *this;
  std::vector<std::unique_ptr<CRfc822Field>> copy;
  copy.reserve(other.m_aFields.size());
  for (const auto& field : other.m_aFields) copy.emplace_back(new CRfc822Field(*field));
  m_aFields.swap(copy);
  m_nOrder = other.m_nOrder;
  return *this;
}

CRfc822Field& CRfc822Fields::operator[](LONG i) const {
  if (static_cast<ULONG>(i) >= m_aFields.size()) throw std::bad_exception();
  return *m_aFields[static_cast<size_t>(static_cast<ULONG>(i))];
}

void CRfc822Fields::Allocate(ULONG n) {
  if (m_aFields.capacity() < n) m_aFields.reserve(n);
}

void CRfc822Fields::Reserve(ULONG n) {
  if (m_aFields.capacity() < n) Allocate(n);
}

template <class Make>
CRfc822Field* CRfc822Fields::AddMade(const char* name, Make make) {
  if (name == nullptr) throw std::bad_typeid();
  size_t count = m_aFields.size();
  // Grows by 16 fields at first, then by half of what it holds.
  if (count == m_aFields.capacity()) Allocate(static_cast<ULONG>(count + (count < 32 ? 16 : count / 2)));
  std::unique_ptr<CRfc822Field> field(make(static_cast<ULONG>(count)));
  CRfc822Field* added = field.get();
  if (m_nOrder == ORDER_BY_NAME) {
    auto at = std::lower_bound(m_aFields.begin(), m_aFields.end(), name,
                               [](const std::unique_ptr<CRfc822Field>& f, const char* n) {
                                 return strcasecmp(f->GetName().c_str(), n) < 0;
                               });
    m_aFields.insert(at, std::move(field));
  } else {
    m_aFields.push_back(std::move(field));
  }
  return added;
}

CRfc822Field* CRfc822Fields::Add(const char* name, const char* contents) {
  return AddMade(name, [&](ULONG index) { return new CRfc822Field(name, contents, index); });
}

CRfc822Field* CRfc822Fields::Add(const TSTRING& name, const TSTRING& contents) {
  return AddMade(name.c_str(), [&](ULONG index) { return new CRfc822Field(name, contents, index); });
}

CRfc822Fields& CRfc822Fields::operator+=(const CRfc822Fields& other) {
  if (this == &other) return *this;
  for (const auto& field : other.m_aFields) Add(field->GetName().c_str(), field->GetContents().c_str());
  return *this;
}

void CRfc822Fields::RemoveAt(LONG i) {
  if (static_cast<ULONG>(i) >= m_aFields.size()) throw std::bad_exception();
  auto at = m_aFields.begin() + static_cast<ptrdiff_t>(static_cast<ULONG>(i));
  ULONG removed = (*at)->GetIndex();
  m_aFields.erase(at);
  for (auto& field : m_aFields) {
    if (field->GetIndex() > removed) field->PutIndex(field->GetIndex() - 1);
  }
}

void CRfc822Fields::RemoveAll() {
  m_aFields.clear();
  m_nOrder = ORDER_INSERTION;
}

void CRfc822Fields::Sort(FIELDS_ORDER order) {
  if (order == m_nOrder || m_aFields.empty()) return;
  if (order == ORDER_BY_NAME) {
    std::stable_sort(m_aFields.begin(), m_aFields.end(),
                     [](const std::unique_ptr<CRfc822Field>& a, const std::unique_ptr<CRfc822Field>& b) {
                       return strcasecmp(a->GetName().c_str(), b->GetName().c_str()) < 0;
                     });
    m_nOrder = ORDER_BY_NAME;
  } else if (order == ORDER_INSERTION) {
    std::stable_sort(m_aFields.begin(), m_aFields.end(),
                     [](const std::unique_ptr<CRfc822Field>& a, const std::unique_ptr<CRfc822Field>& b) {
                       return a->GetIndex() < b->GetIndex();
                     });
    m_nOrder = ORDER_INSERTION;
  }
}

LONG CRfc822Fields::FindFirst(const char* name) const {
  if (m_aFields.empty()) return -1;
  if (m_nOrder == ORDER_BY_NAME) {
    auto at = std::lower_bound(m_aFields.begin(), m_aFields.end(), name,
                               [](const std::unique_ptr<CRfc822Field>& f, const char* n) {
                                 return strcasecmp(f->GetName().c_str(), n) < 0;
                               });
    if (at == m_aFields.end() || strcasecmp((*at)->GetName().c_str(), name) != 0) return -1;
    return static_cast<LONG>(at - m_aFields.begin());
  }
  for (size_t i = 0; i < m_aFields.size(); ++i) {
    if (strcasecmp(m_aFields[i]->GetName().c_str(), name) == 0) return static_cast<LONG>(i);
  }
  return -1;
}

BOOL CRfc822Fields::IsExist(const char* name) const { return FindFirst(name) >= 0 ? 1 : 0; }

template <class Keep>
std::vector<tag_DWORD_PAIR> CRfc822Fields::Select(Keep keep) const {
  std::vector<tag_DWORD_PAIR> pairs;
  for (size_t i = 0; i < m_aFields.size(); ++i) {
    if (keep(*m_aFields[i])) pairs.push_back(tag_DWORD_PAIR{m_aFields[i]->GetIndex(), static_cast<DWORD>(i)});
  }
  if (m_nOrder != ORDER_INSERTION) std::stable_sort(pairs.begin(), pairs.end());
  return pairs;
}

void CRfc822Fields::ComposeHeadersByName(const char* name, IStream* stream, ULONG limit) const {
  if (m_aFields.empty() || name == nullptr) return;
  for (const tag_DWORD_PAIR& pair :
       Select([name](const CRfc822Field& f) { return strcasecmp(f.GetName().c_str(), name) == 0; })) {
    m_aFields[pair.second]->Compose(stream, limit);
  }
}

void CRfc822Fields::ComposeExtensionHeaders(IStream* stream) const { ComposeExtensionHeaders(stream, nullptr, 0); }

void CRfc822Fields::ComposeExtensionHeaders(IStream* stream, const char* const* written, ULONG count) const {
  if (m_aFields.empty()) return;
  auto keep = [written, count](const CRfc822Field& f) {
    const char* name = f.GetName().c_str();
    if (CRfc822Field::IsKnownHeader(name)) return false;
    for (ULONG i = 0; i < count; ++i) {
      if (strcasecmp(name, written[i]) == 0) return false;
    }
    return true;
  };
  for (const tag_DWORD_PAIR& pair : Select(keep)) m_aFields[pair.second]->Compose(stream, 76);
}

TSTRING CRfc822Fields::AssembleField(const char* name, char separator) const {
  TSTRING result;
  if (m_aFields.empty() || name == nullptr) return result;
  std::vector<tag_DWORD_PAIR> pairs =
      Select([name](const CRfc822Field& f) { return strcasecmp(f.GetName().c_str(), name) == 0; });
  size_t total = 2;
  for (const tag_DWORD_PAIR& pair : pairs) total += static_cast<size_t>(m_aFields[pair.second]->GetContents().GetLength()) + 1;
  result.reserve(static_cast<int>(total));
  for (const tag_DWORD_PAIR& pair : pairs) {
    const TSTRING& contents = m_aFields[pair.second]->GetContents();
    if (!result.IsEmpty()) result.append(1, separator);
    result.append(contents.c_str(), contents.GetLength());
  }
  return result;
}

}  // namespace telsor
