#pragma once
// The script executor: the interpreter object that owns a loaded image (its
// types, procedures and globals), the stacks it runs on, the host functions
// and binders registered with it, and the record of the last error.
//
// exec.cpp holds construction, clean-up, errors and assignment;
// image_loader.cpp the loading of an image; decoded_code.cpp the form in
// which procedures run; shape_analysis.cpp their proven forms, and
// proven_forms.cpp which form runs; operands.cpp the resolution of operands;
// interpreter.cpp the instruction loop, general_handlers.h/.cpp its general
// handlers, quick_choice.cpp the choice of quick forms, quick_loop.cpp and
// proven_loop.cpp the loops of the quick and proven forms; host_api.cpp
// running procedures for the host; host_calls.h/.cpp calls of host
// routines; builtins*.cpp the runtime's own functions; compare.cpp and
// calc.cpp the operators.
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "script/runtime/decoded_code.h"
#include "script/runtime/errors.h"
#include "script/runtime/procedures.h"
#include "script/runtime/shape_analysis.h"
#include "script/runtime/stack.h"
#include "script/runtime/type_records.h"
#include "script/runtime/value_layout.h"

namespace script::runtime {

enum class TPSStatus : std::uint8_t { isNotLoaded = 0, isLoaded = 1, isRunning = 2, isPaused = 3 };

// Which tiers of forms run a script (TPSExec::Forms): the general handlers
// only; those and the quick forms; all, the proven forms too.
enum class TPSFormTiers : std::uint8_t { GeneralOnly, GeneralAndQuick, All };

inline constexpr std::uint32_t kNoProc = 0xFFFFFFFF;

// An offset of a try frame that names no block; the except offset reads
// kExceptEntered once its block has been entered.
inline constexpr std::uint32_t kNoOffset = 0xFFFFFFFF;
inline constexpr std::uint32_t kExceptEntered = 0xFFFFFFFE;

// One try frame of the running script: where its blocks start and the
// error that its except block handles.
struct TPSExceptionHandler {
    const TPSProcRec* CurrProc = nullptr;
    std::int32_t BasePtr = -1;       // stack base of that procedure
    std::uint32_t StackSize = 0;     // run-stack items when the frame was opened
    std::uint32_t FinallyOffset = kNoOffset;
    std::uint32_t ExceptOffset = kNoOffset;
    std::uint32_t Finally2Offset = kNoOffset;
    std::uint32_t EndOfBlock = kNoOffset;
    std::uint8_t ExceptionCode = 0;
    std::exception_ptr ExceptionObject;
    std::string ExceptionParam;
    // Where the handled error happened, so that the except block reads
    // its procedure and position.
    std::uint32_t ExceptionProc = kNoProc;
    std::uint32_t ExceptionPos = kNoProc;
    // The return instruction that waits for a finally block of this frame
    // (kNoOffset: none). Kept by the frame, so that a procedure called
    // from the finally block cannot take it for one of its own.
    std::uint32_t PendingReturn = kNoOffset;
    // Where a Break or Continue that leaves the statement goes on once the
    // blocks it must run have ended (kNoOffset: at EndOfBlock).
    std::uint32_t PendingJump = kNoOffset;
    // Items that such a jump dropped from the run stack before the blocks
    // ran, whose pops are passed over when it goes on.
    std::uint32_t DroppedItems = 0;
    // The finally, except and second finally offsets as pushed: a block
    // ends where the next one starts or at EndOfBlock, and a pop of the
    // frame anywhere else leaves the statement early.
    std::uint32_t BlockStarts[3] = {kNoOffset, kNoOffset, kNoOffset};
    // Pushed by the host around a procedure it runs from inside a run: the
    // errors and returns of that procedure never reach the frames below.
    bool Barrier = false;
    // The form of the code that opened the frame, where its blocks run, and
    // the number of its PushExceptionHandler instruction there.
    TPSDecodedCode* Code = nullptr;
    std::uint32_t Origin = kNoOffset;
};

// A global exported by name: Index is the global's own number.
struct TPSExportedVar {
    std::string Name;
    std::uint32_t NameHash = 0;
    std::uint32_t Index = 0;
};

// A decoded operand: where its value lies and its type. A temporary is a
// constant that the decoder pushed on the temporaries stack; its
// instruction releases it (ReleaseOperand).
struct TPSOperand {
    void* Address = nullptr;
    const TPSTypeRec* Type = nullptr;
    bool Temporary = false;
};

class Variant;
struct TPSScriptMethodRecord;

// Whether a stack item is a return address of the loop (or of the host).
inline bool IsReturnAddressItem(const void* item) {
    const TPSTypeRec* type = item != nullptr ? TypeOfTypedValue(item) : nullptr;
    return type != nullptr && type->BaseType == btReturnAddress;
}

class TPSExec {
public:
    // Called by every error report before the error is handled: (executor,
    // code, parameter, position, procedure number, exception object).
    using TPSOnException = std::function<void(TPSExec&, std::uint8_t, const std::string&, std::uint32_t,
                                              std::uint32_t, const std::exception_ptr&)>;
    // Called before every instruction while set.
    using TPSOnStep = std::function<void(TPSExec&)>;
    // Called now and then while a run goes on (SetOnTick).
    using TPSOnTick = std::function<void(TPSExec&)>;
    // The compiler's notification Variants: a script writing one, and
    // reading one.
    using TPSOnSetNotificationVariant = std::function<void(TPSExec&, const std::string& name, const Variant& value)>;
    using TPSOnGetNotificationVariant = std::function<Variant(TPSExec&, const std::string& name)>;

