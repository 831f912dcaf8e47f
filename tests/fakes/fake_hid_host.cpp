#include "fakes/fake_hid_host.h"

#include <algorithm>

namespace tonalis {

const FakeHidInterface* FakeHidHost::find(const std::string& path) const {
  for (const FakeHidInterface& i : interfaces) {
    if (!i.path.empty() && i.path == path) return &i;
  }
  return nullptr;
}

void FakeHidHost::finishOutstandingWrites(HidWriteResult result) {
  for (auto& [h, f] : open_) {
    if (f.outstanding) {
      f.finished = true;
      f.finishResult = result;
    }
  }
}

void FakeHidHost::unplug(const std::string& path, FakeWriteMode writesAfter) {
  std::erase_if(interfaces, [&](const FakeHidInterface& i) { return i.path == path; });
  writeMode = writesAfter;
}

bool FakeHidHost::writeOutstanding(HidHandle h) const {
  auto it = open_.find(h.value);
  return it != open_.end() && it->second.outstanding;
}

HidEnumStatus FakeHidHost::enumerateInterfaces(std::vector<std::string>& paths) {
  calls.push_back("enumerate");
  for (size_t i = 0; i < interfaces.size(); ++i) {
    if (int(i) == outOfMemoryAt) return HidEnumStatus::OutOfMemory;
    paths.push_back(interfaces[i].path);
  }
  return HidEnumStatus::Complete;
}

bool FakeHidHost::readIds(const std::string& path, HidIds& ids) {
  calls.push_back("readIds " + path);
  const FakeHidInterface* i = find(path);
  if (i == nullptr || !i->idsReadable) return false;
  ids.vendorId = i->vendorId;
  ids.productId = i->productId;
  return true;
}

HidHandle FakeHidHost::open(const std::string& path, bool forWrite) {
  const FakeHidInterface* i = find(path);
  if (i == nullptr || !(forWrite ? i->openWriteOk : i->openReadOk)) return InvalidHidHandle;
  const int64_t h = nextHandle_++;
  open_[h] = OpenFile{path, forWrite};
  return HidHandle{h};
}

HidHandle FakeHidHost::openForRead(const std::string& path) {
  calls.push_back("openRead " + path);
  return open(path, false);
}

HidHandle FakeHidHost::openForWrite(const std::string& path) {
  calls.push_back("openWrite " + path);
  return open(path, true);
}

HidWriteResult FakeHidHost::write(HidHandle handle, const uint8_t* bytes, size_t size,
                                  uint32_t timeoutMs) {
  calls.push_back("write " + std::to_string(handle.value));
  FakeWrite w{handle.value, std::vector<uint8_t>(bytes, bytes + size), HidWriteResult::Failed};
  auto it = open_.find(handle.value);
  if (it == open_.end() || !it->second.forWrite) {
    writes.push_back(std::move(w));
    return HidWriteResult::Failed;
  }
  OpenFile& f = it->second;
  if (f.outstanding) misuse.push_back("write while a write is outstanding on " + std::to_string(handle.value));
  switch (writeMode) {
    case FakeWriteMode::Complete:
      w.result = HidWriteResult::Done;
      break;
    case FakeWriteMode::Fail:
      w.result = HidWriteResult::Failed;
      break;
    case FakeWriteMode::Hang:
      f.outstanding = true;
      f.finished = false;
      waitedMillis += timeoutMs;
      w.result = HidWriteResult::TimedOut;
      break;
  }
  writes.push_back(std::move(w));
  return writes.back().result;
}

HidWriteResult FakeHidHost::waitWrite(HidHandle handle, uint32_t timeoutMs) {
  calls.push_back("wait " + std::to_string(handle.value) + " " + std::to_string(timeoutMs));
  auto it = open_.find(handle.value);
  if (it == open_.end()) return HidWriteResult::Failed;
  OpenFile& f = it->second;
  if (!f.outstanding) return HidWriteResult::Done;
  if (!f.finished) {
    waitedMillis += timeoutMs;
    return HidWriteResult::TimedOut;
  }
  f.outstanding = false;
  return f.finishResult;
}

void FakeHidHost::cancelWrite(HidHandle handle) {
  calls.push_back("cancel " + std::to_string(handle.value));
  auto it = open_.find(handle.value);
  if (it != open_.end()) it->second.outstanding = false;
}

void FakeHidHost::close(HidHandle handle) {
  calls.push_back("close " + std::to_string(handle.value));
  auto it = open_.find(handle.value);
  if (it == open_.end()) {
    misuse.push_back("close of a handle that is not open: " + std::to_string(handle.value));
    return;
  }
  open_.erase(it);
}

}  // namespace tonalis
