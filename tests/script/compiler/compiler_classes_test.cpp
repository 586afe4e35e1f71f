// Interfaces: the standard ones, interfaces declared in a script, their
// compatibility, nil, and method calls through access procedures.
#include <gtest/gtest.h>

#include "compiler_test_support.h"

namespace script::compiler {
namespace {
using testing::CompileScript;

const char* kTwoInterfaces =
    "type\n"
    "  IFoo = interface(IUnknown) ['{11111111-2222-3333-4444-555555555555}']\n"
    "    function Bar(x: Integer): Integer; stdcall;\n"
    "    procedure Baz;\n"
    "  end;\n"
    "  IBar = interface(IFoo) ['{11111111-2222-3333-4444-555555555556}']\n"
    "    procedure Fill(var s: string); cdecl;\n"
    "  end;\n";

const test_support::PSProc* ExternalWithDecl(const testing::CompileResult& r, std::string_view prefix) {
    for (const auto& p : r.Parsed.Procs)
        if (p.External && p.Decl.rfind(prefix, 0) == 0) return &p;
    return nullptr;
}

std::string Slot(std::uint32_t n) {
    std::string s;
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
    return s;
}

TEST(compiler_classes, standard_interfaces_take_values_of_their_descendants_only) {
    auto r = CompileScript("var d: IDispatch; u: IUnknown; v: Variant; begin u := d; v := d; d := v; end.");
    EXPECT_TRUE(r.Ok) << r.AllMessages();
    r = CompileScript("var d: IDispatch; u: IUnknown; begin d := u; end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Type mismatch")) << r.AllMessages();
    // IInterface is a root of its own, not IUnknown's ancestor.
    r = CompileScript("var i: IInterface; u: IUnknown; begin i := u; end.");
    EXPECT_FALSE(r.Ok);
    r = CompileScript("var u: IUnknown; procedure Take(x: IUnknown); begin end; var d: IDispatch; begin Take(d); end.");
    EXPECT_TRUE(r.Ok) << r.AllMessages();
    // "as" copies the reference: only towards an ancestor, never unchecked
    // towards a descendant or an unrelated interface.
    r = CompileScript("var d: IDispatch; u: IUnknown; v: Variant; begin u := d as IUnknown; d := v as IDispatch; end.");
    EXPECT_TRUE(r.Ok) << r.AllMessages();
    r = CompileScript("var d: IDispatch; u: IUnknown; begin d := u as IDispatch; end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("(1:48): Type mismatch")) << r.AllMessages();
    r = CompileScript("var d: IDispatch; u: IUnknown; begin d := IDispatch(u); end.");
    EXPECT_FALSE(r.Ok);
}

TEST(compiler_classes, nil_is_assigned_to_and_compared_with_interfaces) {
    auto r = CompileScript("var d: IDispatch; b: Boolean; begin d := nil; b := d = nil; if nil <> d then b := False; end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    const std::string code = r.Code();
    // The nil is a fresh temporary of the interface type: nothing is called.
    EXPECT_EQ(code.find("Call"), std::string::npos) << code;
    EXPECT_NE(code.find("Assign G0, L0"), std::string::npos) << code;
    // A class type (none is registered by this system's host, but a host may
    // add a bare one) takes nil the same way.
    r = CompileScript("var f: TFoo; b: Boolean; begin f := nil; b := (f <> nil) and Assigned(f); end.",
                      [](TPSPascalCompiler& c) {
                          c.OnUses = [](TPSPascalCompiler& comp, const std::string& name) {
                              comp.AddType("TFoo", btClass);
                              return name == "SYSTEM";
                          };
                      });
    EXPECT_TRUE(r.Ok) << r.AllMessages();
    // Values that cannot be nil still refuse it.
    r = CompileScript("var i: Integer; begin i := nil; end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Type mismatch")) << r.AllMessages();
}

TEST(compiler_classes, declared_interface_methods_are_called_through_their_slots) {
    auto r = CompileScript(std::string(kTwoInterfaces) +
                           "var f: IFoo; b: IBar; s: string; i: Integer;\n"
                           "begin f := b; i := f.Bar(1) + 2; b.Baz; b.Fill(s); end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    // IUnknown's three methods come first: Bar is slot 3, Baz 4, Fill 5.
    const auto* bar = ExternalWithDecl(r, "intf:." + Slot(3));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->Decl, "intf:." + Slot(3) + std::string("\3\1\0", 3));  // stdcall, result, by value
    const auto* baz = ExternalWithDecl(r, "intf:." + Slot(4));
    ASSERT_NE(baz, nullptr);
    EXPECT_EQ(baz->Decl, "intf:." + Slot(4) + std::string("\0\0", 2));  // register, no result
    const auto* fill = ExternalWithDecl(r, "intf:." + Slot(5));
    ASSERT_NE(fill, nullptr);
    EXPECT_EQ(fill->Decl, "intf:." + Slot(5) + std::string("\2\0\1", 3));  // cdecl, var parameter
    EXPECT_TRUE(bar->Name.empty());
    // The interface types keep their GUIDs.
    bool guid = false;
    for (const auto& t : r.Parsed.Types)
        if (t.BaseType == btInterface && t.Guid[0] == 0x11111111u && t.Guid[1] == 0x33332222u) guid = true;
    EXPECT_TRUE(guid);
    // Each call pushes the interface in front of its arguments.
    const std::string code = r.Code();
    EXPECT_NE(code.find("Assign L"), std::string::npos) << code;
    EXPECT_EQ(r.Parsed.Procs.size(), 4u);  // main and one access procedure per method used
}

TEST(compiler_classes, interface_declarations_and_member_errors_are_reported) {
    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"type I = interface IUnknown) ['{11111111-2222-3333-4444-555555555555}'] end; begin end.",
         "opening parenthesis ('(')expected"},
        {"type I = interface(INope) ['{11111111-2222-3333-4444-555555555555}'] end; begin end.",
         "Unknown type 'INope'"},
        {"type I = interface(Integer) ['{11111111-2222-3333-4444-555555555555}'] end; begin end.", "Type mismatch"},
        {"type I = interface(IUnknown) '{11111111-2222-3333-4444-555555555555}'] end; begin end.",
         "Opening square brackets ('[') expected"},
        {"type I = interface(IUnknown) [12] end; begin end.", "String Expected"},
        {"type I = interface(IUnknown) ['{1111-22}'] end; begin end.", "Invalid GUID"},
        {"type I = interface(IUnknown) ['{11111111-2222-3333-4444-555555555555}' end; begin end.",
         "Closing square bracket (']') expected"},
        {"type I = interface(IUnknown) ['{11111111-2222-3333-4444-555555555555}'] procedure P(x: Nope); end; "
         "begin end.",
         "Invalid method"},
        {"type I = interface(IUnknown) ['{11111111-2222-3333-4444-555555555555}'] var x: Integer; end; begin end.",
         "Invalid method"},
        {"type I = interface(IUnknown) ['{11111111-2222-3333-4444-555555555555}'] procedure P; procedure p; end; "
         "begin end.",
         "Duplicate identifier 'p'"},
        {"type I = interface(IUnknown) ['{11111111-2222-3333-4444-555555555555}'] procedure P; end; var i: I; "
         "begin i.Q; end.",
         "Unknown identifier 'Q'"},
        {"type I = interface(IUnknown) ['{11111111-2222-3333-4444-555555555555}'] procedure P(a: Integer); end; "
         "var i: I; begin i.P; end.",
         "Invalid number of parameters"},
        {"var u: IUnknown; begin u.QueryInterface; end.", "Unknown identifier 'QueryInterface'"},
    };
    for (const auto& c : cases) {
        auto r = CompileScript(c.text);
        EXPECT_FALSE(r.Ok) << c.text;
        EXPECT_TRUE(r.HasMessage(c.message)) << c.text << "\n" << r.AllMessages();
    }
}

