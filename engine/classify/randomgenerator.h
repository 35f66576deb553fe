// CRandomGenerator: the learning core's random numbers: a 32-bit Mersenne
// Twister (MT19937, seeded by one 32-bit value, with the reference
// tempering) and distributions and shuffles over it.
//
//   CRandomGenerator rng;
//   rng.Seed(5489);
//   ULONG a = rng.Random();            // 3499211612, as the reference
//   double u = rng.Uniform();                  // [0, 1)
//   long pick = static_cast<long>(rng.BoundedUniform(0, 10));   // 0 .. 9
//   std::vector<ULONG> order(100);
//   rng.GetShuffledIndices(order.data(), 100); // a permutation of 0 .. 99
//
// A generator that is never seeded seeds itself from the millisecond
// counter at its first draw. Shuffles are Fisher-Yates: every order is
// equally likely. One generator belongs to one thread.
#ifndef TELSOR_CLASSIFY_RANDOMGENERATOR_H
#define TELSOR_CLASSIFY_RANDOMGENERATOR_H

#include <memory>

#include "foundation/obj.h"
#include "foundation/wintypes.h"

namespace telsor {

class CRandomGenerator : public CObj {
 public:
  static constexpr DWORD N = 624;
  static constexpr DWORD M = 397;

  CRandomGenerator();
  ~CRandomGenerator() override;
  CRandomGenerator(const CRandomGenerator&) = delete;
  CRandomGenerator& operator=(const CRandomGenerator&) = delete;

  void Seed(ULONG seed);
  // Seeds from the millisecond counter.
  void Seed();
  ULONG GetInitialSeed();
  // Regenerates the state words (the first draw after seeding does it).
  void NextState();

  ULONG Random();
  double Uniform();  // Random() x 2^-32
  double BoundedUniform(double a, double b);
  double Normal(double mean, double sigma);
  double Exponential(double lambda);
  // mean and sigma are those of the result itself; mean 0 gives 0.
  double LogNormal(double mean, double sigma);
  double Cauchy(double median, double scale);
  int Geometric(double p);
  int Bernouilli(double p);
  // Shuffles count elements of elementSize bytes in place.
  void Shuffle(void* base, ULONG elementSize, ULONG count);
  // out[0 .. count - 1] := a random permutation of 0 .. count - 1.
  void GetShuffledIndices(ULONG* out, ULONG count);

 private:
  DWORD m_dwSeed;
  std::unique_ptr<DWORD[]> m_state;
  DWORD m_dwLeft;
  DWORD m_dwNext;
  double m_dU1, m_dU2, m_dR;
  bool m_bNormalPending;
  bool m_bSeeded;
};

}  // namespace telsor

#endif  // TELSOR_CLASSIFY_RANDOMGENERATOR_H
