// Loading compiled images: real plug-ins, every check of the tables, the
// binding of imports, attributes, and images damaged in every way.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "exec_test_support.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/value_access.h"

namespace script::runtime {
namespace {

using test_support::PSImage;
using testing::CompileOk;
using testing::EmptyImage;
using testing::PlainType;
using testing::RegisterStubs;
using testing::WriteImage;

std::map<std::string, std::string> PluginFiles() {
    const std::filesystem::path root = std::string(VOSTREL_SOURCE_DIR_DEFAULT) + "/tests/script/compiler";
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root / "plugins")) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        files[entry.path().lexically_relative(root).generic_string()] = text.str();
    }
    return files;
}

// Every plug-in compiled as the plug-in host compiles it, by file name.
const std::map<std::string, std::string>& PluginImages() {
    static const std::map<std::string, std::string> images = [] {
        std::map<std::string, std::string> out;
        const auto files = PluginFiles();
        for (const auto& [name, text] : files) {
            if (!name.ends_with(".pas")) continue;
            auto r = compiler::testing::CompilePlugin(text, name, files);
            EXPECT_TRUE(r.Ok) << name << "\n" << r.AllMessages();
            out[name] = r.Image;
        }
        return out;
    }();
    return images;
}

std::string ErrorText(const TPSExec& exec) { return PSErrorText(exec.LastErrorCode(), exec.LastErrorParam()); }

TEST(image_loader, every_plugin_loads_with_its_imports_bound_and_the_host_variables_first) {
    ASSERT_GE(PluginImages().size(), 30u);
    std::set<std::string> imports;
    for (const auto& [name, image] : PluginImages()) {
        SCOPED_TRACE(name);
        const PSImage parsed = test_support::ReadImage(image);
        TPSExec exec;
        // Nothing registered: the first import is what the load stops at.
        EXPECT_FALSE(exec.LoadImage(image));
        EXPECT_EQ(exec.LastErrorCode(), erCannotImport);
        EXPECT_EQ(exec.Status(), TPSStatus::isNotLoaded);
        EXPECT_EQ(exec.TypeCount(), 0u);

        RegisterStubs(exec, parsed);
        ASSERT_TRUE(exec.LoadImage(image)) << ErrorText(exec);
        EXPECT_EQ(exec.Status(), TPSStatus::isLoaded);
        EXPECT_EQ(exec.TypeCount(), parsed.Types.size());
        EXPECT_EQ(exec.ProcCount(), parsed.Procs.size());
        EXPECT_EQ(exec.Globals().Count(), parsed.Vars.size());
        EXPECT_EQ(exec.MainProcNo(), parsed.MainProc);
        for (std::uint32_t i = 0; i < exec.ProcCount(); ++i) {
            TPSProcRec* proc = exec.GetProc(i);
            if (parsed.Procs[i].External) {
                ASSERT_TRUE(proc->IsExternal());
                EXPECT_TRUE(static_cast<bool>(AsExternal(*proc).Handler)) << parsed.Procs[i].Name;
                imports.insert(parsed.Procs[i].Name);
            } else {
                ASSERT_TRUE(proc->IsInternal());
                EXPECT_EQ(AsInternal(*proc).Code.size(), parsed.Procs[i].Code.size());
                EXPECT_EQ(AsInternal(*proc).ExportName, parsed.Procs[i].ExportName);
            }
        }
        // TD, RD and RD2 are the host's strings, globals 0 to 2.
        ASSERT_GE(exec.ExportedVars().size(), 3u);
        const char* names[] = {"TD", "RD", "RD2"};
        for (std::uint32_t i = 0; i < 3; ++i) {
            EXPECT_EQ(exec.ExportedVars()[i].Name, names[i]);
            EXPECT_EQ(exec.ExportedVars()[i].NameHash, MakeHash(names[i]));
            ASSERT_EQ(exec.ExportedVars()[i].Index, i);
            void* item = exec.Globals().GetItem(i);
            EXPECT_EQ(TypeOfTypedValue(item)->BaseType, btString);
            PSSetVarString(item, "data");
            EXPECT_EQ(PSGetVarString(item), "data");
        }
    }
    // The plug-ins reach library functions and built-ins alike.
    for (const char* name : {"SEND", "ADDMSG", "FORMAT", "LENGTH", "COPY"}) EXPECT_TRUE(imports.count(name)) << name;
}

