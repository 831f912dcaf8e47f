#include "platform/win32/sound_input.h"

#include <atomic>

namespace tonalis::win32 {

Win32SoundInput::~Win32SoundInput() {
  if (device_ != nullptr) {
    close();
  }
}

WAVEHDR* Win32SoundInput::header(int32_t index) {
  return index >= 0 && index < MaxBuffers ? &headers_[index] : nullptr;
}

uint32_t Win32SoundInput::deviceCount() { return waveInGetNumDevs(); }

uint32_t Win32SoundInput::open(const SoundFormat& format) {
  if (device_ != nullptr) {
    return MMSYSERR_ALLOCATED;
  }
  WAVEFORMATEX wf{};
  wf.wFormatTag = format.formatTag;
  wf.nChannels = format.channels;
  wf.nSamplesPerSec = format.samplesPerSecond;
  wf.nAvgBytesPerSec = format.averageBytesPerSecond;
  wf.nBlockAlign = format.blockAlign;
  wf.wBitsPerSample = format.bitsPerSample;
  wf.cbSize = 0;
  HWAVEIN device = nullptr;
  const MMRESULT result = waveInOpen(&device, WAVE_MAPPER, &wf, 0, 0, CALLBACK_NULL);
  if (result == MMSYSERR_NOERROR) {
    device_ = device;
  }
  return result;
}

uint32_t Win32SoundInput::prepareBuffer(int32_t index, uint8_t* data, uint32_t bytes) {
  WAVEHDR* h = header(index);
  if (device_ == nullptr || h == nullptr || data == nullptr || prepared_[index]) {
    return MMSYSERR_INVALPARAM;
  }
  *h = WAVEHDR{};
  h->lpData = reinterpret_cast<LPSTR>(data);
  h->dwBufferLength = bytes;
  h->dwUser = static_cast<DWORD_PTR>(index);
  h->dwFlags = 0;
  h->dwLoops = 0;
  const MMRESULT result = waveInPrepareHeader(device_, h, sizeof(WAVEHDR));
  if (result == MMSYSERR_NOERROR) {
    prepared_[index] = true;
  }
  return result;
}

uint32_t Win32SoundInput::addBuffer(int32_t index) {
  WAVEHDR* h = header(index);
  if (device_ == nullptr || h == nullptr || !prepared_[index]) {
    return MMSYSERR_INVALPARAM;
  }
  // The driver sets WHDR_DONE again when it hands the buffer back.
  h->dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
  return waveInAddBuffer(device_, h, sizeof(WAVEHDR));
}

bool Win32SoundInput::bufferDone(int32_t index) {
  WAVEHDR* h = header(index);
  if (h == nullptr) {
    return false;
  }
  // The driver's thread sets the flag after writing the data; read it once, then order
  // the data reads after it.
  const DWORD flags = *static_cast<volatile DWORD*>(&h->dwFlags);
  std::atomic_thread_fence(std::memory_order_acquire);
  return (flags & WHDR_DONE) != 0;
}

uint32_t Win32SoundInput::start() {
  return device_ != nullptr ? waveInStart(device_) : MMSYSERR_INVALHANDLE;
}

uint32_t Win32SoundInput::reset() {
  return device_ != nullptr ? waveInReset(device_) : MMSYSERR_INVALHANDLE;
}

uint32_t Win32SoundInput::close() {
  if (device_ == nullptr) {
    return MMSYSERR_INVALHANDLE;
  }
  // Queued buffers come back first; unpreparing then never meets one still in use.
  waveInReset(device_);
  for (int32_t i = 0; i < MaxBuffers; ++i) {
    if (prepared_[i]) {
      waveInUnprepareHeader(device_, &headers_[i], sizeof(WAVEHDR));
      prepared_[i] = false;
    }
  }
  const MMRESULT result = waveInClose(device_);
  device_ = nullptr;
  return result;
}

}  // namespace tonalis::win32
