// CPList against a std::deque model, with element lifetimes counted (the
// sanitizer build also reports any element whose heap text is leaked).
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/obj.h"
#include "foundation/plist.h"
#include "foundation/tstring.h"
#include "foundation/win32.h"

namespace {

using telsor::CPList;

// An element that counts its live instances and owns heap memory.
struct Counted {
  static int live;
  static bool failAssign;
  std::string text;
  Counted() : text() { ++live; }
  Counted(int v) : text(std::string(40, 'x') + std::to_string(v)) { ++live; }
  Counted(const Counted& o) : text(o.text) { ++live; }
  Counted& operator=(const Counted& o) {
    if (failAssign) throw std::runtime_error("assign");
    text = o.text;
    return *this;
  }
  ~Counted() { --live; }
  bool operator==(const Counted& o) const { return text == o.text; }
};
int Counted::live = 0;
bool Counted::failAssign = false;

// A shared object that counts its live instances.
class Shared : public telsor::CSharedObj {
 public:
  static int live;
  Shared() { ++live; }
  ~Shared() override { --live; }
};
int Shared::live = 0;

LONG RefCount(const telsor::CSharedObj* obj) {
  LONG n = obj->AddRef() - 1;
  obj->Release();
  return n;
}

// The reference count in a TSTRING's buffer header (1: one holder).
LONG BufferRefs(const telsor::TSTRING& s) {
  return (reinterpret_cast<const telsor::TSTRINGData*>(s.c_str()) - 1)->nRefs;
}

// The ways a list lets go of its elements.
enum class Ending { RemoveAll, Destructor, RemoveAtEach, RemoveAtMiddleThenAll };

template <class T, class A>
void End(CPList<T, A>*& list, Ending how) {
  switch (how) {
    case Ending::RemoveAll:
      list->RemoveAll();
      break;
    case Ending::Destructor:
      delete list;
      list = nullptr;
      return;
    case Ending::RemoveAtEach:
      while (!list->IsEmpty()) list->RemoveAt(list->GetHeadPosition());
      break;
    case Ending::RemoveAtMiddleThenAll: {
      void* p = list->GetHeadPosition();
      list->GetNext(p);
      list->RemoveAt(p);
      list->RemoveAll();
      break;
    }
  }
  EXPECT_EQ(list->GetChunkCount(), 0);
  delete list;
  list = nullptr;
}

const Ending kEndings[] = {Ending::RemoveAll, Ending::Destructor, Ending::RemoveAtEach,
                           Ending::RemoveAtMiddleThenAll};

// A header parameter whose name decides equality, case-insensitively.
struct Param {
  std::string name;
  std::string value;
  bool operator==(const Param&) const = delete;
};

}  // namespace

namespace telsor {
template <>
inline BOOL CompareElements<Param>(const Param* a, const Param* b) {
  return lstrcmpiA(a->name.c_str(), b->name.c_str()) == 0 ? 1 : 0;
}
}  // namespace telsor

