#include "backend/win32/sound_input.h"

#include <objbase.h>
#include <mmreg.h>
#include <mmdeviceapi.h>
#include <audioclient.h>
#include <propidl.h>

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "common/speakers.h"
#include "backend/win32/util.h"

namespace tonalis::win32 {

namespace {

// Defined here rather than taken from the import libraries, so the program links the same
// with every toolchain.
const CLSID ClsidDeviceEnumerator = {0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
const IID IidDeviceEnumerator = {0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
const IID IidAudioClient = {0x1CB9AD4C, 0xDBFA, 0x4C32, {0xB1, 0x78, 0xC2, 0xF5, 0x68, 0xA7, 0x03, 0xB2}};
const IID IidAudioCaptureClient = {0xC8ADBD64, 0xE71E, 0x48A0, {0xA4, 0xDE, 0x18, 0x5C, 0x39, 0x5C, 0xD3, 0x17}};
const IID IidNotificationClient = {0x7991EEC9, 0x7E89, 0x4D85, {0x83, 0x90, 0x6C, 0x70, 0x3C, 0xEC, 0x60, 0xC0}};
const PROPERTYKEY FriendlyNameKey = {{0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 14};
const GUID SubtypeFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID SubtypePcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

constexpr REFERENCE_TIME StreamBuffer = 2000000;  // 200 ms in 100 ns units: room for a late wake-up

template <class T>
void release(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

// COM for the length of one call on whatever thread makes it. A thread already in a
// single-threaded apartment can use the enumerator all the same.
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT hr_;
};

IMMDeviceEnumerator* makeEnumerator() {
  IMMDeviceEnumerator* e = nullptr;
  if (FAILED(CoCreateInstance(ClsidDeviceEnumerator, nullptr, CLSCTX_ALL, IidDeviceEnumerator,
                              reinterpret_cast<void**>(&e)))) {
    return nullptr;
  }
  return e;
}

SoundResult resultFor(HRESULT hr) {
  switch (hr) {
    case S_OK:
      return SoundResult::Ok;
    case AUDCLNT_E_DEVICE_INVALIDATED:
      return SoundResult::DeviceInvalidated;
    case AUDCLNT_E_DEVICE_IN_USE:
      return SoundResult::DeviceInUse;
    case AUDCLNT_E_WRONG_ENDPOINT_TYPE:
      return SoundResult::NoLoopback;
    case E_OUTOFMEMORY:
      return SoundResult::NoMemory;
    case HRESULT_FROM_WIN32(ERROR_NOT_FOUND):
      return SoundResult::NotFound;
    default:
      return SoundResult::Error;
  }
}

std::string deviceId(IMMDevice* device) {
  LPWSTR id = nullptr;
  if (FAILED(device->GetId(&id)) || id == nullptr) return {};
  std::string out = narrow(id);
  CoTaskMemFree(id);
  return out;
}

std::string friendlyName(IMMDevice* device) {
  IPropertyStore* store = nullptr;
  if (FAILED(device->OpenPropertyStore(STGM_READ, &store))) return {};
  PROPVARIANT value;
  PropVariantInit(&value);
  std::string out;
  if (SUCCEEDED(store->GetValue(FriendlyNameKey, &value)) && value.vt == VT_LPWSTR && value.pwszVal) {
    out = narrow(value.pwszVal);
  }
  PropVariantClear(&value);
  store->Release();
  return out;
}

bool active(IMMDevice* device) {
  DWORD state = 0;
  return SUCCEEDED(device->GetState(&state)) && state == DEVICE_STATE_ACTIVE;
}

// The endpoint a source names (not Playing's fallback); null when there is none.
IMMDevice* endpointFor(IMMDeviceEnumerator* e, const SoundSource& source) {
  IMMDevice* device = nullptr;
  switch (source.kind) {
    case SourceKind::DefaultInput:
      e->GetDefaultAudioEndpoint(eCapture, eConsole, &device);
      break;
    case SourceKind::Playing:
      e->GetDefaultAudioEndpoint(eRender, eConsole, &device);
      break;
    case SourceKind::Device: {
      const std::wstring id = widen(source.deviceId);
      if (!id.empty()) e->GetDevice(id.c_str(), &device);
      break;
    }
  }
  if (device && !active(device)) release(device);
  return device;
}

// Friendly names of the active endpoints of one direction, in the system's order.
std::vector<std::pair<IMMDevice*, std::string>> activeEndpoints(IMMDeviceEnumerator* e, EDataFlow flow) {
  std::vector<std::pair<IMMDevice*, std::string>> out;
  IMMDeviceCollection* all = nullptr;
  if (FAILED(e->EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE, &all))) return out;
  UINT count = 0;
  all->GetCount(&count);
  for (UINT i = 0; i < count; ++i) {
    IMMDevice* d = nullptr;
    if (SUCCEEDED(all->Item(i, &d))) out.emplace_back(d, friendlyName(d));
  }
  all->Release();
  return out;
}

// Where the system cannot loop back an output (older stacks, Wine before 9.12), a sound
// server may offer a capture endpoint that monitors it: PulseAudio's "Monitor of <output>".
// Wine's default output is a stand-in named after the sound system itself, so when no monitor
// carries its name, the only monitor there is (or else the first output's) stands for it.
IMMDevice* monitorOf(IMMDeviceEnumerator* e, IMMDevice* output) {
  constexpr std::string_view Prefix = "Monitor of ";
  auto captures = activeEndpoints(e, eCapture);
  std::vector<size_t> monitors;
  for (size_t i = 0; i < captures.size(); ++i) {
    if (captures[i].second.rfind(Prefix, 0) == 0) monitors.push_back(i);
  }
  const auto monitorNamed = [&](const std::string& name) -> std::optional<size_t> {
    for (size_t i : monitors) {
      if (!name.empty() && captures[i].second.substr(Prefix.size()) == name) return i;
    }
    return std::nullopt;
  };
  std::optional<size_t> chosen = monitorNamed(friendlyName(output));
  if (!chosen && monitors.size() == 1) chosen = monitors.front();
  if (!chosen) {
    auto outputs = activeEndpoints(e, eRender);
    for (auto& [device, name] : outputs) {
      if (!chosen) chosen = monitorNamed(name);
      device->Release();
    }
  }
  IMMDevice* found = nullptr;
  for (size_t i = 0; i < captures.size(); ++i) {
    if (chosen && i == *chosen) {
      found = captures[i].first;
    } else {
      captures[i].first->Release();
    }
  }
  return found;
}

}  // namespace

SoundFormat soundFormatOf(const WAVEFORMATEX* wf) {
  SoundFormat f;
  f.samplesPerSecond = wf->nSamplesPerSec;
  f.channels = wf->nChannels;
  f.bitsPerSample = wf->wBitsPerSample;
  bool known = wf->wFormatTag == WAVE_FORMAT_PCM || wf->wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
  f.isFloat = wf->wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
  // A plain header says nothing of speakers: one or two channels are what they always are.
  f.channelMask = speaker::defaultChannelMask(f.channels);
  if (wf->wFormatTag == WAVE_FORMAT_EXTENSIBLE && wf->cbSize >= 22) {
    const auto* x = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(wf);
    f.isFloat = IsEqualGUID(x->SubFormat, SubtypeFloat);
    known = f.isFloat || IsEqualGUID(x->SubFormat, SubtypePcm);
    f.channelMask = x->dwChannelMask;
  }
  if (!known) f.bitsPerSample = 0;  // nothing the program can take
  return f;
}

// Device notifications arrive on a system thread: they only set bits for the capture loop.
class NotificationFlags final : public IMMNotificationClient {
 public:
  explicit NotificationFlags(std::atomic<bool>& stale) : stale_(stale) {}
  std::atomic<uint32_t> events{0};

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IidNotificationClient)) {
      *out = static_cast<IMMNotificationClient*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // Owned by Win32SoundInput, which unregisters it before it goes.
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return note(SoundEventDevicesChanged); }
  HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return note(SoundEventDevicesChanged); }
  HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return note(SoundEventDevicesChanged); }
  HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR) override {
    if (role != eConsole) return S_OK;
    return note(flow == eCapture ? SoundEventDefaultInputChanged : SoundEventDefaultOutputChanged);
  }
  HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }

 private:
  HRESULT note(uint32_t bit) {
    stale_.store(true, std::memory_order_release);
    events.fetch_or(bit, std::memory_order_release);
    return S_OK;
  }
  std::atomic<bool>& stale_;
};