    // The most bytes the run stack may take: deeper recursion is error 11.
    static constexpr std::uint64_t kMaxRunStackBytes = std::uint64_t{64} << 20;
    // How deeply runs may nest through host functions that run script
    // procedures: deeper is error 11.
    static constexpr std::uint32_t kMaxRunNesting = 64;

    TPSExec();
    virtual ~TPSExec();
    TPSExec(const TPSExec&) = delete;
    TPSExec& operator=(const TPSExec&) = delete;

    TPSStatus Status() const { return status_; }

    // The runtime's own types: the return address (base 0), Variant and
    // array of Variant.
    const TPSTypeRec* ReturnAddressType() const { return return_address_type_.get(); }
    const TPSTypeRec* VariantType() const { return variant_type_.get(); }
    const TPSTypeRec_Array* VariantArrayType() const { return variant_array_type_.get(); }

    // ---------------------------------------------------------------- image
    // Loads a compiled image, unloading the previous one first, and decodes
    // its procedures. False when the image is refused: the error (code and
    // parameter) is recorded and the executor is left cleared. Raises
    // EPSError while a run uses the loaded image (from a host function).
    virtual bool LoadImage(std::string_view image);
    // Unloads everything: try frames, clean-up procedures (called, last
    // first), exported variables, procedures, globals, stacks and types.
    // Registered functions and special imports stay. Raises EPSError while
    // a run uses the image.
    virtual void Clear();
    // In the loaded state: empties the run stack and the temporaries and
    // gives every global its initial value again.
    virtual void ResetGlobals();
    // A running run stops after the current instruction (loaded state),
    // also the runs that called the host function it was run from; a
    // paused one stops and drops its run stack and temporaries.
    virtual void Stop();
    // A running run pauses after the current instruction.
    virtual void Pause();

    // When set, a run that ends normally resets the globals.
    bool CleanupAfterRun = false;

    std::uint32_t TypeCount() const { return static_cast<std::uint32_t>(types_.size()); }
    const TPSTypeRec* GetType(std::uint32_t no) const { return no < types_.size() ? types_[no].get() : nullptr; }
    std::uint32_t ProcCount() const { return static_cast<std::uint32_t>(procs_.size()); }
    TPSProcRec* GetProc(std::uint32_t no) const { return no < procs_.size() ? procs_[no].get() : nullptr; }
    // kNoProc when the image has no main block.
    std::uint32_t MainProcNo() const { return main_proc_; }
    TPSStack& Globals() { return globals_; }
    // Global n as a typed value; nil when there is none.
    void* GlobalItem(std::uint32_t n) const { return globals_.GetItem(n); }
    const std::vector<TPSExportedVar>& ExportedVars() const { return exported_vars_; }
    // The image's first Pointer type, which references to variables take;
    // nil when the image has none.
    const TPSTypeRec* PointerType() const { return pointer_type_; }

