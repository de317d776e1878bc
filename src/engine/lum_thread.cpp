#include "engine/lum_thread.h"

#include "foundation/log.h"

namespace lum {

TLumThread::TLumThread() : events_([this](int code, TRefObject* data) { Handle(code, data); }) {}

TLumThread::~TLumThread() {
  Stop();
}

bool TLumThread::Start() {
  if (thread_.joinable()) return running_.load();
  terminated_ = false;
  try {
    running_ = true;
    thread_ = std::thread([this] { Body(); });
  } catch (const std::exception& e) {
    running_ = false;
    Log().Line(std::string("TLumThread: the thread could not be started: ") + e.what());
  }
  return running_.load();
}

void TLumThread::Terminate() {
  terminated_ = true;
  events_.Shut();
}

void TLumThread::Stop() {
  Terminate();
  if (!thread_.joinable()) return;
  if (thread_.get_id() == std::this_thread::get_id()) return;
  thread_.join();
}

void TLumThread::Handle(int, TRefObject*) {}

void TLumThread::Body() {
  try {
    OnStart();
    while (!terminated_.load()) LoopBody();
  } catch (const std::exception& e) {
    Log().Line(std::string("TLumThread: the loop ended on an error: ") + e.what());
  }
  try {
    OnEnd();
  } catch (...) {
  }
  running_ = false;
}

}  // namespace lum
