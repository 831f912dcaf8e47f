// A shared, ordered record of calls on fake ports, so a test can check a sequence
// across several ports ("tray.remove" before "settings.save" before "clock.sleep 1200").
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace tonalis::fakes {

class CallLog {
 public:
  void add(std::string entry) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(entry));
  }
  std::vector<std::string> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  // Index of the first call starting with `prefix`, or -1.
  int indexOf(const std::string& prefix) const {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(calls_.begin(), calls_.end(),
                           [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
    return it == calls_.end() ? -1 : int(it - calls_.begin());
  }
  int count(const std::string& prefix) const {
    std::lock_guard lock(mutex_);
    return int(std::count_if(calls_.begin(), calls_.end(),
                             [&](const std::string& c) { return c.rfind(prefix, 0) == 0; }));
  }
  // Every call starting with `prefix`, in order.
  std::vector<std::string> callsStartingWith(const std::string& prefix) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const std::string& c : calls_) {
      if (c.rfind(prefix, 0) == 0) out.push_back(c);
    }
    return out;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    calls_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

}  // namespace tonalis::fakes
