// CNGramsTextClassifier: a linear support-vector classifier over n-gram
// vectors, w.x - b for a text's unit-length n-gram vector x; and
// CExtNGramsTextClassifier, the same loaded from a classifier data file and
// reloaded only when the file's modification time changes.
//
//   CExtNGramsTextClassifier spam;                     // n = 5, nothing loaded
//   HRESULT hr = spam.LoadData("/data/Qor.bin");       // plain, "TLGZ" or enciphered
//   double value = spam.EvaluateText("cheap pills")[0];
//   ULONG update = 0;
//   hr = CExtNGramsTextClassifier::GetUpdateNumber("/data/Qor.bin", &update);  // of a file that loads
//
// Record, current form (little-endian): "SCA" NUL, u32 header length L (4
// when written), u32 update number (when L >= 4; L - 4 further bytes are
// skipped, or L bytes when L < 4), u16 n, the SVM record (classify/
// svmachine.h), then w's n-gram vector record. Older form (read only): the
// SVM record, "NGTC", u16 n, w's record; it has no update number.
//
// Reading replaces fields as their turn comes; a short read or a wrong
// signature gives E_FAIL, a failing stream its own code. A record whose w
// has an n-gram length other than its header's n is refused (E_FAIL), and a
// classifier only scores vectors of its own n (others give -b).
//
// Storage forms of a data file, by its first four bytes: "SCA" NUL or "SVM"
// NUL plain; "TLGZ" gzip-compressed (through gzlib.so); anything else
// enciphered with the position-byte cipher.
//
// Scoring looks the message's n-grams up in a hash table of w's n-grams
// (classify/ngramsweightindex.h), made anew by every call that changes w
// (SetWeights, Empty, reading a record, training, ReduceWeightVector) and
// shared by copies; its value is w.x of the sorted vectors bit for bit. It
// adds about 17 bytes per weight (some 31 MB for a model of 1.8 million
// 5-grams).
//
// Evaluation only reads: one classifier may be evaluated on several threads
// at once while nobody changes it (the mail classifier's lock sees to that).
#ifndef TELSOR_CLASSIFY_NGRAMSCLASSIFIER_H
#define TELSOR_CLASSIFY_NGRAMSCLASSIFIER_H

#include "classify/ngramsvector.h"
#include "classify/ngramsweightindex.h"
#include "classify/realvector.h"
#include "classify/svmachine.h"
#include "foundation/istream.h"
#include "foundation/obj.h"
#include "foundation/tstring.h"
#include "foundation/win32.h"
#include "foundation/wintypes.h"

namespace telsor {

class CMatrix;
class CNGramsOnFileDataSet;
class CSMOptimization;

class CNGramsTextClassifier : public CSVMachine {
 public:
  static const BYTE ms_abyDynaHeaderSignature[4];                   // "SCA" NUL
  static const BYTE ms_abyOriginalSignature[4];                     // "SVM" NUL
  static const BYTE ms_abyOriginalNGramsTextClassifierSignature[4];  // "NGTC"
  static constexpr DWORD ms_dwKnownHeaderLength = 4;
  static constexpr ULONG NO_UPDATE_NUMBER = 0xFFFFFFFFu;
  // The largest training set whose whole Gram matrix is built in memory.
  static constexpr ULONG FULL_GRAM_MATRIX_LIMIT = 36635;

  explicit CNGramsTextClassifier(unsigned short n);
  CNGramsTextClassifier(const CNGramsTextClassifier& other) = default;
  CNGramsTextClassifier& operator=(const CNGramsTextClassifier& other) = default;

  void SetUpdateNumber(ULONG number) { m_dwUpdateNumber = number; }
  ULONG GetUpdateNumber() const { return m_dwUpdateNumber; }
  unsigned short GetLenNGrams() const { return m_wN; }
  const CNGramsVector& GetWeights() const { return m_w; }
  // Takes w over; its n-gram length becomes the classifier's.
  void SetWeights(const CNGramsVector& w);
  // Bytes of the lookup table that scoring uses (0 when it scores through
  // w itself: no weights, or an n-gram length the table does not hold).
  size_t GetWeightIndexBytes() const { return m_index ? m_index->GetByteSize() : 0; }

  // Empties the SVM part and w, n becomes 0; the update number stays.
  void Empty() override;
  bool IsEmpty() const { return m_w.GetCount() == 0; }

  // One element: w.x - b (w.x is 0 for a vector of another n-gram length).
  CRealVector EvaluateVector(const CNGramsVector& x) const;
  // The text's n-gram vector of this n, stop words out, at unit length.
  CNGramsVector Text2Vector(const TSTRING& text) const;
  CRealVector EvaluateText(const TSTRING& text) const override;

  [[nodiscard]] HRESULT Serialize(IStream* stream, int storing) override;
  [[nodiscard]] HRESULT SerializeWrite(IStream* stream);
  [[nodiscard]] HRESULT SerializeRead(IStream* stream, bool headerOnly);
  [[nodiscard]] HRESULT ReadDynaHeaderFormat(IStream* stream, bool headerOnly);
  [[nodiscard]] HRESULT ReadOriginalFormat(IStream* stream, bool headerOnly);