    // ---------------------------------------------------------------- running
    // Runs the main procedure when loaded, or resumes a paused run, until
    // the outermost procedure returns, the run is stopped or paused, or an
    // error finds no exception frame. True when no error is recorded at the
    // end.
    bool Run();
    // Called before every instruction while stepping is on (a step
    // callback is set, or a subclass turned it on); calls the callback.
    virtual void StepNotify();
    void SetOnStep(TPSOnStep callback);
    // The loop pays one test per instruction while stepping is off.
    bool SteppingOn() const { return step_active_; }
    // Calls the callback once every `every` ticks: a tick is a jump back to
    // the jump or before it, or a call (of a script procedure, counted
    // where it starts; of a host function, when it has returned). The
    // callback runs before the instruction that the tick leads to, and may
    // stop or pause the run there. Costs a count on those steps only, so a
    // host may watch a run that way (nil: none).
    void SetOnTick(TPSOnTick callback, std::uint32_t every);

    // The tiers that run a script, set before loading an image. "General"
    // always means the handler of an instruction as decoded, which resolves
    // and checks every operand at every run. Above it the loop may give an
    // instruction it has run a quick form (which checks the types it saw),
    // and a procedure whose stack shapes are proven at entry runs proven
    // forms (shape_analysis.h). Every tier must compute, raise and report
    // what the general handlers do.
    TPSFormTiers Forms = TPSFormTiers::All;
    // Quick forms are given in general forms with lists of their own only
    // (TPSDecodedCode::GivesQuickForms).
    bool MakesQuickForms() const { return Forms != TPSFormTiers::GeneralOnly && decoded_->GivesQuickForms(); }
    bool UsesProvenForms() const { return Forms == TPSFormTiers::All; }
    // The form a script procedure runs in when it is entered with its
    // parameters as the top items of the run stack below `above` (the index
    // where its return address lies or will lie): a proven form for their
    // types, made when first needed, or its general form. top_level: the
    // main block started from an empty run stack.
    TPSDecodedCode* CodeForEntry(const TPSProcRec* proc, std::uint32_t above, bool top_level = false);

    // ---------------------------------------------------------------- host API
    // A procedure by its name, any letter case: a script procedure by its
    // export name, an imported one by its name; kNoProc when none.
    std::uint32_t GetProcNo(std::string_view name) const;
    // The position of an exported global in ExportedVars(); kNoProc when
    // none.
    std::uint32_t GetVar(std::string_view name) const;
    // Global item n (a typed value); nil when out of range.
    void* GetVarNo(std::uint32_t n) const { return GlobalItem(n); }
    // The global exported under the name (its own number), as a typed value;
    // nil when no global is exported under it.
    void* FindGlobalVar(std::string_view name) const;
    // Runs a script procedure with Variant parameters (first to first) and
    // gives its result as a Variant (Null for a procedure). Raises EPSError
    // "Unknown procedure", "Not enough parameters", "Too many parameters"
    // or "Invalid parameter", or the script's error (RaiseCurrentError).
    Variant CallProcByName(std::string_view name, const std::vector<Variant>& params);
    Variant CallProc(std::uint32_t proc_no, const std::vector<Variant>& params);
    // Runs a procedure with typed heap values (value_lifetime.h) as its
    // items: each value is passed by reference, the last pushed on top (a
    // function's result last). Saves and restores the caller's procedure,
    // position, stack base and status, so a host function may call it. True
    // when the procedure ran without an error.
    bool RunProc(const std::vector<void*>& values, std::uint32_t proc_no);

    // Whether the top n run-stack items belong to the procedure that runs
    // (lie above its return address): the parameters of a host function
    // must, so that it never reads or writes another frame.
    bool FrameHasItems(std::uint32_t n) const {
        const std::int64_t first = std::int64_t{stack_.Count()} - n;
        return first >= 0 && first > stack_base_;
    }

    // Script methods made for host routines (host_calls.h), one record per
    // procedure number, kept as long as the executor.
    TPSScriptMethodRecord& ScriptMethodRecord(std::uint32_t proc_no);
    bool OwnsScriptMethodRecord(const void* record) const;

    TPSOnSetNotificationVariant OnSetNotificationVariant;
    TPSOnGetNotificationVariant OnGetNotificationVariant;

