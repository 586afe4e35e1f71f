// Loading compiled images: real plug-ins, every check of the tables, the
// binding of imports, attributes, and images damaged in every way.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "exec_test_support.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/value_access.h"

namespace script::runtime {
namespace {

using testing::PluginFiles;

using test_support::PSImage;
using testing::CompileOk;
using testing::EmptyImage;
using testing::PlainType;
using testing::RegisterStubs;
using testing::WriteImage;

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
                EXPECT_EQ(AsInternal(*proc).ExportNameHash, MakeHash(parsed.Procs[i].ExportName));
                EXPECT_EQ(AsInternal(*proc).ExportDecl, parsed.Procs[i].ExportDecl);
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

// A type entry: record fields or an array's element type in parts; a
// static array's count or a set's bits in count; a signature or class name
// in text.
test_support::PSType Make(std::uint8_t base, std::vector<std::uint32_t> parts = {}, std::uint32_t count = 0,
                          std::string text = {}) {
    auto t = PlainType(base);
    if (base == btRecord) t.FieldTypes = parts;
    if (!parts.empty()) t.ElementType = parts[0];
    t.ElementCount = count;
    t.SetBits = count;
    t.ProcSignature = text;
    t.ClassName = text;
    return t;
}

TEST(image_loader, header_and_type_entries_are_checked_before_any_value_is_made) {
    const auto compiled = CompileOk("var i: Integer; s: string; begin i := 1; s := 'x'; end.");
    for (auto [build, error] : {std::pair<std::uint32_t, std::uint8_t>{11, erInvalidHeader}, {12, ErNoError},
                                {20, ErNoError}, {23, ErNoError}, {24, erInvalidHeader}}) {
        PSImage image = compiled.Parsed;
        image.Build = build;  // attributes are written from build 21 on
        TPSExec exec;
        EXPECT_EQ(exec.LoadImage(WriteImage(image)), error == ErNoError) << build;
        EXPECT_EQ(exec.LastErrorCode(), error) << build;
        EXPECT_EQ(exec.Status(), error == ErNoError ? TPSStatus::isLoaded : TPSStatus::isNotLoaded) << build;
    }
    PSImage image = compiled.Parsed;
    TPSExec exec;
    image.MainProc = kNoMainProc;
    ASSERT_TRUE(exec.LoadImage(WriteImage(image)));
    EXPECT_EQ(exec.MainProcNo(), kNoMainProc);
    image.MainProc = static_cast<std::uint32_t>(image.Procs.size());
    EXPECT_FALSE(exec.LoadImage(WriteImage(image)));
    EXPECT_EQ(ErrorText(exec), "no Main Proc");
    EXPECT_EQ(exec.TypeCount() + exec.Globals().Count(), 0u);
    EXPECT_FALSE(exec.LoadImage("XFPS" + compiled.Image.substr(4)));
    EXPECT_EQ(ErrorText(exec), "Invalid Header");
    EXPECT_FALSE(exec.LoadImage(compiled.Image.substr(0, kImageHeaderSize - 1)));
    EXPECT_EQ(exec.LastErrorCode(), erInvalidHeader);

    // After types 0 (U8) and 1 (U32), the types of a case and one global of
    // the last of them.
    std::vector<test_support::PSType> nested;
    for (std::uint32_t n = 1; n < 300; ++n) nested.push_back(Make(btRecord, {n}));
    const struct {
        const char* what;
        std::vector<test_support::PSType> types;
        std::uint8_t error;
    } cases[] = {
        {"record", {Make(btRecord, {0, 1, 0})}, ErNoError},
        {"record without fields", {Make(btRecord)}, erUnexpectedEof},
        {"record of itself", {Make(btRecord, {0, 2})}, ErOutOfRange},
        {"array of itself", {Make(btArray, {2})}, ErTypeMismatch},
        {"256-bit set", {Make(btSet, {}, 256)}, ErNoError},
        {"257-bit set", {Make(btSet, {}, 257)}, ErTypeMismatch},
        {"static array", {Make(btStaticArray, {0}, 0x1000)}, ErNoError},
        {"0x20000000 elements", {Make(btStaticArray, {0}, 0x20000000)}, erUnexpectedEof},
        {"later element type", {Make(btStaticArray, {2}, 1)}, ErTypeMismatch},
        // Counts the image format allows, sizes no value may have: refused
        // as the image's fault before anything is made.
        {"2 GiB static array", {Make(btStaticArray, {1}, 0x1FFFFFFF)}, erUnexpectedEof},
        {"320 MiB record", {Make(btStaticArray, {1}, 0x1000000), Make(btRecord, {2, 2, 2, 2, 2})}, erUnexpectedEof},
        {"nesting too deep to walk", nested, erUnexpectedEof},
        {"signature of 255", {Make(btProcPtr, {}, 0, std::string(255, '\0'))}, ErNoError},
        {"signature of 256", {Make(btProcPtr, {}, 0, std::string(256, '\0'))}, erUnexpectedEof},
        {"class name of 256", {Make(btClass, {}, 0, std::string(256, 'C'))}, erUnexpectedEof},
        {"code 0", {Make(0)}, erInvalidType},
        {"code 15", {Make(15)}, erInvalidType},
        {"code 27", {Make(btNotificationVariant)}, erInvalidType},
        {"code 127", {Make(127)}, erInvalidType},
    };
    for (const auto& c : cases) {
        image = EmptyImage();
        image.Types = {PlainType(btU8), PlainType(btU32)};
        image.Types.insert(image.Types.end(), c.types.begin(), c.types.end());
        image.Vars.push_back({static_cast<std::uint32_t>(image.Types.size() - 1), false, {}});
        TPSExec fresh;
        EXPECT_EQ(fresh.LoadImage(WriteImage(image)), c.error == ErNoError) << c.what;
        EXPECT_EQ(fresh.LastErrorCode(), c.error) << c.what << ": " << ErrorText(fresh);
    }
    // An export name longer than any name may be; the image need not even
    // hold it.
    std::string bytes = WriteImage(EmptyImage());
    bytes[kHeaderTypeCountAt] = 1;
    bytes += std::string(1, char(btU8 | kTypeExportNameFlag)) + std::string("\x01\x00\x00\x40", 4);
    EXPECT_FALSE(exec.LoadImage(bytes));
    EXPECT_EQ(exec.LastErrorCode(), erInvalidType);

    // What the loader builds for each kind.
    image = EmptyImage();
    image.Types = {PlainType(btU8), PlainType(btExtended), Make(btRecord, {0, 1, 0}), Make(btStaticArray, {1}, 3),
                   Make(btSet, {}, 9), Make(btInterface)};
    image.Types[3].StartOffset = 5;
    image.Types[5].Guid = {0x11223344, 0x55667788, 0x99AABBCC, 0xDDEEFF00};
    image.Types[5].HasExportName = true;
    image.Types[5].ExportName = "IDISPATCH";
    ASSERT_TRUE(exec.LoadImage(WriteImage(image))) << ErrorText(exec);
    EXPECT_EQ(exec.GetType(2)->RealSize, 12u);
    EXPECT_EQ(AsRecord(exec.GetType(2)).FieldOffsets, (std::vector<std::uint32_t>{0, 1, 11}));
    EXPECT_EQ(exec.GetType(3)->RealSize, 30u);
    EXPECT_EQ(AsStaticArray(exec.GetType(3)).StartOffset, 5u);
    EXPECT_EQ(AsSet(exec.GetType(4)).ByteSize, 2u);
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
    // The executor's own binder takes interface calls: the declaration
    // keeps the slot, the convention and the modes.
    ASSERT_TRUE(exec.LoadImage(bytes)) << ErrorText(exec);
    EXPECT_EQ(AsExternal(*exec.GetProc(1)).Decl, std::string("\x03\x00\x00\x00\x03\x01\x00", 7));
    // One it refuses (no full stop) is named by the text before its first
    // control byte.
    image.Procs[1].Decl = std::string("intf:\x03\x00\x00\x00\x03\x01\x00", 12);
    EXPECT_FALSE(exec.LoadImage(WriteImage(image)));
    EXPECT_EQ(ErrorText(exec), "Cannot Import intf:");
    image.Procs[1] = nameless;

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

void FailingCleanup(TPSExec&, void*) { throw std::runtime_error("clean-up failed"); }

// Unloading never loses a failure: a clean-up procedure or a free hook that
// fails leaves a line on standard error (nothing else is left to tell), and
// the others still run.
TEST(image_loader, failing_clean_up_procedures_and_free_hooks_leave_a_trace_and_the_others_run) {
    const auto compiled = CompileOk("begin end.");
    std::vector<int> calls;
    std::vector<std::string> freed;
    ::testing::internal::CaptureStderr();
    {
        TPSExec exec;
        for (const char* name : {"first", "broken", "last"})
            exec.RegisterFunction(name, {}).FreeHook = [&](TPSExec&, TPSRegisteredFunction& f) {
                freed.push_back(f.Name);
                if (f.Name == "BROKEN") throw std::runtime_error("free hook failed");
            };
        ASSERT_TRUE(exec.LoadImage(compiled.Image));
        exec.AddCleanupProc(CountCleanup, &calls);
        exec.AddCleanupProc(FailingCleanup, nullptr);
        exec.AddCleanupProc(OtherCleanup, &calls);
        exec.Clear();
        EXPECT_EQ(calls, (std::vector<int>{2, 1}));
    }
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(freed, (std::vector<std::string>{"LAST", "BROKEN", "FIRST"}));
    EXPECT_NE(err.find("clean-up failed"), std::string::npos) << err;
    EXPECT_NE(err.find("free hook failed"), std::string::npos) << err;
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
        // Every other value of every byte of the header and the tables (of
        // the first image; a few for the others).
        const bool every_value = std::string_view(plugin) == "plugins/poller.pas";
        for (std::size_t at = 0; at < tables_end; ++at) {
            std::string bytes = image;
            for (int change = 1; change < 256; change = every_value ? change + 1 : change * 2 + 1) {
                bytes[at] = static_cast<char>(image[at] ^ change);
                check(bytes, "byte " + std::to_string(at) + " ^ " + std::to_string(change));
            }
        }
        ASSERT_TRUE(exec.LoadImage(image));
    }
}

}  // namespace
}  // namespace script::runtime