TEST(image_loader, header_build_and_main_procedure_are_checked) {
    const auto compiled = CompileOk("var i: Integer; s: string; begin i := 1; s := 'x'; end.");
    struct {
        const char* what;
        std::function<void(PSImage&)> change;
        std::uint8_t error;
    } cases[] = {
        {"build 11", [](PSImage& i) { i.Build = 11; }, erInvalidHeader},
        {"build 24", [](PSImage& i) { i.Build = 24; }, erInvalidHeader},
        {"build 12, without attributes", [](PSImage& i) { i.Build = 12; }, ErNoError},
        {"build 20, without attributes", [](PSImage& i) { i.Build = 20; }, ErNoError},
        {"build 23", [](PSImage& i) { i.Build = 23; }, ErNoError},
        {"no main procedure", [](PSImage& i) { i.MainProc = kNoMainProc; }, ErNoError},
        {"main procedure beyond the list", [](PSImage& i) { i.MainProc = static_cast<std::uint32_t>(i.Procs.size()); },
         erNoMainProc},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PSImage image = compiled.Parsed;
        c.change(image);
        TPSExec exec;
        EXPECT_EQ(exec.LoadImage(WriteImage(image)), c.error == ErNoError);
        EXPECT_EQ(exec.LastErrorCode(), c.error) << ErrorText(exec);
        EXPECT_EQ(exec.Status(), c.error == ErNoError ? TPSStatus::isLoaded : TPSStatus::isNotLoaded);
        if (c.error != ErNoError) {
            EXPECT_EQ(exec.TypeCount(), 0u);
            EXPECT_EQ(exec.Globals().Count(), 0u);
        } else {
            EXPECT_EQ(exec.MainProcNo(), image.MainProc);
        }
    }
    TPSExec exec;
    std::string image = compiled.Image;
    image[0] = 'X';
    EXPECT_FALSE(exec.LoadImage(image));
    EXPECT_EQ(exec.LastErrorCode(), erInvalidHeader);
    EXPECT_FALSE(exec.LoadImage(compiled.Image.substr(0, kImageHeaderSize - 1)));
    EXPECT_EQ(exec.LastErrorCode(), erInvalidHeader);
    EXPECT_EQ(ErrorText(exec), "Invalid Header");
}

