// MT19937 and the distributions over it.
#include "classify/randomgenerator.h"

#include <math.h>
#include <string.h>

#include <new>

#include "foundation/exception.h"
#include "foundation/win32.h"

namespace telsor {

CRandomGenerator::CRandomGenerator()
    : m_dwSeed(0),
      m_state(new (std::nothrow) DWORD[N]),
      m_dwLeft(1),
      m_dwNext(0),
      m_dU1(0),
      m_dU2(0),
      m_dR(0),
      m_bNormalPending(false),
      m_bSeeded(false) {
  if (!m_state) AfxThrowMemoryException();
  memset(m_state.get(), 0, N * sizeof(DWORD));
}

CRandomGenerator::~CRandomGenerator() {}

void CRandomGenerator::Seed(ULONG seed) {
  m_dwSeed = static_cast<DWORD>(seed);
  DWORD* s = m_state.get();
  s[0] = m_dwSeed;
  for (DWORD i = 1; i < N; ++i) s[i] = 1812433253u * (s[i - 1] ^ (s[i - 1] >> 30)) + i;
  m_dwLeft = 1;
  m_bSeeded = true;
}

void CRandomGenerator::Seed() { Seed(GetTickCount()); }

ULONG CRandomGenerator::GetInitialSeed() {
  if (!m_bSeeded) Seed();
  return m_dwSeed;
}

void CRandomGenerator::NextState() {
  if (!m_bSeeded) Seed();
  DWORD* s = m_state.get();
  for (DWORD i = 0; i < N; ++i) {
    const DWORD following = s[i + 1 < N ? i + 1 : 0];
    const DWORD y = (s[i] & 0x80000000u) | (following & 0x7FFFFFFFu);
    s[i] = s[(i + M) % N] ^ (y >> 1) ^ ((following & 1u) ? 0x9908B0DFu : 0u);
  }
  m_dwLeft = N;
  m_dwNext = 0;
}

ULONG CRandomGenerator::Random() {
  if (--m_dwLeft == 0) NextState();
  DWORD y = m_state[m_dwNext++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= y >> 18;
  return y;
}

double CRandomGenerator::Uniform() { return static_cast<double>(Random()) * 2.3283064365386963e-10; }

double CRandomGenerator::BoundedUniform(double a, double b) { return a + Uniform() * (b - a); }

double CRandomGenerator::Normal(double mean, double sigma) {
  const double twoPi = 6.283185307179586;
  if (m_bNormalPending) {
    m_bNormalPending = false;
    return mean + fabs(sigma) * m_dR * sin(twoPi * m_dU1);
  }
  m_dU1 = Uniform();
  m_dU2 = Uniform();
  m_dR = sqrt(-2.0 * log(1.0 - m_dU2));
  m_bNormalPending = true;
  return mean + fabs(sigma) * m_dR * cos(twoPi * m_dU1);
}

double CRandomGenerator::Exponential(double lambda) { return (-1.0 / lambda) * log(1.0 - Uniform()); }

double CRandomGenerator::LogNormal(double mean, double sigma) {
  if (mean == 0) return 0;
  const double m2 = mean * mean, s2 = sigma * sigma;
  return exp(Normal(log(m2 / sqrt(m2 + s2)), sqrt(log(1.0 + s2 / m2))));
}

double CRandomGenerator::Cauchy(double median, double scale) {
  return median + scale * tan(3.141592653589793 * (Uniform() - 0.5));
}

int CRandomGenerator::Geometric(double p) { return static_cast<int>(log(1.0 - Uniform()) / log(p) + 1); }

int CRandomGenerator::Bernouilli(double p) { return Uniform() <= p ? 1 : 0; }

void CRandomGenerator::Shuffle(void* base, ULONG elementSize, ULONG count) {
  if (count == 0 || elementSize == 0) return;
  BYTE small[256];
  std::unique_ptr<BYTE[]> large;
  BYTE* swap = small;
  if (elementSize > sizeof small) {
    large.reset(new (std::nothrow) BYTE[elementSize]);
    if (!large) AfxThrowMemoryException();
    swap = large.get();
  }
  BYTE* bytes = static_cast<BYTE*>(base);
  // Fisher-Yates: element i changes places with one of i .. count - 1.
  for (ULONG i = 0; i + 1 < count; ++i) {
    const ULONG j = static_cast<ULONG>(Uniform() * static_cast<double>(count - i));
    const ULONG k = i + (j < count - i ? j : count - i - 1);
    if (k == i) continue;
    memcpy(swap, bytes + i * elementSize, elementSize);
    memcpy(bytes + i * elementSize, bytes + k * elementSize, elementSize);
    memcpy(bytes + k * elementSize, swap, elementSize);
  }
}

void CRandomGenerator::GetShuffledIndices(ULONG* out, ULONG count) {
  for (ULONG i = 0; i < count; ++i) out[i] = i;
  Shuffle(out, sizeof(ULONG), count);
}

}  // namespace telsor
