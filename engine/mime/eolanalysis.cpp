// End-of-line analysis of a message: the distinct runs of CR and LF bytes
// and what each stands for.
#include "mime/eolanalysis.h"

#include <stdint.h>
#include <string.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <new>
#include <string_view>
#include <vector>

#include "foundation/errorroad.h"
#include "foundation/exception.h"
#include "foundation/strhelpers.h"
#include "foundation/throwcode.h"
#include "mime/mimehelpers.h"

namespace telsor {

namespace {

// Byte classes of the collecting pass.
enum : BYTE { EOL_BYTE = 1, CONTROL_BYTE = 2 };

struct tag_EOL_CLASSES {
  BYTE cls[256];
  tag_EOL_CLASSES() : cls() {
    for (int c = 0; c < 0x20; ++c) cls[c] = CONTROL_BYTE;
    for (int c : {9, 10, 13, 0x0E, 0x0F, 0x1B}) cls[c] = 0;
    cls[10] = EOL_BYTE;
    cls[13] = EOL_BYTE;
  }
};
const tag_EOL_CLASSES g_EolClasses;

const size_t STREAM_CHUNK = 65536;

bool IsCrLfPairs(std::string_view run) {
  return IsValidEOL(TSTRING(run.data(), static_cast<int>(run.size())));
}

// Nonzero when some byte of word is below 0x20.
uint64_t HasLowByte(uint64_t word) {
  return (word - 0x2020202020202020ull) & ~word & 0x8080808080808080ull;
}

}  // namespace

// The collecting pass, fed in pieces: every maximal run of CR and LF bytes
// goes into the table (count 0 until the post-pass).
class CSetEOLSequence::CCollector {
 public:
  explicit CCollector(CSetEOLSequence& owner) : m_owner(owner) {}

  void Feed(const BYTE* p, size_t n) {
    const BYTE* end = p + n;
    while (p < end) {
      if (!m_run.empty()) {
        // The run the last piece ended in goes on.
        const BYTE* from = p;
        while (p < end && g_EolClasses.cls[*p] == EOL_BYTE) ++p;
        m_run.append(reinterpret_cast<const char*>(from), static_cast<size_t>(p - from));
        if (p == end) return;
        EndRun(m_run);
        m_run.clear();
      }
      p = NextEol(p, end);
      if (p == end) return;
      const BYTE* from = p;
      while (p < end && g_EolClasses.cls[*p] == EOL_BYTE) ++p;
      std::string_view run(reinterpret_cast<const char*>(from), static_cast<size_t>(p - from));
      if (p == end) {
        m_run.assign(run);  // the next piece may go on with it
        return;
      }
      EndRun(run);
    }
  }

  void Finish() {
    if (!m_run.empty()) EndRun(m_run);
    m_run.clear();
  }

 private:
  // The first CR or LF in [p, end), or end; notes control bytes on the way.
  // Text has few bytes below 0x20, so sixteen or eight bytes are looked at
  // per step; once a control byte was seen only CR and LF are looked for.
  const BYTE* NextEol(const BYTE* p, const BYTE* end) {
    for (;;) {
      if (m_owner.m_bControlChars) {
        return p + SpanExcept(p, static_cast<size_t>(end - p), '\r', '\n', '\n');
      }
#ifdef __SSE2__
      // Sixteen bytes per step where the vector unit is there: the first
      // byte below 0x20 is looked at below.
      const __m128i top = _mm_set1_epi8(0x1F);
      while (end - p >= 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(x, top), x));
        if (mask != 0) {
          p += __builtin_ctz(static_cast<unsigned>(mask));
          break;
        }
        p += 16;
      }
#endif
      while (end - p >= 8) {
        uint64_t word;
        memcpy(&word, p, 8);
        if (HasLowByte(word)) break;
        p += 8;
      }
      // Byte by byte through the word that holds a low byte (or the tail).
      const BYTE* stop = end - p >= 8 ? p + 8 : end;
      for (; p < stop; ++p) {
        const BYTE cls = g_EolClasses.cls[*p];
        if (cls == EOL_BYTE) return p;
        if (cls == CONTROL_BYTE) m_owner.m_bControlChars = 1;
      }
      if (p == end) return end;
    }
  }

  // Records a complete run; the same run as the last one is known already.
  void EndRun(std::string_view run) {
    if (run == m_last) return;
    auto it = m_owner.m_mapRuns.find(run);
    if (it == m_owner.m_mapRuns.end()) {
      if (!IsCrLfPairs(run)) m_owner.m_bInvalidEOL = 1;
      m_owner.m_mapRuns.emplace(std::string(run), 0);
    }
    m_last.assign(run);
  }

  CSetEOLSequence& m_owner;
  std::string m_run;   // a run that reached the end of the last piece
  std::string m_last;  // the run recorded last
};

CSetEOLSequence::CSetEOLSequence() : m_bInvalidEOL(0), m_bControlChars(0) {}

CSetEOLSequence::CSetEOLSequence(const CSetEOLSequence& other)
    : m_mapRuns(other.m_mapRuns), m_bInvalidEOL(other.m_bInvalidEOL), m_bControlChars(other.m_bControlChars) {}

