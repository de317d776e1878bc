#pragma once
// Worker thread of the playback engine and the slide loader: an inbound queue
// drained by the thread itself, a start hook, a loop body run until the
// thread is terminated, and an end hook.
#include <atomic>
#include <thread>

#include "foundation/thread_event_list.h"

namespace lum {

class TLumThread {
 public:
  TLumThread();
  // Derived classes call Stop() in their own destructor: the loop body must
  // not run on a half-destroyed object.
  virtual ~TLumThread();
  TLumThread(const TLumThread&) = delete;
  TLumThread& operator=(const TLumThread&) = delete;

  // Starts the system thread; false when it could not be started.
  bool Start();
  // Asks the loop to end and shuts the inbound queue (waiting senders return).
  void Terminate();
  // Terminates and waits for the thread to end (only terminates when called
  // from the thread itself).
  void Stop();
  bool Terminated() const { return terminated_.load(); }
  // Set when the thread started, cleared by the thread when its body ends.
  bool Running() const { return running_.load(); }
  TThreadEventList& Events() { return events_; }

 protected:
  virtual void OnStart() {}
  // One pass of the loop.
  virtual void LoopBody() = 0;
  virtual void OnEnd() {}
  // Items of the inbound queue, on this thread.
  virtual void Handle(int code, TRefObject* data);

 private:
  void Body();

  TThreadEventList events_;
  std::thread thread_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> running_{false};
};

}  // namespace lum
