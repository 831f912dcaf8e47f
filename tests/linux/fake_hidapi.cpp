#include "fake_hidapi.h"

#include <hidapi/hidapi.h>

#include <cstdlib>
#include <cstring>

struct hid_device_ {
  std::string path;
};

namespace tonalis::lnx {

FakeHidapi& fakeHidapi() {
  static FakeHidapi state;
  return state;
}

void FakeHidapi::reset() {
  std::lock_guard lock(mutex);
  nodes.clear();
  holding = refusing = gone = false;
  taken.clear();
}

void FakeHidapi::set(bool FakeHidapi::*flag, bool value) {
  std::lock_guard lock(mutex);
  this->*flag = value;
  changed.notify_all();
}

}  // namespace tonalis::lnx

using tonalis::lnx::fakeHidapi;

extern "C" {

int hid_init() { return 0; }
int hid_exit() { return 0; }

// As hidapi: 0 for either id matches any.
hid_device_info* hid_enumerate(unsigned short vendorId, unsigned short productId) {
  auto& f = fakeHidapi();
  std::lock_guard lock(f.mutex);
  hid_device_info* first = nullptr;
  hid_device_info** next = &first;
  for (const auto& node : f.nodes) {
    if ((vendorId && node.vendorId != vendorId) || (productId && node.productId != productId)) continue;
    auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
    info->path = node.path.empty() ? nullptr : strdup(node.path.c_str());
    info->vendor_id = node.vendorId;
    info->product_id = node.productId;
    *next = info;
    next = &info->next;
  }
  return first;
}

void hid_free_enumeration(hid_device_info* devs) {
  while (devs) {
    hid_device_info* next = devs->next;
    std::free(devs->path);
    std::free(devs);
    devs = next;
  }
}

hid_device* hid_open_path(const char* path) {
  auto& f = fakeHidapi();
  std::lock_guard lock(f.mutex);
  for (const auto& node : f.nodes) {
    if (node.path == path && !f.gone) {
      ++f.openDevices;
      return new hid_device_{path};
    }
  }
  return nullptr;
}

int hid_write(hid_device*, const unsigned char* data, size_t length) {
  auto& f = fakeHidapi();
  std::unique_lock lock(f.mutex);
  ++f.writesInKernel;
  f.changed.notify_all();
  f.changed.wait(lock, [&] { return !f.holding || f.gone; });
  --f.writesInKernel;
  f.changed.notify_all();
  if (f.gone || f.refusing) return -1;
  f.taken.emplace_back(data, data + length);
  return int(length);
}

void hid_close(hid_device* dev) {
  auto& f = fakeHidapi();
  std::lock_guard lock(f.mutex);
  --f.openDevices;
  f.changed.notify_all();
  delete dev;
}

}  // extern "C"
