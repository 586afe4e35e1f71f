#pragma once
// The plug-in function library: the host routines behind the functions
// that DeclarePluginLibrary declares, registered with the host's executor.
#include <cstdint>
#include <string>

#include "script/runtime/host_calls.h"

namespace script::runtime {

class TMyScript;

class PluginLibrary {
public:
    // Registers every routine with the host's executor.
    explicit PluginLibrary(TMyScript& host);

    // The routines that reach the main window through the host's request
    // callback.
    std::int32_t Send(const std::string& s);
    std::int32_t Send2(const std::string& s);
    void NBSleep(std::uint32_t ms);
    void AddMsg(const std::string& s);
    void UpdMsg(const std::string& s);
    void AddErr(const std::string& s);
    bool Recv(std::int32_t nBytes, std::int32_t timeoutMs, std::string& data);
    void PurgeRx();
    void SetV(const std::string& name, const std::string& value);
    std::string GetV(const std::string& name);
    void GraphAdd(double value);
    bool SaveStrToFile(const std::string& fileName, const std::string& data);

private:
    TMyScript& host_;
};

// The bytes a plain number variable holds (Data2Str and Str2Data): 1, 2,
// 4, 8 or 10 by its base type; 0 for any other type.
std::uint32_t PluginDataSize(const TPSTypeRec* type);

}  // namespace script::runtime
