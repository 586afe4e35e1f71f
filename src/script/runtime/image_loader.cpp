// Loading a compiled image into the executor: every read is bounded, every
// number that the image gives is checked before it is used, and the sizes
// of the types are checked before any value of them is made.
#include <cstring>
#include <limits>
#include <new>

#include "script/runtime/constant_reader.h"
#include "script/runtime/exec.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/value_layout.h"

namespace script::runtime {

namespace {

// Why the image is refused: the error code, its parameter, and where in
// the image it was found.
struct LoadFailure {
    std::uint8_t Code;
    std::string Param;
};

[[noreturn]] void Fail(std::uint8_t code, std::string param = {}) { throw LoadFailure{code, std::move(param)}; }

// A cursor over the image: every read first checks that its bytes remain.
class ImageCursor {
public:
    explicit ImageCursor(std::string_view data) : data_(data) {}

    std::string_view Data() const { return data_; }
    std::size_t Pos() const { return pos_; }
    std::size_t& PosRef() { return pos_; }
    std::size_t Left() const { return data_.size() - pos_; }

    std::string_view Take(std::uint64_t n) {
        if (n > Left()) Fail(erUnexpectedEof);
        const std::string_view bytes = data_.substr(pos_, static_cast<std::size_t>(n));
        pos_ += static_cast<std::size_t>(n);
        return bytes;
    }
    std::uint8_t Byte() { return static_cast<std::uint8_t>(Take(1)[0]); }
    std::uint32_t Long() { return LoadAs<std::uint32_t>(Take(4).data()); }
    // A u32-counted text whose length must not exceed limit (else code).
    std::string CountedText(std::uint32_t limit, std::uint8_t code) {
        const std::uint32_t length = Long();
        if (length > limit) Fail(code);
        return std::string(Take(length));
    }

private:
    std::string_view data_;
    std::size_t pos_ = 0;
};

}  // namespace

// Reads an image into an executor that has just been cleared; throws
// LoadFailure (or an allocation failure) at the first fault.
class ImageLoader {
public:
    ImageLoader(TPSExec& exec, std::string_view image) : exec_(exec), in_(image) {}

    std::size_t Pos() const { return in_.Pos(); }

    void Load() {
        ReadHeader();
        for (std::uint32_t i = 0; i < type_count_; ++i) exec_.types_.push_back(ReadType());
        for (std::uint32_t i = 0; i < proc_count_; ++i) exec_.procs_.push_back(ReadProc());
        for (std::uint32_t i = 0; i < var_count_; ++i) ReadVar();
        if (main_proc_ != kNoMainProc && main_proc_ >= exec_.procs_.size()) Fail(erNoMainProc);
        exec_.main_proc_ = main_proc_;
        for (const auto& type : exec_.types_) {
            if (type->BaseType != btPointer) continue;
            exec_.pointer_type_ = type.get();
            break;
        }
    }

private:
    void ReadHeader() {
        if (in_.Left() < kImageHeaderSize) Fail(erInvalidHeader);
        const std::uint32_t magic = in_.Long();
        build_ = in_.Long();
        if (magic != kImageMagic || build_ < kImageOldestBuild || build_ > kImageBuildNumber) Fail(erInvalidHeader);
        type_count_ = in_.Long();
        proc_count_ = in_.Long();
        var_count_ = in_.Long();
        main_proc_ = in_.Long();
        in_.Long();  // reserved
    }

    const TPSTypeRec* LoadedType(std::uint32_t no, std::uint8_t code) const {
        if (no >= exec_.types_.size()) Fail(code);
        return exec_.types_[no].get();
    }

