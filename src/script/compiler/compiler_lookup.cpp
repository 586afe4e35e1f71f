// Lookups in the compiler's lists by name (and by a few other keys). Each
// list is append-only while a script compiles, so an index over it catches
// up on new entries as lookups come; every lookup still tests each candidate
// the index gives with the full comparison (hash, then the upper-case text),
// so the index decides only which entries are looked at, never the answer.
//
// Host code may rename what it registers (the standard unit does so too),
// which an index keyed by the old name's hash would miss. While code that may
// register runs (the standard unit, OnUses, and the callbacks that hand the
// host a procedure, a type or a declaration to work on), lookups therefore
// examine every entry, and the indexes start over once it has returned. The
// callbacks that only report positions (OnUseVariable, OnTranslateLineInfo)
// run once per variable or statement and are not places to register.
#include "script/compiler/compiler.h"

namespace script::compiler {

TPSPascalCompiler::HostScope::HostScope(TPSPascalCompiler& compiler) : compiler_(compiler) { ++compiler_.hostDepth_; }

TPSPascalCompiler::HostScope::~HostScope() {
    if (--compiler_.hostDepth_ == 0) compiler_.ResetIndexes();
}

void TPSPascalCompiler::ResetIndexes() {
    index_.TypesByName.Reset();
    index_.TypesByBase.Reset();
    index_.ArraysByElement.Reset();
    index_.ProcsByName.Reset();
    index_.ProcsByRegProc.Reset();
    index_.RegProcsByName.Reset();
    index_.VarsByName.Reset();
    index_.ConstsByName.Reset();
    builtinTypes_.fill(nullptr);
}

namespace {
// The candidates for a key: every entry while host code runs, else those the
// index (brought up to date first) has under the key.
template <typename Key, typename List, typename KeyOf>
TPSCandidates Candidates(bool host_running, TPSListIndex<Key>& index, const List& list, const Key& key,
                         KeyOf key_of) {
    if (host_running) return TPSCandidates(list.size());
    index.CatchUp(list.size(), key_of);
    return TPSCandidates(index.Find(key));
}
}  // namespace

TPSCandidates TPSPascalCompiler::TypesNamed(std::uint32_t hash) const {
    return Candidates(hostDepth_ > 0, index_.TypesByName, types_, hash,
                      [this](std::size_t i, auto add) { add(types_[i]->NameHash); });
}

TPSCandidates TPSPascalCompiler::TypesOfBase(std::uint8_t base) const {
    return Candidates(hostDepth_ > 0, index_.TypesByBase, types_, std::uint32_t{base},
                      [this](std::size_t i, auto add) { add(types_[i]->BaseType); });
}

TPSCandidates TPSPascalCompiler::ArraysOf(const TPSType* element) const {
    return Candidates(hostDepth_ > 0, index_.ArraysByElement, types_, element, [this](std::size_t i, auto add) {
        if (const auto* array = As<TPSArrayType>(types_[i].get())) add(array->ArrayTypeNo);
    });
}

TPSCandidates TPSPascalCompiler::ProcsNamed(std::uint32_t hash) const {
    return Candidates(hostDepth_ > 0, index_.ProcsByName, procs_, hash, [this](std::size_t i, auto add) {
        if (const auto* internal = As<TPSInternalProcedure>(procs_[i].get())) add(internal->NameHash);
        else if (const auto* ext = As<TPSExternalProcedure>(procs_[i].get()); ext != nullptr && ext->RegProc != nullptr)
            add(ext->RegProc->NameHash);
    });
}

TPSCandidates TPSPascalCompiler::ProcsOf(const TPSRegProc* reg) const {
    return Candidates(hostDepth_ > 0, index_.ProcsByRegProc, procs_, reg, [this](std::size_t i, auto add) {
        if (const auto* ext = As<TPSExternalProcedure>(procs_[i].get())) add(ext->RegProc);
    });
}

TPSCandidates TPSPascalCompiler::RegProcsNamed(std::uint32_t hash) const {
    return Candidates(hostDepth_ > 0, index_.RegProcsByName, regProcs_, hash,
                      [this](std::size_t i, auto add) { add(regProcs_[i]->NameHash); });
}

TPSCandidates TPSPascalCompiler::VarsNamed(std::uint32_t hash) const {
    return Candidates(hostDepth_ > 0, index_.VarsByName, vars_, hash,
                      [this](std::size_t i, auto add) { add(vars_[i]->NameHash); });
}

TPSCandidates TPSPascalCompiler::ConstsNamed(std::uint32_t hash) const {
    return Candidates(hostDepth_ > 0, index_.ConstsByName, consts_, hash,
                      [this](std::size_t i, auto add) { add(consts_[i]->NameHash); });
}

// ============================================================ by name

// The most recently declared type of that name, links followed.
TPSType* TPSPascalCompiler::FindNamedType(std::string_view upper) const {
    const std::uint32_t h = MakeHash(upper);
    const TPSCandidates found = TypesNamed(h);
    for (std::size_t i = found.size(); i-- > 0;) {
        TPSType* t = types_[found[i]].get();
        if (SameName(t->NameHash, t->Name, h, upper)) return ResolveTypeLink(t);
    }
    return nullptr;
}

TPSRegProc* TPSPascalCompiler::FindRegProc(std::string_view upper) const {
    const std::uint32_t h = MakeHash(upper);
    const TPSCandidates found = RegProcsNamed(h);
    for (std::size_t i = found.size(); i-- > 0;) {
        TPSRegProc* reg = regProcs_[found[i]].get();
        if (SameName(reg->NameHash, reg->Name, h, upper)) return reg;
    }
    return nullptr;
}

std::int32_t TPSPascalCompiler::ProcNumberOfRegProc(TPSRegProc* reg) {
    const TPSCandidates found = ProcsOf(reg);
    for (std::size_t i = 0; i < found.size(); ++i) {
        const auto* ext = As<TPSExternalProcedure>(procs_[found[i]].get());
        if (ext != nullptr && ext->RegProc == reg) return static_cast<std::int32_t>(found[i]);
    }
    procs_.push_back(std::make_unique<TPSExternalProcedure>(reg));
    return static_cast<std::int32_t>(procs_.size() - 1);
}

// The procedure list is searched from its end, then the registered functions;
// a registered function found enters the procedure list.
std::int32_t TPSPascalCompiler::FindProcNumber(std::string_view upper) {
    const std::uint32_t h = MakeHash(upper);
    const TPSCandidates found = ProcsNamed(h);
    for (std::size_t i = found.size(); i-- > 0;) {
        const TPSProcedure* proc = procs_[found[i]].get();
        if (const auto* internal = As<TPSInternalProcedure>(proc)) {
            if (SameName(internal->NameHash, internal->Name, h, upper)) return static_cast<std::int32_t>(found[i]);
        } else if (const auto* ext = As<TPSExternalProcedure>(proc)) {
            if (ext->RegProc != nullptr && SameName(ext->RegProc->NameHash, ext->RegProc->Name, h, upper))
                return static_cast<std::int32_t>(found[i]);
        }
    }
    if (TPSRegProc* reg = FindRegProc(upper)) return ProcNumberOfRegProc(reg);
    return -1;
}

TPSInternalProcedure* TPSPascalCompiler::FindForward(const std::string& upper, std::uint32_t& proc_no) {
    const TPSCandidates found = ProcsNamed(MakeHash(upper));
    for (std::size_t i = found.size(); i-- > 0;) {
        auto* internal = As<TPSInternalProcedure>(procs_[found[i]].get());
        if (internal != nullptr && internal->Forwarded && internal->Name == upper) {
            proc_no = found[i];
            return internal;
        }
    }
    return nullptr;
}

std::int32_t TPSPascalCompiler::FindGlobalVar(std::uint32_t hash, std::string_view upper) const {
    const TPSCandidates found = VarsNamed(hash);
    for (std::size_t i = 0; i < found.size(); ++i) {
        const TPSVar& var = *vars_[found[i]];
        if (SameName(var.NameHash, var.Name, hash, upper)) return static_cast<std::int32_t>(found[i]);
    }
    return -1;
}

TPSConstant* TPSPascalCompiler::FindConstant(std::uint32_t hash, std::string_view upper, bool latest) const {
    const TPSCandidates found = ConstsNamed(hash);
    for (std::size_t k = 0; k < found.size(); ++k) {
        TPSConstant* c = consts_[found[latest ? found.size() - 1 - k : k]].get();
        if (SameName(c->NameHash, c->Name, hash, upper)) return c;
    }
    return nullptr;
}

bool TPSPascalCompiler::IsDuplicate(std::string_view upper, std::uint8_t classes, const TPSInternalProcedure* proc,
                                    bool /*params_only*/) const {
    if (upper == "RESULT") return true;
    const std::uint32_t h = MakeHash(upper);
    if ((classes & dcTypes) != 0 && FindNamedType(upper) != nullptr) return true;
    if ((classes & dcProcs) != 0) {
        const TPSCandidates found = ProcsNamed(h);
        for (std::size_t i = 0; i < found.size(); ++i) {
            const auto* internal = As<TPSInternalProcedure>(procs_[found[i]].get());
            if (internal != nullptr && SameName(internal->NameHash, internal->Name, h, upper)) return true;
        }
        if (FindRegProc(upper) != nullptr) return true;
    }
    if ((classes & dcVars) != 0 && FindGlobalVar(h, upper) >= 0) return true;
    if ((classes & dcConsts) != 0 && FindConstant(h, upper, false) != nullptr) return true;
    if (proc != nullptr) {
        for (const auto& p : proc->Decl.Params)
            if (p->Name == upper) return true;
        for (const auto& v : proc->ProcVars)
            if (SameName(v->NameHash, v->Name, h, upper)) return true;
    }
    return false;
}

// ============================================================ by other keys

TPSType* TPSPascalCompiler::BuiltinType(std::uint8_t base) {
    TPSType* found = hostDepth_ > 0 ? nullptr : builtinTypes_[base];
    if (found == nullptr) {
        const TPSCandidates candidates = TypesOfBase(base);
        for (std::size_t i = 0; i < candidates.size() && found == nullptr; ++i) {
            TPSType* t = types_[candidates[i]].get();
            if (t->BaseType == base && t->Kind == TPSTypeKind::Plain) found = t;
        }
        if (found == nullptr) {
            types_.push_back(std::make_unique<TPSType>(base));
            found = types_.back().get();
        }
        if (hostDepth_ == 0) builtinTypes_[base] = found;
    }
    UseType(found);
    return found;
}

TPSType* TPSPascalCompiler::TypeRefType() {
    const TPSCandidates found = TypesOfBase(btTypeRef);
    for (std::size_t i = found.size(); i-- > 0;) {
        TPSType* t = types_[found[i]].get();
        if (t->BaseType == btTypeRef) return t;
    }
    types_.push_back(std::make_unique<TPSType>(btTypeRef));
    return types_.back().get();
}

// A dynamic array type of that element declared before without a name of the
// compiler's own (those start with "!"), so that "array of T" written twice
// is one type.
TPSType* TPSPascalCompiler::FindDynamicArrayOf(const TPSType* element) const {
    const TPSCandidates found = ArraysOf(element);
    for (std::size_t i = 0; i < found.size(); ++i) {
        TPSType* t = types_[found[i]].get();
        const auto* a = As<TPSArrayType>(t);
        if (a != nullptr && t->BaseType == btArray && a->ArrayTypeNo == element && (t->Name.empty() || t->Name[0] != '!'))
            return t;
    }
    return nullptr;
}

}  // namespace script::compiler
