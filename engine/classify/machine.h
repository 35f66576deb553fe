// CMachine: the abstract base of every trained classifier; CTrainer: the
// base of every trainer, which calls its machine's iteration hook after each
// successful optimisation step.
//
//   class CLinear : public CMachine {            // w.x as the machine's value
//    public:
//     explicit CLinear(const CRealVector& w) : m_w(w) {}
//     HRESULT Serialize(IStream* s, int storing) override { return m_w.Serialize(s, storing); }
//     CRealVector EvaluateRealVector(const CRealVector& x) const override {
//       double sum = 0;
//       for (DWORD i = 0; i < m_w.GetSize(); ++i) sum += m_w[i] * x.GetAt(i);
//       return CRealVector(&sum, 1);
//     }
//     CRealVector m_w;
//   };
//   class CPerceptron : public CTrainer {        // holds the machine, does not own it
//    public:
//     explicit CPerceptron(CLinear& m) : CTrainer(m) {}
//   };
//   const double w[2] = {0.5, -1.0};
//   CLinear machine{CRealVector(w, 2)};
//   CPerceptron trainer(machine);
//   // after each step that changed the model:
//   trainer.OnEachIteration();       // machine.OnEachIteration(trainer), then count + 1
//
// The trainer holds the machine by reference and does not own it. Nothing
// here locks: a machine evaluated on several threads must not be changed
// meanwhile.
#ifndef TELSOR_CLASSIFY_MACHINE_H
#define TELSOR_CLASSIFY_MACHINE_H

#include "classify/realvector.h"
#include "foundation/istream.h"
#include "foundation/obj.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"

namespace telsor {

class CTrainer;

class CMachine {
 public:
  CMachine() : m_dwReportTime(0) {}
  CMachine(const CMachine& other) = default;
  CMachine& operator=(const CMachine& other) = default;
  virtual ~CMachine();

  // Called by the trainer after each successful step; nothing here.
  virtual void OnEachIteration(CTrainer& trainer);
  // Writes (storing non-zero) or reads the machine's record.
  [[nodiscard]] virtual HRESULT Serialize(IStream* stream, int storing) = 0;
  // The machine's values for a vector or a text; empty here.
  virtual CRealVector EvaluateRealVector(const CRealVector& x) const;
  virtual CRealVector EvaluateText(const TSTRING& text) const;
  // Forgets the model; here only the time of the last progress report.
  virtual void Empty();

  // Seconds (as from time()) of the last progress report; 0 when none.
  DWORD GetReportTime() const { return m_dwReportTime; }
  void SetReportTime(DWORD seconds) { m_dwReportTime = seconds; }

 private:
  DWORD m_dwReportTime;
};

class CTrainer : public CObj {
 public:
  explicit CTrainer(CMachine& machine) : m_machine(machine), m_dwIterations(0) {}
  ~CTrainer() override;
  CTrainer(const CTrainer&) = delete;
  CTrainer& operator=(const CTrainer&) = delete;

  // The machine's hook with this trainer, then one more iteration counted.
  void OnEachIteration();

  CMachine& GetMachine() const { return m_machine; }
  // Successful optimisation steps so far.
  DWORD GetIterationCount() const { return m_dwIterations; }

 protected:
  // A new run counts from 0.
  void ResetIterationCount() { m_dwIterations = 0; }

 private:
  CMachine& m_machine;
  DWORD m_dwIterations;
};

}  // namespace telsor

#endif  // TELSOR_CLASSIFY_MACHINE_H