    std::unique_ptr<TPSTypeRec> ReadType() {
        const std::uint8_t raw = in_.Byte();
        const bool exported = (raw & kTypeExportNameFlag) != 0;
        const auto base = static_cast<std::uint8_t>(raw & ~kTypeExportNameFlag);
        std::unique_ptr<TPSTypeRec> type;
        switch (base) {
        case btU8: case btS8: case btU16: case btS16: case btU32: case btS32: case btSingle: case btDouble:
        case btExtended: case btString: case btPointer: case btPChar: case btVariant: case btS64: case btChar:
        case btCurrency:
            type = CreateTypeRec(base);
            break;
        case btRecord: {
            auto record = std::make_unique<TPSTypeRec_Record>();
            const std::uint32_t fields = in_.Long();
            if (fields == 0) Fail(erUnexpectedEof);
            // Each field takes four bytes of the image, so the image bounds
            // the list before any count does.
            for (std::uint32_t f = 0; f < fields; ++f) record->FieldTypes.push_back(LoadedType(in_.Long(), ErOutOfRange));
            type = std::move(record);
            break;
        }
        case btArray: {
            auto array = std::make_unique<TPSTypeRec_Array>();
            array->ArrayType = LoadedType(in_.Long(), ErTypeMismatch);
            type = std::move(array);
            break;
        }
        case btProcPtr: {
            auto proc = std::make_unique<TPSTypeRec_ProcPtr>();
            proc->ParamInfo = in_.CountedText(kMaxProcSignatureLength, erUnexpectedEof);
            type = std::move(proc);
            break;
        }
        case btStaticArray: {
            auto array = std::make_unique<TPSTypeRec_StaticArray>();
            array->ArrayType = LoadedType(in_.Long(), ErTypeMismatch);
            array->Size = in_.Long();
            if (array->Size > kMaxStaticArrayCount) Fail(erUnexpectedEof);
            array->StartOffset = in_.Long();
            type = std::move(array);
            break;
        }
        case btSet: {
            auto set = std::make_unique<TPSTypeRec_Set>();
            set->BitSize = in_.Long();
            if (set->BitSize > kMaxSetBits) Fail(ErTypeMismatch);
            type = std::move(set);
            break;
        }
        case btClass: {
            auto cls = std::make_unique<TPSTypeRec_Class>();
            cls->CN = in_.CountedText(kMaxClassNameLength, erUnexpectedEof);
            type = std::move(cls);
            break;
        }
        case btInterface: {
            auto intf = std::make_unique<TPSTypeRec_Interface>();
            std::memcpy(intf->Guid.Bytes.data(), in_.Take(intf->Guid.Bytes.size()).data(), intf->Guid.Bytes.size());
            type = std::move(intf);
            break;
        }
        default:
            Fail(erInvalidType);
        }
        if (exported) {
            type->ExportName = in_.CountedText(kMaxLoadedNameLength, erInvalidType);
            type->ExportNameHash = MakeHash(type->ExportName);
        }
        // A type too large for any value of it, or nested too deep, is
        // refused here, before a value of it is ever made.
        if (!type->CalcSize()) Fail(erUnexpectedEof);
        // The values of a type's attributes are of the types before it.
        if (build_ >= kImageAttributesBuild) ReadAttributes(type->Attributes, exec_.types_.size());
        return type;
    }

    std::unique_ptr<TPSProcRec> ReadProc() {
        const std::uint8_t flags = in_.Byte();
        std::unique_ptr<TPSProcRec> proc;
        if ((flags & pfExternal) != 0) {
            auto ext = std::make_unique<TPSExternalProcRec>();
            ext->Name = std::string(in_.Take(in_.Byte()));
            if ((flags & pfExportOrDecl) != 0) {
                const std::uint32_t length = in_.Long();
                if (length > in_.Left()) Fail(erUnexpectedEof);
                ext->Decl = std::string(in_.Take(length));
            }
            if (!exec_.BindExternalProc(ext->Name, *ext)) Fail(erCannotImport, ext->Name.empty() ? ext->Decl : ext->Name);
            proc = std::move(ext);
        } else {
            auto internal = std::make_unique<TPSInternalProcRec>();
            const std::uint32_t offset = in_.Long();
            const std::uint32_t length = in_.Long();
            const std::string_view image = in_.Data();
            if (offset >= image.size() || length == 0 || std::uint64_t{offset} + length > image.size())
                Fail(erUnexpectedEof);
            internal->Code.assign(image.begin() + offset, image.begin() + offset + length);
            if ((flags & pfExportOrDecl) != 0) {
                internal->ExportName = in_.CountedText(kMaxLoadedNameLength, erUnexpectedEof);
                internal->ExportDecl = in_.CountedText(kMaxLoadedNameLength, erUnexpectedEof);
                internal->ExportNameHash = MakeHash(internal->ExportName);
            }
            proc = std::move(internal);
        }
        if ((flags & pfAttributes) != 0) ReadAttributes(proc->Attributes, exec_.types_.size());
        return proc;
    }