TEST(image_loader, type_entries_are_checked_before_any_value_is_made) {
    auto with = [](std::function<void(PSImage&)> build) {
        PSImage image = EmptyImage();
        image.Types.push_back(PlainType(btU8));
        image.Types.push_back(PlainType(btU32));
        build(image);
        // One global of the last type, so a type that is accepted is used.
        image.Vars.push_back({static_cast<std::uint32_t>(image.Types.size() - 1), false, {}});
        TPSExec exec;
        exec.LoadImage(WriteImage(image));
        return exec.LastErrorCode();
    };
    auto record = [](std::vector<std::uint32_t> fields) {
        auto t = PlainType(btRecord);
        t.FieldTypes = std::move(fields);
        return t;
    };
    auto static_array = [](std::uint32_t element, std::uint32_t count) {
        auto t = PlainType(btStaticArray);
        t.ElementType = element;
        t.ElementCount = count;
        return t;
    };
    auto set = [](std::uint32_t bits) {
        auto t = PlainType(btSet);
        t.SetBits = bits;
        return t;
    };
    EXPECT_EQ(with([&](PSImage& i) { i.Types.push_back(record({0, 1, 0})); }), ErNoError);
    EXPECT_EQ(with([&](PSImage& i) { i.Types.push_back(record({})); }), erUnexpectedEof);
    EXPECT_EQ(with([&](PSImage& i) { i.Types.push_back(record({0, 2})); }), ErOutOfRange);  // itself
    EXPECT_EQ(with([&](PSImage& i) {
                  auto a = PlainType(btArray);
                  a.ElementType = 2;
                  i.Types.push_back(a);
              }),
              ErTypeMismatch);
    EXPECT_EQ(with([&](PSImage& i) { i.Types.push_back(set(256)); }), ErNoError);
    EXPECT_EQ(with([&](PSImage& i) { i.Types.push_back(set(257)); }), ErTypeMismatch);
    EXPECT_EQ(with([&](PSImage& i) { i.Types.push_back(static_array(0, 0x1000)); }), ErNoError);
    EXPECT_EQ(with([&](PSImage& i) { i.Types.push_back(static_array(0, 0x20000000)); }), erUnexpectedEof);
    EXPECT_EQ(with([&](PSImage& i) { i.Types.push_back(static_array(2, 0x20000000)); }), ErTypeMismatch);
    // Within the element limit but beyond what a value may take: refused
    // as the image's fault, not made.
    EXPECT_EQ(with([&](PSImage& i) { i.Types.push_back(static_array(1, 0x1FFFFFFF)); }), erUnexpectedEof);
    EXPECT_EQ(with([&](PSImage& i) {
                  i.Types.push_back(static_array(1, 0x1000000));  // 64 MiB
                  i.Types.push_back(record({2, 2, 2, 2, 2}));     // 320 MiB
              }),
              erUnexpectedEof);
    // Nesting too deep for the value routines to walk.
    EXPECT_EQ(with([&](PSImage& i) {
                  for (std::uint32_t n = 1; n < 300; ++n) i.Types.push_back(record({n}));
              }),
              erUnexpectedEof);
    for (std::uint8_t code : {0, 15, 19, 20, 27, 127}) {
        EXPECT_EQ(with([&](PSImage& i) { i.Types.push_back(PlainType(code)); }), erInvalidType) << int(code);
    }
    EXPECT_EQ(with([&](PSImage& i) {
                  auto p = PlainType(btProcPtr);
                  p.ProcSignature = std::string(255, '\0');
                  i.Types.push_back(p);
              }),
              ErNoError);
    EXPECT_EQ(with([&](PSImage& i) {
                  auto p = PlainType(btProcPtr);
                  p.ProcSignature = std::string(256, '\0');
                  i.Types.push_back(p);
              }),
              erUnexpectedEof);
    EXPECT_EQ(with([&](PSImage& i) {
                  auto c = PlainType(btClass);
                  c.ClassName = std::string(256, 'C');
                  i.Types.push_back(c);
              }),
              erUnexpectedEof);

    // An export name longer than any name may be is an invalid type; the
    // image need not even hold it.
    PSImage image = EmptyImage();
    std::string bytes = WriteImage(image);
    bytes[8] = 1;  // one type
    bytes += std::string(1, char(btU8 | kTypeExportNameFlag)) + std::string("\x01\x00\x00\x40", 4);
    TPSExec exec;
    EXPECT_FALSE(exec.LoadImage(bytes));
    EXPECT_EQ(exec.LastErrorCode(), erInvalidType);

    // What the loader builds for each kind.
    image = EmptyImage();
    image.Types.push_back(PlainType(btU8));
    image.Types.push_back(PlainType(btExtended));
    image.Types.push_back(record({0, 1, 0}));
    image.Types.push_back(static_array(1, 3));
    image.Types.back().StartOffset = 5;
    image.Types.push_back(set(9));
    auto intf = PlainType(btInterface);
    intf.Guid = {0x11223344, 0x55667788, 0x99AABBCC, 0xDDEEFF00};
    intf.HasExportName = true;
    intf.ExportName = "IDISPATCH";
    image.Types.push_back(intf);
    ASSERT_TRUE(exec.LoadImage(WriteImage(image))) << ErrorText(exec);
    EXPECT_EQ(exec.GetType(2)->RealSize, 12u);
    EXPECT_EQ(AsRecord(exec.GetType(2)).FieldOffsets, (std::vector<std::uint32_t>{0, 1, 11}));
    EXPECT_EQ(exec.GetType(3)->RealSize, 30u);
    EXPECT_EQ(AsStaticArray(exec.GetType(3)).StartOffset, 5u);
    EXPECT_EQ(AsSet(exec.GetType(4)).ByteSize, 2u);
    EXPECT_EQ(exec.GetType(5)->ExportName, "IDISPATCH");
    EXPECT_EQ(exec.GetType(5)->ExportNameHash, MakeHash("IDISPATCH"));
    EXPECT_EQ(AsInterface(exec.GetType(5)).Guid.Bytes[0], 0x44);
    EXPECT_EQ(AsInterface(exec.GetType(5)).Guid.Bytes[15], 0xDD);
}