    // ---------------------------------------------------------------- host
    // Registers a host function under a script name (upper-cased, at most
    // 255 characters); imports of that name bind to it when an image loads.
    TPSRegisteredFunction& RegisterFunction(std::string_view name, TPSProcHandler handler, std::uint32_t ext1 = 0,
                                            std::uint32_t ext2 = 0);
    // The registered function of a name (any letter case), the last
    // registered when there are several; nil when none.
    TPSRegisteredFunction* LookupRegisteredFunction(std::string_view name) const;
    // Registers a host routine under a script name with a calling
    // convention (0-4; any other registers nothing and answers nil). The
    // routine's C++ signature gives its parameter and result kinds; a
    // method gets obj as its Self. Defined in host_calls.h.
    template <typename R, typename... P>
    TPSRegisteredFunction* RegisterHostFunction(R (*fn)(P...), std::string_view name, std::uint8_t cc);
    template <typename C, typename M>
    TPSRegisteredFunction* RegisterHostMethod(C* obj, M method, std::uint8_t cc, std::string_view name);
    // Registers a binder for imports that carry no name: an import whose
    // declaration starts with name and ":" ("intf:...") is offered to it; a
    // binder without a name is offered every such import.
    void RegisterSpecialProcImport(std::string_view name, TPSSpecialImportProc handler, void* tag);
    // The tag of the last binder registered with that handler; nil when none.
    void* FindSpecialProcImport(TPSSpecialImportProc handler) const;
    // Registers a handler for the attributes of that name (upper-cased) that
    // images carry.
    void RegisterAttributeType(std::string_view name, TPSAttributeUseProc handler);

    void AddCleanupProc(TPSCleanupProc proc, void* data);
    // Searches the clean-up records with that procedure from index (lowered
    // to the last record when beyond it) down to the first: returns the data
    // of the one found and sets index to the record below it; nil and index
    // -1 when none is found.
    void* FindCleanupProc(TPSCleanupProc proc, std::int32_t& index) const;

    // ---------------------------------------------------------------- errors
    TPSOnException OnException;

    void RaiseError(std::uint8_t code);
    void RaiseErrorParam(std::uint8_t code, const std::string& param);
    // Reports an error at the current procedure and position: the exception
    // callback first, then HandleError. obj is the exception object behind
    // the error (a host exception), or none.
    void RaiseErrorObject(std::uint8_t code, const std::string& param, std::exception_ptr obj);
    // Records the error (replacing the previous one and its object); code 0
    // only clears the record. An error stops a run that is going on (the
    // status becomes paused).
    virtual void HandleError(std::uint32_t proc_no, std::uint32_t position, std::uint8_t code,
                             const std::string& param, std::exception_ptr obj);
    // Turns the exception being handled (call it inside a catch block, or
    // pass one) into the runtime error its class maps to: EPSException 24
    // at its own position, division by zero 15, other float faults 16, out
    // of memory 19, any other exception 20 with its message; the exception
    // object is kept as the error's object where it has a message of its
    // own.
    void ReportException(std::exception_ptr e);
    // After a failed run: raises the recorded error in the host, the kept
    // exception object itself when there is one (handed over once), else an
    // EPSException with the error's text, procedure and position. Nothing
    // when no error is recorded.
    void RaiseCurrentError();

    // Inside an except block these read the error that the block handles;
    // elsewhere the executor's record.
    std::uint8_t LastErrorCode() const;
    const std::string& LastErrorParam() const;
    std::uint32_t LastErrorProc() const;
    std::uint32_t LastErrorPos() const;
    bool HasLastErrorObject() const { return static_cast<bool>(last_error_object_); }
    // The top exception frame that the script pushed (none for a barrier).
    const TPSExceptionHandler* TopExceptionFrame() const;
    // A script error raised by host code, at the current procedure and
    // position.
    EPSException ScriptException(std::string message);
    // Raises the error that the top frame's except block handles again,
    // handing its exception object over; false outside an except block.
    bool RaiseFrameError();

    // ---------------------------------------------------------------- operands
    // Decodes the operand at the current position of the current code and
    // moves past it, as the loop's decoded form does once for each operand
    // (a constant is made on the temporaries stack here). With
    // follow_pointer, a Pointer value stands for what it points at. False
    // when an error has been reported; nothing is then left on the
    // temporaries stack.
    bool ReadOperand(TPSOperand& out, bool follow_pointer);
    // Releases the operand's constant from the temporaries stack. Constants
    // are pushed one per operand, so an instruction releases its operands
    // in the reverse order of their decoding.
    void ReleaseOperand(const TPSOperand& operand);

