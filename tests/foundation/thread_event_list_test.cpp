// Reference counting and the worker threads' inbound queue.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "foundation/ref_object.h"
#include "foundation/thread_event_list.h"

namespace lum {
namespace {

using namespace std::chrono_literals;

// Counts its destructions so tests can see when the last holder let go.
class TCounted : public TRefObject {
 public:
  TCounted(std::atomic<int>* destroyed, int value) : destroyed_(destroyed), value_(value) {}
  ~TCounted() override { ++*destroyed_; }
  int Value() const { return value_; }

 private:
  std::atomic<int>* destroyed_;
  int value_;
};

int ValueOf(TRefObject* data) {
  return data ? static_cast<TCounted*>(data)->Value() : -1;
}

// Runs the owner's loop on its own thread until the list is shut.
class TOwner {
 public:
  explicit TOwner(TThreadEventList& list)
      : list_(list), thread_([this] {
          while (!list_.IsShut()) {
            list_.WaitFor(50ms);
            list_.Drain();
          }
        }) {}
  ~TOwner() {
    list_.Shut();
    thread_.join();
  }

 private:
  TThreadEventList& list_;
  std::thread thread_;
};

TEST(RefObject, CountsHoldersAndFreesOnTheLast) {
  std::atomic<int> destroyed{0};
  TRef<TCounted> a = MakeRef<TCounted>(&destroyed, 1);
  EXPECT_EQ(a->RefCount(), 1);
  {
    TRef<TCounted> b = a;
    TRef<TRefObject> base = b;  // conversion to the base keeps its own reference
    EXPECT_EQ(a->RefCount(), 3);
    TRef<TCounted> moved = std::move(b);
    EXPECT_FALSE(b);
    EXPECT_EQ(a->RefCount(), 3);
    EXPECT_TRUE(moved == a);
  }
  EXPECT_EQ(a->RefCount(), 1);
  TRef<TCounted> other = MakeRef<TCounted>(&destroyed, 2);
  a = other;  // the old object loses its last holder
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(a->Value(), 2);
  a = a;  // self-assignment keeps it alive
  EXPECT_EQ(other->RefCount(), 2);
  a = nullptr;
  other = TRef<TCounted>();
  EXPECT_EQ(destroyed, 2);
}

TEST(RefObject, ReleasedFromManyThreads) {
  std::atomic<int> destroyed{0};
  TRef<TCounted> shared = MakeRef<TCounted>(&destroyed, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([copy = shared] {
      for (int i = 0; i < 10000; ++i) TRef<TCounted> extra = copy;
    });
  }
  shared = nullptr;
  for (auto& t : threads) t.join();
  EXPECT_EQ(destroyed, 1);
}

TEST(ThreadEventList, PostsAreHandledInOrderWithTheirData) {
  std::atomic<int> destroyed{0};
  std::vector<std::pair<int, int>> seen;
  TThreadEventList list(
      [&](int code, TRefObject* data) { seen.emplace_back(code, ValueOf(data)); });
  EXPECT_TRUE(list.Empty());
  list.Post(1, MakeRef<TCounted>(&destroyed, 10));
  list.Post(2);
  list.Post(3, MakeRef<TCounted>(&destroyed, 30));
  list.Post(1, MakeRef<TCounted>(&destroyed, 40));
  EXPECT_FALSE(list.Empty());
  EXPECT_EQ(destroyed, 0);  // the list holds the data until it is handled
  list.Drain();
  EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{1, 10}, {2, -1}, {3, 30}, {1, 40}}));
  EXPECT_EQ(destroyed, 3);
  EXPECT_TRUE(list.Empty());
}

TEST(ThreadEventList, ItemsPostedByTheHandlerAreHandledInTheSameDrain) {
  std::vector<int> seen;
  TThreadEventList* self = nullptr;
  TThreadEventList list([&](int code, TRefObject*) {
    seen.push_back(code);
    if (code < 3) self->Post(code + 1);
  });
  self = &list;
  list.Post(1);
  list.Drain();
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
}

TEST(ThreadEventList, HandlerExceptionsAreSwallowed) {
  std::atomic<int> destroyed{0};
  std::vector<int> seen;
  TThreadEventList list([&](int code, TRefObject*) {
    seen.push_back(code);
    if (code == 2) throw std::runtime_error("bad request");
    if (code == 3) throw 3;
  });
  list.Post(1);
  list.Post(2, MakeRef<TCounted>(&destroyed, 0));
  list.Post(3);
  list.Post(4);
  list.Drain();
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(destroyed, 1);

  // A sender whose request fails is released all the same.
  TOwner owner(list);
  list.Send(2);
}