// A binder for "intf:" imports that remembers what it was offered.
struct Binder {
    std::vector<std::string> offered;
    bool accept = true;
};

bool BindInterfaceCall(TPSExec&, TPSExternalProcRec& proc, void* tag) {
    auto* b = static_cast<Binder*>(tag);
    b->offered.push_back(proc.Decl);
    if (!b->accept) return false;
    proc.Ext1 = 77;
    proc.Handler = [](TPSExec&, TPSExternalProcRec&, TPSStack&, TPSStack&) { return true; };
    return true;
}

bool BindAnything(TPSExec& exec, TPSExternalProcRec& proc, void* tag) { return BindInterfaceCall(exec, proc, tag); }

TEST(image_loader, imports_bind_by_name_or_through_the_special_import_of_their_declaration) {
    PSImage image = EmptyImage();
    test_support::PSProc named;
    named.Flags = pfExternal | pfExportOrDecl;
    named.External = true;
    named.Name = "HOSTFUNC";
    named.Decl = std::string("\x01\x00", 2);
    test_support::PSProc nameless;
    nameless.Flags = pfExternal | pfExportOrDecl;
    nameless.External = true;
    nameless.Decl = std::string("intf:.\x03\x00\x00\x00\x03\x01\x00", 13);
    image.Procs = {named, nameless};
    const std::string bytes = WriteImage(image);

    TPSExec exec;
    EXPECT_FALSE(exec.LoadImage(bytes));
    EXPECT_EQ(ErrorText(exec), "Cannot Import HOSTFUNC");
    // Later registrations of a name win; the name is matched in upper case.
    exec.RegisterFunction("hostfunc", {}, 1, 2);
    TPSRegisteredFunction& last = exec.RegisterFunction("HostFunc", {}, 3, 4);
    EXPECT_EQ(last.Name, "HOSTFUNC");
    EXPECT_FALSE(exec.LoadImage(bytes));
    EXPECT_EQ(ErrorText(exec), "Cannot Import intf:.");  // the name before the first control byte

    Binder other, intf, declining;
    declining.accept = false;
    exec.RegisterSpecialProcImport("class", BindInterfaceCall, &other);
    exec.RegisterSpecialProcImport("intf", BindInterfaceCall, &intf);
    exec.RegisterSpecialProcImport("intf", BindAnything, &declining);
    ASSERT_TRUE(exec.LoadImage(bytes)) << ErrorText(exec);
    auto& host = AsExternal(*exec.GetProc(0));
    EXPECT_EQ(host.Name, "HOSTFUNC");
    EXPECT_EQ(host.Ext1, 3u);
    EXPECT_EQ(host.Ext2, 4u);
    auto& call = AsExternal(*exec.GetProc(1));
    EXPECT_EQ(call.Decl, nameless.Decl);
    EXPECT_EQ(call.Ext1, 77u);
    // Offered from the last registered: the declining one first.
    EXPECT_EQ(declining.offered, std::vector<std::string>{nameless.Decl});
    EXPECT_EQ(intf.offered, std::vector<std::string>{nameless.Decl});
    EXPECT_TRUE(other.offered.empty());
    EXPECT_EQ(exec.FindSpecialProcImport(BindInterfaceCall), &intf);
    EXPECT_EQ(exec.FindSpecialProcImport(BindAnything), &declining);
    EXPECT_EQ(exec.FindSpecialProcImport(nullptr), nullptr);

    // A binder without a name is offered every nameless import, also one
    // whose declaration has no ":" at all.
    TPSExec any;
    Binder all;
    any.RegisterSpecialProcImport("", BindAnything, &all);
    any.RegisterFunction("HOSTFUNC", {});
    image.Procs[1].Decl = "class:TFoo|Bar";
    ASSERT_TRUE(any.LoadImage(WriteImage(image))) << ErrorText(any);
    image.Procs[1].Decl = "plain";
    ASSERT_TRUE(any.LoadImage(WriteImage(image))) << ErrorText(any);
    EXPECT_EQ(all.offered, (std::vector<std::string>{"class:TFoo|Bar", "plain"}));
    // Without one, a host-class call is not imported.
    TPSExec plain;
    plain.RegisterFunction("HOSTFUNC", {});
    image.Procs[1].Decl = "class:TFoo|Bar";
    EXPECT_FALSE(plain.LoadImage(WriteImage(image)));
    EXPECT_EQ(ErrorText(plain), "Cannot Import class:TFoo|Bar");

    // A binder that raises fails the load with the host's message.
    TPSExec raising;
    raising.RegisterSpecialProcImport(
        "", [](TPSExec&, TPSExternalProcRec&, void*) -> bool { throw EPSError("no binding today"); }, nullptr);
    raising.RegisterFunction("HOSTFUNC", {});
    EXPECT_FALSE(raising.LoadImage(WriteImage(image)));
    EXPECT_EQ(ErrorText(raising), "Exception: no binding today");
    EXPECT_EQ(raising.Status(), TPSStatus::isNotLoaded);
}

