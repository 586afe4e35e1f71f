// Statements: blocks, assignments and calls, if/while/repeat/for/case,
// goto and labels, with, try, and the loop exits break and continue.
#include "script/compiler/compiler.h"
#include "script/compiler/compiler_constants.h"
#include "script/compiler/compiler_values.h"
#include "script/compiler/image_writer.h"

namespace script::compiler {

using namespace std::string_view_literals;

namespace {
std::uint32_t CodeSize(const std::string& code) { return static_cast<std::uint32_t>(code.size()); }

// Saves the loop context of the enclosing statement and restores it when the
// statement is done, on every path.
class LoopScope {
public:
    template <typename Ctx>
    LoopScope(Ctx& ctx, bool fresh) : restore_([&ctx, saved = ctx]() mutable { ctx = std::move(saved); }) {
        if (fresh) {
            ctx = Ctx{};
            ctx.Active = true;
        }
    }
    ~LoopScope() { restore_(); }

private:
    std::function<void()> restore_;
};
}  // namespace

std::uint32_t TPSPascalCompiler::EmitJumpForward(std::uint8_t opcode) {
    BlockWriteByte(Code(), opcode);
    return WriteJumpPlaceholder(Code());
}

// Patches a jump whose instruction ends right after its distance field.
void TPSPascalCompiler::PatchHere(std::uint32_t field_pos) {
    PatchJump(Code(), field_pos, field_pos + 4, CodeSize(Code()));
}

void TPSPascalCompiler::EmitJumpTo(std::uint8_t opcode, std::uint32_t target) {
    BlockWriteByte(Code(), opcode);
    const std::uint32_t field = WriteJumpPlaceholder(Code());
    PatchJump(Code(), field, field + 4, target);
}

// CondGoto / CondNotGoto over a Boolean temporary; the distance counts from
// after the operand, so the field is patched with that end.
bool TPSPascalCompiler::WriteCondJump(std::uint8_t opcode, std::unique_ptr<TPSValueAllocatedStackVar>& flag,
                                      std::uint32_t& field_pos) {
    BlockWriteByte(Code(), opcode);
    field_pos = WriteJumpPlaceholder(Code());
    return WriteOperand(flag.get(), false);
}

namespace {
// The end of a conditional jump instruction: the distance field plus one
// variable operand (kind byte and address).
constexpr std::uint32_t kCondJumpTail = 4 + 5;
}  // namespace

void TPSPascalCompiler::WriteLineInfo() {
    TPSPascalParser& p = Parser();
    std::uint32_t pos = p.CurrTokenPos();
    std::uint32_t row = p.Row();
    std::uint32_t col = p.Col();
    std::string module;
    if (OnTranslateLineInfo) OnTranslateLineInfo(*this, pos, row, col, module);
    debugRecords_.push_back('P');
    BlockWriteLong(debugRecords_, block_->ProcNo);
    BlockWriteLong(debugRecords_, CodeSize(Code()));
    BlockWriteLong(debugRecords_, pos);
    BlockWriteLong(debugRecords_, row);
    BlockWriteLong(debugRecords_, col);
    debugRecords_ += module;
    debugRecords_.push_back('\0');
}

void TPSPascalCompiler::WriteProcDebugRecord(const TPSInternalProcedure& proc, std::uint32_t proc_no) {
    debugRecords_.push_back('N');
    BlockWriteLong(debugRecords_, proc_no);
    if (proc.Decl.Result != nullptr) debugRecords_ += "Result\1";
    for (const auto& prm : proc.Decl.Params) debugRecords_ += prm->OrgName + '\1';
    for (const auto& var : proc.ProcVars) debugRecords_ += var->OrgName + '\1';
    debugRecords_.push_back('\0');
}

bool TPSPascalCompiler::CompileProcBody(TPSInternalProcedure& proc, std::uint32_t proc_no, std::uint8_t kind) {
    TPSBlockInfo block(nullptr);
    block.Proc = &proc;
    block.ProcNo = proc_no;
    block.SubType = kind;
    TPSBlockInfo* saved = block_;
    block_ = &block;
    resultUsed_ = false;
    LoopScope scope(loop_, false);
    loop_ = LoopContext{};
    WriteProcDebugRecord(proc, proc_no);
    const bool ok = ProcessStatements(block);
    block_ = saved;
    if (ok && kind == tProcBegin && proc.Decl.Result != nullptr && !resultUsed_) {
        auto& msg = MakeHint({}, ehVariableNotUsed, "Result");
        msg.SetCustomPos(static_cast<std::uint32_t>(proc.DeclarePos), static_cast<std::uint32_t>(proc.DeclareRow),
                         static_cast<std::uint32_t>(proc.DeclareCol));
    }
    return ok;
}

bool TPSPascalCompiler::ProcessBlock(std::uint8_t kind) {
    TPSBlockInfo block(block_);
    block.SubType = kind;
    TPSBlockInfo* saved = block_;
    block_ = &block;
    const bool ok = ProcessStatements(block);
    block_ = saved;
    return ok;
}

bool TPSPascalCompiler::ProcessStatements(TPSBlockInfo& block) {
    TPSPascalParser& p = Parser();
    if (++blockDepth_ > kMaxBlockDepth) {
        --blockDepth_;
        Error(ecCustomError, "Statements nested too deeply");
        return false;
    }
    struct Guard {
        int& depth;
        ~Guard() { --depth; }
    } guard{blockDepth_};
    const std::uint8_t kind = block.SubType;
    const bool oneLiner = kind == tOneLiner || kind == tifOneliner;
    if (kind == tMainBegin || kind == tProcBegin || kind == tSubBegin) p.Next();
    for (;;) {
        if (lexError_) return false;
        bool ended = false;
        bool statement = true;
        bool label = false;
        switch (p.CurrTokenId()) {
        case tkIdentifier: case tkOpenRound: case tkBegin: case tkCase: case tkFor: case tkIf: case tkRepeat:
        case tkWhile: case tkWith: case tkTry: case tkGoto: case tkExit: case tkUntil:
            WriteLineInfo();
            break;
        default: break;
        }
        switch (p.CurrTokenId()) {
        case tkEOF: Error(ecUnexpectedEndOfFile); return false;
        case tkIdentifier:
        case tkOpenRound: {
            bool handled = false;
            if (!ProcessLabelOrStatement(handled, label)) return false;
            if (!handled && !ProcessAssignOrCall()) return false;
            break;
        }
        case tkSemiColon:
            if (oneLiner) {
                ended = true;
            } else {
                p.Next();
                statement = false;
            }
            break;
        case tkBegin:
            if (!ProcessBlock(tSubBegin)) return false;
            break;
        case tkCase:
            if (!ProcessCase()) return false;
            break;
        case tkFor:
            if (!ProcessFor()) return false;
            break;
        case tkIf:
            if (!ProcessIf()) return false;
            break;
        case tkRepeat:
            if (!ProcessRepeat()) return false;
            break;
        case tkWhile:
            if (!ProcessWhile()) return false;
            break;
        case tkWith:
            if (!ProcessWith()) return false;
            break;
        case tkTry:
            if (!ProcessTry()) return false;
            break;
        case tkGoto:
            if (!ProcessGoto()) return false;
            break;
        case tkExit:
            BlockWriteByte(Code(), opRet);
            p.Next();
            break;
        case tkElse:
            if (kind != tifOneliner) {
                Error(ecIdentifierExpected);
                return false;
            }
            ended = true;
            break;
        case tkEnd:
            if (kind == tRepeat || kind == tTry) {
                Error(ecIdentifierExpected);
                return false;
            }
            ended = true;
            break;
        case tkUntil:
            if (kind != tRepeat) {
                Error(ecIdentifierExpected);
                return false;
            }
            ended = true;
            break;
        case tkExcept:
        case tkFinally:
            if (kind != tTry && kind != tTryEnd) {
                Error(ecEndExpected);
                return false;
            }
            ended = true;
            break;
        default: Error(ecIdentifierExpected); return false;
        }
        if (ended) break;
        if (statement && oneLiner) break;
        // Statements of a sequence are separated: "x := 1 y := 2" is a
        // missing semicolon, not two statements.
        if (statement && !label) {
            const TPSTokenId t = p.CurrTokenId();
            const bool separator = t == tkSemiColon || t == tkEnd || (kind == tRepeat && t == tkUntil) ||
                                   ((kind == tTry || kind == tTryEnd) && (t == tkExcept || t == tkFinally));
            if (!separator && t != tkEOF) {
                Error(ecSemicolonExpected);
                return false;
            }
        }
    }
    switch (kind) {
    case tMainBegin:
    case tProcBegin:
        BlockWriteByte(Code(), opRet);
        p.Next();
        if (kind == tMainBegin && p.CurrTokenId() != tkPeriod) {
            Error(ecPeriodExpected);
            return false;
        }
        if (kind == tProcBegin && p.CurrTokenId() != tkSemiColon) {
            Error(ecSemicolonExpected);
            return false;
        }
        p.Next();
        break;
    case tSubBegin: p.Next(); break;
    case tOneLiner:
    case tifOneliner:
        if (p.CurrTokenId() != tkElse && p.CurrTokenId() != tkEnd && p.CurrTokenId() != tkSemiColon) {
            Error(ecSemicolonExpected);
            return false;
        }
        break;
    default: break;
    }
    return true;
}

bool TPSPascalCompiler::ProcessLabelOrStatement(bool& handled, bool& label) {
    TPSPascalParser& p = Parser();
    handled = false;
    label = false;
    if (p.CurrTokenId() != tkIdentifier) return true;
    const std::string name = p.GetToken();
    TPSInternalProcedure* proc = block_->Proc;
    const std::uint32_t h = MakeHash(name);
    for (std::uint32_t i = 0; i < proc->Labels.Count(); ++i) {
        std::string entry = proc->Labels.GetItem(i);
        if (ReadLongAt(entry, 4) != h || entry.substr(8) != name) continue;
        WriteLongAt(entry, 0, CodeSize(Code()));
        proc->Labels.SetItem(i, entry);
        p.Next();
        if (!Expect(tkColon, ecColonExpected)) return false;
        handled = true;
        label = true;
        return true;
    }
    const bool isBreak = name == "BREAK"sv;
    if (!isBreak && name != "CONTINUE"sv) return true;
    if (!loop_.Active) {
        Error(ecNotInLoop);
        return false;
    }
    for (int i = 0; i < loop_.HandlerDepth; ++i) {
        BlockWriteByte(Code(), opPopExceptionHandler);
        BlockWriteByte(Code(), phEndOfFinally);
    }
    for (int i = 0; i < loop_.TryDepth; ++i) {
        BlockWriteByte(Code(), opPopExceptionHandler);
        BlockWriteByte(Code(), phEndOfTry);
        BlockWriteByte(Code(), opPopExceptionHandler);
        BlockWriteByte(Code(), phEndOfFinally);
    }
    // Everything the statements inside the loop pushed (case temporaries,
    // with pointers) is popped exactly once per value.
    for (int i = 0; i < loop_.Pushed; ++i) BlockWriteByte(Code(), opPop);
    const std::uint32_t field = EmitJumpForward(opGoto);
    (isBreak ? loop_.Breaks : loop_.Continues).push_back(field);
    p.Next();
    handled = true;
    return true;
}

bool TPSPascalCompiler::ProcessAssignOrCall() {
    auto left = ReadExpression();
    if (left == nullptr) return false;
    if (As<TPSValueVar>(left.get()) != nullptr) {
        if (!Expect(tkAssignment, ecAssignmentExpected)) return false;
        auto right = ReadExpression();
        if (right == nullptr) return false;
        return WriteCalculation(left, right);
    }
    if (auto* call = As<TPSValueProc>(left.get())) {
        if (call->ResultType == nullptr) return WriteCall(*call, nullptr);
        // A function used as a statement: its result goes into a temporary.
        std::unique_ptr<TPSValue> temp = AllocTempVar(call->ResultType);
        return WriteCall(*call, &temp);
    }
    Error(ecInternalError, "20");
    return false;
}

bool TPSPascalCompiler::ProcessIf() {
    TPSPascalParser& p = Parser();
    p.Next();
    auto cond = ReadExpression();
    if (cond == nullptr) return false;
    if (p.CurrTokenId() != tkThen) {
        Error(ecThenExpected);
        return false;
    }
    {
        std::unique_ptr<TPSValue> flag = AllocTempVar(booleanType_);
        if (!WriteCalculation(flag, cond)) return false;
        BlockWriteByte(Code(), opSetFlag);
        if (!WriteOperand(flag.get(), false)) {
            Error(ecInternalError, "00018");
            return false;
        }
        BlockWriteByte(Code(), 1);
    }
    const std::uint32_t skipThen = EmitJumpForward(opFlagGoto);
    p.Next();
    if (!ProcessBlock(tifOneliner)) return false;
    if (p.CurrTokenId() == tkElse) {
        const std::uint32_t skipElse = EmitJumpForward(opGoto);
        PatchHere(skipThen);
        p.Next();
        if (!ProcessBlock(tOneLiner)) return false;
        PatchHere(skipElse);
    } else {
        PatchHere(skipThen);
    }
    return true;
}

bool TPSPascalCompiler::ProcessWhile() {
    TPSPascalParser& p = Parser();
    p.Next();
    auto cond = ReadExpression();
    if (cond == nullptr) return false;
    if (!Expect(tkDo, ecDoExpected)) return false;
    auto flag = AllocTempVar(booleanType_);
    const std::uint32_t head = CodeSize(Code());
    {
        std::unique_ptr<TPSValue> dest = std::move(flag);
        const bool ok = WriteCalculation(dest, cond);
        flag.reset(static_cast<TPSValueAllocatedStackVar*>(dest.release()));
        if (!ok) return false;
    }
    std::uint32_t exitField = 0;
    if (!WriteCondJump(opCondNotGoto, flag, exitField)) {
        Error(ecInternalError, "00017");
        return false;
    }
    LoopScope scope(loop_, true);
    if (!ProcessBlock(tOneLiner)) return false;
    EmitJumpTo(opGoto, head);
    const std::uint32_t end = CodeSize(Code());
    PatchJump(Code(), exitField, exitField + kCondJumpTail, end);
    for (std::uint32_t f : loop_.Breaks) PatchJump(Code(), f, f + 4, end);
    for (std::uint32_t f : loop_.Continues) PatchJump(Code(), f, f + 4, head);
    return !CheckInvalidJumps(head, end);
}

bool TPSPascalCompiler::ProcessRepeat() {
    TPSPascalParser& p = Parser();
    p.Next();
    auto flag = AllocTempVar(booleanType_);
    const std::uint32_t head = CodeSize(Code());
    LoopScope scope(loop_, true);
    if (!ProcessBlock(tRepeat)) return false;
    p.Next();  // UNTIL
    auto cond = ReadExpression();
    if (cond == nullptr) return false;
    const std::uint32_t cont = CodeSize(Code());
    {
        std::unique_ptr<TPSValue> dest = std::move(flag);
        const bool ok = WriteCalculation(dest, cond);
        flag.reset(static_cast<TPSValueAllocatedStackVar*>(dest.release()));
        if (!ok) return false;
    }
    std::uint32_t field = 0;
    if (!WriteCondJump(opCondNotGoto, flag, field)) {
        Error(ecInternalError, "00016");
        return false;
    }
    PatchJump(Code(), field, field + kCondJumpTail, head);
    const std::uint32_t end = CodeSize(Code());
    for (std::uint32_t f : loop_.Breaks) PatchJump(Code(), f, f + 4, end);
    for (std::uint32_t f : loop_.Continues) PatchJump(Code(), f, f + 4, cont);
    return !CheckInvalidJumps(head, end);
}

bool TPSPascalCompiler::ProcessFor() {
    TPSPascalParser& p = Parser();
    p.Next();
    if (p.CurrTokenId() != tkIdentifier) {
        Error(ecIdentifierExpected);
        return false;
    }
    auto var = ReadIdentifier(1);
    if (var == nullptr) return false;
    auto counterType = [](std::uint8_t b) {
        return (b >= btU8 && b <= btS32) || b == btVariant || b == btS64;
    };
    if (!counterType(BaseOf(GetTypeOf(var.get())))) {
        Error(ecTypeMismatch);
        return false;
    }
    if (!Expect(tkAssignment, ecAssignmentExpected)) return false;
    auto start = ReadExpression();
    if (start == nullptr) return false;
    const bool up = p.CurrTokenId() != tkDownTo;
    if (!Expect(up ? tkTo : tkDownTo, ecToExpected)) return false;
    auto endValue = ReadExpression();
    if (endValue == nullptr) return false;
    if (!counterType(BaseOf(GetTypeOf(endValue.get())))) {
        Error(ecTypeMismatch);
        return false;
    }
    if (!Expect(tkDo, ecDoExpected)) return false;
    if (!WriteCalculation(var, start)) return false;
    auto flag = AllocTempVar(booleanType_);
    // flag := var <op> end, with the end value evaluated again each time.
    auto compare = [&](std::uint8_t op) {
        std::unique_ptr<TPSValue> dest = std::move(flag);
        bool ok = PreWriteOperand(dest, nullptr) && PreWriteOperand(var, nullptr) &&
                  PreWriteOperand(endValue, GetTypeOf(var.get()));
        if (ok) {
            BlockWriteByte(Code(), opCompare);
            BlockWriteByte(Code(), op);
            ok = WriteOperand(dest.get(), false) && WriteOperand(var.get(), false) &&
                 WriteOperand(endValue.get(), true);
            if (!ok) Error(ecInternalError, "00023");
        }
        AfterWriteOperand(endValue);
        AfterWriteOperand(var);
        AfterWriteOperand(dest);
        flag.reset(static_cast<TPSValueAllocatedStackVar*>(dest.release()));
        return ok;
    };
    if (!compare(up ? coLessEqual : coGreaterEqual)) return false;
    std::uint32_t exitField = 0;
    if (!WriteCondJump(opCondNotGoto, flag, exitField)) return false;
    const std::uint32_t body = CodeSize(Code());
    LoopScope scope(loop_, true);
    if (!ProcessBlock(tOneLiner)) return false;
    // The pass that ran with the end value is the last one: testing for it
    // before stepping ends loops over the whole range of the counter's type.
    const std::uint32_t cont = CodeSize(Code());
    if (!compare(coEqual)) return false;
    {
        std::unique_ptr<TPSValue> target = std::move(var);
        const bool ok = PreWriteOperand(target, nullptr);
        if (ok) {
            BlockWriteByte(Code(), up ? opInc : opDec);
            WriteOperand(target.get(), false);
        }
        AfterWriteOperand(target);
        var = std::move(target);
        if (!ok) return false;
    }
    std::uint32_t lastField = 0;
    if (!WriteCondJump(opCondGoto, flag, lastField)) return false;
    EmitJumpTo(opGoto, body);
    const std::uint32_t end = CodeSize(Code());
    PatchJump(Code(), exitField, exitField + kCondJumpTail, end);
    PatchJump(Code(), lastField, lastField + kCondJumpTail, end);
    for (std::uint32_t f : loop_.Breaks) PatchJump(Code(), f, f + 4, end);
    for (std::uint32_t f : loop_.Continues) PatchJump(Code(), f, f + 4, cont);
    return !CheckInvalidJumps(body, end);
}

bool TPSPascalCompiler::ProcessCase() {
    TPSPascalParser& p = Parser();
    p.Next();
    auto selector = ReadExpression();
    if (selector == nullptr) return false;
    if (!Expect(tkOf, ecOfExpected)) return false;
    TPSType* selType = GetTypeOf(selector.get());
    if (selType == nullptr) {
        Error(ecTypeMismatch);
        return false;
    }
    std::unique_ptr<TPSValue> sel = AllocTempVar(selType);
    if (!WriteCalculation(sel, selector)) return false;
    auto flag = AllocTempVar(booleanType_);
    const std::uint32_t start = CodeSize(Code());
    std::vector<std::uint32_t> ends;
    // The two temporaries are on the stack while the branches run.
    loop_.Pushed += 2;
    struct Unpush {
        int& pushed;
        ~Unpush() { pushed -= 2; }
    } unpush{loop_.Pushed};
    auto selectorCopy = [&]() {
        auto v = std::make_unique<TPSValueLocalVar>();
        v->LocalVarNo = static_cast<TPSValueLocalVar*>(sel.get())->LocalVarNo;
        v->SetPos(sel->Pos, sel->Row, sel->Col);
        return v;
    };
    while (p.CurrTokenId() != tkEnd) {
        if (p.CurrTokenId() == tkElse) {
            p.Next();
            if (!ProcessBlock(tOneLiner)) return false;
            if (p.CurrTokenId() == tkSemiColon) p.Next();
            if (p.CurrTokenId() != tkEnd) {
                Error(ecEndExpected);
                return false;
            }
            break;
        }
        std::unique_ptr<TPSValue> cond;
        for (;;) {
            auto a = ReadExpression();
            if (a == nullptr) return false;
            std::unique_ptr<TPSValue> label;
            const auto pos = a->Pos;
            const auto row = a->Row;
            const auto col = a->Col;
            if (p.CurrTokenId() == tkTwoDots) {
                p.Next();
                auto b = ReadExpression();
                if (b == nullptr) return false;
                auto lo = MakeBinary(selectorCopy(), std::move(a), otGreaterEqual, pos, row, col);
                if (lo == nullptr) return false;
                auto hi = MakeBinary(selectorCopy(), std::move(b), otLessEqual, pos, row, col);
                if (hi == nullptr) return false;
                label = MakeBinary(std::move(lo), std::move(hi), otAnd, pos, row, col);
            } else {
                label = MakeBinary(selectorCopy(), std::move(a), otEqual, pos, row, col);
            }
            if (label == nullptr) return false;
            cond = cond == nullptr ? std::move(label) : MakeBinary(std::move(cond), std::move(label), otOr, pos, row, col);
            if (cond == nullptr) return false;
            if (p.CurrTokenId() == tkColon) break;
            if (!Expect(tkComma, ecColonExpected)) return false;
        }
        p.Next();
        // The labels' chain was measured link by link as it grew; what the
        // code emission walks is measured as a whole once it is complete.
        if (TreeDepth(cond.get()) > kMaxTreeDepth) {
            Error(ecCustomError, "Expression nested too deeply");
            return false;
        }
        {
            std::unique_ptr<TPSValue> dest = std::move(flag);
            const bool ok = WriteCalculation(dest, cond);
            flag.reset(static_cast<TPSValueAllocatedStackVar*>(dest.release()));
            if (!ok) return false;
        }
        std::uint32_t next = 0;
        if (!WriteCondJump(opCondNotGoto, flag, next)) return false;
        if (!ProcessBlock(tifOneliner)) return false;
        ends.push_back(EmitJumpForward(opGoto));
        PatchJump(Code(), next, next + kCondJumpTail, CodeSize(Code()));
        if (p.CurrTokenId() == tkSemiColon) p.Next();
    }
    p.Next();
    for (std::uint32_t f : ends) PatchHere(f);
    flag.reset();
    sel.reset();
    return !CheckInvalidJumps(start, CodeSize(Code()));
}

bool TPSPascalCompiler::ProcessGoto() {
    TPSPascalParser& p = Parser();
    p.Next();
    if (p.CurrTokenId() != tkIdentifier) {
        Error(ecIdentifierExpected);
        return false;
    }
    const std::string name = p.GetToken();
    const std::uint32_t h = MakeHash(name);
    TPSInternalProcedure* proc = block_->Proc;
    for (std::uint32_t i = 0; i < proc->Labels.Count(); ++i) {
        const std::string entry = proc->Labels.GetItem(i);
        if (ReadLongAt(entry, 4) != h || entry.substr(8) != name) continue;
        p.Next();
        const std::uint32_t field = EmitJumpForward(opGoto);
        std::string g;
        BlockWriteLong(g, field + 4);
        BlockWriteLong(g, i);
        proc->Gotos.Add(g);
        return true;
    }
    Error(ecUnknownIdentifier, p.OriginalToken());
    return false;
}

bool TPSPascalCompiler::ProcessWith() {
    TPSPascalParser& p = Parser();
    TPSBlockInfo block(block_);
    block.SubType = tOneLiner;
    int pushed = 0;
    for (;;) {
        p.Next();
        auto v = ReadExpression();
        if (v == nullptr) return false;
        const std::uint8_t b = BaseOf(GetTypeOf(v.get()));
        if ((b != btRecord && b != btClass) || As<TPSValueVar>(v.get()) == nullptr) {
            Error(ecClassTypeExpected);
            return false;
        }
        auto ptr = AllocPointerVar(GetTypeOf(v.get()));
        bool ok = PreWriteOperand(v, nullptr);
        if (ok) {
            BlockWriteByte(Code(), opSetPtr);
            WriteVariableOperand(Code(), GetVarAddress(ptr.get()));
            ok = WriteOperand(v.get(), false);
        }
        AfterWriteOperand(v);
        if (!ok) {
            Error(ecVariableExpected);
            return false;
        }
        auto replace = std::make_unique<TPSValueReplace>();
        replace->OldValue.Own(std::move(v));
        replace->NewValue.Own(std::move(ptr));
        block.WithList.push_back(std::move(replace));
        ++pushed;
        if (p.CurrTokenId() == tkDo) break;
        if (p.CurrTokenId() != tkComma) {
            Error(ecDoExpected);
            return false;
        }
    }
    p.Next();
    const std::uint32_t start = CodeSize(Code());
    // A loop exit from the body pops one pointer per named variable.
    loop_.Pushed += pushed;
    TPSBlockInfo* saved = block_;
    block_ = &block;
    const bool ok = ProcessStatements(block);
    block_ = saved;
    loop_.Pushed -= pushed;
    if (!ok) return false;
    return !CheckInvalidJumps(start, CodeSize(Code()));
}

bool TPSPascalCompiler::ProcessTry() {
    TPSPascalParser& p = Parser();
    p.Next();
    BlockWriteByte(Code(), opPushExceptionHandler);
    const std::uint32_t offsets = CodeSize(Code());
    for (int i = 0; i < 4; ++i) BlockWriteLong(Code(), kNoHandlerOffset);
    const std::uint32_t base = CodeSize(Code());
    auto section = [&](std::uint8_t kind, bool handler) {
        const std::uint32_t start = CodeSize(Code());
        if (handler) ++loop_.HandlerDepth;
        else ++loop_.TryDepth;
        const bool ok = ProcessBlock(kind);
        if (handler) --loop_.HandlerDepth;
        else --loop_.TryDepth;
        return ok && !CheckInvalidJumps(start, CodeSize(Code()));
    };
    auto setOffset = [&](int slot) { WriteLongAt(Code(), offsets + 4 * static_cast<std::uint32_t>(slot), CodeSize(Code()) - base); };
    auto pop = [&](std::uint8_t kind) {
        BlockWriteByte(Code(), opPopExceptionHandler);
        BlockWriteByte(Code(), kind);
    };
    if (!section(tTry, false)) return false;
    pop(phEndOfTry);
    if (p.CurrTokenId() == tkExcept) {
        p.Next();
        setOffset(1);
        if (!section(tTryEnd, true)) return false;
        pop(phEndOfExcept);
        if (p.CurrTokenId() == tkFinally) {
            p.Next();
            setOffset(2);
            if (!section(tTryEnd, true)) return false;
            pop(phEndOfSecondFinally);
        }
    } else if (p.CurrTokenId() == tkFinally) {
        p.Next();
        setOffset(0);
        if (!section(tTryEnd, true)) return false;
        pop(phEndOfFinally);
        if (p.CurrTokenId() == tkExcept) {
            p.Next();
            setOffset(1);
            if (!section(tTryEnd, true)) return false;
            pop(phEndOfExcept);
        }
    }
    if (!Expect(tkEnd, ecEndExpected)) return false;
    setOffset(3);
    return true;
}

bool TPSPascalCompiler::CheckInvalidJumps(std::uint32_t start, std::uint32_t end) {
    TPSInternalProcedure* proc = block_->Proc;
    for (std::uint32_t i = 0; i < proc->Gotos.Count(); ++i) {
        const std::string g = proc->Gotos.GetItem(i);
        const std::uint32_t at = ReadLongAt(g, 0);
        const std::uint32_t label = ReadLongAt(g, 4);
        const std::uint32_t target = ReadLongAt(proc->Labels.GetItem(label), 0);
        const bool gotoInside = at >= start && at <= end;
        const bool labelInside = target != 0xFFFFFFFF && target >= start && target <= end;
        // A jump into the block from outside, or out of it, would skip the
        // block's own pushes or pops.
        if (gotoInside != labelInside) {
            Error(ecInvalidJump);
            return true;
        }
    }
    return false;
}

}  // namespace script::compiler