namespace {

// One capture stream on `device`, in its mix format; loopback records a render endpoint.
SoundResult openEndpoint(IMMDevice* device, bool loopback, SoundStreamInfo& info, Win32SoundInput::Stream& stream) {
  HRESULT hr = device->Activate(IidAudioClient, CLSCTX_ALL, nullptr, reinterpret_cast<void**>(&stream.client));
  if (FAILED(hr)) return resultFor(hr);
  WAVEFORMATEX* wf = nullptr;
  hr = stream.client->GetMixFormat(&wf);
  if (SUCCEEDED(hr)) {
    info.format = soundFormatOf(wf);
    const DWORD flags = AUDCLNT_STREAMFLAGS_EVENTCALLBACK | (loopback ? AUDCLNT_STREAMFLAGS_LOOPBACK : 0);
    hr = stream.client->Initialize(AUDCLNT_SHAREMODE_SHARED, flags, StreamBuffer, 0, wf, nullptr);
    CoTaskMemFree(wf);
  }
  if (SUCCEEDED(hr)) {
    stream.event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    hr = stream.event ? stream.client->SetEventHandle(stream.event) : E_OUTOFMEMORY;
  }
  if (SUCCEEDED(hr)) {
    hr = stream.client->GetService(IidAudioCaptureClient, reinterpret_cast<void**>(&stream.capture));
  }
  if (FAILED(hr)) {
    stream.release();
    return resultFor(hr);
  }
  stream.frameBytes = uint32_t(info.format.channels) * (info.format.bitsPerSample / 8);
  info.endpointName = friendlyName(device);
  info.loopback = loopback;
  return SoundResult::Ok;
}

// A stream on what `source` names: for Playing a loopback of the default output or, where
// the system cannot loop back, the output's monitor.
SoundResult openSource(IMMDeviceEnumerator* e, const SoundSource& source, SoundStreamInfo& info,
                    Win32SoundInput::Stream& stream) {
  IMMDevice* device = endpointFor(e, source);
  if (!device) return SoundResult::NotFound;
  SoundResult result = openEndpoint(device, source.kind == SourceKind::Playing, info, stream);
  if (result != SoundResult::Ok && result != SoundResult::DeviceInvalidated && source.kind == SourceKind::Playing) {
    IMMDevice* monitor = monitorOf(e, device);
    result = monitor ? openEndpoint(monitor, false, info, stream) : SoundResult::NoLoopback;
    release(monitor);
  }
  release(device);
  stream.pausable = result == SoundResult::Ok && source.kind == SourceKind::Playing;
  return result;
}

bool allZero(const uint8_t* data, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) {
    if (data[i] != 0) return false;
  }
  return true;
}

}  // namespace