TEST(compiler_classes, host_interfaces_get_methods_from_declaration_texts) {
    bool parsed = false, refused = true;
    auto host = [&](TPSPascalCompiler& c) {
        c.OnUses = [&](TPSPascalCompiler& comp, const std::string& name) {
            if (name != "SYSTEM") return false;
            TPSInterface* intf =
                comp.AddInterface(comp.FindInterface("IDispatch"), "{22222222-0000-0000-0000-000000000001}", "IHost");
            parsed = comp.AddInterfaceMethod(intf, "function Get(i: Integer): string", 3);
            refused = comp.AddInterfaceMethod(intf, "function (", 3);
            comp.AddInterfaceMethod(intf, "procedure Put(const s: string)", 0);
            return true;
        };
    };
    auto r = CompileScript("var h: IHost; d: IDispatch; s: string; begin d := h; s := h.Get(1); h.Put(s); end.", host);
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_TRUE(parsed);
    EXPECT_FALSE(refused);
    // IDispatch's seven methods first; the unparsable one still takes slot 8.
    const auto* get = ExternalWithDecl(r, "intf:." + Slot(7));
    ASSERT_NE(get, nullptr);
    EXPECT_EQ(get->Decl, "intf:." + Slot(7) + std::string("\3\1\0", 3));
    EXPECT_NE(ExternalWithDecl(r, "intf:." + Slot(9)), nullptr);
}

}  // namespace
}  // namespace script::compiler
