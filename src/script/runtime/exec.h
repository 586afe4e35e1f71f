#pragma once
// The script executor: the interpreter object that owns a loaded image and
// runs it. This part holds what every value operation needs: the runtime's
// own type records, the record of the last error with the routines that
// report errors, and the converting assignment behind the Assign
// instruction and every parameter and result copy.
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "script/runtime/errors.h"
#include "script/runtime/type_records.h"

namespace script::runtime {

// A procedure of the loaded image.
class TPSProcRec {
public:
    virtual ~TPSProcRec() = default;
    TPSRuntimeAttributes Attributes;
};

enum class TPSStatus : std::uint8_t { isNotLoaded = 0, isLoaded = 1, isRunning = 2, isPaused = 3 };

inline constexpr std::uint32_t kNoProc = 0xFFFFFFFF;

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

    // ---------------------------------------------------------------- values
    // dest := src with the conversions of the destination's type. On failure
    // the error has been reported and the destination is as it was.
    bool AssignValue(void* dest, const void* src, const TPSTypeRec* dest_type, const TPSTypeRec* src_type);

protected:
    // The index of the current procedure, searched from the end; kNoProc
    // when there is none.
    std::uint32_t CurrentProcNo() const;

    TPSStatus status_ = TPSStatus::isNotLoaded;
    std::vector<std::unique_ptr<TPSProcRec>> procs_;
    const TPSProcRec* current_proc_ = nullptr;
    std::uint32_t position_ = 0;

private:
    void ReportErrorAt(std::uint32_t proc_no, std::uint32_t position, std::uint8_t code, const std::string& param,
                       std::exception_ptr obj);
    bool AssignUnguarded(void* dest, const void* src, const TPSTypeRec* dest_type, const TPSTypeRec* src_type);
    bool AssignToInterface(void* dest, const void* src, const TPSTypeRec* dest_type, const TPSTypeRec* src_type);
    bool AssignToDynArray(void* dest, const void* src, const TPSTypeRec* dest_type, const TPSTypeRec* src_type);
    bool AssignToVariant(void* dest, const void* src, const TPSTypeRec* src_type);

    std::unique_ptr<TPSTypeRec> return_address_type_;
    std::unique_ptr<TPSTypeRec> variant_type_;
    std::unique_ptr<TPSTypeRec_Array> variant_array_type_;

    std::uint8_t last_error_code_ = ErNoError;
    std::string last_error_param_;
    std::exception_ptr last_error_object_;
    std::uint32_t last_error_proc_ = kNoProc;
    std::uint32_t last_error_pos_ = kNoProc;
};

}  // namespace script::runtime