void Win32SoundInput::Stream::release() {
  if (client) client->Stop();
  tonalis::win32::release(capture);
  tonalis::win32::release(client);
  if (event) CloseHandle(event);
  event = nullptr;
  frameBytes = 0;
  pausable = false;
  paused_ = false;
  restUntil_ = 0;
  held_.clear();
  heldFrames_ = 0;
  heldOut_ = false;
  failure_ = S_OK;
}

bool Win32SoundInput::Stream::takePacket(BYTE*& data, UINT32& frames, DWORD& flags, HRESULT& hr) {
  UINT32 waiting = 0;
  hr = capture->GetNextPacketSize(&waiting);
  if (FAILED(hr) || waiting == 0) return false;
  hr = capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr);
  if (hr == AUDCLNT_S_BUFFER_EMPTY) {
    hr = S_OK;
    return false;
  }
  return SUCCEEDED(hr);
}

// Takes every packet waiting. The first that holds a sample other than zero is copied and
// ends the look: what came after it stays with the device for after the pause.
Win32SoundInput::Stream::Look Win32SoundInput::Stream::look() {
  bool any = false;
  for (;;) {
    BYTE* data = nullptr;
    UINT32 frames = 0;
    DWORD flags = 0;
    HRESULT hr = S_OK;
    const bool taken = takePacket(data, frames, flags, hr);
    if (FAILED(hr)) {
      failure_ = hr;
      return Look::Failed;
    }
    if (!taken) return any ? Look::Zeros : Look::Nothing;
    const size_t bytes = size_t(frames) * frameBytes;
    const bool sound = (flags & AUDCLNT_BUFFERFLAGS_SILENT) == 0 && data != nullptr && !allZero(data, bytes);
    if (sound) {
      held_.assign(data, data + bytes);
      heldFrames_ = frames;
    }
    hr = capture->ReleaseBuffer(frames);
    if (FAILED(hr)) {
      failure_ = hr;
      return Look::Failed;
    }
    if (sound) return Look::Sound;
    any = true;
  }
}

