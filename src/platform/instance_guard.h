// One running copy of the program per user session: a second start hands over to the
// first (which brings its window into view) and ends.
#pragma once

namespace tonalis {

class InstanceGuard {
 public:
  virtual ~InstanceGuard() = default;
  // True when no other copy runs; this copy then holds the claim for the rest of its life.
  virtual bool claim() = 0;
  // Asks the copy that holds the claim to show its window. Returns at once.
  virtual void wakeFirst() = 0;
};

}  // namespace tonalis
