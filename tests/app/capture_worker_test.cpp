// The capture worker on a real thread with fake ports: the splash's two moments posted in
// order, recording after them, and an exit that waits for it within a bound — or leaves a
// worker stuck in a device call behind.
#include "app/capture_worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "fakes/call_log.h"
#include "fakes/fake_app_ports.h"
#include "fakes/fake_sound_input.h"

namespace tonalis {
namespace {

using namespace std::chrono_literals;

// A wait for a packet that does not return until told to (a driver that hangs).
class StuckSound : public fakes::FakeSoundInput {
 public:
  using FakeSoundInput::FakeSoundInput;
  std::atomic<bool> hang{false}, inside{false}, letGo{false};
  SoundResult waitPacket(uint32_t timeoutMillis) override {
    if (hang) {
      inside = true;
      while (!letGo) std::this_thread::sleep_for(1ms);
    }
    return FakeSoundInput::waitPacket(timeoutMillis);
  }
};

struct WorkerRig {
  fakes::CallLog log;
  fakes::FakeAppHost host{log};
  StuckSound sound{log};
  fakes::FakeShell shell{log};
  fakes::FakeClock clock{log};
  CaptureContext capture;

  WorkerRig() {
    clock.logSleeps = false;
    clock.realSleepMicros = 100;
    EXPECT_EQ(prepareCapture(capture, sound, SoundSource{}), CaptureStart::Ready);
  }
  template <class Done>
  void waitFor(Done done) {
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (!done() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(done());
  }
};

TEST(CaptureWorker, TimesTheSplashThenRecordsUntilStopped) {
  WorkerRig r;
  CaptureWorker worker(r.host, r.sound, r.clock, r.capture);
  worker.start(1, 2);
  EXPECT_TRUE(worker.splashActive());
  r.waitFor([&] { return !worker.splashActive() && r.capture.ring.blocksWritten() > 10; });
  EXPECT_EQ(r.log.count("host.post"), 2);
  EXPECT_LT(r.log.indexOf("host.post AppEvent 1"), r.log.indexOf("host.post AppEvent 2"));
  // The bound runs on the fake clock: from here each of its milliseconds takes a real one,
  // so a thread slow to be scheduled (under Wine, on a loaded machine) is not taken for stuck.
  r.clock.realSleepMicros = 1000;
  worker.stop();
  EXPECT_TRUE(worker.join(1500));
  EXPECT_TRUE(worker.finished());
  EXPECT_FALSE(worker.abandoned());
  EXPECT_FALSE(worker.joinable());
  releaseCapture(r.capture, r.sound);
}

TEST(CaptureWorker, AWorkerStuckInADeviceCallIsLeftBehindWithinTheBound) {
  WorkerRig r;
  auto worker = std::make_unique<CaptureWorker>(r.host, r.sound, r.clock, r.capture);
  worker->start(1, 2);
  r.waitFor([&] { return !worker->splashActive(); });
  r.sound.hang = true;
  r.waitFor([&] { return r.sound.inside.load(); });
  worker->stop();
  r.clock.advanceOnSleep = true;
  EXPECT_FALSE(worker->join(200)) << "the bound is the fake clock's 200 ms";
  EXPECT_TRUE(worker->abandoned());
  EXPECT_FALSE(worker->joinable()) << "detached: the exit goes on without it";
  // The driver lets go later: the worker finishes on its own.
  r.sound.letGo = true;
  r.waitFor([&] { return worker->finished(); });
  std::this_thread::sleep_for(20ms);  // the detached thread returns
}

}  // namespace
}  // namespace tonalis
