// CSetEOLSequence: what the line ends of one message mean.
//
// Mail arrives with CR LF line ends, with bare LF, with bare CR and with
// broken mixtures such as CR CR LF. One pass over the whole message records
// every distinct run of CR and LF bytes; a post-pass then decides for each
// run how many line ends it stands for, from the runs that begin it:
//
//   static const char message[] = "To: a@b\r\n\r\nline\n\r\n";
//   CSetEOLSequence eol;
//   HRESULT hr = eol.Analyze(reinterpret_cast<const unsigned char*>(message), sizeof message - 1);
//   // S_OK or the failure code
//   DWORD one = eol.CountEquivalentEOL(std::string_view("\r\n"));       // 1 (a line break)
//   DWORD two = eol.CountEquivalentEOL(std::string_view("\r\n\r\n"));   // 2 (an empty line)
//   bool invalid = eol.HasInvalidEOL();        // some run is not CR LF pairs
//   bool control = eol.HasControlChars();      // a byte below 0x20 other than
//                                              // TAB LF CR SO SI ESC
//
// A run's count: 1 when no shorter run begins it; otherwise, for every
// shorter run S that begins it, the number of copies of S standing back to
// back at its start (at least 2) times S's count, the largest of these; a
// run of exactly CR LF always counts 1. So in an LF message LF LF counts 2,
// and CR LF CR (one copy of CR LF followed by something else) counts 2 too:
// it is taken as a blank line. The header scanner and the body parser only
// ask whether a run counts 1 or 2 and more.
//
// Cost: one pass over the bytes; only the distinct runs are kept. The
// post-pass visits, for every run, only the shorter runs that begin it, and
// counting copies is bounded by a work budget proportional to the bytes of
// the distinct runs, so a message made of thousands of distinct long runs
// still analyses in time linear in its size (beyond the budget a run that
// begins with a shorter one counts 2 times that one's count).
//
// An object analyses one message, once (the table is not cleared). After
// that it is only read, and may be read by several threads.
#ifndef TELSOR_MIME_EOLANALYSIS_H
#define TELSOR_MIME_EOLANALYSIS_H

#include <map>
#include <string>
#include <string_view>

#include "foundation/istream.h"
#include "foundation/streamreader.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"

namespace telsor {

class CSetEOLSequence {
 public:
  CSetEOLSequence();
  CSetEOLSequence(const CSetEOLSequence& other);
  CSetEOLSequence& operator=(const CSetEOLSequence& other);
  ~CSetEOLSequence();

  // Clears both flags and analyses length bytes at data. S_OK, or
  // E_OUTOFMEMORY.
  [[nodiscard]] HRESULT Analyze(const unsigned char* data, ULONG length);
  // The same over the next length bytes of stream (fewer at its end), whose
  // position is restored afterwards, after a failure too. S_OK, or the first
  // failing stream call's result, or E_OUTOFMEMORY.
  [[nodiscard]] HRESULT Analyze(IStream* stream, ULONG length);
  // The analysis of the reader's remaining bytes; throws the reader's DWORD
  // codes, and the engine's memory exception when memory runs out.
  void Analyze(CStreamReader& reader);

  // The number of line ends that run stands for: its count, or 1 when the
  // run never occurred.
  DWORD CountEquivalentEOL(const TSTRING& run) const;
  DWORD CountEquivalentEOL(std::string_view run) const;

  // Some run of line-end bytes is not a whole number of CR LF pairs.
  BOOL HasInvalidEOL() const { return m_bInvalidEOL; }
  // A byte below 0x20 other than TAB, LF, CR, SO, SI and ESC occurred.
  BOOL HasControlChars() const { return m_bControlChars; }
  // The number of distinct runs recorded.
  ULONG GetRunCount() const { return static_cast<ULONG>(m_mapRuns.size()); }

 private:
  class CCollector;
  friend class CCollector;

  // Gives every recorded run its count.
  void CountRuns();

  std::map<std::string, DWORD, std::less<>> m_mapRuns;
  BOOL m_bInvalidEOL;
  BOOL m_bControlChars;
};

}  // namespace telsor

#endif  // TELSOR_MIME_EOLANALYSIS_H
