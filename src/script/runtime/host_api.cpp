// What a host does with a loaded script: find its procedures and exported
// globals, and run a procedure with Variant parameters or typed values.
#include <string>
#include <string_view>

#include "script/runtime/exec.h"
#include "script/runtime/export_decl.h"
#include "script/runtime/value_layout.h"
#include "script/runtime/value_lifetime.h"
#include "script/runtime/variant.h"
#include "script/runtime/variant_bridge.h"

namespace script::runtime {

namespace {

// The typed heap values of one call, freed on every path.
struct HeapValues {
    std::vector<TypedHeapValuePtr> Owned;
    std::vector<void*> List;

    void* Add(const TPSTypeRec* type) {
        Owned.emplace_back(CreateTypedHeapValue(type));
        List.push_back(Owned.back().get());
        return Owned.back().get();
    }
};

}  // namespace

std::uint32_t TPSExec::GetProcNo(std::string_view name) const {
    const std::string upper = FastUpperCase(name);
    const std::uint32_t hash = MakeHash(upper);
    for (std::size_t i = procs_.size(); i > 0; --i) {
        const TPSProcRec& p = *procs_[i - 1];
        if (p.IsInternal()) {
            const auto& internal = AsInternal(p);
            if (internal.ExportNameHash == hash && internal.ExportName == upper) return static_cast<std::uint32_t>(i - 1);
        } else if (p.IsExternal() && static_cast<const TPSExternalProcRec&>(p).Name == upper) {
            return static_cast<std::uint32_t>(i - 1);
        }
    }
    return kNoProc;
}

std::uint32_t TPSExec::GetVar(std::string_view name) const {
    const std::string upper = FastUpperCase(name);
    const std::uint32_t hash = MakeHash(upper);
    for (std::size_t i = exported_vars_.size(); i > 0; --i) {
        const TPSExportedVar& v = exported_vars_[i - 1];
        if (v.NameHash == hash && v.Name == upper) return static_cast<std::uint32_t>(i - 1);
    }
    return kNoProc;
}

void* TPSExec::FindGlobalVar(std::string_view name) const {
    const std::uint32_t n = GetVar(name);
    if (n == kNoProc) return nullptr;
    // The global's own number, which the loader keeps with its name.
    return GlobalItem(exported_vars_[n].Index);
}

Variant TPSExec::CallProcByName(std::string_view name, const std::vector<Variant>& params) {
    const std::uint32_t no = GetProcNo(name);
    if (no == kNoProc) throw EPSError("Unknown procedure");
    return CallProc(no, params);
}

Variant TPSExec::CallProc(std::uint32_t proc_no, const std::vector<Variant>& params) {
    if (proc_no >= procs_.size()) throw EPSError("Unknown procedure");
    const TPSProcRec& proc = *procs_[proc_no];
    if (!proc.IsInternal()) throw EPSError("Invalid class typecast");
    const ExportSignature sig = ParseExportDecl(AsInternal(proc).ExportDecl);
    if (!sig.Valid) throw EPSError("Invalid parameter");

    // The run stack takes the last parameter first, so the values are made
    // from the last declared parameter to the first, each of its own type
    // with its own Variant.
    HeapValues values;
    const std::size_t count = sig.Params.size();
    if (params.size() < count) throw EPSError("Not enough parameters");
    if (params.size() > count) throw EPSError("Too many parameters");
    for (std::size_t k = count; k > 0; --k) {
        const std::int64_t type_no = sig.Params[k - 1];
        const TPSTypeRec* type = type_no >= 0 && type_no < std::int64_t{TypeCount()} ? GetType(static_cast<std::uint32_t>(type_no)) : nullptr;
        if (type == nullptr) throw EPSError("Invalid parameter");
        void* value = values.Add(type);
        // A failed conversion is the host's error, not the script's: the
        // executor's state stays as it was.
        const std::uint8_t code = last_error_code_;
        std::string param = last_error_param_;
        std::exception_ptr object = last_error_object_;
        const std::uint32_t where_proc = last_error_proc_;
        const std::uint32_t where_pos = last_error_pos_;
        const TPSStatus status = status_;
        if (!VariantToPSValue(*this, params[k - 1], THostParam{ValueOfTypedValue(value), type, false})) {
            last_error_code_ = code;
            last_error_param_ = std::move(param);
            last_error_object_ = std::move(object);
            last_error_proc_ = where_proc;
            last_error_pos_ = where_pos;
            status_ = status;
            throw EPSError("Invalid parameter");
        }
    }
    void* result = nullptr;
    if (sig.Result >= 0) {
        const TPSTypeRec* type = sig.Result < std::int64_t{TypeCount()} ? GetType(static_cast<std::uint32_t>(sig.Result)) : nullptr;
        if (type == nullptr) throw EPSError("Invalid parameter");
        result = values.Add(type);
    }
    RunProc(values.List, proc_no);
    RaiseCurrentError();
    if (result == nullptr) return Variant::Null();
    Variant v;
    if (!PSValueToVariant(ValueOfTypedValue(result), TypeOfTypedValue(result), v)) throw EPSError(kTypeMismatchText);
    return v;
}

bool TPSExec::RunProc(const std::vector<void*>& values, std::uint32_t proc_no) {
    if (status_ == TPSStatus::isNotLoaded) return false;
    if (proc_no >= procs_.size()) {
        RaiseError(erOutOfProcRange);
        return false;
    }
    if (run_depth_ >= kMaxRunNesting) {
        RaiseError(erOutOfStackRange);
        return false;
    }
    if (!values.empty() && pointer_type_ == nullptr) {
        RaiseError(erInvalidType);
        return false;
    }
    const std::uint32_t floor = stack_.Count();
    for (void* v : values) {
        if (v == nullptr) {
            stack_.PopTo(floor);
            return false;
        }
        PSPointerValue p{ValueOfTypedValue(v), TypeOfTypedValue(v), 0};
        if (p.Type != nullptr && p.Type->BaseType == btPointer) {
            const auto inner = LoadAs<PSPointerValue>(p.Address);
            p = PSPointerValue{inner.Address, inner.Type, 0};
        }
        void* item = nullptr;
        try {
            item = stack_.PushType(pointer_type_);
        } catch (const EPSOutOfMemory&) {
            stack_.PopTo(floor);
            RaiseError(erOutOfStackRange);
            return false;
        }
        StoreAs(ValueOfTypedValue(item), p);
    }
    const std::uint32_t remembered = stack_.Count();

    // The caller's state, and when a run is going on, its error record: a
    // procedure run from inside it starts with a clear record, and one that
    // ends without an error gives the caller back its own.
    const TPSProcRec* saved_proc = current_proc_;
    TPSDecodedCode* saved_form = decoded_;
    const std::uint32_t saved_position = position_;
    const std::int32_t saved_base = stack_base_;
    const TPSStatus saved_status = status_;
    const std::uint32_t saved_floor = run_floor_;
    const bool nested = run_depth_ > 0;
    const std::uint8_t saved_code = last_error_code_;
    std::string saved_param = last_error_param_;
    std::exception_ptr saved_object = last_error_object_;
    const std::uint32_t saved_error_proc = last_error_proc_;
    const std::uint32_t saved_error_pos = last_error_pos_;

    // Errors and returns of this procedure stop at this frame.
    auto barrier = std::make_unique<TPSExceptionHandler>();
    barrier->Barrier = true;
    barrier->BasePtr = stack_base_;
    barrier->StackSize = floor;
    exception_frames_.push_back(std::move(barrier));
    const std::size_t frames = exception_frames_.size();

    bool ok = false;
    TPSProcRec& proc = *procs_[proc_no];
    if (proc.IsExternal()) {
        ok = CallExternal(AsExternal(proc));
    } else {
        void* item = nullptr;
        try {
            item = stack_.PushType(return_address_type_.get());
        } catch (const EPSOutOfMemory&) {
            RaiseError(erOutOfStackRange);
        }
        if (item != nullptr) {
            StoreAs(ValueOfTypedValue(item), PSReturnAddress{nullptr, position_, stack_base_});
            stack_base_ = static_cast<std::int32_t>(stack_.Count() - 1);
            EnterCode(&proc, CodeForEntry(&proc, stack_.Count() - 1));
            position_ = 0;
            status_ = TPSStatus::isPaused;
            run_floor_ = floor;
            ok = Run();
        }
    }

    // A run that stopped inside the procedure leaves its frame behind.
    if (void* frame = stack_.GetItem(remembered); frame != nullptr && IsReturnAddressItem(frame)) {
        stack_.PopTo(remembered + 1);
        const auto back = LoadAs<PSReturnAddress>(ValueOfTypedValue(frame));
        position_ = back.Position;
        stack_base_ = back.StackBase;
        stack_.Pop();
    }
    stack_.PopTo(floor);
    while (exception_frames_.size() >= frames) exception_frames_.pop_back();

    // A stop inside stops the run that called the host function too.
    const bool stopped = nested && status_ == TPSStatus::isLoaded;
    status_ = stopped ? TPSStatus::isLoaded : saved_status;
    run_floor_ = saved_floor;
    EnterCode(saved_proc, saved_form);
    position_ = saved_position;
    stack_base_ = saved_base;
    attention_ = true;
    if (ok && nested) {
        last_error_code_ = saved_code;
        last_error_param_ = std::move(saved_param);
        last_error_object_ = std::move(saved_object);
        last_error_proc_ = saved_error_proc;
        last_error_pos_ = saved_error_pos;
    }
    return ok;
}

}  // namespace script::runtime