namespace {

template <class T, class A>
std::vector<T> Forward(const CPList<T, A>& list) {
  std::vector<T> out;
  for (void* p = list.GetHeadPosition(); p != nullptr;) out.push_back(list.GetNext(p));
  return out;
}

template <class T, class A>
std::vector<T> Backward(const CPList<T, A>& list) {
  std::vector<T> out;
  for (void* p = list.GetTailPosition(); p != nullptr;) out.insert(out.begin(), list.GetPrev(p));
  return out;
}

class CountedList : public ::testing::Test {
 protected:
  void SetUp() override { Counted::live = 0; }
  void TearDown() override { EXPECT_EQ(Counted::live, 0); }
};

TEST_F(CountedList, ElevenElementsTakeTwoChunksFreedAtLastRemoval) {
  struct Case {
    const char* order;
    bool fromHead;
    bool middleFirst;
  } cases[] = {{"head first", true, false}, {"tail first", false, false}, {"middle", true, true}};
  for (const Case& c : cases) {
    CPList<Counted, Counted&> list(10);
    EXPECT_EQ(list.GetChunkCount(), 0);
    std::vector<void*> pos;
    for (int i = 0; i < 11; ++i) {
      Counted v(i);
      pos.push_back(list.AddTail(v));
      EXPECT_EQ(list.GetChunkCount(), i < 10 ? 1 : 2);
    }
    EXPECT_EQ(Counted::live, 11);
    if (c.middleFirst) {
      list.RemoveAt(pos[5]);
      pos.erase(pos.begin() + 5);
    }
    while (!pos.empty()) {
      EXPECT_EQ(list.GetChunkCount(), 2) << c.order;
      void* p = c.fromHead ? pos.front() : pos.back();
      if (c.fromHead)
        pos.erase(pos.begin());
      else
        pos.pop_back();
      list.RemoveAt(p);
      EXPECT_EQ(Counted::live, static_cast<int>(pos.size())) << c.order;
      EXPECT_EQ(list.GetCount(), static_cast<int>(pos.size()));
    }
    EXPECT_EQ(list.GetChunkCount(), 0) << c.order;
    EXPECT_EQ(list.GetHeadPosition(), nullptr);
    EXPECT_EQ(list.GetTailPosition(), nullptr);
  }
}

TEST_F(CountedList, RemovedNodesAreReusedBeforeNewChunks) {
  CPList<Counted, Counted&> list(4);
  Counted v(1);
  void* keep = list.AddTail(v);
  std::vector<void*> first;
  for (int i = 0; i < 3; ++i) first.push_back(list.AddTail(v));
  for (void* p : first) list.RemoveAt(p);
  std::vector<void*> again;
  for (int i = 0; i < 3; ++i) again.push_back(list.AddHead(v));
  EXPECT_EQ(list.GetChunkCount(), 1);
  std::sort(first.begin(), first.end());
  std::sort(again.begin(), again.end());
  EXPECT_EQ(first, again);
  EXPECT_EQ(list.GetTailPosition(), keep);
  EXPECT_EQ(Counted::live, 1 + 4);
}

// Random adds and removals at both ends and in the middle, checked against
// a deque after every step; the chunk count follows the peak since the list
// was last empty.
TEST_F(CountedList, MatchesDequeModel) {
  struct Case {
    int blockSize;
    unsigned seed;
  } cases[] = {{1, 1}, {3, 2}, {10, 3}, {0, 4}};
  for (const Case& c : cases) {
    std::mt19937 rng(c.seed);
    CPList<Counted, Counted&> list(c.blockSize);
    std::deque<std::string> model;
    std::deque<void*> pos;
    int per = c.blockSize > 0 ? c.blockSize : 1;
    size_t peak = 0;
    for (int step = 0; step < 600; ++step) {
      unsigned op = rng() % 5;
      Counted v(step);
      if (op == 0) {
        pos.push_front(list.AddHead(v));
        model.push_front(v.text);
      } else if (op <= 2 || model.empty()) {
        pos.push_back(list.AddTail(v));
        model.push_back(v.text);
      } else if (op == 3) {
        size_t i = rng() % model.size();
        list.RemoveAt(pos[i]);
        pos.erase(pos.begin() + static_cast<long>(i));
        model.erase(model.begin() + static_cast<long>(i));
      } else {
        while (!model.empty() && rng() % 4 != 0) {
          list.RemoveAt(pos.back());
          pos.pop_back();
          model.pop_back();
        }
      }
      peak = model.empty() ? 0 : std::max(peak, model.size());
      ASSERT_EQ(list.GetCount(), static_cast<int>(model.size()));
      ASSERT_EQ(list.GetChunkCount(), static_cast<int>((peak + per - 1) / per));
      ASSERT_EQ(Counted::live, static_cast<int>(model.size()) + 1);
      std::vector<Counted> fw = Forward(list), bw = Backward(list);
      ASSERT_EQ(fw.size(), model.size());
      for (size_t i = 0; i < model.size(); ++i) {
        ASSERT_EQ(fw[i].text, model[i]);
        ASSERT_EQ(bw[i].text, model[i]);
        ASSERT_EQ(list.GetAt(pos[i]).text, model[i]);
      }
    }
  }
}

TEST_F(CountedList, RemoveAllAndDestructionEndEveryElement) {
  {
    CPList<Counted, Counted&> list(10);
    Counted v(7);
    for (int i = 0; i < 25; ++i) list.AddTail(v);
    EXPECT_EQ(list.GetChunkCount(), 3);
    list.RemoveAll();
    EXPECT_EQ(Counted::live, 1);
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetChunkCount(), 0);
    EXPECT_EQ(list.GetHeadPosition(), nullptr);
    list.AddTail(v);  // usable again
    list.AddHead(v);
    EXPECT_EQ(Counted::live, 3);
  }
  EXPECT_EQ(Counted::live, 0);
}

