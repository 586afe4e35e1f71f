// Which form of a procedure's code runs: a proven form made when the
// procedure is first entered with a shape of the items below its return
// address; the general form where none can be proven.
#include "script/runtime/exec.h"
#include "script/runtime/shape_analysis.h"

namespace script::runtime {

namespace {

// Proven forms kept per procedure; entries beyond them run the general form.
constexpr std::size_t kMaxProvenForms = 8;

}  // namespace

TPSDecodedCode* TPSExec::ProvenFor(TPSInternalProcRec& proc, const TPSEntryShape& entry, bool fresh) {
    for (const auto& form : proc.Proven)
        if (form.Entry.SameItems(entry)) return form.Code.get();
    if (proc.Proven.size() >= kMaxProvenForms || !proc.Decoded) return nullptr;
    // Kept also when it fails, so that the entry is not tried again.
    proc.Proven.push_back({entry, ProveCode(*this, *proc.Decoded, entry, fresh && proc.Proven.empty())});
    return proc.Proven.back().Code.get();
}

TPSDecodedCode* TPSExec::GeneralCode(TPSInternalProcRec& proc) {
    if (!proc.Decoded) proc.Decoded = std::make_unique<TPSDecodedCode>(*this, proc.Code);
    return proc.Decoded.get();
}

TPSDecodedCode* TPSExec::CodeForEntry(const TPSProcRec* proc, std::uint32_t above, bool top_level) {
    auto& internal = AsInternal(const_cast<TPSProcRec&>(*proc));
    // Decoded now: no run has been in it yet.
    const bool fresh = internal.Decoded == nullptr;
    TPSDecodedCode* general = GeneralCode(internal);
    if (!UsesProvenForms()) return general;
    const std::uint32_t slots = general->ParamSlots();
    if (top_level) {
        if (slots != 0 || stack_.Count() != 0) return general;
    } else if (above < slots || above > stack_.Count()) {
        return general;
    }
    // The forms made already, by the types of the items below.
    for (const auto& form : internal.Proven) {
        if (form.Entry.TopLevel != top_level || form.Entry.Params.size() != slots) continue;
        bool same = true;
        for (std::uint32_t j = 0; j < slots && same; ++j)
            same = form.Entry.Params[j] == TypeOfTypedValue(stack_.GetItem(above - 1 - j));
        if (same) return form.Code ? form.Code.get() : general;
    }
    TPSEntryShape entry;
    entry.TopLevel = top_level;
    for (std::uint32_t j = 0; j < slots; ++j) {
        void* item = stack_.GetItem(above - 1 - j);
        const TPSTypeRec* type = TypeOfTypedValue(item);
        entry.Params.push_back(type);
        entry.Targets.push_back(type != nullptr && type->BaseType == btPointer
                                    ? LoadAs<PSPointerValue>(ValueOfTypedValue(item)).Type
                                    : nullptr);
    }
    TPSDecodedCode* proven = ProvenFor(internal, entry, fresh);
    return proven != nullptr ? proven : general;
}

void TPSExec::LeaveProvenCode() {
    if (decoded_ == nullptr || !decoded_->IsProven()) return;
    TPSDecodedCode* proven = decoded_;
    decoded_ = proven->General();
    // The blocks of its try frames too: they would run on what the proof
    // expected.
    for (auto it = exception_frames_.rbegin(); it != exception_frames_.rend(); ++it) {
        TPSExceptionHandler& f = **it;
        if (f.Barrier || f.BasePtr != stack_base_) break;
        if (f.Code == proven) f.Code = decoded_;
    }
}

std::byte* TPSExec::FrameBase() {
    if (stack_base_ >= 0)
        return static_cast<std::byte*>(stack_.GetItem(static_cast<std::uint32_t>(stack_base_)));
    // At the top level the first item lies where a return address would
    // end (kept as a number: it lies before the block).
    std::byte* first =
        stack_.Count() > 0 ? static_cast<std::byte*>(stack_.GetItem(0)) : stack_.NextItemAddress();
    return reinterpret_cast<std::byte*>(reinterpret_cast<std::uintptr_t>(first) -
                                        ReturnAddressItemBytes());
}

void TPSExec::SetOnTick(TPSOnTick callback, std::uint32_t every) {
    on_tick_ = std::move(callback);
    tick_every_ = every == 0 ? 1 : every;
    ticks_left_ = on_tick_ ? tick_every_ : kTicksWithoutHook;
}

}  // namespace script::runtime
