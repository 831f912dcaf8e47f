#include "app/capture_worker.h"

namespace tonalis {

CaptureWorker::~CaptureWorker() {
  if (thread_.joinable()) {
    stop();
    thread_.join();
  }
}

void CaptureWorker::start(uint32_t splashShown, uint32_t splashEnded) {
  splashActive_ = true;
  running_ = true;
  finished_ = false;
  thread_ = std::thread([this, splashShown, splashEnded] {
    // Nothing may leave a thread entry: an unexpected failure ends the program like a
    // capture failure does, through the window's own exit.
    try {
      run(splashShown, splashEnded);
    } catch (...) {
      host_.post(CloseRequest{});
    }
    finished_ = true;
  });
}

void CaptureWorker::run(uint32_t splashShown, uint32_t splashEnded) {
  clock_.sleepMillis(SplashDelayMillis);
  // The splash is drawn and presented on the window's thread, like every frame: only that
  // thread draws, and a layered update from another thread is not shown everywhere (Wine
  // drops it).
  host_.post(AppEvent{splashShown});
  // A close request ends the splash within one step.
  for (int i = 0; i < SplashSteps && running(); ++i) clock_.sleepMillis(50);
  splashActive_ = false;
  // When the program is already closing there is nothing left to start.
  if (!running()) return;
  // Clearing the buffer, the saved transparency and the frame timer are the window's
  // business: its own thread does them (a style change from here would block on it).
  host_.post(AppEvent{splashEnded});
  if (!runCapture(capture_, sound_, clock_, running_)) host_.post(CloseRequest{});
}

bool CaptureWorker::join(uint32_t boundMillis) {
  const uint32_t start = clock_.tickCount();
  while (!finished() && clock_.tickCount() - start < boundMillis) clock_.sleepMillis(5);
  if (!finished()) {
    abandoned_ = true;
    thread_.detach();
    return false;
  }
  if (thread_.joinable()) thread_.join();
  return true;
}

}  // namespace tonalis