TEST(image_loader, procedure_code_ranges_and_export_texts_are_checked) {
    const auto compiled = CompileOk("procedure P(a: Integer; var s: string); begin s := 'x'; end; begin end.");
    const std::string& image = compiled.Image;
    const test_support::PSProc& parsed = compiled.Parsed.ProcNamed("P");
    const std::uint32_t no = static_cast<std::uint32_t>(&parsed - compiled.Parsed.Procs.data());
    TPSExec exec;
    ASSERT_TRUE(exec.LoadImage(image));
    const auto& p = AsInternal(*exec.GetProc(no));
    EXPECT_EQ(p.ExportName, "P");
    EXPECT_EQ(p.ExportNameHash, MakeHash("P"));
    EXPECT_EQ(p.ExportDecl, parsed.ExportDecl);
    EXPECT_EQ(std::string(p.Code.begin(), p.Code.end()), parsed.Code);

    // The code offset and length words of P follow its flag byte.
    std::size_t at = 0;
    for (std::size_t i = 0; i + 8 < image.size(); ++i) {
        if (static_cast<std::uint8_t>(image[i]) == pfExportOrDecl &&
            LoadAs<std::uint32_t>(image.data() + i + 1) == parsed.CodeOffset &&
            LoadAs<std::uint32_t>(image.data() + i + 5) == parsed.CodeLength) {
            at = i + 1;
            break;
        }
    }
    ASSERT_NE(at, 0u);
    auto patched = [&](std::uint32_t offset, std::uint32_t length) {
        std::string bytes = image;
        std::memcpy(bytes.data() + at, &offset, 4);
        std::memcpy(bytes.data() + at + 4, &length, 4);
        return bytes;
    };
    const auto size = static_cast<std::uint32_t>(image.size());
    EXPECT_TRUE(exec.LoadImage(patched(size - 1, 1)));
    for (auto [offset, length] : {std::pair<std::uint32_t, std::uint32_t>{size, 1}, {0, 0}, {size - 1, 2},
                                  {0x80000000u, 1}, {1, 0xFFFFFFFFu}}) {
        EXPECT_FALSE(exec.LoadImage(patched(offset, length))) << offset << "+" << length;
        EXPECT_EQ(exec.LastErrorCode(), erUnexpectedEof);
    }
}

TEST(image_loader, globals_are_made_of_their_types_and_exported_ones_keep_their_own_number) {
    PSImage image = EmptyImage();
    image.Types = {PlainType(btS32), PlainType(btString)};
    image.Vars = {{0, false, {}}, {0, false, {}}, {1, true, "LATE"}, {1, true, "LAST"}};
    TPSExec exec;
    ASSERT_TRUE(exec.LoadImage(WriteImage(image))) << ErrorText(exec);
    ASSERT_EQ(exec.ExportedVars().size(), 2u);
    // Named by the global's own number, not by its place among the exported.
    EXPECT_EQ(exec.ExportedVars()[0].Name, "LATE");
    EXPECT_EQ(exec.ExportedVars()[0].Index, 2u);
    EXPECT_EQ(exec.ExportedVars()[1].Index, 3u);
    void* late = exec.Globals().GetItem(exec.ExportedVars()[0].Index);
    EXPECT_EQ(TypeOfTypedValue(late), exec.GetType(1));
    EXPECT_EQ(PSGetVarString(late), "");

    image.Vars.push_back({2, false, {}});
    EXPECT_FALSE(exec.LoadImage(WriteImage(image)));
    EXPECT_EQ(exec.LastErrorCode(), erInvalidType);

    // Globals together stay within what one value may take.
    image = EmptyImage();
    image.Types = {PlainType(btU8), PlainType(btStaticArray)};
    image.Types[1].ElementType = 0;
    image.Types[1].ElementCount = 150u << 20;
    image.Vars = {{1, false, {}}};
    ASSERT_TRUE(exec.LoadImage(WriteImage(image))) << ErrorText(exec);
    image.Vars.push_back({1, false, {}});
    EXPECT_FALSE(exec.LoadImage(WriteImage(image)));
    EXPECT_EQ(exec.LastErrorCode(), erOutOfMemory);
    EXPECT_EQ(exec.Globals().Count(), 0u);
}

