// One shared object held and copied by eight threads at once is deleted
// exactly once, when the last holder lets go.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "foundation/obj.h"

using namespace telsor;

namespace {

std::atomic<int> g_alive{0};

class CNode : public CSharedObj {
 public:
  CNode() { ++g_alive; }
  ~CNode() override { --g_alive; }
};

TEST(SharedObjPtr, SharedAcrossThreadsIsDeletedOnce) {
  g_alive = 0;
  {
    CSharedObjPtr<CNode> p = new CNode;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
      threads.emplace_back([p] {
        for (int i = 0; i < 5000; ++i) {
          CSharedObjPtr<CNode> q(p);
          CSharedObjPtr<CNode> r;
          r = q;
        }
      });
    for (auto& th : threads) th.join();
    EXPECT_EQ(p->AddRef(), 2);
    p->Release();
  }
  EXPECT_EQ(g_alive, 0);
}

}  // namespace
