// Any text that compiles runs: the main block and every procedure, each
// within a tick budget, against a small library of typed host routines,
// once in each tier of forms (the general handlers only; with quick forms;
// with proven forms). Every run ends finished, stopped or paused with an
// error, all alike; none crashes, leaks or hangs. Seeds: the plug-ins of the compiler's tests.
#include <cstddef>
#include <cstdint>
#include <string>

#include "script_fuzz_host.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace script::compiler;
    TPSPascalCompiler compiler;
    fuzz_host::DeclareLibrary(compiler);
    std::string image;
    if (!compiler.Compile(std::string(reinterpret_cast<const char*>(data), size)) || !compiler.GetOutput(image)) return 0;
    // What the compiler makes loads, unless it is larger than values may be.
    if (!fuzz_host::RunEveryWay(image)) {
        fuzz_host::Host host;
        fuzz_host::Check(!host.LoadImage(image));
        fuzz_host::Check(host.LastErrorCode() == script::runtime::erOutOfMemory ||
                         host.LastErrorCode() == script::runtime::erUnexpectedEof);
    }
    return 0;
}
