#pragma once
// Small helpers over value trees shared by the expression parser and the
// operand layer.
#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "script/compiler/data_model.h"

namespace script::compiler {

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
    // Down the left operands in a loop: only the right ones recurse.
    while (const auto* b = As<TPSBinValueOp>(src)) {
        if (ReadsDestination(b->Val2.get(), dest, false)) return true;
        src = b->Val1.get();
    }
    if (const auto* v = As<TPSValueVar>(src)) {
        if (v->RecCount() > 0) return true;
        return !top_left && SameVarReference(src, dest);
    }
    if (const auto* u = As<TPSUnValueOp>(src)) return ReadsDestination(u->Val1.get(), dest, false);
    if (const auto* f = As<TPSValueCallField>(src)) return ReadsDestination(f->Call.get(), dest, false);
    if (const auto* c = As<TPSValueProc>(src)) {
        for (const auto& prm : c->Parameters.Items)
            if (ReadsDestination(prm->Val.get(), dest, false)) return true;
    }
    return false;
}

// Whether a node and its left operand are links of one chain of calculations
// (a + b - c ...): folding and freeing walk such a chain in a loop, and so
// does code emission while no operand below the link reads an element or a
// field (ReadsDestination).
inline bool IsChainLink(const TPSBinValueOp& node) {
    const auto* left = As<TPSBinValueOp>(node.Val1.get());
    return left != nullptr && node.Operator <= otIntDiv && left->Operator <= otIntDiv;
}

// Depth of a value tree as the recursive walks over it (folding, code
// emission) see it: every operand they recurse into counts, the left operand
// of a chain link that they walk in a loop does not. Bounds the stack those
// walks take; it is itself counted with a list of its own, whatever the tree.
inline int TreeDepth(const TPSValue* root) {
    int deepest = 0;
    std::vector<std::pair<const TPSValue*, int>> pending{{root, 0}};
    std::vector<const TPSBinValueOp*> chain;
    std::vector<int> step;
    while (!pending.empty()) {
        const auto [v, depth] = pending.back();
        pending.pop_back();
        deepest = std::max(deepest, depth);
        if (const auto* u = As<TPSUnValueOp>(v)) {
            pending.emplace_back(u->Val1.get(), depth + 1);
            continue;
        }
        const auto* b = As<TPSBinValueOp>(v);
        if (b == nullptr) continue;
        // The node's left operands down to the first that is no operation;
        // from there up, whether anything below a link reads an element.
        chain.assign(1, b);
        while (const auto* left = As<TPSBinValueOp>(chain.back()->Val1.get())) chain.push_back(left);
        step.assign(chain.size(), 1);
        bool element = ReadsDestination(chain.back()->Val1.get(), nullptr, true);
        for (std::size_t i = chain.size(); i-- > 0;) {
            if (IsChainLink(*chain[i]) && !element) step[i] = 0;
            element = element || ReadsDestination(chain[i]->Val2.get(), nullptr, true);
        }
        int d = depth;
        for (std::size_t i = 0; i < chain.size(); ++i) {
            deepest = std::max(deepest, d);
            pending.emplace_back(chain[i]->Val2.get(), d + 1);
            d += step[i];
        }
        pending.emplace_back(chain.back()->Val1.get(), d);
    }
    return deepest;
}

inline std::unique_ptr<TPSValueData> MakeData(std::unique_ptr<TPSConstValue> c, std::int32_t pos, std::int32_t row,
                                       std::int32_t col) {
    auto d = std::make_unique<TPSValueData>();
    d->Data = std::move(c);
    d->SetPos(pos, row, col);
    return d;
}

}  // namespace script::compiler
