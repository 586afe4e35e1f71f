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

// A quarter of the memory the process may have: of the machine's physical
// memory and its address-space limit, the lower; 0 when the system does
// not say. Each of the program's two big stores (receive list, graph) keeps
// within one, so that together they stay within about half.
std::uint64_t MemoryQuarter();
// Limit, lowered to the number of megabytes in the environment variable
// Variable when that is set to a positive number: tests lower a store's
// limit to see it reached.
std::uint64_t LoweredForTest(std::uint64_t Limit, const char* Variable);

// Size bytes of zeroed, readable and writable memory; nullptr when the
// system refuses. The memory is given back with VirtualFree and the same size.
void* VirtualAlloc(std::size_t Size);
void VirtualFree(void* Address, std::size_t Size);

}  // namespace win