SoundResult Win32SoundInput::Stream::wait(uint32_t timeoutMillis, bool& soundCame) {
  soundCame = false;
  if (!event) {
    Sleep(timeoutMillis);
    return SoundResult::Timeout;
  }
  if (!paused_) {
    if (heldFrames_ != 0) return SoundResult::Ok;  // the packet that ended the pause
    // Loopback streams on older systems never signal: the timeout covers them.
    return WaitForSingleObject(event, timeoutMillis) == WAIT_OBJECT_0 ? SoundResult::Ok : SoundResult::Timeout;
  }
  if (heldFrames_ != 0) {
    soundCame = true;  // told again until the pause ends; the packet stays as it was
    return SoundResult::Ok;
  }
  const ULONGLONG deadline = GetTickCount64() + timeoutMillis;
  for (;;) {
    ULONGLONG now = GetTickCount64();
    if (now < restUntil_) {
      if (now >= deadline) return SoundResult::Timeout;
      Sleep(DWORD(std::min(restUntil_, deadline) - now));
      continue;
    }
    switch (look()) {
      case Look::Sound:
        soundCame = true;
        return SoundResult::Ok;
      case Look::Failed:
        return SoundResult::Ok;  // next() tells
      case Look::Zeros:
        // Zeros keep coming: the next ones are taken together after a rest.
        restUntil_ = GetTickCount64() + PausedLookMillis;
        break;
      case Look::Nothing:
        // Nothing comes in silence: the event says when something does (where a loopback
        // never signals, the look that starts the next wait finds it).
        restUntil_ = 0;
        now = GetTickCount64();
        if (now >= deadline || WaitForSingleObject(event, DWORD(deadline - now)) != WAIT_OBJECT_0) {
          return SoundResult::Timeout;
        }
        break;
    }
  }
}

SoundResult Win32SoundInput::Stream::next(SoundPacket& packet) {
  packet = SoundPacket{};
  if (!capture) return SoundResult::Error;
  if (FAILED(failure_)) return resultFor(failure_);
  if (paused_) return SoundResult::Ok;  // nothing is handed out while paused
  if (heldOut_) {
    heldOut_ = false;  // not given back: taken all the same
    heldFrames_ = 0;
  }
  if (heldFrames_ != 0) {
    packet.data = held_.data();
    packet.frames = heldFrames_;
    heldOut_ = true;
    return SoundResult::Ok;
  }
  BYTE* data = nullptr;
  UINT32 frames = 0;
  DWORD flags = 0;
  HRESULT hr = S_OK;
  if (!takePacket(data, frames, flags, hr)) return resultFor(hr);
  packet.data = data;
  packet.frames = frames;
  packet.silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0;
  return SoundResult::Ok;
}

SoundResult Win32SoundInput::Stream::giveBack(uint32_t frames) {
  if (!capture) return SoundResult::Error;
  if (heldOut_) {
    heldOut_ = false;
    heldFrames_ = 0;
    return SoundResult::Ok;
  }
  return resultFor(capture->ReleaseBuffer(frames));
}

bool Win32SoundInput::Stream::pause(bool paused) {
  if (!capture || !pausable) return false;
  if (paused && !paused_) {
    // A new pause: what was held from the last one has been taken or is stale.
    restUntil_ = 0;
    heldFrames_ = 0;
    heldOut_ = false;
  }
  paused_ = paused;
  return true;
}

Win32SoundInput::Win32SoundInput() : notifications_(new NotificationFlags(endpointsStale_)) {}

Win32SoundInput::~Win32SoundInput() {
  close();
  delete notifications_;
}

void Win32SoundInput::refreshEndpoints() {
  endpointsStale_.store(false, std::memory_order_release);
  Endpoints fresh;
  {
    ComScope com;
    IMMDeviceEnumerator* e = makeEnumerator();
    if (e) {
      IMMDeviceCollection* all = nullptr;
      if (SUCCEEDED(e->EnumAudioEndpoints(eCapture, DEVICE_STATEMASK_ALL, &all))) {
        UINT count = 0;
        all->GetCount(&count);
        for (UINT i = 0; i < count; ++i) {
          IMMDevice* d = nullptr;
          if (FAILED(all->Item(i, &d))) continue;
          SoundDevice device{deviceId(d), friendlyName(d), active(d)};
          if (!device.id.empty()) fresh.devices.push_back(std::move(device));
          d->Release();
        }
        all->Release();
      }
      for (const SourceKind kind : {SourceKind::DefaultInput, SourceKind::Playing}) {
        IMMDevice* device = endpointFor(e, SoundSource{kind, {}});
        (kind == SourceKind::DefaultInput ? fresh.defaultInput : fresh.defaultOutput) = device != nullptr;
        release(device);
      }
      e->Release();
    }
  }
  std::lock_guard lock(endpointsMutex_);
  endpoints_ = std::move(fresh);
  endpointsKnown_ = true;
}

