// Counts the heap allocations the calling thread makes while armed, so a test can show that
// a path allocates nothing. Linking this replaces the global allocation operators.
#pragma once

namespace tonalis::fakes {

// Per thread: set countAllocations, run the code, read allocations.
extern thread_local bool countAllocations;
extern thread_local int allocations;

}  // namespace tonalis::fakes