TEST_F(CountedList, FailedAssignmentLeavesListUnchanged) {
  CPList<Counted, Counted&> list(2);
  Counted a(1), b(2);
  list.AddTail(a);
  Counted::failAssign = true;
  EXPECT_THROW(list.AddTail(b), std::runtime_error);
  EXPECT_THROW(list.AddHead(b), std::runtime_error);
  Counted::failAssign = false;
  EXPECT_EQ(list.GetCount(), 1);
  EXPECT_EQ(Counted::live, 3);
  EXPECT_EQ(Forward(list), std::vector<Counted>{a});
  CPList<Counted, Counted&> empty(2);
  Counted::failAssign = true;
  EXPECT_THROW(empty.AddTail(b), std::runtime_error);
  Counted::failAssign = false;
  EXPECT_EQ(empty.GetCount(), 0);
  EXPECT_EQ(empty.GetChunkCount(), 0);
}

// The list holds one reference per element: ending the list releases each,
// deletes the objects only it held and leaves the others to their holders.
TEST(CPList, SharedPointerElementsAreReleased) {
  using List = CPList<telsor::CSharedObjPtr<Shared>, telsor::CSharedObjPtr<Shared>&>;
  for (Ending how : kEndings) {
    Shared::live = 0;
    telsor::CSharedObjPtr<Shared> kept = new Shared;
    List* list = new List(10);
    for (int i = 0; i < 12; ++i) {
      telsor::CSharedObjPtr<Shared> only = new Shared;
      list->AddTail(only);
    }
    list->AddHead(kept);
    list->AddTail(kept);
    EXPECT_EQ(Shared::live, 13);
    EXPECT_EQ(RefCount(kept), 3);
    EXPECT_EQ(list->Find(kept), list->GetHeadPosition());
    EXPECT_EQ(list->Find(kept, list->GetHeadPosition()), list->GetTailPosition());
    void* second = list->GetHeadPosition();
    list->GetNext(second);
    EXPECT_EQ(RefCount(list->GetAt(second)), 1);  // the list is its only holder
    End(list, how);
    EXPECT_EQ(Shared::live, 1) << static_cast<int>(how);
    EXPECT_EQ(RefCount(kept), 1);
  }
  EXPECT_EQ(Shared::live, 0);
}

TEST(CPList, StringElementsShareAndReleaseBuffers) {
  using List = CPList<telsor::TSTRING, telsor::TSTRING&>;
  for (Ending how : kEndings) {
    telsor::TSTRING kept("kept text");
    List* list = new List(4);
    for (int i = 0; i < 9; ++i) {
      telsor::TSTRING own(std::string(50, 'a' + i));  // leaks show under the sanitizer
      list->AddTail(own);
    }
    list->AddTail(kept);
    list->AddHead(kept);
    EXPECT_EQ(BufferRefs(kept), 3);
    telsor::TSTRING& first = list->GetAt(list->GetHeadPosition());
    EXPECT_EQ(first.c_str(), kept.c_str());  // shared, not copied
    End(list, how);
    EXPECT_EQ(BufferRefs(kept), 1) << static_cast<int>(how);
    EXPECT_STREQ(kept.c_str(), "kept text");
  }
}