  // Training (classify/ngramstrain.cpp). b and w are made anew from the set's
  // examples by SMO over the cosine of their n-gram vectors: with the whole
  // Gram matrix for sets of up to GetFullGramMatrixLimit() examples, else
  // through caches. The coefficients are left empty; n and the update number
  // stay. Returns S_OK; E_OUTOFMEMORY; a file failure's system error number
  // (3: a directory, 1413: a record index); ERROR_INVALID_DATA when the set
  // lacks examples of one class or has a label other than +1 and -1;
  // E_INVALIDARG when the set's n-gram length is not the classifier's;
  // otherwise the code of the failure.
  [[nodiscard]] HRESULT Train(CNGramsOnFileDataSet& set, double C, double tolerance, double epsilon);
  // The same on a Gram matrix given by the caller, (i, j) the kernel value
  // of examples i and j.
  [[nodiscard]] HRESULT Train(const CMatrix& gram, CNGramsOnFileDataSet& set, double C, double tolerance,
                              double epsilon);
  // b and w from a finished optimisation over the set: b the middle of the
  // two thresholds, w the sum of y alpha v / |v| over the support vectors.
  void ProcessTrainResults(CNGramsOnFileDataSet& set, const CSMOptimization& smo);
  // Keeps at most maxCount entries of each sign, the strongest ones, of
  // weight above minWeight in magnitude (maxCount 0 keeps none of a sign).
  void ReduceWeightVector(ULONG maxCount, double minWeight);
  // Later trainings seed the optimiser's random choices with seed, so that
  // one set and one seed give the same b and w on every run; without it each
  // training seeds them from the millisecond counter.
  void SetTrainingSeed(ULONG seed) {
    m_dwTrainingSeed = seed;
    m_bTrainingSeed = true;
  }
  // For tests: a smaller set size up to which the full Gram matrix is built.
  void SetFullGramMatrixLimit(ULONG n) { m_dwFullGramLimit = n; }
  ULONG GetFullGramMatrixLimit() const { return m_dwFullGramLimit; }

  // S_OK when b, the coefficients and every weight are finite numbers;
  // else E_FAIL with the reason (the first value that is not).
  [[nodiscard]] HRESULT CheckValues(TSTRING& reason) const;

  // Exactly size bytes: a failing stream's code, E_FAIL when fewer come.
  [[nodiscard]] static HRESULT ReadStream(IStream* stream, void* buffer, ULONG size);
  // The update number of the record at the stream's position (header only);
  // *number is set only on success.
  [[nodiscard]] static HRESULT GetUpdateNumber(IStream* stream, ULONG* number);

 private:
  [[nodiscard]] HRESULT ReadWeights(IStream* stream);
  // Makes the lookup table of m_w anew; called after every change of m_w.
  // The old table goes first, so a failure leaves none (scoring then goes
  // through m_w) rather than a stale one.
  void IndexWeights();
  // Train's body; failures are thrown.
  void TrainOnSet(CNGramsOnFileDataSet& set, double C, double tolerance, double epsilon);
  void TrainOnMatrix(const CMatrix& gram, CNGramsOnFileDataSet& set, double C, double tolerance, double epsilon);
  // The training result of a thrown failure.
  [[nodiscard]] static HRESULT TrainResult();

  CNGramsVector m_w;
  CSharedObjPtr<CNGramsWeightIndex> m_index;
  unsigned short m_wN;
  ULONG m_dwUpdateNumber;
  ULONG m_dwFullGramLimit = FULL_GRAM_MATRIX_LIMIT;
  ULONG m_dwTrainingSeed = 0;
  bool m_bTrainingSeed = false;
};

class CExtNGramsTextClassifier : public CNGramsTextClassifier {
 public:
  CExtNGramsTextClassifier() : CNGramsTextClassifier(5), m_ftLastWrite{0, 0} {}

  // A stream that yields the plain record of a data file in any storage
  // form; the caller releases it. Only a regular file is opened (anything
  // else gives E_FAIL at once, errno EISDIR or EINVAL); a file shorter than
  // 4 bytes gives E_FAIL; open and read failures come back unchanged.
  [[nodiscard]] static HRESULT OpenStream(const char* path, IStream** stream);
  // Loads the file unless its modification time equals the one recorded at
  // the last successful load. The file must hold exactly one record that
  // reads whole (for a compressed file: whose data checks out to its end)
  // and whose bias, coefficients and weights are finite numbers; anything
  // else is refused with E_FAIL (or the stream's own failure) and changes
  // nothing (neither the classifier nor the recorded time). *why, when
  // given, gets the reason of a refusal ("not a regular file", "bytes
  // follow the record", "the bias is not a finite number", ...); it stays
  // empty when the file is not there, which is no refusal.
  [[nodiscard]] HRESULT LoadData(const char* path, TSTRING* why = nullptr);
  // Empties the classifier and forgets the time.
  void Empty() override;
  // The update number of a data file that loads: the whole file is read
  // and checked as LoadData does, so a refused file has none (its failure
  // is returned and *number is not set).
  [[nodiscard]] static HRESULT GetUpdateNumber(const char* path, ULONG* number);
  using CNGramsTextClassifier::GetUpdateNumber;

  const FILETIME& GetLastWriteTime() const { return m_ftLastWrite; }

 private:
  FILETIME m_ftLastWrite;
};

}  // namespace telsor

#endif  // TELSOR_CLASSIFY_NGRAMSCLASSIFIER_H