// The attribute type Version(Major: Cardinal; Name: String; Price:
// Currency), a Marker without fields, and the Currency constants Price (1.5)
// and Refund (-0.0001).
void AttributeHost(compiler::TPSPascalCompiler& c) {
    c.OnUses = [](compiler::TPSPascalCompiler& comp, const std::string& name) {
        if (name != "SYSTEM") return false;
        compiler::TPSAttributeType* version = comp.AddAttributeType("Version");
        version->Fields.push_back({comp.FindType("Cardinal"), false});
        version->Fields.push_back({comp.FindType("String"), false});
        version->Fields.push_back({comp.FindType("Currency"), false});
        comp.AddAttributeType("Marker");
        comp.AddConstantN("Price", "Currency")->Value->tcurrency = 15000;
        comp.AddConstantN("Refund", "Currency")->Value->tcurrency = -1;
        return true;
    };
}

const TPSProcRec* ProcNamed(const TPSExec& exec, std::string_view name) {
    for (std::uint32_t i = 0; i < exec.ProcCount(); ++i) {
        const TPSProcRec* p = exec.GetProc(i);
        if (p->IsInternal() && AsInternal(*p).ExportName == name) return p;
    }
    return nullptr;
}

TEST(image_loader, attributes_load_with_their_values_and_may_be_refused_by_their_handlers) {
    const auto compiled = CompileOk(
        "type [Version(7, 'name', Price)] TR = record a: Byte; end;\n"
        "[Marker()] procedure Q; begin end;\n"
        "[Version(2, 'p', Refund)] procedure P; begin end; var v: TR; begin P; Q; end.",
        AttributeHost);
    TPSExec exec;
    std::vector<std::string> seen;
    exec.RegisterAttributeType("version", [&](TPSExec&, const TPSRuntimeAttribute& a) {
        seen.push_back(a.AttribType + "/" + std::to_string(a.Values.size()));
        return true;
    });
    ASSERT_TRUE(exec.LoadImage(compiled.Image)) << ErrorText(exec);
    EXPECT_EQ(seen, (std::vector<std::string>{"VERSION/3", "VERSION/3"}));

    const TPSTypeRec* tr = TypeOfTypedValue(exec.Globals().GetItem(0));
    ASSERT_EQ(tr->Attributes.Count(), 1u);
    const TPSRuntimeAttribute& version = tr->Attributes[0];
    EXPECT_EQ(version.AttribTypeHash, MakeHash("VERSION"));
    auto value = [](const TPSRuntimeAttribute& a, std::size_t i) {
        return std::pair{ValueOfTypedValue(a.Values.at(i).get()), TypeOfTypedValue(a.Values.at(i).get())};
    };
    EXPECT_EQ(PSReadUInt(value(version, 0).first, value(version, 0).second), 7u);
    EXPECT_EQ(PSReadString(value(version, 1).first, value(version, 1).second), "name");
    // Currency values are stored scaled, in eight bytes.
    EXPECT_EQ(value(version, 2).second->BaseType, btCurrency);
    EXPECT_EQ(LoadAs<std::int64_t>(value(version, 2).first), 15000);

    const TPSProcRec* q = ProcNamed(exec, "Q");
    ASSERT_NE(q, nullptr);
    ASSERT_EQ(q->Attributes.Count(), 1u);
    EXPECT_EQ(q->Attributes[0].AttribType, "MARKER");
    EXPECT_EQ(q->Attributes[0].Values.size(), 0u);
    const TPSProcRec* p = ProcNamed(exec, "P");
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->Attributes.Count(), 1u);
    EXPECT_EQ(PSReadString(value(p->Attributes[0], 1).first, value(p->Attributes[0], 1).second), "p");
    EXPECT_EQ(LoadAs<std::int64_t>(value(p->Attributes[0], 2).first), -1);

    // A handler that refuses an attribute refuses the image.
    TPSExec refusing;
    refusing.RegisterAttributeType("Marker", [](TPSExec&, const TPSRuntimeAttribute&) { return false; });
    EXPECT_FALSE(refusing.LoadImage(compiled.Image));
    EXPECT_EQ(ErrorText(refusing), "Cannot Import MARKER");
    EXPECT_EQ(refusing.Status(), TPSStatus::isNotLoaded);

    // A type's attribute values must be of the types before it; a value of
    // a type without constants is refused.
    PSImage image = EmptyImage();
    image.Types = {PlainType(btU8), PlainType(btU8)};
    image.Types[1].Attributes.push_back({"A", {test_support::PSConstant{1, btU8, "\x05", {}}}});
    EXPECT_FALSE(exec.LoadImage(WriteImage(image)));
    EXPECT_EQ(exec.LastErrorCode(), erInvalidType);
    image.Types[1].Attributes[0].Values[0].TypeNo = 0;
    EXPECT_TRUE(exec.LoadImage(WriteImage(image))) << ErrorText(exec);
    image.Types.insert(image.Types.begin(), PlainType(btVariant));
    image.Types[2].Attributes[0].Values[0].TypeNo = 0;
    EXPECT_FALSE(exec.LoadImage(WriteImage(image)));
    EXPECT_EQ(exec.LastErrorCode(), erInvalidType);
}