TEST(CPList, FindStartsAfterThePositionGiven) {
  CPList<std::string, std::string&> list(10);
  std::vector<void*> pos;
  for (std::string s : {"5", "3", "5", "7"}) pos.push_back(list.AddTail(s));
  struct Case {
    const char* value;
    int after;  // index of startAfter, -1 for null
    int found;  // index of the result, -1 for null
  } cases[] = {
      {"5", -1, 0}, {"5", 0, 2}, {"5", 1, 2}, {"5", 2, -1}, {"5", 3, -1},
      {"7", -1, 3}, {"7", 3, -1}, {"9", -1, -1}, {"3", 0, 1},
  };
  for (const Case& c : cases) {
    void* r = list.Find(c.value, c.after < 0 ? nullptr : pos[c.after]);
    EXPECT_EQ(r, c.found < 0 ? nullptr : pos[c.found]) << c.value << " after " << c.after;
  }
}

TEST(CPList, PointerElementsCompareByIdentityAndAreNotOwned) {
  int* a = new int(4);
  int* b = new int(4);
  {
    CPList<int*, int*> list(10);
    void* pa = list.AddTail(a);
    void* pb = list.AddTail(b);
    EXPECT_EQ(list.Find(b), pb);
    EXPECT_EQ(list.Find(a), pa);
    int c = 4;
    EXPECT_EQ(list.Find(&c), nullptr);
  }
  EXPECT_EQ(*a + *b, 8);  // the list deleted neither
  delete a;
  delete b;
}

TEST(CPList, FindUsesTheElementsOwnComparison) {
  CPList<Param, Param&> list(10);
  Param charset{"charset", "utf-8"}, name{"Name", "a.txt"};
  list.AddTail(charset);
  void* pn = list.AddTail(name);
  EXPECT_EQ(list.Find(Param{"NAME", ""}), pn);
  EXPECT_EQ(list.Find(Param{"boundary", ""}), nullptr);
}

TEST(CPList, AppendListCopiesInOrder) {
  CPList<std::string, std::string&> a(3), b(2);
  for (std::string s : {"x", "y"}) a.AddTail(s);
  for (std::string s : {"1", "2", "3"}) b.AddTail(s);
  a.AddTail(&b);
  EXPECT_EQ(Forward(a), (std::vector<std::string>{"x", "y", "1", "2", "3"}));
  EXPECT_EQ(Forward(b), (std::vector<std::string>{"1", "2", "3"}));
  b.GetAt(b.GetHeadPosition()) = "changed";
  EXPECT_EQ(a.GetAt(a.Find("1")), "1");  // copies, not shared
  a.AddTail(&a);
  EXPECT_EQ(a.GetCount(), 10);
  EXPECT_EQ(Forward(a), (std::vector<std::string>{"x", "y", "1", "2", "3", "x", "y", "1", "2", "3"}));
  CPList<std::string, std::string&> empty(2);
  a.AddTail(&empty);
  EXPECT_EQ(a.GetCount(), 10);
}

TEST(CPList, OnlyElementRemovedLeavesEmptyList) {
  CPList<std::string, std::string&> list(10);
  std::string s(100, 's');
  void* p = list.AddHead(s);
  EXPECT_EQ(list.GetHeadPosition(), p);
  EXPECT_EQ(list.GetTailPosition(), p);
  list.RemoveAt(p);
  EXPECT_EQ(list.GetHeadPosition(), nullptr);
  EXPECT_EQ(list.GetTailPosition(), nullptr);
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(list.GetChunkCount(), 0);
}

}  // namespace
