#pragma once
// Memory services in the shape of the Win32 calls: how much memory the
// machine and the process may have, and blocks of address space taken
// straight from the system, so that giving one back returns its memory at
// once instead of leaving it in the heap.
#include <cstddef>
#include <cstdint>

namespace win {

struct MEMORYSTATUSEX {
    std::uint64_t ullTotalPhys = 0;     // physical memory of the machine
    std::uint64_t ullAvailPhys = 0;     // of which free or reclaimable now
    std::uint64_t ullTotalVirtual = 0;  // address space the process may use (its limit, if one is set)
};

// False (and the status untouched) when the system does not say.
bool GlobalMemoryStatusEx(MEMORYSTATUSEX* Status);

// Size bytes of zeroed, readable and writable memory; nullptr when the
// system refuses. The memory is given back with VirtualFree and the same size.
void* VirtualAlloc(std::size_t Size);
void VirtualFree(void* Address, std::size_t Size);

}  // namespace win