    // ---------------------------------------------------------------- values
    // dest := src with the conversions of the destination's type. On failure
    // the error has been reported and the destination is as it was.
    bool AssignValue(void* dest, const void* src, const TPSTypeRec* dest_type, const TPSTypeRec* src_type);
    // result := left <op> right (CompareOperator); the left operand's type
    // chooses the comparison. On failure the error has been reported and
    // nothing is stored.
    bool CompareValues(const void* left, const void* right, void* result, const TPSTypeRec* left_type,
                       const TPSTypeRec* right_type, const TPSTypeRec* result_type, std::uint8_t op);
    // left := left <op> right (CalcOperator, or 10 "as"); the left
    // operand's type chooses the operation and keeps its type. On failure
    // the error has been reported and left is unchanged.
    bool CalcValues(void* left, const void* right, const TPSTypeRec* left_type, const TPSTypeRec* right_type,
                    std::uint8_t op);
    // In-place unary operators: arithmetic negation, Boolean not and
    // bitwise not.
    bool NegateValue(void* value, const TPSTypeRec* type);
    bool BooleanNotValue(void* value, const TPSTypeRec* type);
    bool IntNotValue(void* value, const TPSTypeRec* type);

protected:
    // Binds an imported procedure at load: by name to a registered
    // function, or, without a name, through the special imports by the
    // declaration's text before ":". True when bound.
    virtual bool BindExternalProc(const std::string& name, TPSExternalProcRec& proc);

    // A subclass that overrides StepNotify turns stepping on with this.
    void SetStepNotifyActive(bool on);

    // The index of the current procedure, searched from the end; kNoProc
    // when there is none.
    std::uint32_t CurrentProcNo() const;

    bool jump_flag_ = false;
    std::vector<std::unique_ptr<TPSExceptionHandler>> exception_frames_;
    std::vector<std::unique_ptr<TPSTypeRec>> types_;
    std::vector<std::unique_ptr<TPSProcRec>> procs_;
    std::vector<TPSExportedVar> exported_vars_;
    TPSStack globals_;
    TPSStack temporaries_;
    TPSStack stack_;
    std::uint32_t main_proc_ = 0;
    TPSStatus status_ = TPSStatus::isNotLoaded;
    const TPSProcRec* current_proc_ = nullptr;
    const std::uint8_t* code_ = nullptr;
    std::uint32_t code_length_ = 0;
    std::uint32_t position_ = 0;
    std::int32_t stack_base_ = -1;
    // The decoded form of the current procedure's code.
    TPSDecodedCode* decoded_ = nullptr;

    // Makes a script procedure the current one, running the given form of
    // its code (nil: its general form).
    void EnterCode(const TPSProcRec* proc, TPSDecodedCode* code = nullptr) {
        if (proc != nullptr && code != nullptr) {
            EnterDecoded(proc, code);
            return;
        }
        EnterOtherCode(proc);
    }
    void EnterOtherCode(const TPSProcRec* proc);
    [[gnu::always_inline]] void EnterDecoded(const TPSProcRec* proc, TPSDecodedCode* code) {
        current_proc_ = proc;
        decoded_ = code;
        code_ = code->CodeBytes();
        code_length_ = code->CodeLength();
    }
    // A call of a script procedure, the same in every tier: the return
    // address in item (just pushed on top), which becomes the frame's base,
    // and the callee's code (a form of proc's) entered.
    [[gnu::always_inline]] void EnterFrame(void* item, const TPSProcRec* proc, TPSDecodedCode* code,
                                           std::uint32_t end, std::uint32_t next) {
        StoreAs(ValueOfTypedValue(item), PSReturnAddress{current_proc_, end, stack_base_, decoded_, next});
        stack_base_ = static_cast<std::int32_t>(stack_.Count() - 1);
        EnterCode(proc, code);
    }
    // A return to a script procedure, the same in every tier: the return
    // address (popped already) names the caller's frame and code.
    [[gnu::always_inline]] void ReturnInto(const PSReturnAddress& back) {
        stack_base_ = back.StackBase;
        EnterCode(back.Proc, back.Code);
    }
    // The address of the current frame's return-address item (where it
    // would lie, at the top level): proven operands lie at byte distances
    // from it.
    std::byte* FrameBase();
    // Calls an imported procedure's handler as the call instruction does:
    // a failure raised inside becomes the error of its class, false without
    // a reported error is error 17. The handler finds position_ at the end
    // of the call. False when an error was reported.
    bool CallExternal(TPSExternalProcRec& proc);
    // Calls a host method held in a procedure value (number 0, an object)
    // with the parameters that the procedure type's text describes.
    bool CallHostMethodValue(const PSProcPtrValue& method, const std::string& param_info);

private:
    friend class ImageLoader;

    struct SpecialImport {
        TPSSpecialImportProc Handler;
        std::uint32_t NameHash;
        std::string Name;
        void* Tag;
    };
    struct CleanupRecord {
        TPSCleanupProc Proc;
        void* Data;
    };
    struct AttributeType {
        std::string Name;
        std::uint32_t NameHash;
        TPSAttributeUseProc Handler;
    };