void CountCleanup(TPSExec&, void* data) { static_cast<std::vector<int>*>(data)->push_back(1); }
void OtherCleanup(TPSExec&, void* data) { static_cast<std::vector<int>*>(data)->push_back(2); }

TEST(image_loader, clear_reset_stop_pause_and_clean_up_procedures) {
    const auto compiled = CompileOk("var s: string; i: Integer; begin end.");
    testing::StepExec exec;
    ASSERT_TRUE(exec.LoadImage(compiled.Image));
    PSSetVarString(exec.Globals().GetItem(0), "held");
    StoreAs(ValueOfTypedValue(exec.Globals().GetItem(1)), std::int32_t{5});
    exec.RunStack().PushType(exec.GetType(0));

    // Resetting works only in the loaded state.
    exec.SetStatus(TPSStatus::isRunning);
    exec.ResetGlobals();
    EXPECT_EQ(PSGetVarString(exec.Globals().GetItem(0)), "held");
    exec.Pause();
    EXPECT_EQ(exec.Status(), TPSStatus::isPaused);
    exec.Pause();
    EXPECT_EQ(exec.Status(), TPSStatus::isPaused);
    exec.Stop();  // a paused run drops its stack
    EXPECT_EQ(exec.Status(), TPSStatus::isLoaded);
    EXPECT_EQ(exec.RunStack().Count(), 0u);
    exec.RunStack().PushType(exec.GetType(0));
    exec.SetStatus(TPSStatus::isRunning);
    exec.Stop();
    EXPECT_EQ(exec.Status(), TPSStatus::isLoaded);
    EXPECT_EQ(exec.RunStack().Count(), 1u);
    exec.ResetGlobals();
    EXPECT_EQ(exec.RunStack().Count(), 0u);
    EXPECT_EQ(PSGetVarString(exec.Globals().GetItem(0)), "");
    EXPECT_EQ(LoadAs<std::int32_t>(ValueOfTypedValue(exec.Globals().GetItem(1))), 0);

    std::vector<int> calls;
    exec.AddCleanupProc(CountCleanup, &calls);
    exec.AddCleanupProc(OtherCleanup, &calls);
    exec.AddCleanupProc(CountCleanup, &calls);
    std::int32_t index = 100;  // beyond the last: lowered to it
    EXPECT_EQ(exec.FindCleanupProc(CountCleanup, index), &calls);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(exec.FindCleanupProc(CountCleanup, index), &calls);
    EXPECT_EQ(index, -1);
    index = 1;
    EXPECT_EQ(exec.FindCleanupProc(OtherCleanup, index), &calls);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(exec.FindCleanupProc(OtherCleanup, index), nullptr);
    EXPECT_EQ(index, -1);

    // Loading another image unloads the first completely, its clean-up
    // procedures called last first.
    const auto second = CompileOk("var a, b, c: Byte; begin end.");
    ASSERT_TRUE(exec.LoadImage(second.Image));
    EXPECT_EQ(calls, (std::vector<int>{1, 2, 1}));
    EXPECT_EQ(exec.Globals().Count(), 3u);
    EXPECT_EQ(TypeOfTypedValue(exec.Globals().GetItem(2))->BaseType, btU8);
    index = 0;
    EXPECT_EQ(exec.FindCleanupProc(CountCleanup, index), nullptr);
    exec.Clear();
    EXPECT_EQ(exec.Status(), TPSStatus::isNotLoaded);
    EXPECT_EQ(exec.TypeCount() + exec.ProcCount() + exec.Globals().Count(), 0u);
    EXPECT_EQ(calls.size(), 3u);

    // The executor's end frees the registered functions last first, each
    // hook told before its record goes.
    std::vector<std::string> freed;
    {
        TPSExec owner;
        for (const char* name : {"first", "second"})
            owner.RegisterFunction(name, {}).FreeHook = [&](TPSExec&, TPSRegisteredFunction& f) {
                freed.push_back(f.Name);
            };
        owner.AddCleanupProc(CountCleanup, &calls);
    }
    EXPECT_EQ(freed, (std::vector<std::string>{"SECOND", "FIRST"}));
    EXPECT_EQ(calls.size(), 4u);
}

