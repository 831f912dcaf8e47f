// The program's second thread: it times the splash (the UI thread draws it, told by events)
// and then records until it is asked to stop. The exit waits for it within a bound; a worker
// stuck in a device call is left behind rather than holding the exit up.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>
#include <thread>

#include "audio/capture.h"
#include "platform/app_host.h"
#include "platform/clock.h"
#include "platform/sound_input.h"

namespace tonalis {

// What the user is told when capture cannot start; empty when there is nothing they can
// act on.
constexpr std::string_view captureStartMessage(CaptureStart why) {
  switch (why) {
    case CaptureStart::NoSoundCard: return "电脑没有声卡";
    case CaptureStart::DeviceInUse: return "其他程序正在使用声卡，请关闭其他程序";
    case CaptureStart::NoMemory: return "开辟内存失败";
    case CaptureStart::Ready:
    case CaptureStart::Unavailable: break;
  }
  return {};
}

class CaptureWorker {
 public:
  // The splash: shown 50 ms after the start, over after 80 further steps of 50 ms.
  static constexpr uint32_t SplashDelayMillis = 50;
  static constexpr int SplashSteps = 80;

  CaptureWorker(AppHost& host, SoundInput& sound, Clock& clock, CaptureContext& capture)
      : host_(host), sound_(sound), clock_(clock), capture_(capture) {}
  ~CaptureWorker();  // joins a worker still running (an owner torn down some other way)
  CaptureWorker(const CaptureWorker&) = delete;
  CaptureWorker& operator=(const CaptureWorker&) = delete;

  // Starts the thread. It posts AppEvent{splashShown} when the splash is due and
  // AppEvent{splashEnded} when it is over, then records; a capture that cannot run, or
  // anything unexpected, posts a CloseRequest.
  void start(uint32_t splashShown, uint32_t splashEnded);

  bool splashActive() const { return splashActive_.load(std::memory_order_acquire); }
  bool running() const { return running_.load(std::memory_order_acquire); }
  bool finished() const { return finished_.load(std::memory_order_acquire); }
  bool abandoned() const { return abandoned_; }
  bool joinable() const { return thread_.joinable(); }
  // What the worker records into: the ring the frames read, the chosen source.
  CaptureContext& capture() const { return capture_; }

  // Asks the worker to end: the splash within one step, the capture loop within one wait.
  void stop() { running_.store(false, std::memory_order_release); }

  // UI thread: waits up to `boundMillis` for the worker to leave, in short sleeps on the
  // clock (a backend whose worker may wait on the UI thread answers it inside its sleep).
  // False when it did not: it is left behind, detached, with what it may still touch.
  bool join(uint32_t boundMillis);

 private:
  void run(uint32_t splashShown, uint32_t splashEnded);

  AppHost& host_;
  SoundInput& sound_;
  Clock& clock_;
  CaptureContext& capture_;
  std::thread thread_;
  std::atomic<bool> splashActive_{true};
  std::atomic<bool> running_{true};
  std::atomic<bool> finished_{true};
  bool abandoned_ = false;
};

}  // namespace tonalis
