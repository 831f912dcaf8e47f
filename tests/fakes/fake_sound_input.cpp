#include "fakes/fake_sound_input.h"

#include <algorithm>
#include <string>

namespace tonalis::fakes {

void FakeSoundInput::record(const std::vector<int16_t>& samples) {
  std::lock_guard lock(mutex_);
  for (size_t at = 0; at < samples.size(); at += 256) {
    std::vector<int16_t> block(256, 0);
    std::copy(samples.begin() + at, samples.begin() + std::min(samples.size(), at + 256), block.begin());
    pending_.push_back(std::move(block));
  }
}

size_t FakeSoundInput::pendingBlocks() const {
  std::lock_guard lock(mutex_);
  return pending_.size();
}

bool FakeSoundInput::isOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

int FakeSoundInput::polls() const {
  std::lock_guard lock(mutex_);
  return polls_;
}

bool FakeSoundInput::misuse() const {
  std::lock_guard lock(mutex_);
  return misuse_;
}

uint32_t FakeSoundInput::deviceCount() {
  log_.add("sound.count");
  return devices;
}

uint32_t FakeSoundInput::open(const SoundFormat& format) {
  log_.add("sound.open");
  std::lock_guard lock(mutex_);
  openedFormat = format;
  if (openResult != SoundOk) return openResult;
  open_ = true;
  return SoundOk;
}

uint32_t FakeSoundInput::prepareBuffer(int32_t index, uint8_t* data, uint32_t bytes) {
  log_.add("sound.prepare " + std::to_string(index));
  std::lock_guard lock(mutex_);
  if (!open_ || index < 0 || data == nullptr) {
    misuse_ = true;
    return SoundInvalidParam;
  }
  if (index == prepareFailIndex) return failResult;
  if (buffers_.size() <= size_t(index)) buffers_.resize(index + 1);
  buffers_[index] = Buffer{data, bytes, false, false};
  return SoundOk;
}

uint32_t FakeSoundInput::addBuffer(int32_t index) {
  log_.add("sound.add " + std::to_string(index));
  std::lock_guard lock(mutex_);
  if (addCalls_++ == addFailCall) return failResult;
  if (!open_ || index < 0 || size_t(index) >= buffers_.size() || buffers_[index].data == nullptr ||
      buffers_[index].queued) {
    misuse_ = true;
    return SoundInvalidParam;
  }
  buffers_[index].queued = true;
  buffers_[index].done = false;
  queue_.push_back(index);
  return SoundOk;
}

void FakeSoundInput::deliverLocked() {
  while (started_ && !queue_.empty() && !pending_.empty()) {
    Buffer& b = buffers_[queue_.front()];
    const std::vector<int16_t>& block = pending_.front();
    for (size_t k = 0; k < block.size() && 2 * k + 1 < b.bytes; ++k) {
      const auto v = static_cast<uint16_t>(block[k]);
      b.data[2 * k] = static_cast<uint8_t>(v & 0xFF);  // little-endian, as the device writes
      b.data[2 * k + 1] = static_cast<uint8_t>(v >> 8);
    }
    b.queued = false;
    b.done = true;
    queue_.pop_front();
    pending_.pop_front();
  }
}

bool FakeSoundInput::bufferDone(int32_t index) {
  std::lock_guard lock(mutex_);
  ++polls_;
  if (!open_ || index < 0 || size_t(index) >= buffers_.size()) {
    misuse_ = true;
    return false;
  }
  deliverLocked();
  return buffers_[index].done;
}

uint32_t FakeSoundInput::start() {
  log_.add("sound.start");
  std::lock_guard lock(mutex_);
  if (startResult != SoundOk) return startResult;
  started_ = true;
  return SoundOk;
}

uint32_t FakeSoundInput::reset() {
  log_.add("sound.reset");
  std::lock_guard lock(mutex_);
  if (!open_) misuse_ = true;
  // Every queued buffer comes back, done, with whatever it holds.
  for (int32_t index : queue_) {
    buffers_[index].queued = false;
    buffers_[index].done = true;
  }
  queue_.clear();
  started_ = false;
  return resetResult;
}

uint32_t FakeSoundInput::close() {
  log_.add("sound.close");
  std::lock_guard lock(mutex_);
  if (!open_ || !queue_.empty()) misuse_ = true;  // closing with buffers still queued
  open_ = false;
  buffers_.clear();
  return SoundOk;
}

}  // namespace tonalis::fakes
