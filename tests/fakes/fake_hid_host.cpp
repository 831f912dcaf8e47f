#include "fakes/fake_hid_host.h"

#include <algorithm>
#include <cstdio>

namespace tonalis {

const FakeHidInterface* FakeHidHost::findInterface(const std::string& path) const {
  for (const FakeHidInterface& i : interfaces) {
    if (!i.path.empty() && i.path == path) return &i;
  }
  return nullptr;
}

void FakeHidHost::finishPendingWrites() {
  for (auto& [h, f] : open_) {
    if (f.pending) f.finished = true;
  }
}

void FakeHidHost::unplug(const std::string& path, FakeWriteMode writesAfter) {
  std::erase_if(interfaces, [&](const FakeHidInterface& i) { return i.path == path; });
  writeMode = writesAfter;
}

bool FakeHidHost::writePending(HidHandle h) const {
  auto it = open_.find(h.value);
  return it != open_.end() && it->second.pending && !it->second.finished;
}

std::vector<std::string> FakeHidHost::find(uint16_t vendorId, uint16_t productId) {
  char ids[16];
  std::snprintf(ids, sizeof ids, "%04x:%04x", vendorId, productId);
  calls.push_back(std::string("find ") + ids);
  std::vector<std::string> paths;
  for (const FakeHidInterface& i : interfaces) {
    if (!i.path.empty() && i.idsReadable && i.vendorId == vendorId && i.productId == productId) {
      paths.push_back(i.path);
    }
  }
  return paths;
}

HidHandle FakeHidHost::open(const std::string& path) {
  calls.push_back("open " + path);
  const FakeHidInterface* i = findInterface(path);
  if (i == nullptr || !i->openOk) return InvalidHidHandle;
  const int64_t h = nextHandle_++;
  open_[h] = OpenFile{path};
  return HidHandle{h};
}

HidWriteResult FakeHidHost::write(HidHandle handle, std::span<const uint8_t> report, uint32_t timeoutMs) {
  const std::string h = std::to_string(handle.value);
  auto it = open_.find(handle.value);
  if (it == open_.end()) {
    calls.push_back("write " + h);
    misuse.push_back("write on a handle that is not open: " + h);
    return HidWriteResult::Failed;
  }
  OpenFile& f = it->second;
  if (f.pending && !f.finished) {
    calls.push_back("write " + h + " busy");  // only looked: no wait, nothing started
    return HidWriteResult::Busy;
  }
  f.pending = false;
  calls.push_back("write " + h);
  FakeWrite w{handle.value, std::vector<uint8_t>(report.begin(), report.end()), HidWriteResult::Failed};
  switch (writeMode) {
    case FakeWriteMode::Complete:
      w.result = HidWriteResult::Done;
      break;
    case FakeWriteMode::Fail:
      w.result = HidWriteResult::Failed;
      break;
    case FakeWriteMode::Hang:
      f.pending = true;
      f.finished = false;
      waitedMillis += timeoutMs;
      w.result = HidWriteResult::Busy;
      break;
  }
  writes.push_back(std::move(w));
  return writes.back().result;
}

void FakeHidHost::close(HidHandle handle) {
  const std::string h = std::to_string(handle.value);
  auto it = open_.find(handle.value);
  if (it == open_.end()) {
    calls.push_back("close " + h);
    misuse.push_back("close of a handle that is not open: " + h);
    return;
  }
  if (it->second.pending && !it->second.finished) calls.push_back("cancel " + h);
  calls.push_back("close " + h);
  open_.erase(it);
}

}  // namespace tonalis
