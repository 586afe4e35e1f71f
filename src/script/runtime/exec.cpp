#include "script/runtime/exec.h"

#include <malloc.h>

#include <algorithm>

#include "script/runtime/host_calls.h"
#include <cstring>
#include <new>

#include "platform/rtl/failure_trace.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/numbers.h"
#include "script/runtime/operators.h"
#include "script/runtime/value_access.h"
#include "script/runtime/value_lifetime.h"
#include "script/runtime/variant.h"
#include "script/runtime/variant_bridge.h"

namespace script::runtime {

namespace {
inline constexpr char kDispatchTypeName[] = "IDISPATCH";
}  // namespace

TPSExec::TPSExec()
    : return_address_type_(CreateTypeRec(btReturnAddress)),
      variant_type_(CreateTypeRec(btVariant)),
      variant_array_type_(std::make_unique<TPSTypeRec_Array>()) {
    return_address_type_->CalcSize();
    variant_type_->CalcSize();
    variant_array_type_->ArrayType = variant_type_.get();
    variant_array_type_->CalcSize();
    // The globals of an image are one value area: together they stay within
    // what a single value may take.
    globals_.SetMaxBytes(kMaxValueBytes);
    // Endless recursion of a script ends in an error, not in all of memory.
    stack_.SetMaxBytes(kMaxRunStackBytes);
    // In one block, so that a frame's items lie at distances that their
    // types fix: proven code reaches them without looking them up.
    stack_.SetOneBlock(true);
    RegisterBuiltins();
}

TPSExec::~TPSExec() {
    ClearLoaded();
    // Registered functions go last registered first, each told first.
    while (!registered_functions_.empty()) {
        std::unique_ptr<TPSRegisteredFunction> f = std::move(registered_functions_.back());
        registered_functions_.pop_back();
        if (f->FreeHook) {
            try {
                f->FreeHook(*this, *f);
            } catch (...) {
                // A hook that fails does not keep the others from running;
                // the executor is going away, so only a trace is left.
                rtl::TraceFailure(std::current_exception(), "freeing a registered script function");
            }
        }
    }
}

// ------------------------------------------------------------ state

void TPSExec::RequireNoRun(const char* what) const {
    // The running code and its values belong to the loaded image.
    if (run_depth_ > 0) throw EPSError(std::string("Cannot ") + what + " while the script runs");
}

void TPSExec::Clear() {
    RequireNoRun("unload the script");
    ClearLoaded();
}

void TPSExec::ClearLoaded() {
    exception_frames_.clear();
    // Clean-up procedures last first; one that adds another gets it called
    // too.
    while (!cleanup_procs_.empty()) {
        const CleanupRecord c = cleanup_procs_.back();
        cleanup_procs_.pop_back();
        try {
            c.Proc(*this, c.Data);
        } catch (...) {
            // The others still run. The image that the procedure cleans up
            // after is going away with its error record, so a trace is all
            // that can be left.
            rtl::TraceFailure(std::current_exception(), "cleaning up after the script");
        }
    }
    exported_vars_.clear();
    std::size_t decoded_bytes = 0;
    for (const auto& proc : procs_) {
        if (!proc->IsInternal()) continue;
        const auto& internal = AsInternal(*proc);
        if (internal.Decoded) decoded_bytes += internal.Decoded->HeldBytes();
        for (const auto& form : internal.Proven)
            if (form.Code) decoded_bytes += form.Code->HeldBytes();
    }
    current_proc_ = nullptr;
    code_ = nullptr;
    code_length_ = 0;
    decoded_ = nullptr;
    pointer_type_ = nullptr;
    while (!procs_.empty()) procs_.pop_back();
    // Values go before the types that describe them.
    globals_.Clear();
    stack_.Clear();
    temporaries_.Clear();
    while (!types_.empty()) types_.pop_back();
    status_ = TPSStatus::isNotLoaded;
    stack_base_ = -1;
    // The decoded code of a large image goes back to the system, not only
    // to the allocator: a plug-in is unloaded and loaded again while the
    // program runs, and what it held would otherwise stay with the process.
    if (decoded_bytes >= kTrimAfterDecodedBytes) malloc_trim(0);
}

void TPSExec::ResetGlobals() {
    if (status_ != TPSStatus::isLoaded) return;
    stack_.Clear();
    temporaries_.Clear();
    for (std::uint32_t i = globals_.Count(); i > 0; --i) {
        void* item = globals_.GetItem(i - 1);
        const TPSTypeRec* type = TypeOfTypedValue(item);
        FinalizeValue(ValueOfTypedValue(item), type);
        InitializeValue(ValueOfTypedValue(item), type);
    }
}

void TPSExec::Stop() {
    attention_ = true;
    if (status_ == TPSStatus::isRunning) {
        status_ = TPSStatus::isLoaded;
    } else if (status_ == TPSStatus::isPaused) {
        status_ = TPSStatus::isLoaded;
        stack_.Clear();
        temporaries_.Clear();
    }
}

void TPSExec::Pause() {
    attention_ = true;
    if (status_ == TPSStatus::isRunning) status_ = TPSStatus::isPaused;
}

// ------------------------------------------------------------ host registrations

TPSRegisteredFunction& TPSExec::RegisterFunction(std::string_view name, TPSProcHandler handler, std::uint32_t ext1,
                                                 std::uint32_t ext2) {
    auto f = std::make_unique<TPSRegisteredFunction>();
    f->Name = FastUpperCase(name.substr(0, kMaxByteCountedText));
    f->NameHash = MakeHash(f->Name);
    f->Handler = std::move(handler);
    f->Ext1 = ext1;
    f->Ext2 = ext2;
    registered_functions_.push_back(std::move(f));
    return *registered_functions_.back();
}

void TPSExec::RegisterSpecialProcImport(std::string_view name, TPSSpecialImportProc handler, void* tag) {
    special_imports_.push_back(SpecialImport{handler, MakeHash(name), std::string(name), tag});
}

void* TPSExec::FindSpecialProcImport(TPSSpecialImportProc handler) const {
    for (auto it = special_imports_.rbegin(); it != special_imports_.rend(); ++it)
        if (it->Handler == handler) return it->Tag;
    return nullptr;
}

void TPSExec::RegisterAttributeType(std::string_view name, TPSAttributeUseProc handler) {
    std::string upper = FastUpperCase(name);
    const std::uint32_t hash = MakeHash(upper);
    attribute_types_.push_back(AttributeType{std::move(upper), hash, std::move(handler)});
}

void TPSExec::AddCleanupProc(TPSCleanupProc proc, void* data) { cleanup_procs_.push_back(CleanupRecord{proc, data}); }

void* TPSExec::FindCleanupProc(TPSCleanupProc proc, std::int32_t& index) const {
    const auto count = static_cast<std::int64_t>(cleanup_procs_.size());
    for (std::int64_t i = std::min<std::int64_t>(index, count - 1); i >= 0; --i) {
        if (cleanup_procs_[static_cast<std::size_t>(i)].Proc == proc) {
            index = static_cast<std::int32_t>(i - 1);
            return cleanup_procs_[static_cast<std::size_t>(i)].Data;
        }
    }
    index = -1;
    return nullptr;
}

TPSRegisteredFunction* TPSExec::FindRegistered(std::string_view upper) const {
    const std::uint32_t hash = MakeHash(upper);
    for (auto it = registered_functions_.rbegin(); it != registered_functions_.rend(); ++it)
        if ((*it)->NameHash == hash && (*it)->Name == upper) return it->get();
    return nullptr;
}

TPSRegisteredFunction* TPSExec::LookupRegisteredFunction(std::string_view name) const {
    return FindRegistered(FastUpperCase(name));
}

bool TPSExec::BindExternalProc(const std::string& name, TPSExternalProcRec& proc) {
    if (!name.empty()) {
        // As the image gives it: in upper case.
        const TPSRegisteredFunction* f = FindRegistered(name);
        if (f == nullptr) return false;
        proc.Handler = f->Handler;
        proc.Ext1 = f->Ext1;
        proc.Ext2 = f->Ext2;
        proc.Intrinsic = f->Intrinsic;
        return true;
    }
    const std::string_view decl = proc.Decl;
    const std::size_t colon = decl.find(':');
    const std::string_view key = colon == std::string_view::npos ? std::string_view() : decl.substr(0, colon);
    const std::uint32_t hash = MakeHash(key);
    // By index: a binder may register further binders.
    for (std::size_t i = special_imports_.size(); i > 0; --i) {
        const SpecialImport s = special_imports_[i - 1];
        if (!s.Name.empty() && (s.NameHash != hash || s.Name != key)) continue;
        if (s.Handler(*this, proc, s.Tag)) return true;
    }
    return false;
}

// ------------------------------------------------------------ errors

std::uint32_t TPSExec::CurrentProcNo() const {
    for (std::size_t i = procs_.size(); i > 0; --i) {
        if (procs_[i - 1].get() == current_proc_) return static_cast<std::uint32_t>(i - 1);
    }
    return kNoProc;
}

void TPSExec::RaiseError(std::uint8_t code) { RaiseErrorObject(code, {}, nullptr); }

void TPSExec::RaiseErrorParam(std::uint8_t code, const std::string& param) { RaiseErrorObject(code, param, nullptr); }

void TPSExec::RaiseErrorObject(std::uint8_t code, const std::string& param, std::exception_ptr obj) {
    ReportErrorAt(CurrentProcNo(), position_, code, param, std::move(obj));
}

void TPSExec::ReportErrorAt(std::uint32_t proc_no, std::uint32_t position, std::uint8_t code,
                            const std::string& param, std::exception_ptr obj) {
    if (OnException) OnException(*this, code, param, position, proc_no, obj);
    HandleError(proc_no, position, code, param, std::move(obj));
}

void TPSExec::HandleError(std::uint32_t proc_no, std::uint32_t position, std::uint8_t code,
                          const std::string& param, std::exception_ptr obj) {
    last_error_proc_ = proc_no;
    last_error_pos_ = position;
    last_error_code_ = code;
    last_error_param_ = param;
    last_error_object_ = std::move(obj);
    if (code == ErNoError) return;
    ++error_count_;
    attention_ = true;
    if (status_ != TPSStatus::isNotLoaded) status_ = TPSStatus::isPaused;
}

void TPSExec::ReportException(std::exception_ptr e) {
    try {
        std::rethrow_exception(e);
    } catch (const EPSException& x) {
        ReportErrorAt(x.ProcNo, x.ProcPos, erCustomError, x.Message, nullptr);
    } catch (const EPSDivByZero& x) {
        RaiseErrorObject(ErDivideByZero, x.Message, e);
    } catch (const EPSMathError& x) {
        RaiseErrorObject(ErMathError, x.Message, e);
    } catch (const EPSOutOfMemory&) {
        RaiseError(erOutOfMemory);
    } catch (const std::bad_alloc&) {
        RaiseError(erOutOfMemory);
    } catch (const std::exception& x) {
        RaiseErrorObject(erException, x.what(), e);
    } catch (...) {
        RaiseErrorObject(erException, {}, e);
    }
}

void TPSExec::ReportOperatorFailure(std::exception_ptr e) {
    try {
        std::rethrow_exception(e);
    } catch (const TPSRuntimeFault& f) {
        RaiseErrorParam(f.Code, f.Param);
    } catch (const EPSDivByZero&) {
        RaiseError(ErDivideByZero);
    } catch (const EPSMathError&) {
        RaiseError(ErMathError);
    } catch (...) {
        ReportException(std::current_exception());
    }
}

void TPSExec::RaiseCurrentError() {
    if (last_error_code_ == ErNoError) return;
    if (last_error_object_) {
        std::exception_ptr e = std::move(last_error_object_);
        last_error_object_ = nullptr;
        std::rethrow_exception(e);
    }
    throw EPSException(PSErrorText(last_error_code_, last_error_param_), this, last_error_proc_, last_error_pos_);
}

// ------------------------------------------------------------ assignment

bool TPSExec::AssignValue(void* dest, const void* src, const TPSTypeRec* dest_type, const TPSTypeRec* src_type) {
    try {
        return AssignUnguarded(dest, src, dest_type, src_type);
    } catch (...) {
        ReportException(std::current_exception());
        return false;
    }
}

// Every row computes the new value before it writes, and takes a new
// reference before it drops the old one, so a failure leaves the
// destination as it was and a value may be assigned to itself.
bool TPSExec::AssignUnguarded(void* dest, const void* src, const TPSTypeRec* dest_type,
                              const TPSTypeRec* src_type) {
    const std::uint8_t dest_base = dest_type->BaseType;
    switch (dest_base) {
    case btU8:
    case btChar:
        StoreAs(dest, static_cast<std::uint8_t>(PSReadUInt(src, src_type)));
        return true;
    case btS8:
        StoreAs(dest, static_cast<std::uint8_t>(PSReadInt(src, src_type)));
        return true;
    case btU16:
        StoreAs(dest, static_cast<std::uint16_t>(PSReadUInt(src, src_type)));
        return true;
    case btS16:
        StoreAs(dest, static_cast<std::uint16_t>(PSReadInt(src, src_type)));
        return true;
    case btS64:
        StoreAs(dest, PSReadInt64(src, src_type));
        return true;
    case btCurrency:
        StoreAs(dest, PSReadCurrency(src, src_type));
        return true;

    case btU32:
    case btS32: {
        if (!FollowPointer(src, src_type)) ThrowTypeMismatch();
        std::int64_t v = 0;
        if (ReadIntegerValue(src, src_type->BaseType, v)) {
            StoreAs(dest, static_cast<std::uint32_t>(v));
            return true;
        }
        if (src_type->BaseType == btVariant) {
            const Variant x = Variant::CopyFromSlot(src);
            const auto bits = dest_base == btU32 ? static_cast<std::uint32_t>(x.ToInt64())
                                                 : static_cast<std::uint32_t>(x.ToInt32());
            StoreAs(dest, bits);
            return true;
        }
        if (dest_base == btS32 && src_type->BaseType == btClass) {
            // Only nil becomes a number: an object's address is never cut
            // to 32 bits.
            if (LoadAs<void*>(src) != nullptr) {
                RaiseError(ErTypeMismatch);
                return false;
            }
            StoreAs(dest, std::int32_t{0});
            return true;
        }
        ThrowTypeMismatch();
    }

    case btSingle:
    case btDouble:
    case btExtended: {
        if (!FollowPointer(src, src_type)) ThrowTypeMismatch();
        const std::uint8_t src_base = src_type->BaseType;
        if (src_base == btExtended && dest_base == btExtended) {
            std::memmove(dest, src, kExtendedBytes);
            return true;
        }
        long double x = 0;
        std::int64_t i = 0;
        if (src_base != btChar && ReadIntegerValue(src, src_base, i)) {
            x = static_cast<long double>(i);
        } else if (ReadFloatValue(src, src_base, x)) {
        } else if (src_base == btCurrency) {
            x = CurrencyToReal(LoadAs<std::int64_t>(src));
        } else if (src_base == btVariant) {
            x = Variant::CopyFromSlot(src).ToReal();
        } else {
            ThrowTypeMismatch();
        }
        StoreFloatValue(dest, dest_base, x);
        return true;
    }

    case btString:
        if (src_type->BaseType == btString) {
            ShareStringSlot(dest, src);
        } else {
            SetStringSlot(dest, PSReadString(src, src_type));
        }
        return true;

    case btPChar:
        // A PChar holds a reference to its own zero-terminated characters,
        // so it never points into a temporary.
        if (src_type->BaseType == btString || src_type->BaseType == btPChar) {
            ShareStringSlot(dest, src);
        } else {
            SetStringSlot(dest, PSReadString(src, src_type));
        }
        return true;

    case btProcPtr: {
        if (!FollowPointer(src, src_type)) ThrowTypeMismatch();
        if (src_type->BaseType == btProcPtr) {
            std::memmove(dest, src, sizeof(PSProcPtrValue));
        } else if (src_type->BaseType == btU32) {
            auto p = LoadAs<PSProcPtrValue>(dest);
            p.ProcNo = LoadAs<std::uint32_t>(src);
            StoreAs(dest, p);
        } else {
            ThrowTypeMismatch();
        }
        return true;
    }

    case btRecord:
        if (src_type != dest_type || !CopyValuesOrThrow(dest, src, 1, dest_type)) break;
        return true;

    case btStaticArray:
        if (src_type != dest_type) break;
        if (!CopyValuesOrThrow(dest, src, AsStaticArray(dest_type).Size, AsStaticArray(dest_type).ArrayType)) break;
        return true;

    case btSet:
        if (src_type != dest_type) break;
        std::memmove(dest, src, AsSet(dest_type).ByteSize);
        return true;

    case btClass: {
        std::int64_t v = 0;
        if (src_type->BaseType == btClass) {
            std::memmove(dest, src, sizeof(void*));
            return true;
        }
        // An integer never becomes an object reference; 0 stands for nil.
        if ((src_type->BaseType == btU32 || src_type->BaseType == btS32) &&
            ReadIntegerValue(src, src_type->BaseType, v) && v == 0) {
            StoreAs(dest, static_cast<void*>(nullptr));
            return true;
        }
        break;
    }

    case btArray: return AssignToDynArray(dest, src, dest_type, src_type);
    case btVariant: return AssignToVariant(dest, src, src_type);
    case btInterface: return AssignToInterface(dest, src, dest_type, src_type);
    default: break;
    }
    RaiseError(ErTypeMismatch);
    return false;
}

bool TPSExec::AssignToDynArray(void* dest, const void* src, const TPSTypeRec* dest_type,
                               const TPSTypeRec* src_type) {
    const TPSTypeRec* element = AsArray(dest_type).ArrayType;
    if (src_type->BaseType == btStaticArray && AsStaticArray(src_type).ArrayType == element) {
        // Into a fresh block: a block that another array shares keeps its
        // elements, and a failed copy leaves the destination as it was.
        const std::uint32_t count = AsStaticArray(src_type).Size;
        void* fresh = nullptr;
        if (count > 0) {
            fresh = NewBlock(std::uint64_t{count} * element->RealSize, static_cast<std::int32_t>(count));
            bool copied = false;
            std::exception_ptr failure;
            try {
                copied = CopyValuesOrThrow(fresh, src, count, element);
            } catch (...) {
                failure = std::current_exception();
            }
            if (!copied) {
                FinalizeValues(fresh, count, element);
                FreeBlock(fresh);
                if (failure) std::rethrow_exception(failure);
                RaiseError(ErTypeMismatch);
                return false;
            }
        }
        void* old = LoadAs<void*>(dest);
        StoreAs(dest, fresh);
        ReleaseDynArray(old, element);
        return true;
    }
    if (src_type->BaseType == btVariant && Variant::SlotVType(src) == varVariantArray)
        return VariantArrayToDynArray(*this, dest, Variant::CopyFromSlot(src), dest_type);
    if (src_type == dest_type || (src_type->BaseType == btArray && AsArray(src_type).ArrayType == element)) {
        CopyValuesOrThrow(dest, src, 1, dest_type);
        return true;
    }
    RaiseError(ErTypeMismatch);
    return false;
}

bool TPSExec::AssignToVariant(void* dest, const void* src, const TPSTypeRec* src_type) {
    if (src_type->BaseType == btInterface && src_type->ExportName == kDispatchTypeName) {
        auto* intf = LoadAs<IPSInterface*>(src);
        auto* dispatch = dynamic_cast<IPSDispatch*>(intf);
        if (intf != nullptr && dispatch == nullptr) {
            RaiseError(ErTypeMismatch);
            return false;
        }
        Variant::StoreIntoSlot(dest, Variant::Dispatch(dispatch));
        return true;
    }
    if (src_type->BaseType == btVariant) {
        Variant::StoreIntoSlot(dest, Variant::CopyFromSlot(src));
        return true;
    }
    Variant v;
    if (!PSValueToVariant(src, src_type, v)) {
        RaiseError(ErTypeMismatch);
        return false;
    }
    Variant::StoreIntoSlot(dest, std::move(v));
    return true;
}

bool TPSExec::AssignToInterface(void* dest, const void* src, const TPSTypeRec* dest_type,
                                const TPSTypeRec* src_type) {
    IPSInterface* fresh = nullptr;
    switch (src_type->BaseType) {
    case btInterface:
        fresh = LoadAs<IPSInterface*>(src);
        if (fresh != nullptr) fresh->AddRef();
        break;
    case btClass: {
        // The object is asked first; the old reference goes only once the
        // new one is there.
        auto* obj = LoadAs<IPSObject*>(src);
        fresh = obj != nullptr ? obj->GetInterface(AsInterface(dest_type).Guid) : nullptr;
        if (fresh == nullptr) {
            RaiseError(erInterfaceNotSupported);
            return false;
        }
        break;
    }
    case btVariant: {
        const std::uint16_t kind = Variant::SlotVType(src);
        if (dest_type->ExportName != kDispatchTypeName ||
            (kind != varDispatch && kind != varEmpty && kind != varNull)) {
            RaiseError(ErTypeMismatch);
            return false;
        }
        fresh = Variant::CopyFromSlot(src).ToDispatch();
        if (fresh != nullptr) fresh->AddRef();
        break;
    }
    default:
        RaiseError(ErTypeMismatch);
        return false;
    }
    auto* old = LoadAs<IPSInterface*>(dest);
    StoreAs(dest, fresh);
    if (old != nullptr) old->Release();
    return true;
}

}  // namespace script::runtime
