// Which form of a procedure's code runs: the proven forms made at load for
// the entries known then, and later for each new shape of the items below a
// procedure's return address; the general form where none can be proven.
#include "script/runtime/exec.h"
#include "script/runtime/export_decl.h"
#include "script/runtime/shape_analysis.h"

namespace script::runtime {

namespace {

// Proven forms kept per procedure; entries beyond them run the general form.
constexpr std::size_t kMaxProvenForms = 8;

}  // namespace

TPSDecodedCode* TPSExec::ProvenFor(TPSInternalProcRec& proc, const TPSEntryShape& entry,
                                   std::vector<TPSKnownCall>* calls) {
    for (const auto& form : proc.Proven)
        if (form.Entry.SameItems(entry)) return form.Code.get();
    if (proc.Proven.size() >= kMaxProvenForms || !proc.Decoded) return nullptr;
    // Kept also when it fails, so that the entry is not tried again.
    proc.Proven.push_back({entry, ProveCode(*this, *proc.Decoded, entry, calls)});
    return proc.Proven.back().Code.get();
}

void TPSExec::ProveProcedures() {
    std::vector<TPSKnownCall> calls;
    for (std::uint32_t no = 0; no < procs_.size(); ++no) {
        if (!procs_[no]->IsInternal()) continue;
        auto& proc = AsInternal(*procs_[no]);
        const std::uint32_t slots = proc.Decoded->ParamSlots();
        if (no == main_proc_ && slots == 0) {
            TPSEntryShape top;
            top.TopLevel = true;
            ProvenFor(proc, top, &calls);
        }
        // As the host runs it: a Pointer item for each value, the first
        // parameter's below the result's (the parameter types, as declared,
        // are what the items are expected to point at).
        const ExportSignature sig = ParseExportDecl(proc.ExportDecl);
        if (!sig.Valid || (slots > 0 && pointer_type_ == nullptr)) continue;
        std::vector<std::int64_t> values;
        if (sig.Result >= 0) values.push_back(sig.Result);
        values.insert(values.end(), sig.Params.begin(), sig.Params.end());
        if (slots > values.size()) continue;
        TPSEntryShape host;
        for (std::uint32_t j = 0; j < slots; ++j) {
            host.Params.push_back(pointer_type_);
            host.Targets.push_back(values[j] >= 0 ? GetType(static_cast<std::uint32_t>(values[j]))
                                                  : nullptr);
        }
        ProvenFor(proc, host, &calls);
    }
    // The calls that proven code makes with known items, and theirs.
    while (!calls.empty()) {
        const TPSKnownCall call = std::move(calls.back());
        calls.pop_back();
        ProvenFor(AsInternal(*procs_[call.ProcNo]), call.Entry, &calls);
    }
}

TPSDecodedCode* TPSExec::CodeForEntry(const TPSProcRec* proc, std::uint32_t above, bool top_level) {
    auto& internal = AsInternal(const_cast<TPSProcRec&>(*proc));
    TPSDecodedCode* general = internal.Decoded.get();
    if (!UsesProvenForms() || general == nullptr) return general;
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
    TPSDecodedCode* proven = ProvenFor(internal, entry);
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
