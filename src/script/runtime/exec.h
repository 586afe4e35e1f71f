#pragma once
// The script executor: the interpreter object that owns a loaded image (its
// types, procedures and globals), the stacks it runs on, the host functions
// and binders registered with it, and the record of the last error.
//
// exec.cpp holds construction, clean-up, errors and assignment;
// image_loader.cpp the loading of an image; operands.cpp the decoding of
// instruction operands; compare.cpp and calc.cpp the operators.
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "script/runtime/errors.h"
#include "script/runtime/procedures.h"
#include "script/runtime/stack.h"
#include "script/runtime/type_records.h"

namespace script::runtime {

enum class TPSStatus : std::uint8_t { isNotLoaded = 0, isLoaded = 1, isRunning = 2, isPaused = 3 };

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

class TPSExec {
public:
    // Called by every error report before the error is handled: (executor,
    // code, parameter, position, procedure number, exception object).
    using TPSOnException = std::function<void(TPSExec&, std::uint8_t, const std::string&, std::uint32_t,
                                              std::uint32_t, const std::exception_ptr&)>;

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
    // Loads a compiled image, unloading the previous one first. False when
    // the image is refused: the error (code and parameter) is recorded and
    // the executor is left cleared.
    virtual bool LoadImage(std::string_view image);
    // Unloads everything: try frames, clean-up procedures (called, last
    // first), exported variables, procedures, globals, stacks and types.
    // Registered functions and special imports stay.
    virtual void Clear();
    // In the loaded state: empties the run stack and the temporaries and
    // gives every global its initial value again.
    virtual void ResetGlobals();
    // A running run stops (loaded state); a paused one stops and drops its
    // run stack and temporaries.
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
    const std::vector<TPSExportedVar>& ExportedVars() const { return exported_vars_; }

    // ---------------------------------------------------------------- host
    // Registers a host function under a script name (upper-cased, at most
    // 255 characters); imports of that name bind to it when an image loads.
    TPSRegisteredFunction& RegisterFunction(std::string_view name, TPSProcHandler handler, std::uint32_t ext1 = 0,
                                            std::uint32_t ext2 = 0);
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

    std::uint8_t LastErrorCode() const { return last_error_code_; }
    const std::string& LastErrorParam() const { return last_error_param_; }
    std::uint32_t LastErrorProc() const { return last_error_proc_; }
    std::uint32_t LastErrorPos() const { return last_error_pos_; }
    bool HasLastErrorObject() const { return static_cast<bool>(last_error_object_); }

    // ---------------------------------------------------------------- operands
    // Decodes the operand at the current position of the current code and
    // moves past it. With follow_pointer, a Pointer value stands for what it
    // points at. False when an error has been reported; nothing is then
    // left on the temporaries stack.
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

    void ReportErrorAt(std::uint32_t proc_no, std::uint32_t position, std::uint8_t code, const std::string& param,
                       std::exception_ptr obj);
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
    bool ResolveVariable(std::uint32_t address, bool element, void*& item);

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
