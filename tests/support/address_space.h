#pragma once
// A process whose memory runs out at a chosen point: the soft limit of its
// address space is set a given number of bytes above what it has mapped
// now, so an allocation beyond that fails as it would on a machine that is
// out of memory. Lowered in a child process made for the purpose (the
// limit holds for the whole process); the hard limit is left as it was, so
// the soft one can be given back.
#include <cstdint>

namespace test_support {

// The bytes the process has mapped now.
std::uint64_t MappedBytes();
// Lowers the soft address-space limit to MappedBytes() + Headroom; false
// when the system refuses.
bool LimitAddressSpace(std::uint64_t Headroom);
// Gives the soft limit back (up to the hard one).
bool UnlimitAddressSpace();

}  // namespace test_support