CSetEOLSequence& CSetEOLSequence::operator=(const CSetEOLSequence& other) {
  if (this != &other) {
    m_mapRuns = other.m_mapRuns;
    m_bInvalidEOL = other.m_bInvalidEOL;
    m_bControlChars = other.m_bControlChars;
  }
  return *this;
}

CSetEOLSequence::~CSetEOLSequence() {}

HRESULT CSetEOLSequence::Analyze(const unsigned char* data, ULONG length) {
  m_bInvalidEOL = 0;
  m_bControlChars = 0;
  return ResultOf([&] {
    CCollector collector(*this);
    if (data != nullptr) collector.Feed(data, length);
    collector.Finish();
    CountRuns();
  });
}

HRESULT CSetEOLSequence::Analyze(IStream* stream, ULONG length) {
  if (stream == nullptr) return E_POINTER;
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  ULARGE_INTEGER origin;
  origin.QuadPart = 0;
  HRESULT hr = stream->Seek(zero, STREAM_SEEK_CUR, &origin);
  if (FAILED(hr)) return hr;
  m_bInvalidEOL = 0;
  m_bControlChars = 0;
  hr = ResultOf([&] {
    std::vector<BYTE> chunk(STREAM_CHUNK);
    CCollector collector(*this);
    ULONG left = length;
    while (left > 0) {
      ULONG want = left < STREAM_CHUNK ? left : static_cast<ULONG>(STREAM_CHUNK);
      ULONG got = 0;
      HRESULT rr = stream->Read(chunk.data(), want, &got);
      if (FAILED(rr)) ThrowCode(static_cast<DWORD>(rr));
      if (got > want) got = want;
      if (got == 0) break;
      collector.Feed(chunk.data(), got);
      left -= got;
    }
    collector.Finish();
    CountRuns();
  });
  LARGE_INTEGER back;
  back.QuadPart = static_cast<LONGLONG>(origin.QuadPart);
  HRESULT seek = stream->Seek(back, STREAM_SEEK_SET, nullptr);
  if (SUCCEEDED(hr) && FAILED(seek)) hr = seek;
  return hr;
}

void CSetEOLSequence::Analyze(CStreamReader& reader) {
  m_bInvalidEOL = 0;
  m_bControlChars = 0;
  try {
    CCollector collector(*this);
    BYTE buffer[256];
    size_t n = 0;
    int c;
    while ((c = reader.GetChar()) != -1) {
      buffer[n++] = static_cast<BYTE>(c);
      if (n == sizeof buffer) {
        collector.Feed(buffer, n);
        n = 0;
      }
    }
    collector.Feed(buffer, n);
    collector.Finish();
    CountRuns();
  } catch (const std::bad_alloc&) {
    AfxThrowMemoryException();
  }
}

void CSetEOLSequence::CountRuns() {
  // Keys in byte order: the runs that begin a run L are exactly the keys on
  // the chain of prefixes leading to L, each a prefix of the next. The chain
  // is kept on a stack while the keys are walked in order.
  struct tag_LINK {
    const std::string* run;
    DWORD count;
  };
  std::vector<tag_LINK> chain;
  size_t totalBytes = 0;
  for (const auto& entry : m_mapRuns) totalBytes += entry.first.size();
  // Byte comparisons allowed for counting copies; ordinary mail needs a few
  // dozen.
  unsigned long long budget = 64ull * totalBytes + (1u << 20);

  for (auto& entry : m_mapRuns) {
    const std::string& run = entry.first;
    if (!chain.empty()) {
      const std::string& top = *chain.back().run;
      size_t limit = top.size() < run.size() ? top.size() : run.size();
      size_t common = 0;
      while (common < limit && top[common] == run[common]) ++common;
      while (!chain.empty() && chain.back().run->size() > common) chain.pop_back();
    }
    DWORD count = entry.second;
    bool isCrLf = run.size() == 2 && run[0] == '\r' && run[1] == '\n';
    for (const tag_LINK& link : chain) {
      // link.run begins run: count its copies standing back to back.
      size_t d = link.run->size();
      unsigned long long copies = 1;
      while ((copies + 1) * d <= run.size() && budget >= d) {
        budget -= d;
        if (memcmp(run.data() + copies * d, run.data(), d) != 0) break;
        ++copies;
      }
      if (copies == 1) copies = 2;
      if (link.count != 0) copies *= link.count;
      if (copies > 0xFFFFFFFFull) copies = 0xFFFFFFFFull;
      if (count < copies) count = isCrLf ? 1 : static_cast<DWORD>(copies);
    }
    if (count == 0) count = 1;
    entry.second = count;
    chain.push_back(tag_LINK{&run, count});
  }
}

DWORD CSetEOLSequence::CountEquivalentEOL(std::string_view run) const {
  auto it = m_mapRuns.find(run);
  if (it == m_mapRuns.end() || it->second == 0) return 1;
  return it->second;
}

DWORD CSetEOLSequence::CountEquivalentEOL(const TSTRING& run) const {
  return CountEquivalentEOL(std::string_view(run.c_str(), static_cast<size_t>(run.GetLength())));
}

}  // namespace telsor
