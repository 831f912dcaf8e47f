#include "fakes/fake_app_ports.h"

#include "render/dirty_rects.h"

#include "fakes/bmp_builder.h"

#include <chrono>
#include <thread>

namespace tonalis::fakes {

std::string eventName(const Event& event) {
  static constexpr const char* names[] = {
      "PointerPress", "PointerRelease", "PointerDoubleClick", "PointerMove", "KeyPress", "Command",
      "TrayActivate", "TrayMenuRequest", "TimerTick", "PaintRequest", "EraseBackground", "CloseRequest",
      "DeviceChange", "DisplayChange", "SessionQuery", "SessionEnd", "ShellRestarted", "SecondInstance",
      "AppEvent", "SessionLock", "ScaleChange"};
  static_assert(std::size(names) == std::variant_size_v<Event>);
  std::string name = names[event.index()];
  if (const uint32_t id = eventId(event)) name += " " + std::to_string(id);
  return name;
}

void FakeAppHost::setHandler(EventHandler handler) { handler_ = std::move(handler); }

void FakeAppHost::run() {
  log_.add("host.run");
  if (quitAsked) return;
  running = true;
  pump();
  running = false;
}

void FakeAppHost::pump() {
  while (!quitAsked) {
    {
      std::lock_guard lock(postedMutex_);
      while (!posted_.empty()) {
        queue.push_back(posted_.front());
        posted_.pop_front();
      }
    }
    if (!queue.empty()) {
      Event e = queue.front();
      queue.pop_front();
      deliver(e);
      continue;
    }
    if (!idle || !idle()) break;
  }
}

bool FakeAppHost::deliver(Event event) {
  const bool handled = handler_ && handler_(event);
  if (!handled) {
    ++defaultCalls;
    log_.add("host.default " + eventName(event));
  }
  return handled;
}

void FakeAppHost::post(const Event& event) {
  log_.add("host.post " + eventName(event));
  std::lock_guard lock(postedMutex_);
  posted_.push_back(event);
}

void FakeAppHost::quit() {
  log_.add("host.quit");
  quitAsked = true;
}

bool FakeAppHost::setTimer(uint32_t id, uint32_t periodMillis) {
  std::lock_guard lock(postedMutex_);
  if (refuseTimers.count(id)) {
    log_.add("host.setTimer " + std::to_string(id) + " refused");
    return false;
  }
  log_.add("host.setTimer " + std::to_string(id) + " " + std::to_string(periodMillis));
  timers[id] = periodMillis;
  return true;
}

void FakeAppHost::killTimer(uint32_t id) {
  log_.add("host.killTimer " + std::to_string(id));
  std::lock_guard lock(postedMutex_);
  timers.erase(id);
}

bool FakeAppHost::createMainWindow() {
  log_.add("host.window");
  return true;
}

void FakeAppHost::setWindowIcon() { log_.add("host.icon"); }

std::vector<Monitor> FakeAppHost::monitors() {
  if (!displays.empty()) return displays;
  const Rect whole{0, 0, screen.x, screen.y};
  return {Monitor{whole, whole, true, 1.0}};
}

void FakeAppHost::showAbout(const AboutInfo& info) {
  log_.add("host.about");
  aboutShown.emplace_back(info.program);
}

PixelView FakePresenter::createBuffer(int32_t width, int32_t height) {
  std::lock_guard lock(mutex_);
  log_.add("presenter.create " + std::to_string(width) + "x" + std::to_string(height));
  buffers_.push_back(std::make_unique<std::vector<uint32_t>>(size_t(width) * size_t(height), 0u));
  return {buffers_.back()->data(), width, height};
}

void FakePresenter::releaseBuffer(PixelView& buffer) {
  std::lock_guard lock(mutex_);
  log_.add("presenter.release " + std::to_string(buffer.width) + "x" + std::to_string(buffer.height));
  std::erase_if(buffers_, [&](const auto& b) { return b->data() == buffer.pixels; });
  buffer = {};
}

void FakePresenter::present(const tonalis::Presentation& frame) {
  std::lock_guard lock(mutex_);
  if (logPresents) log_.add("presenter.present");
  Rect bounds{};
  for (const Rect& r : frame.changed) bounds = unite(bounds, r);
  Presentation p{frame.source.pixels, frame.destination, frame.size, frame.constantAlpha, frame.surface,
                 frame.changed.size(), bounds, {}};
  if (keepPixels && frame.source.pixels) {
    for (int y = 0; y < frame.size.y && y < frame.source.height; ++y) {
      for (int x = 0; x < frame.size.x && x < frame.source.width; ++x) {
        p.pixels.push_back(frame.source.pixels[y * frame.source.width + x]);
      }
    }
  }
  presentations.push_back(std::move(p));
}

bool FakePresenter::repaint() {
  log_.add("presenter.repaint");
  return painted;
}

bool FakeTray::addIcon(uint32_t iconId, std::string_view tip) {
  if (refuseAdds > 0) {
    --refuseAdds;
    log_.add("tray.add refused");
    return false;
  }
  log_.add("tray.add " + std::to_string(iconId) + " " + std::string(tip));
  present = true;
  this->tip = std::string(tip);
  return true;
}

void FakeTray::setTip(std::string_view text) {
  log_.add("tray.tip " + std::string(text));
  tip = std::string(text);
}

void FakeTray::showBalloon(std::string_view title, std::string_view text) {
  log_.add("tray.balloon " + std::string(title));
  if (present) balloons.emplace_back(std::string(title), std::string(text));
}

void FakeTray::removeIcon() {
  log_.add("tray.remove");
  present = false;
}

void FakeTray::trackMenu(const std::vector<MenuItem>& items) {
  log_.add("tray.track");
  menus.push_back(items);
  if (chooseCommand && host) host->post(Command{*chooseCommand});
}

void FakeClock::sleepMillis(uint32_t ms) {
  if (logSleeps) log_.add("clock.sleep " + std::to_string(ms));
  if (advanceOnSleep) tick += ms;
  if (const uint32_t us = realSleepMicros.load()) std::this_thread::sleep_for(std::chrono::microseconds(us));
}

void FakeShell::showMessage(std::string_view utf8Text) {
  log_.add("shell.message " + std::string(utf8Text));
  messages.emplace_back(utf8Text);
  if (whileMessageShown) whileMessageShown();
}

bool FakeShell::setStartWithSession(bool on) {
  log_.add(std::string("shell.startup ") + (on ? "on" : "off") + (startupFails ? " refused" : ""));
  if (startupFails) return false;
  startup = on;
  return true;
}

bool FakeShell::openUrl(std::string_view url) {
  log_.add("shell.open " + std::string(url));
  if (openFails) return false;
  opened.emplace_back(url);
  return true;
}

FileReadResult FakeFileStore::read(std::string_view name, size_t maxBytes) {
  std::lock_guard lock(mutex_);
  log_.add("files.read " + std::string(name));
  if (unreadable.count(std::string(name))) return {FileReadStatus::Unreadable, {}};
  const auto it = files.find(std::string(name));
  if (it == files.end()) return {FileReadStatus::Missing, {}};
  return {FileReadStatus::Read, it->second.substr(0, maxBytes)};
}

bool FakeFileStore::replace(std::string_view name, std::string_view bytes) {
  std::lock_guard lock(mutex_);
  if (failReplace) {
    log_.add("files.replace " + std::string(name) + " failed");
    return false;
  }
  log_.add("files.replace " + std::string(name));
  files[std::string(name)] = std::string(bytes);
  return true;
}

bool FakeInstanceGuard::claim() {
  log_.add(othersRunning ? "instance.claim taken" : "instance.claim");
  return !othersRunning;
}

void FakeInstanceGuard::wakeFirst() { log_.add("instance.wake"); }

std::span<const uint8_t> FakeBitmapSource::bitmapBytes(int id) {
  auto it = files_.find(id);
  if (it == files_.end()) return {};
  return it->second;
}

void FakeBitmapSource::add(int id, int width, int height, uint32_t rgb) {
  BmpBuilder bmp;
  bmp.width = width;
  bmp.height = height;
  bmp.bpp = 24;
  const std::vector<uint8_t> row = [&] {
    std::vector<uint8_t> r;
    for (int x = 0; x < width; ++x) r.insert(r.end(), {uint8_t(rgb), uint8_t(rgb >> 8), uint8_t(rgb >> 16)});
    return r;
  }();
  bmp.rows.assign(size_t(height), row);
  files_[id] = bmp.build();
}

}  // namespace tonalis::fakes