    // The last registered function of an upper-case name.
    TPSRegisteredFunction* FindRegistered(std::string_view upper) const;
    void ReportErrorAt(std::uint32_t proc_no, std::uint32_t position, std::uint8_t code, const std::string& param,
                       std::exception_ptr obj);
    // Resolves a decoded operand to its value and type, reporting at the
    // operand's positions what the byte code would have reported.
    bool ResolveOperand(const TPSDecodedOperand& o, TPSOperand& out);
    bool ResolveVar(const TPSDecodedVar& v, std::uint32_t at, void*& value, const TPSTypeRec*& type);
    bool ResolveElement(const TPSDecodedOperand& o, TPSOperand& out);
    void FailAt(std::uint32_t position, std::uint8_t code);
    // The loop itself (interpreter.cpp); entry is the status the run
    // returns to when its outermost procedure returns.
    void Execute(TPSStatus entry);
    // Why the loop of proven forms handed an instruction back.
    enum ProvenReason : std::uint8_t {
        pxNext,     // it has no proven form, or attention is wanted: run it as dispatched
        pxGeneral,  // the checks of its form failed: run its general form
        pxTick,     // a tick passed on the way to it
        pxLeave,    // the proof's premise no longer holds: leave the proven code
        pxFail,     // an error was reported
    };
    struct ProvenExit {
        std::size_t Pc;  // byte offset of the instruction in run_instrs_
        std::uint8_t Reason;
    };
    // The loop of proven forms (proven_loop.cpp), from the instruction at
    // byte offset pc of run_instrs_; it keeps run_instrs_ and run_frame_.
    ProvenExit RunProven(std::size_t pc);
    // How one of the proven loop's fused loops (a for or while loop of one
    // Calc) ends: out of the loop along the hop Pc, or handed back at the
    // instruction Pc for its general form, for a tick or for attention.
    enum class FusedEnd : std::uint8_t { Hop, General, Tick, Attention };
    struct FusedStop {
        std::size_t Pc;
        FusedEnd End;
    };
    // The fused loops (proven_loop.cpp), from the loop's first instruction
    // at byte offset pc of instrs, in the frame at lb.
    FusedStop RunForCalc(TPSDecodedInstr* instrs, std::size_t pc, std::byte* lb);
    FusedStop RunWhileCalc(TPSDecodedInstr* instrs, std::size_t pc, std::byte* lb);
    // The proven call step (proven_loop.cpp): the callee's frame entered for
    // the call instruction; its base item, or nil (nothing changed) when the
    // stack has no room for it.
    [[gnu::always_inline]] inline void* EnterProvenCall(TPSDecodedInstr& call);
    // The proven return step (proven_loop.cpp): the frame left and the
    // caller's code entered, with its return address in back; false when the
    // general form must run it: a try frame of the procedure's own is to
    // run, or the frame is not as expected.
    [[gnu::always_inline]] inline bool LeaveProvenFrame(PSReturnAddress& back);
    // The loop of quick forms (quick_loop.cpp), likewise; it hands back with
    // pxNext, pxGeneral, pxTick or pxFail.
    ProvenExit RunQuick(std::size_t pc);
    // Where the loop goes on after a general handler, which returns it.
    enum GeneralHow : std::uint8_t {
        ghNext,      // on at instruction At
        ghReload,    // the same, the list and frame base read again (host code may have run)
        ghGo,        // on at instruction At, counting Ticks passed on the way
        ghReloadGo,  // both
        ghEnter,     // on at code position At of the current code (entered anew), counting Ticks
        ghFail,      // an error was reported
        ghEndRun,    // the run ends (position_ and status_ are set)
    };
    struct GeneralMove {
        std::uint32_t At;
        GeneralHow How;
        std::uint8_t Ticks = 0;
    };
    // The general handlers, each of the instruction in (of run_instrs_):
    // it runs, perhaps gets a quick form, and the loop goes on as returned.
    // The loop's common ones are inline (general_handlers.h), the seldom
    // ones in general_handlers.cpp.
    [[gnu::always_inline]] inline GeneralMove GeneralAssign(TPSDecodedInstr& in);
    [[gnu::always_inline]] inline GeneralMove GeneralCalc(TPSDecodedInstr& in);
    [[gnu::always_inline]] inline GeneralMove GeneralCompare(TPSDecodedInstr& in);
    [[gnu::always_inline]] inline GeneralMove GeneralPush(TPSDecodedInstr& in);
    [[gnu::always_inline]] inline GeneralMove GeneralPushVar(TPSDecodedInstr& in);
    [[gnu::always_inline]] inline GeneralMove GeneralPushType(TPSDecodedInstr& in);
    [[gnu::always_inline]] inline GeneralMove GeneralPop(TPSDecodedInstr& in);
    [[gnu::always_inline]] inline GeneralMove GeneralPopGoto(TPSDecodedInstr& in);
    [[gnu::always_inline]] inline GeneralMove GeneralCondGoto(TPSDecodedInstr& in);
    [[gnu::always_inline]] inline GeneralMove GeneralSetFlag(TPSDecodedInstr& in);
    [[gnu::always_inline]] inline GeneralMove GeneralIncDec(TPSDecodedInstr& in);
    [[gnu::always_inline]] inline GeneralMove GeneralCall(TPSDecodedInstr& in);
    [[gnu::always_inline]] inline GeneralMove GeneralReturn(TPSDecodedInstr& in);
    GeneralMove GeneralUnary(TPSDecodedInstr& in);
    GeneralMove GeneralSetPtr(TPSDecodedInstr& in);
    // A CallVar: the script procedure its value names; kNoProc when the
    // call is done (a host method the value holds, called) or failed, with
    // where the loop goes on in done.
    std::uint32_t ProcOfCallValue(TPSDecodedInstr& in, GeneralMove& done);
    // After a host function called by the call instruction at index (items:
    // the run stack's count before it), on at next, counting the call.
    inline GeneralMove AfterHostCall(std::uint32_t index, std::uint32_t items, std::uint32_t next);
    // The host function left the run stack with another count of items:
    // the run goes on after the call in the general form of the code.
    GeneralMove LeaveProvenAfterHostCall(std::uint32_t index);
    // An instruction that could not be decoded: its operands are resolved
    // (their errors come first), then its failure is reported.
    void ReportDecodedFailure(const TPSDecodedInstr& in);
    // An error was reported: a try frame of the script may take it. True
    // when one did (the run goes on at position_, running); else the run
    // pauses, unless it had ended.
    bool ResumeAfterError();
    // Pushes a zeroed item of the type on the run stack; nil, with error 11
    // reported at position at, when it is full.
    void* PushOrFail(const TPSTypeRec* type, std::uint32_t at);
    // Offers the recorded error to the exception frames from the top: the
    // first that takes it becomes where the run goes on. False when none
    // does (barriers stop the search).
    bool TakeErrorIntoFrame();
    // Enters a frame's except block with the recorded error, which the
    // frame then holds; the executor's record is cleared.
    void MoveErrorIntoFrame(TPSExceptionHandler& frame);
    // Continues in a frame's procedure at a position of its code.
    void ResumeInFrame(const TPSExceptionHandler& frame, std::uint32_t position);
    // The condition of a jump or SetFlag: its operand, which must be of base
    // 1-6 (else error 2), and whether it is not zero.
    bool ReadCondition(const TPSDecodedInstr& in, TPSOperand& v, bool& value);
    // Opens the try frame of the instruction at index of the current code.
    void PushExceptionFrame(const TPSDecodedInstr& in, std::uint32_t index);
    // The finally block of a frame that runs next (its first, else its
    // second), taken so that it runs once; kNoOffset when none is left.
    static std::uint32_t TakeFinallyBlock(TPSExceptionHandler& f);
    // A return runs the finally blocks of the try statements it leaves, the
    // frames of the current procedure going as it passes them: true when it
    // entered one (at position_; the return runs again once it has ended).
    bool ReturnThroughFrames(std::uint32_t here);
    // The end of a try statement's block (the PopExceptionHandler at index
    // of the current code): the instruction the run goes on at, or kNoInstr
    // when an error was reported.
    std::uint32_t EndTryBlock(std::uint32_t index);
    // SetPtr and SetPtrToCopy; false when an error was reported.
    bool SetPointer(const TPSDecodedInstr& in);
    // The general form of a procedure's code, decoded at its first entry:
    // a plug-in holds many procedures that a session never calls (handlers
    // of events that do not come), and decoded code takes many times the
    // bytes of the byte code. Throws EPSOutOfMemory as TPSDecodedCode does.
    TPSDecodedCode* GeneralCode(TPSInternalProcRec& proc);
    // Decoded code beyond which an unload hands freed memory back at once.
    static constexpr std::size_t kTrimAfterDecodedBytes = 16u << 20;
    // The proven form of a procedure for an entry, made when the procedure
    // is first entered so (a large plug-in pays only for what runs); nil
    // when the entry cannot be proven.
    // fresh: the general form was decoded for this entry (no run has been
    // in it), and may give its list to the proven form.
    TPSDecodedCode* ProvenFor(TPSInternalProcRec& proc, const TPSEntryShape& entry, bool fresh);
    // The rest of the current procedure's run, and the blocks of the try
    // frames it opened, go on in its general form: the proof's premise no
    // longer holds.
    void LeaveProvenCode();
    // Clear without the check that no run uses the image.
    void ClearLoaded();
    void RegisterBuiltins();
    // Refuses to change the loaded image while a run uses it.
    void RequireNoRun(const char* what) const;
    bool AssignUnguarded(void* dest, const void* src, const TPSTypeRec* dest_type, const TPSTypeRec* src_type);
    bool AssignToInterface(void* dest, const void* src, const TPSTypeRec* dest_type, const TPSTypeRec* src_type);
    bool AssignToDynArray(void* dest, const void* src, const TPSTypeRec* dest_type, const TPSTypeRec* src_type);
    bool AssignToVariant(void* dest, const void* src, const TPSTypeRec* src_type);
    // Reports a failure raised by an operator: its own checks with their
    // codes and no object behind them, any other exception as
    // ReportException does.
    void ReportOperatorFailure(std::exception_ptr e);
    // Runs an operator's work, reporting what it raises; false then.
    template <typename Work>
    bool RunOperator(Work work) {
        try {
            work();
            return true;
        } catch (...) {
            ReportOperatorFailure(std::current_exception());
            return false;
        }
    }
    // Runs a host call: a failure raised inside becomes the error of its
    // class, and false without a reported error is error 17. False when an
    // error was reported, whatever the call answered.
    template <typename Work>
    bool RunHostCall(Work work) {
        const std::uint64_t errors = error_count_;
        bool ok = false;
        try {
            ok = work();
        } catch (...) {
            ReportException(std::current_exception());
            return false;
        }
        if (error_count_ != errors) return false;
        if (!ok) {
            RaiseError(erCouldNotCallProc);
            return false;
        }
        return true;
    }