// Only the first question, before the capture loop runs, enumerates on the asking thread.
Win32SoundInput::Endpoints Win32SoundInput::endpoints() {
  {
    std::lock_guard lock(endpointsMutex_);
    if (endpointsKnown_) return endpoints_;
  }
  refreshEndpoints();
  std::lock_guard lock(endpointsMutex_);
  return endpoints_;
}

uint32_t Win32SoundInput::deviceCount() {
  uint32_t count = 0;
  for (const SoundDevice& d : endpoints().devices) count += d.active;
  return count;
}

std::vector<SoundDevice> Win32SoundInput::listDevices() { return endpoints().devices; }

bool Win32SoundInput::available(const SoundSource& source) {
  const Endpoints known = endpoints();
  switch (source.kind) {
    case SourceKind::DefaultInput:
      return known.defaultInput;
    case SourceKind::Playing:
      // Whether it can be looped back is only known by trying.
      return known.defaultOutput;
    case SourceKind::Device:
      for (const SoundDevice& d : known.devices) {
        if (d.id == source.deviceId) return d.active;
      }
      return false;
  }
  return false;
}

SoundResult Win32SoundInput::open(const SoundSource& source, SoundStreamInfo& info) {
  close();
  const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  comInitialized_ = SUCCEEDED(com);
  enumerator_ = makeEnumerator();
  if (!enumerator_) {
    close();
    return SoundResult::Error;
  }
  enumerator_->RegisterEndpointNotificationCallback(notifications_);
  const SoundResult result = openSource(enumerator_, source, info, stream_);
  if (result != SoundResult::Ok) {
    close();
    return result;
  }
  if (source.kind == SourceKind::Playing) {
    OutputDebugStringW(widen(std::string("Tonalis: what is playing through ") +
                             (info.loopback ? "loopback of " : "the capture endpoint ") + info.endpointName)
                           .c_str());
  }
  return SoundResult::Ok;
}

SoundResult Win32SoundInput::probe(const SoundSource& source, SoundStreamInfo& info) {
  ComScope com;
  IMMDeviceEnumerator* e = makeEnumerator();
  if (!e) return SoundResult::Error;
  Stream trial;
  const SoundResult result = openSource(e, source, info, trial);
  trial.release();
  e->Release();
  return result;
}

SoundResult Win32SoundInput::start() {
  return stream_.client ? resultFor(stream_.client->Start()) : SoundResult::Error;
}

SoundResult Win32SoundInput::waitPacket(uint32_t timeoutMillis) {
  bool soundCame = false;
  const SoundResult result = stream_.wait(timeoutMillis, soundCame);
  if (soundCame) notifications_->events.fetch_or(SoundEventPlaybackStarted, std::memory_order_acq_rel);
  return result;
}

SoundResult Win32SoundInput::nextPacket(SoundPacket& packet) { return stream_.next(packet); }

SoundResult Win32SoundInput::releasePacket(uint32_t frames) { return stream_.giveBack(frames); }

bool Win32SoundInput::setPaused(bool paused) {
  if (!stream_.pause(paused)) return false;
  OutputDebugStringW(paused ? L"Tonalis: what is playing rests in a silence" : L"Tonalis: what is playing is heard again");
  return true;
}

void Win32SoundInput::close() {
  stream_.release();
  if (enumerator_) enumerator_->UnregisterEndpointNotificationCallback(notifications_);
  release(enumerator_);
  if (comInitialized_) CoUninitialize();
  comInitialized_ = false;
}

uint32_t Win32SoundInput::takeEvents() {
  const uint32_t events = notifications_->events.exchange(0, std::memory_order_acq_rel);
  if (endpointsStale_.load(std::memory_order_acquire)) refreshEndpoints();
  return events;
}

}  // namespace tonalis::win32
