#include "fakes/fake_app_ports.h"

#include "render/dirty_rects.h"

#include "fakes/bmp_builder.h"

#include <chrono>
#include <thread>

namespace tonalis::fakes {

intptr_t FakeDialogHost::runModal(CDialog& dialog) {
  begin(dialog);
  return pump();
}

void FakeDialogHost::begin(CDialog& dialog) {
  dialog_ = &dialog;
  ended = false;
  log_.add("host.create");
  dialog.onInitDialog();
}

intptr_t FakeDialogHost::pump() {
  while (!ended) {
    {
      std::lock_guard lock(postedMutex_);
      while (!posted_.empty()) {
        queue.push_back(posted_.front());
        posted_.pop_front();
      }
    }
    if (!queue.empty()) {
      Message m = queue.front();
      queue.pop_front();
      if (m.id == WM_QUIT) break;
      deliver(m);
      continue;
    }
    if (!idle || !idle()) break;
  }
  if (ended) log_.add("host.destroy");
  return result;
}

void FakeDialogHost::deliver(const Message& message) {
  if (dialog_->preTranslateMessage(message)) return;
  intptr_t r = 0;
  if (!dialog_->dispatch(message, r)) defaultProcessing(message);
}

void FakeDialogHost::endModal(intptr_t r) {
  log_.add("host.end " + std::to_string(r));
  result = r;
  ended = true;
}

intptr_t FakeDialogHost::defaultProcessing(const Message& message) {
  ++defaultCalls;
  log_.add("host.default " + std::to_string(message.id));
  return 0;
}

bool FakeDialogHost::dialogPreTranslate(const Message& message) {
  // Like IsDialogMessage: Enter and Esc become OK and Cancel.
  if (message.id == WM_KEYDOWN && (message.wParam == VK_RETURN || message.wParam == VK_ESCAPE)) {
    intptr_t r = 0;
    dialog_->dispatch({WM_COMMAND, message.wParam == VK_RETURN ? uintptr_t(IDOK) : uintptr_t(IDCANCEL), 0}, r);
    return true;
  }
  return false;
}

intptr_t FakeDialogHost::sendMessage(const Message& message) {
  sent.push_back(message);
  log_.add("host.send " + std::to_string(message.id));
  intptr_t r = 0;
  if (dialog_ && !dialog_->dispatch(message, r)) r = defaultProcessing(message);
  return r;
}

void FakeDialogHost::postMessage(const Message& message) {
  log_.add("host.post " + std::to_string(message.id));
  std::lock_guard lock(postedMutex_);
  posted_.push_back(message);
}

bool FakeDialogHost::setTimer(uint32_t id, uint32_t periodMillis) {
  std::lock_guard lock(postedMutex_);
  if (refuseTimers.count(id)) {
    log_.add("host.setTimer " + std::to_string(id) + " refused");
    return false;
  }
  log_.add("host.setTimer " + std::to_string(id) + " " + std::to_string(periodMillis));
  timers[id] = periodMillis;
  return true;
}

void FakeDialogHost::killTimer(uint32_t id) {
  log_.add("host.killTimer " + std::to_string(id));
  std::lock_guard lock(postedMutex_);
  timers.erase(id);
}

void FakeDialogHost::appendSystemMenuItem(uint32_t commandId, std::string_view utf8Label) {
  log_.add("host.sysmenu " + std::to_string(commandId) + " " + std::string(utf8Label));
}

void FakeDialogHost::setIcon(int iconId) { log_.add("host.setIcon " + std::to_string(iconId)); }

void FakeDialogHost::paintIconic(int iconId) { log_.add("host.paintIconic " + std::to_string(iconId)); }

std::unique_ptr<DialogHost> FakeDialogHost::createDialogHost() {
  log_.add("host.createDialogHost");
  auto child = std::make_unique<FakeDialogHost>(log_);
  if (onChildHost) onChildHost(*child);
  return child;
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

bool FakeTray::addIcon(uint32_t iconId, uint32_t callbackMessage, std::string_view tip) {
  if (refuseAdds > 0) {
    --refuseAdds;
    log_.add("tray.add refused");
    return false;
  }
  log_.add("tray.add " + std::to_string(iconId) + " " + std::to_string(callbackMessage) + " " + std::string(tip));
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
  if (chooseCommand && host) host->postMessage({0x0111, *chooseCommand, 0});
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

bool FakeShell::openUrl(std::string_view url) {
  log_.add("shell.open " + std::string(url));
  if (openFails) return false;
  opened.emplace_back(url);
  return true;
}

std::optional<std::string> FakeFileStore::read(std::string_view name, size_t maxBytes) {
  std::lock_guard lock(mutex_);
  log_.add("files.read " + std::string(name));
  const auto it = files.find(std::string(name));
  if (it == files.end()) return std::nullopt;
  return it->second.substr(0, maxBytes);
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