    void ReadVar() {
        const std::uint32_t type_no = in_.Long();
        const std::uint8_t flags = in_.Byte();
        const TPSTypeRec* type = LoadedType(type_no, erInvalidType);
        // The globals stack refuses to grow beyond the value cap in all.
        exec_.globals_.PushType(type);
        if ((flags & 1) != 0) {
            TPSExportedVar var;
            var.Name = in_.CountedText(std::numeric_limits<std::uint32_t>::max(), erUnexpectedEof);
            var.NameHash = MakeHash(var.Name);
            // The global's own number, wherever it stands among the others.
            var.Index = exec_.globals_.Count() - 1;
            exec_.exported_vars_.push_back(std::move(var));
        }
    }

    // Attributes of a type or procedure; their values may be of the first
    // type_limit types.
    void ReadAttributes(TPSRuntimeAttributes& owner, std::size_t type_limit) {
        const std::uint32_t count = in_.Long();
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t name_length = in_.Long();
            if (name_length > in_.Left()) Fail(erUnexpectedEof);
            TPSRuntimeAttribute& attribute = owner.Add(in_.Take(name_length));
            const std::uint32_t values = in_.Long();
            for (std::uint32_t v = 0; v < values; ++v) {
                const std::uint32_t type_no = in_.Long();
                if (type_no >= type_limit) Fail(erInvalidType);
                const TPSTypeRec* type = exec_.types_[type_no].get();
                if (!HasConstantForm(type->BaseType)) Fail(erInvalidType);
                void* value = attribute.AddValue(type);
                if (ReadConstantValue(in_.Data(), in_.PosRef(), type, value) != TPSConstantRead::crOk)
                    Fail(erUnexpectedEof);
            }
            // Last registered first; any of them may refuse the image.
            for (std::size_t t = exec_.attribute_types_.size(); t > 0; --t) {
                const TPSExec::AttributeType& handler = exec_.attribute_types_[t - 1];
                if (handler.NameHash != attribute.AttribTypeHash || handler.Name != attribute.AttribType) continue;
                if (!handler.Handler(exec_, attribute)) Fail(erCannotImport, attribute.AttribType);
            }
        }
    }

    TPSExec& exec_;
    ImageCursor in_;
    std::uint32_t build_ = 0;
    std::uint32_t type_count_ = 0;
    std::uint32_t proc_count_ = 0;
    std::uint32_t var_count_ = 0;
    std::uint32_t main_proc_ = kNoMainProc;
};

bool TPSExec::LoadImage(std::string_view image) {
    RequireNoRun("load a script");
    Clear();
    ImageLoader loader(*this, image);
    try {
        loader.Load();
    } catch (const LoadFailure& f) {
        ReportErrorAt(kNoProc, static_cast<std::uint32_t>(loader.Pos()), f.Code, f.Param, nullptr);
        Clear();
        return false;
    } catch (...) {
        // Out of memory, or a failure raised by a host's binder or
        // attribute handler.
        ReportException(std::current_exception());
        Clear();
        return false;
    }
    status_ = TPSStatus::isLoaded;
    return true;
}

}  // namespace script::runtime
