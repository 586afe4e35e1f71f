#pragma once
// The procedures of a loaded image (script procedures with their code, and
// imported host procedures bound to their handlers) and the records through
// which a host offers its functions and binders to the executor.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "script/runtime/decoded_code.h"
#include "script/runtime/shape_analysis.h"
#include "script/runtime/type_records.h"

namespace script::runtime {

class TPSExec;
class TPSStack;
class TPSExternalProcRec;

// A host function: called with (executor, procedure record, globals, run
// stack); a function's result is the run stack's top item, its parameters
// lie below it. False without a reported error fails the call.
using TPSProcHandler = std::function<bool(TPSExec&, TPSExternalProcRec&, TPSStack&, TPSStack&)>;

enum class TPSProcKind : std::uint8_t { pkNone, pkExternal, pkInternal };

// A function of the runtime's own whose work the proven forms do in place
// of the call (shape_analysis.h): set by RegisterBuiltins only, so that a
// host registering a function of the same name later binds imports to its
// own record, which has none.
enum class TPSIntrinsic : std::uint8_t { None, StrGet, Length, Copy, IntToStr };

// A procedure of the loaded image.
class TPSProcRec {
public:
    TPSProcRec() = default;
    virtual ~TPSProcRec() = default;
    TPSProcRec(const TPSProcRec&) = delete;
    TPSProcRec& operator=(const TPSProcRec&) = delete;

    TPSProcKind Kind() const { return kind_; }
    bool IsExternal() const { return kind_ == TPSProcKind::pkExternal; }
    bool IsInternal() const { return kind_ == TPSProcKind::pkInternal; }

    TPSRuntimeAttributes Attributes;

protected:
    explicit TPSProcRec(TPSProcKind kind) : kind_(kind) {}

private:
    TPSProcKind kind_ = TPSProcKind::pkNone;
};

// An imported procedure, bound at load to a registered host function or by
// a special import.
class TPSExternalProcRec : public TPSProcRec {
public:
    TPSExternalProcRec() : TPSProcRec(TPSProcKind::pkExternal) {}

    // Copied from the registered function; a special import may set them.
    std::uint32_t Ext1 = 0;
    std::uint32_t Ext2 = 0;
    std::string Name;  // upper case; empty for an import bound by its declaration
    TPSProcHandler Handler;
    TPSIntrinsic Intrinsic = TPSIntrinsic::None;  // copied from the registered function
    std::string Decl;  // the import declaration, when the image gives one
};

// A script procedure: its own copy of its byte code, and the form in which
// it runs, decoded once at its first entry (TPSExec::GeneralCode).
class TPSInternalProcRec : public TPSProcRec {
public:
    TPSInternalProcRec() : TPSProcRec(TPSProcKind::pkInternal) {}

    std::vector<std::uint8_t> Code;
    std::unique_ptr<TPSDecodedCode> Decoded;  // nil until first entered
    // Proven forms of Decoded, one per entry that has been proven (nil
    // where the entry could not be); they go before Decoded.
    struct ProvenForm {
        TPSEntryShape Entry;
        std::unique_ptr<TPSDecodedCode> Code;
    };
    std::vector<ProvenForm> Proven;
    std::uint32_t ExportNameHash = 0;
    std::string ExportDecl;  // "result @type !type ..." (type numbers)
    std::string ExportName;  // upper case; "!MAIN" for the main block
};

inline TPSExternalProcRec& AsExternal(TPSProcRec& p) { return static_cast<TPSExternalProcRec&>(p); }
inline const TPSExternalProcRec& AsExternal(const TPSProcRec& p) {
    return static_cast<const TPSExternalProcRec&>(p);
}
inline const TPSInternalProcRec& AsInternal(const TPSProcRec& p) {
    return static_cast<const TPSInternalProcRec&>(p);
}
inline TPSInternalProcRec& AsInternal(TPSProcRec& p) { return static_cast<TPSInternalProcRec&>(p); }

// A host function registered under a script name; imports of that name bind
// to it at load. The last registration of a name wins.
struct TPSRegisteredFunction {
    std::string Name;  // upper case, at most 255 characters
    std::uint32_t NameHash = 0;
    TPSProcHandler Handler;
    // Called with (executor, record) before the record is freed.
    std::function<void(TPSExec&, TPSRegisteredFunction&)> FreeHook;
    std::uint32_t Ext1 = 0;
    std::uint32_t Ext2 = 0;
    TPSIntrinsic Intrinsic = TPSIntrinsic::None;
};

// Binds an import that carries no name, from its declaration; tag is what
// the binder was registered with. True when it bound the procedure.
using TPSSpecialImportProc = bool (*)(TPSExec& exec, TPSExternalProcRec& proc, void* tag);

// Called when an executor is cleared, with the data it was added with.
using TPSCleanupProc = void (*)(TPSExec& exec, void* data);

// Asked for each attribute of its type's name that an image carries; false
// refuses the image.
using TPSAttributeUseProc = std::function<bool(TPSExec&, const TPSRuntimeAttribute&)>;

}  // namespace script::runtime