    const TPSTypeRec* pointer_type_ = nullptr;
    // Set by whatever may end the loop (Stop, Pause, an error, stepping):
    // the loop tests it once per instruction.
    bool attention_ = false;
    bool step_active_ = false;
    bool step_notify_active_ = false;
    TPSOnStep on_step_;
    TPSOnTick on_tick_;
    std::uint32_t tick_every_ = 0;
    // Ticks left until the tick callback; counted down without one too.
    std::int64_t ticks_left_ = kTicksWithoutHook;
    static constexpr std::int64_t kTicksWithoutHook = std::int64_t{1} << 62;
    std::uint32_t run_depth_ = 0;
    // The status the running loop's run returns to, the list of decoded
    // instructions it runs and its frame base (Execute).
    TPSStatus run_entry_ = TPSStatus::isLoaded;
    TPSDecodedInstr* run_instrs_ = nullptr;
    std::byte* run_frame_ = nullptr;
    // Items dropped by the try statement that a Break or Continue has just
    // left, for the next one that it leaves.
    std::uint32_t dropped_items_ = 0;
    // Run-stack items that belong to a run below the current one (a host
    // function ran this one): a stopped run leaves them.
    std::uint32_t run_floor_ = 0;
    // Counts the errors reported, so a host call can tell whether its
    // handler reported one.
    std::uint64_t error_count_ = 0;
    std::vector<std::unique_ptr<TPSScriptMethodRecord>> script_methods_;

    std::unique_ptr<TPSTypeRec> return_address_type_;
    std::unique_ptr<TPSTypeRec> variant_type_;
    std::unique_ptr<TPSTypeRec_Array> variant_array_type_;

    std::vector<AttributeType> attribute_types_;
    std::vector<CleanupRecord> cleanup_procs_;
    std::vector<SpecialImport> special_imports_;
    std::vector<std::unique_ptr<TPSRegisteredFunction>> registered_functions_;

    std::uint8_t last_error_code_ = ErNoError;
    std::string last_error_param_;
    std::exception_ptr last_error_object_;
    std::uint32_t last_error_proc_ = kNoProc;
    std::uint32_t last_error_pos_ = kNoProc;
};

}  // namespace script::runtime
