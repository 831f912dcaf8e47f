#include "fakes/allocation_counter.h"

#include <cstdlib>
#include <new>

namespace tonalis::fakes {
thread_local bool countAllocations = false;
thread_local int allocations = 0;
}  // namespace tonalis::fakes

using tonalis::fakes::allocations;
using tonalis::fakes::countAllocations;

// Replacing the global operators is allowed; GCC still flags malloc/free in them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
// Every plain form is replaced, so allocation and release always pair up (malloc/free).
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (countAllocations) ++allocations;
  return std::malloc(size ? size : 1);
}
void* operator new(std::size_t size) {
  if (void* p = operator new(size, std::nothrow)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return operator new(size, std::nothrow); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#pragma GCC diagnostic pop