TEST(ThreadEventList, SendWaitsUntilTheOwnerHandledTheItem) {
  std::promise<void> entered, release;
  std::shared_future<void> gate = release.get_future().share();
  std::atomic<bool> sendReturned{false};
  std::atomic<int> destroyed{0};
  int handledValue = 0;
  TThreadEventList list([&](int code, TRefObject* data) {
    if (code != 7) return;
    handledValue = ValueOf(data);
    entered.set_value();
    gate.wait();
  });
  TOwner owner(list);
  std::thread sender([&] {
    list.Send(7, MakeRef<TCounted>(&destroyed, 70));
    sendReturned = true;
  });
  entered.get_future().wait();
  EXPECT_FALSE(sendReturned);  // the handler has not finished yet
  release.set_value();
  sender.join();
  EXPECT_TRUE(sendReturned);
  EXPECT_EQ(handledValue, 70);
  EXPECT_EQ(destroyed, 1);  // released before the sender resumed
}

TEST(ThreadEventList, ShutReleasesWaitingSendersAndDropsItems) {
  std::atomic<int> destroyed{0};
  std::atomic<int> handled{0};
  TThreadEventList list([&](int, TRefObject*) { ++handled; });
  std::promise<void> sent;
  std::thread sender([&] {
    list.Send(1, MakeRef<TCounted>(&destroyed, 1));
    sent.set_value();
  });
  // This thread is an owner that never drains. Send queues its item and starts
  // waiting under one lock, so once the item is visible the sender is blocked.
  while (list.Empty()) list.WaitFor(50ms);
  list.Post(2, MakeRef<TCounted>(&destroyed, 2));
  list.Shut();
  if (sent.get_future().wait_for(10s) != std::future_status::ready) {
    // The sender would stay blocked for good; stop here instead of hanging the run.
    std::fprintf(stderr, "Shut left a sender blocked\n");
    std::_Exit(1);
  }
  sender.join();
  EXPECT_EQ(destroyed, 2);
  list.Drain();
  EXPECT_EQ(handled, 0);
}

TEST(ThreadEventList, ShutListRefusesNewItems) {
  std::atomic<int> destroyed{0};
  std::atomic<int> handled{0};
  TThreadEventList list([&](int, TRefObject*) { ++handled; });
  list.Shut();
  EXPECT_TRUE(list.IsShut());
  list.Post(1, MakeRef<TCounted>(&destroyed, 1));
  EXPECT_EQ(destroyed, 1);  // released at once, not kept until some later drain
  list.Send(2, MakeRef<TCounted>(&destroyed, 2));  // returns at once: nobody will handle it
  EXPECT_EQ(destroyed, 2);
  EXPECT_TRUE(list.Empty());
  list.Drain();
  EXPECT_EQ(handled, 0);
}

TEST(ThreadEventList, DestroyingTheListReleasesPendingData) {
  std::atomic<int> destroyed{0};
  {
    TThreadEventList list(nullptr);
    list.Post(1, MakeRef<TCounted>(&destroyed, 1));
    list.Post(2, MakeRef<TCounted>(&destroyed, 2));
  }
  EXPECT_EQ(destroyed, 2);
}

TEST(ThreadEventList, WaitForWakesOnPostAndOnShut) {
  TThreadEventList list(nullptr);
  auto start = std::chrono::steady_clock::now();
  list.WaitFor(20ms);  // nothing arrives: the full timeout passes
  EXPECT_GE(std::chrono::steady_clock::now() - start, 20ms);

  for (bool shut : {false, true}) {
    SCOPED_TRACE(shut);
    TThreadEventList waited(nullptr);
    auto begin = std::chrono::steady_clock::now();
    std::thread owner([&] { waited.WaitFor(60s); });
    if (shut) {
      waited.Shut();
    } else {
      waited.Post(1);
    }
    owner.join();
    // Generous bound: only a missed wake-up would take anywhere near the timeout.
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 30s);
  }
}

TEST(ThreadEventList, ManySendersFromSeveralThreads) {
  constexpr int kThreads = 4, kPerThread = 300;
  std::atomic<int> destroyed{0};
  std::vector<int> lastSeq(kThreads, -1);
  std::atomic<bool> ordered{true};
  int handled = 0;  // touched on the owner thread only
  TThreadEventList list([&](int code, TRefObject* data) {
    int t = code, seq = ValueOf(data);
    if (seq <= lastSeq[size_t(t)]) ordered = false;
    lastSeq[size_t(t)] = seq;
    ++handled;
  });
  {
    TOwner owner(list);
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
      senders.emplace_back([&, t] {
        for (int i = 0; i < kPerThread; ++i) {
          // Posts between sends: a thread's items still arrive in its own order.
          if (i % 3 == 0) {
            list.Post(t, MakeRef<TCounted>(&destroyed, i));
          } else {
            list.Send(t, MakeRef<TCounted>(&destroyed, i));
          }
        }
        list.Send(t, MakeRef<TCounted>(&destroyed, kPerThread));  // flushes this thread's posts
      });
    }
    for (auto& s : senders) s.join();
  }
  EXPECT_EQ(handled, kThreads * (kPerThread + 1));
  EXPECT_EQ(destroyed, kThreads * (kPerThread + 1));
  EXPECT_TRUE(ordered);
}

}  // namespace
}  // namespace lum
