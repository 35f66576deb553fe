// The recursive mutex and the read-write lock, observed from competing
// threads with bounded waits.
#include <gtest/gtest.h>

#include <errno.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "foundation/cpcriticalsection.h"
#include "foundation/rwmonitor.h"

namespace {

using telsor::CCPCriticalSection;
using telsor::CRWMonitor;

// A thread that takes a lock, holds it until Finish(), then gives it back.
class Contender {
 public:
  Contender(std::function<void()> take, std::function<void()> give)
      : thread_([this, take, give] {
          take();
          acquired_ = true;
          while (!finish_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
          give();
        }) {}
  ~Contender() { Finish(); }

  // Whether the lock was taken within ms milliseconds.
  bool Acquired(int ms) {
    for (int i = 0; i < ms && !acquired_; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return acquired_;
  }
  void Finish() {
    finish_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::atomic<bool> acquired_{false};
  std::atomic<bool> finish_{false};
  std::thread thread_;
};

#ifdef __SANITIZE_THREAD__
const bool kThreadSanitizer = true;
#else
const bool kThreadSanitizer = false;
#endif

const int kBlocked = 100;   // ms to conclude that a thread is kept waiting
const int kPrompt = 5000;   // ms within which a free lock must be taken

TEST(CCPCriticalSection, RecursiveLockHeldUntilUnlockedAsOften) {
  CCPCriticalSection cs;
  EXPECT_TRUE(cs.Lock());
  EXPECT_TRUE(cs.Lock());
  Contender other([&] { cs.Lock(); }, [&] { cs.Unlock(); });
  EXPECT_EQ(cs.Unlock(), 0);
  EXPECT_FALSE(other.Acquired(kBlocked));
  EXPECT_EQ(cs.Unlock(), 0);
  EXPECT_TRUE(other.Acquired(kPrompt));
  // Held by the other thread now: this one may not release it. (Under
  // ThreadSanitizer these deliberate misuses would be reported as such.)
  if (!kThreadSanitizer) {
    EXPECT_EQ(cs.Unlock(), EPERM);
  }
  other.Finish();
  if (!kThreadSanitizer) {
    EXPECT_EQ(cs.Unlock(), EPERM);  // not held at all
  }
}

TEST(CCPCriticalSection, CopiesAndAssignmentKeepSeparateMutexes) {
  CCPCriticalSection a;
  ASSERT_TRUE(a.Lock());
  CCPCriticalSection copy(a);
  CCPCriticalSection assigned;
  assigned = a;
  for (CCPCriticalSection* cs : {&copy, &assigned}) {
    Contender other([cs] { cs->Lock(); }, [cs] { cs->Unlock(); });
    EXPECT_TRUE(other.Acquired(kPrompt));
  }
  Contender onSource([&] { a.Lock(); }, [&] { a.Unlock(); });
  EXPECT_FALSE(onSource.Acquired(kBlocked));  // the source stays held
  a.Unlock();
  EXPECT_TRUE(onSource.Acquired(kPrompt));
}

TEST(CCPCriticalSection, NestedSectionsCountExactlyAcrossThreads) {
  CCPCriticalSection cs;
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 5000; ++i) {
        cs.Lock();
        cs.Lock();
        long v = counter;
        counter = v + 1;
        cs.Unlock();
        cs.Unlock();
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(counter, 6 * 5000);
}

TEST(CRWMonitor, TwoReadersTogetherWriterWaitsForBoth) {
  CRWMonitor m;
  ASSERT_EQ(m.BeginRead(), 0);
  Contender reader([&] { m.BeginRead(); }, [&] { m.EndRead(); });
  EXPECT_TRUE(reader.Acquired(kPrompt));
  Contender writer([&] { m.BeginWrite(); }, [&] { m.EndWrite(); });
  EXPECT_FALSE(writer.Acquired(kBlocked));
  EXPECT_EQ(m.EndRead(), 0);
  EXPECT_FALSE(writer.Acquired(kBlocked));
  reader.Finish();
  EXPECT_TRUE(writer.Acquired(kPrompt));
  // While the writer holds it, readers wait.
  Contender late([&] { m.BeginRead(); }, [&] { m.EndRead(); });
  EXPECT_FALSE(late.Acquired(kBlocked));
  writer.Finish();
  EXPECT_TRUE(late.Acquired(kPrompt));
}

TEST(CRWMonitor, CopiesAndAssignmentKeepSeparateLocks) {
  CRWMonitor a;
  ASSERT_EQ(a.BeginWrite(), 0);
  CRWMonitor copy(a);
  CRWMonitor assigned;
  assigned = a;
  for (CRWMonitor* m : {&copy, &assigned}) {
    Contender other([m] { m->BeginWrite(); }, [m] { m->EndWrite(); });
    EXPECT_TRUE(other.Acquired(kPrompt));
  }
  Contender onSource([&] { a.BeginRead(); }, [&] { a.EndRead(); });
  EXPECT_FALSE(onSource.Acquired(kBlocked));
  EXPECT_EQ(a.EndWrite(), 0);
  EXPECT_TRUE(onSource.Acquired(kPrompt));
}

// Readers and writers hammer one monitor: a writer is always alone, readers
// see only consistent data, and readers do overlap.
TEST(CRWMonitor, StressWritersExclusiveReadersConsistent) {
  CRWMonitor m;
  // Reader overlap is shown deterministically by the rendezvous test above;
  // here only exclusion and consistency are checked, which hold under any schedule.
  std::atomic<int> readers{0}, writers{0};
  std::atomic<int> violations{0};
  long first = 0, second = 0;  // equal outside a write
  const int kReaders = 6, kWriters = 3, kReads = 3000, kWrites = 400;
  std::vector<std::thread> threads;
  for (int t = 0; t < kReaders; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kReads; ++i) {
        m.BeginRead();
        ++readers;
        if (writers != 0 || first != second) ++violations;
        if (i % 64 == 0) std::this_thread::yield();
        --readers;
        m.EndRead();
      }
    });
  }
  for (int t = 0; t < kWriters; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kWrites; ++i) {
        m.BeginWrite();
        if (++writers != 1 || readers != 0) ++violations;
        first = first + 1;
        std::this_thread::yield();
        second = second + 1;
        --writers;
        m.EndWrite();
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(violations, 0);
  EXPECT_EQ(first, kWriters * kWrites);
  EXPECT_EQ(second, first);
}

}  // namespace
