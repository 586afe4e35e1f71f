#pragma once
// Small helpers over value trees shared by the expression parser and the
// operand layer.
#include <algorithm>
#include <memory>
#include <vector>

#include "script/compiler/data_model.h"

namespace script::compiler {

// Depth of a value tree, counted along operator nodes; bounds the recursion
// of folding and code emission.
inline int TreeDepth(const TPSValue* v) {
    if (const auto* b = As<TPSBinValueOp>(v)) return 1 + std::max(TreeDepth(b->Val1.get()), TreeDepth(b->Val2.get()));
    if (const auto* u = As<TPSUnValueOp>(v)) return 1 + TreeDepth(u->Val1.get());
    return 0;
}

inline bool IsVariantBase(std::uint8_t b) { return b == btVariant || b == btNotificationVariant; }
// Classes and interfaces: values that are references to host objects.
inline bool IsReferenceBase(std::uint8_t b) { return b == btClass || b == btInterface; }
inline bool IsTextBase(std::uint8_t b) { return b == btString || b == btPChar || b == btChar; }

inline bool SameVarReference(const TPSValue* a, const TPSValue* b) {
    const auto* va = As<TPSValueVar>(a);
    const auto* vb = As<TPSValueVar>(b);
    if (va == nullptr || vb == nullptr || va->Kind != vb->Kind) return false;
    std::uint32_t na = 0;
    std::uint32_t nb = 0;
    if (const auto* g = As<TPSValueGlobalVar>(a)) {
        na = g->GlobalVarNo;
        nb = As<TPSValueGlobalVar>(b)->GlobalVarNo;
    } else if (const auto* l = As<TPSValueLocalVar>(a)) {
        na = l->LocalVarNo;
        nb = As<TPSValueLocalVar>(b)->LocalVarNo;
    } else if (const auto* p = As<TPSValueParamVar>(a)) {
        na = p->ParamNo;
        nb = As<TPSValueParamVar>(b)->ParamNo;
    }
    if (na != nb || va->RecCount() != vb->RecCount()) return false;
    for (std::size_t i = 0; i < va->RecCount(); ++i) {
        const TPSSubItem& x = va->RecItem(i);
        const TPSSubItem& y = vb->RecItem(i);
        if (x.Kind != y.Kind) return false;
        if (const auto* nx = As<TPSSubNumber>(&x)) {
            if (nx->SubNo != static_cast<const TPSSubNumber&>(y).SubNo) return false;
        } else if (static_cast<const TPSSubValue&>(x).SubNo != static_cast<const TPSSubValue&>(y).SubNo) {
            return false;
        }
    }
    return true;
}

// Whether evaluating src reads the destination (so it cannot be computed in
// place); the left-most operand at the top of the tree is exempt.
// A field of a function's record result: f().a.b. The call is made when the
// value is written, not while the expression is parsed, so a loop condition
// calls the function on every pass.
class TPSValueCallField : public TPSValue {
public:
    static constexpr TPSValueKind kFirstKind = TPSValueKind::CallField;
    static constexpr TPSValueKind kLastKind = TPSValueKind::CallField;
    TPSValueCallField() : TPSValue(TPSValueKind::CallField) {}

    std::unique_ptr<TPSValue> Call;
    std::vector<std::uint32_t> Fields;  // field numbers from the outermost record
    TPSType* FieldType = nullptr;       // the type of the last field
};

inline bool ReadsDestination(const TPSValue* src, const TPSValue* dest, bool top_left) {
    if (const auto* v = As<TPSValueVar>(src)) {
        if (v->RecCount() > 0) return true;
        return !top_left && SameVarReference(src, dest);
    }
    if (const auto* u = As<TPSUnValueOp>(src)) return ReadsDestination(u->Val1.get(), dest, false);
    if (const auto* b = As<TPSBinValueOp>(src))
        return ReadsDestination(b->Val1.get(), dest, top_left) || ReadsDestination(b->Val2.get(), dest, false);
    if (const auto* f = As<TPSValueCallField>(src)) return ReadsDestination(f->Call.get(), dest, false);
    if (const auto* c = As<TPSValueProc>(src)) {
        for (const auto& prm : c->Parameters.Items)
            if (ReadsDestination(prm->Val.get(), dest, false)) return true;
    }
    return false;
}

inline std::unique_ptr<TPSValueData> MakeData(std::unique_ptr<TPSConstValue> c, std::int32_t pos, std::int32_t row,
                                       std::int32_t col) {
    auto d = std::make_unique<TPSValueData>();
    d->Data = std::move(c);
    d->SetPos(pos, row, col);
    return d;
}

}  // namespace script::compiler