// Images damaged at every byte: each is refused with a loader code or
// loads, and nothing crashes or leaks (the test build checks both).
TEST(image_loader, damaged_images_are_refused_or_load_and_never_crash) {
    const std::set<std::uint8_t> loader_codes = {erCannotImport, erInvalidType,   erInvalidHeader, erNoMainProc,
                                                 ErOutOfRange,   ErTypeMismatch,  erUnexpectedEof, erOutOfMemory};
    for (const char* plugin : {"plugins/poller.pas", "plugins/variable_store.pas", "plugins/money_meter.pas"}) {
        SCOPED_TRACE(plugin);
        const std::string& image = PluginImages().at(plugin);
        const PSImage parsed = test_support::ReadImage(image);
        std::size_t tables_end = image.size();
        for (const auto& p : parsed.Procs)
            if (!p.External) tables_end = std::min<std::size_t>(tables_end, p.CodeOffset);

        TPSExec exec;
        RegisterStubs(exec, parsed);
        auto check = [&](const std::string& bytes, const std::string& what) {
            if (exec.LoadImage(bytes)) {
                EXPECT_EQ(exec.Status(), TPSStatus::isLoaded) << what;
                return;
            }
            EXPECT_TRUE(loader_codes.count(exec.LastErrorCode())) << what << ": " << ErrorText(exec);
            EXPECT_EQ(exec.Status(), TPSStatus::isNotLoaded) << what;
            EXPECT_EQ(exec.TypeCount() + exec.ProcCount() + exec.Globals().Count(), 0u) << what;
        };
        for (std::size_t n = 0; n < image.size(); ++n) {
            EXPECT_FALSE(exec.LoadImage(image.substr(0, n))) << "cut at " << n;
            EXPECT_EQ(exec.LastErrorCode(), n < kImageHeaderSize ? erInvalidHeader : erUnexpectedEof) << "cut at " << n;
        }
        for (std::size_t at = 0; at < tables_end; ++at) {
            for (std::uint8_t change : {0x01, 0x80, 0xFF}) {
                std::string bytes = image;
                bytes[at] = static_cast<char>(bytes[at] ^ change);
                check(bytes, "byte " + std::to_string(at) + " ^ " + std::to_string(change));
            }
            std::string bytes = image;
            bytes[at] = 0;
            check(bytes, "byte " + std::to_string(at) + " = 0");
        }
        ASSERT_TRUE(exec.LoadImage(image));
    }
}

}  // namespace
}  // namespace script::runtime
