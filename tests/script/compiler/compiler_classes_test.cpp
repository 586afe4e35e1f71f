// Interfaces: the standard ones, interfaces declared in a script, their
// compatibility, nil, and method calls through access procedures. Host
// classes: the model a host registers, member access, casts and nil.
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
    EXPECT_TRUE(r.HasMessage("(1:57): Type mismatch")) << r.AllMessages();
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

// A host that imports two classes, TBase and its descendant TDerived, and an
// unrelated TOther without a default property.
void ClassHost(TPSPascalCompiler& c) {
    c.OnUses = [](TPSPascalCompiler& comp, const std::string& name) {
        if (name != "SYSTEM") return false;
        TPSCompileTimeClass* base = comp.AddClass(nullptr, "TBase");
        base->RegisterMethod("function Sum(a: Integer; var b: Integer): Integer");
        base->RegisterMethod("  Constructor Create(const Name: string);");
        base->RegisterMethod("procedure ConstructorLike");
        base->RegisterProperty("Name", "String", pamReadWrite);
        base->RegisterProperty("Count", "Integer", pamReadOnly);
        base->RegisterProperty("Sink", "Integer", pamWriteOnly);
        base->RegisterProperty("Items", "String Integer", pamReadWrite);
        base->SetDefaultProperty("Items");
        TPSCompileTimeClass* derived = comp.AddClass(base, "TDerived");
        derived->RegisterMethod("procedure Reset");
        derived->RegisterMethod("function Sum(a: Integer): Integer");
        derived->RegisterProperty("Owner", "TBase", pamReadWrite);
        comp.AddClass(nullptr, "TOther")->RegisterMethod("procedure Reset");
        return true;
    };
}

std::string Long(std::uint32_t n) { return Slot(n); }

std::size_t ProcNumber(const testing::CompileResult& r, const std::string& decl) {
    for (std::size_t i = 0; i < r.Parsed.Procs.size(); ++i)
        if (r.Parsed.Procs[i].External && r.Parsed.Procs[i].Decl == decl) return i;
    return r.Parsed.Procs.size();
}

TEST(compiler_classes, class_members_compile_into_calls_of_named_access_procedures) {
    auto r = CompileScript(
        "var b: TBase; d: TDerived; s: string; i: Integer;\n"
        "begin\n"
        "  i := b.Sum(1, i);\n"
        "  s := b.Name; b.Name := s + 'x';\n"
        "  i := b.Count; b.Sink := 3;\n"
        "  s := b.Items[2]; b.Items[i] := s; s := b[1]; b[0] := 'y';\n"
        "  d.Reset; i := d.Sum(2) + d.Count; d.Owner.Name := 'o';\n"
        "end.",
        ClassHost);
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    std::vector<std::string> texts;
    for (const auto& p : r.Parsed.Procs)
        if (p.External && p.Decl.rfind("class:", 0) == 0) texts.push_back(p.Decl);
    const std::string z(1, '\0');
    // Each text once, in the order of first use; the same member read and
    // written gets one procedure per direction.
    const std::vector<std::string> expected = {
        "class:TBASE|SUM|" + z + std::string("\1\0\1", 3),  // function, a by value, var b
        "class:TBASE|NAME|" + Long(1),
        "class:TBASE|NAME@|" + Long(1),
        "class:TBASE|COUNT|" + Long(1),
        "class:TBASE|SINK@|" + Long(1),
        "class:TBASE|ITEMS|" + Long(2),
        "class:TBASE|ITEMS@|" + Long(2),
        "class:TDERIVED|RESET|" + z + z,
        "class:TDERIVED|SUM|" + z + std::string("\1\0", 2),  // the descendant's Sum hides the ancestor's
        "class:TDERIVED|OWNER|" + Long(1),
    };
    EXPECT_EQ(texts, expected);
    for (const auto& p : r.Parsed.Procs) {
        if (p.External) {
            EXPECT_TRUE(p.Name.empty()) << p.Name;
        }
    }
    // The class types are written with their names.
    int classes = 0;
    for (const auto& t : r.Parsed.Types)
        if (t.BaseType == btClass && (t.ClassName == "TBASE" || t.ClassName == "TDERIVED")) ++classes;
    EXPECT_EQ(classes, 2);
    // The object is the first parameter, the written value the last; they
    // are pushed last to first: b.Items[i] := s pushes s, then i, then b.
    const std::string code = r.Code();
    const std::string itemsWrite = "Call " + std::to_string(ProcNumber(r, "class:TBASE|ITEMS@|" + Long(2)));
    EXPECT_NE(code.find("Assign L0, G2\nPushType 14\nAssign L1, G3\nPushType 25\nAssign L2, G0\n" + itemsWrite),
              std::string::npos)
        << code;
}

TEST(compiler_classes, constructors_are_called_through_the_class_and_make_objects_of_it) {
    auto r = CompileScript(
        "var b: TBase; d: TDerived; begin b := TBase.Create('x'); d := TDerived.Create('y'); b.ConstructorLike; end.",
        ClassHost);
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    // One access procedure, a method text returning a value with one
    // parameter; the class's type number goes where an object would.
    const std::string text = "class:TBASE|CREATE|" + std::string("\0\1\0", 3);
    const std::size_t create = ProcNumber(r, text);
    ASSERT_LT(create, r.Parsed.Procs.size());
    std::uint32_t baseNo = 0, derivedNo = 0;
    for (std::uint32_t n = 0; n < r.Parsed.Types.size(); ++n) {
        if (r.Parsed.Types[n].ClassName == "TBASE") baseNo = n;
        if (r.Parsed.Types[n].ClassName == "TDERIVED") derivedNo = n;
    }
    const std::string code = r.Code();
    for (std::uint32_t no : {baseNo, derivedNo})
        EXPECT_NE(code.find("#15:" + std::to_string(no) + "\nPushVar "), std::string::npos) << no << "\n" << code;
    // TDerived.Create makes a TDerived: assigned without a cast.
    EXPECT_EQ(code.find("Call " + std::to_string(ProcNumber(r, "class:+"))), std::string::npos) << code;
    for (const auto& [script, message] : std::vector<std::pair<const char*, const char*>>{
             {"var b: TBase; begin b.Create('x'); end.", "Unknown identifier 'Create'"},
             {"var b: TBase; begin b := TBase.Sum(1); end.", "Unknown identifier 'Sum'"},
             {"var b: TBase; begin b := TBase.Create; end.", "Invalid number of parameters"},
             {"var b: TBase; begin b := TBase.; end.", "Identifier expected"},
             {"var i: Integer; begin i := Integer.Create; end.", "Class type expected"}}) {
        r = CompileScript(script, ClassHost);
        EXPECT_FALSE(r.Ok) << script;
        EXPECT_TRUE(r.HasMessage(message)) << script << "\n" << r.AllMessages();
    }
}

TEST(compiler_classes, class_member_misuse_is_reported) {
    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"var b: TBase; i: Integer; begin i := b.Sink; end.", "Write-only property"},
        {"var b: TBase; begin b.Count := 1; end.", "Read-only property"},
        {"var b: TBase; begin b.Nope; end.", "Unknown identifier 'Nope'"},
        {"var b: TBase; begin b.5; end.", "Identifier expected"},
        {"var o: TOther; s: string; begin s := o[1]; end.", "period ('.') expected"},
        {"var b: TBase; s: string; begin s := b.Items; end.", "Invalid number of parameters"},
        {"var b: TBase; s: string; begin s := b.Items[1, 2]; end.", "Invalid number of parameters"},
        {"var b: TBase; i: Integer; begin i := b.Sum(1, 2); end.", "Variable Expected"},
        {"var b: TBase; d: TDerived; begin d := b; end.", "Type mismatch"},
        {"var b: TBase; o: TOther; begin b := o; end.", "Type mismatch"},
        {"var b: TBase; begin b.Name := 5; end.", "Type mismatch"},
        {"var b: TBase; i: Integer; begin i := TBase.Count; end.", "Unknown identifier 'Count'"},
        {"var b: TBase; begin b.Name := ; end.", "Syntax error"},
        {"var b: TBase; s: string; begin s := b.Items[1; end.", "comma (',') expected"},
        {"var d: TDerived; begin d.Owner.Nope := 1; end.", "Unknown identifier 'Nope'"},
        {"var d: TDerived; begin with d do Count := 2; end.", "Read-only property"},
    };
    for (const auto& c : cases) {
        auto r = CompileScript(c.text, ClassHost);
        EXPECT_FALSE(r.Ok) << c.text;
        EXPECT_TRUE(r.HasMessage(c.message)) << c.text << "\n" << r.AllMessages();
    }
}

TEST(compiler_classes, class_values_convert_towards_ancestors_and_cast_through_the_host) {
    auto r = CompileScript(
        "var b: TBase; d: TDerived; o: TOther; i: Integer;\n"
        "procedure Take(x: TBase); begin end;\n"
        "begin b := d; Take(d); d := TDerived(b); d := b as TDerived; o := TOther(d); i := b; end.",
        ClassHost);
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    const test_support::PSProc* cast = nullptr;
    int casts = 0;
    for (const auto& p : r.Parsed.Procs)
        if (p.External && p.Decl == "class:+") {
            cast = &p;
            ++casts;
        }
    ASSERT_NE(cast, nullptr);
    EXPECT_EQ(casts, 2);  // one per target class: TDerived and TOther
    const std::string code = r.Code();
    std::uint32_t derivedNo = 0;
    for (std::uint32_t n = 0; n < r.Parsed.Types.size(); ++n)
        if (r.Parsed.Types[n].ClassName == "TDERIVED") derivedNo = n;
    // TDerived(b): the type number as a U32 constant, then the value.
    EXPECT_NE(code.find("Assign L0, #15:" + std::to_string(derivedNo) + "\nPushType 25\nAssign L1, G0\nPushVar G1\nCall " +
                        std::to_string(ProcNumber(r, "class:+"))),
              std::string::npos)
        << code;
}

TEST(compiler_classes, nil_goes_through_the_class_nil_procedure) {
    auto r = CompileScript("var b: TBase; d: TDerived; begin b := nil; d := nil; b := nil; end.", ClassHost);
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    int nils = 0;
    for (const auto& p : r.Parsed.Procs)
        if (p.External && p.Decl == "class:-") ++nils;
    EXPECT_EQ(nils, 2);  // made once per class
    // The nil is a temporary that the procedure sets through a pointer.
    const std::string code = r.Code();
    EXPECT_NE(code.find("PushType 25\nPushType 0\nSetPtr L1, L0\nCall 1\nPop\nAssign G0, L0\nPop\n"), std::string::npos)
        << code;
    EXPECT_EQ(r.Parsed.Procs[1].Decl, "class:-");
}

TEST(compiler_classes, members_of_a_with_object_are_found_by_name) {
    auto r = CompileScript(
        "var d: TDerived; i: Integer; Reset: Integer;\n"
        "begin with d do begin Reset; i := Count; Name := 'w'; end; Reset := 1; end.",
        ClassHost);
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    bool reset = false, count = false, name = false;
    for (const auto& p : r.Parsed.Procs) {
        reset = reset || p.Decl == "class:TDERIVED|RESET|" + std::string(2, '\0');
        count = count || p.Decl == "class:TBASE|COUNT|" + Long(1);
        name = name || p.Decl == "class:TBASE|NAME@|" + Long(1);
    }
    EXPECT_TRUE(reset && count && name);
    // A name the object does not have is the script's own.
    r = CompileScript("var d: TDerived; x: Integer; begin with d do x := 1; end.", ClassHost);
    EXPECT_TRUE(r.Ok) << r.AllMessages();
}

TEST(compiler_classes, class_model_finds_members_last_first_then_in_ancestors) {
    TPSCompileTimeClass* base = nullptr;
    TPSCompileTimeClass* derived = nullptr;
    std::string thrown;
    auto host = [&](TPSPascalCompiler& c) {
        c.OnUses = [&](TPSPascalCompiler& comp, const std::string& name) {
            if (name != "SYSTEM") return false;
            base = comp.AddClass(nullptr, "TBase");
            base->RegisterMethod("procedure Run");
            base->RegisterMethod("procedure Run(x: Integer)");
            base->RegisterProperty("Items", "Integer Integer", pamReadOnly);
            base->SetDefaultProperty("Items");
            derived = comp.AddClass(base, "TDerived");
            derived->RegisterProperty("Size", "Integer", pamReadWrite);
            EXPECT_EQ(comp.AddClass(base, "tderived"), derived);
            EXPECT_EQ(comp.FindClass("TDERIVED"), derived);
            EXPECT_EQ(comp.FindClass("TNone"), nullptr);
            // The later Run hides the earlier; the ancestor answers for the
            // descendant; no name means the default property.
            EXPECT_EQ(base->FindMember("RUN")->Decl.ParamCount(), 1u);
            EXPECT_EQ(derived->FindMember("RUN"), base->FindMember("RUN"));
            EXPECT_EQ(derived->FindMember(""), base->FindMember("ITEMS"));
            EXPECT_EQ(base->FindMember("SIZE"), nullptr);
            EXPECT_TRUE(base->IsCompatibleWith(derived->AType));
            EXPECT_FALSE(derived->IsCompatibleWith(base->AType));
            EXPECT_FALSE(base->IsCompatibleWith(comp.FindType("Integer")));
            for (const auto& bad : std::vector<std::function<void()>>{
                     [&] { base->RegisterMethod("procedure ("); },
                     [&] { base->RegisterProperty("P", "NoSuchType", pamReadWrite); },
                     [&] { base->RegisterProperty("P", "", pamReadWrite); },
                     [&] { base->RegisterProperty("P", "Integer", 3); },
                     [&] { derived->SetDefaultProperty("Size"); },
                     [&] { comp.AddClass(nullptr, "Integer"); }}) {
                try {
                    bad();
                    ADD_FAILURE() << "accepted";
                } catch (const EPSCompilerException& e) {
                    thrown += "+";
                }
            }
            return true;
        };
    };
    auto r = CompileScript("var d: TDerived; i: Integer; begin d.Run(1); i := d[2]; d.Size := i; end.", host);
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_EQ(thrown, "++++++");
    // Outside a compilation nothing may be registered.
    TPSPascalCompiler idle;
    EXPECT_THROW(idle.AddClass(nullptr, "TLate"), EPSCompilerException);
}

// The call instruction of the external procedure with that name.
std::string CallOf(const testing::CompileResult& r, std::string_view name) {
    for (std::size_t i = 0; i < r.Parsed.Procs.size(); ++i)
        if (r.Parsed.Procs[i].Name == name) return "Call " + std::to_string(i);
    return "no " + std::string(name);
}

// A host that lets scripts name TLate before importing it: every member
// access goes through LateCall; nil and casts through their own functions.
void LateClassHost(TPSPascalCompiler& c, bool import) {
    c.OnUses = [import](TPSPascalCompiler& comp, const std::string& name) {
        if (name != "SYSTEM") return false;
        TPSRegProc* call =
            comp.AddFunction("function LateCall(IsWrite: Boolean; const Name: string; Args: array of Variant): Variant");
        auto self = std::make_unique<TPSParameterDecl>();
        self->SetName("Self");
        call->Decl.Params.insert(call->Decl.Params.begin(), std::move(self));
        TPSUndefinedClass* late = comp.AddUndefinedClass("TLate", call);
        late->NilProc = comp.AddFunction("procedure LateNil(var Self: TLate)");
        late->CastProc = comp.AddFunction("function LateCast(Value: Variant): TLate");
        late->CompareProc = comp.AddFunction("function LateSame(A, B: TLate): Boolean");
        if (import) late->ImportedAs = comp.AddClass(nullptr, "TLateImpl");
        EXPECT_THROW(comp.AddUndefinedClass("TOther", comp.AddFunction("procedure Two(a, b: Integer)")),
                     EPSCompilerException);
        return true;
    };
}

TEST(compiler_classes, members_of_a_class_named_before_its_import_are_bound_late) {
    auto host = [](TPSPascalCompiler& c) { LateClassHost(c, true); };
    auto r = CompileScript(
        "var x: TLate; v: Variant;\n"
        "begin v := x.Caption; x.Caption := 'a'; v := x.Items[1, 2]; x.Run(3); x := nil; x := TLate(v); end.",
        host);
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    // Comparisons go through the class's own function; "<>" negates it.
    r = CompileScript("var x, y: TLate; b: Boolean; begin b := x = y; if x <> y then b := False; end.", host);
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    const std::string compares = r.Code();
    const std::string same = CallOf(r, "LATESAME");
    EXPECT_NE(compares.find("Assign L0, G1\nPushType 25\nAssign L1, G0\nPushVar G2\n" + same), std::string::npos)
        << compares;
    EXPECT_NE(compares.find("PushVar L0\n" + same + "\nPop\nPop\nPop\nBoolNot L0"), std::string::npos) << compares;
    EXPECT_EQ(compares.find("Compare"), std::string::npos) << compares;
    r = CompileScript(
        "var x: TLate; v: Variant;\n"
        "begin v := x.Caption; x.Caption := 'a'; v := x.Items[1, 2]; x.Run(3); x := nil; x := TLate(v); end.",
        host);
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    const std::string code = r.Code();
    // The object, whether the access writes, the name as written, and the
    // arguments in one array (built before the rest is pushed).
    for (const std::string& part :
         {"Assign L1, #7:'Caption'\nPushType 2\nAssign L2, #2:0\nPushType 25\nAssign L3, G0\nPushVar G1\n" +
              CallOf(r, "LATECALL"),
          std::string("Assign L2[0], #6:97\nAssign L1, L2\nPop\nPushType 8\nAssign L2, #7:'Caption'\nPushType 2\n"
                      "Assign L3, #2:1"),
          std::string("Assign L1[0], #14:1\nAssign L1[1], #14:2\n"), std::string("Assign L2, #7:'Run'"),
          "SetPtr L1, L0\n" + CallOf(r, "LATENIL"), "Assign L0, G1\nPushVar G0\n" + CallOf(r, "LATECAST")})
        EXPECT_NE(code.find(part), std::string::npos) << part << "\n---\n" << code;
    // The slot of TLate holds the class it was imported as.
    bool imported = false;
    for (const auto& t : r.Parsed.Types) imported = imported || t.ClassName == "TLATEIMPL";
    EXPECT_TRUE(imported);
    // Never imported: no image, and the reason is reported.
    r = CompileScript("var x: TLate; v: Variant; begin v := x.Caption; end.",
                      [](TPSPascalCompiler& c) { LateClassHost(c, false); });
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("never imported")) << r.AllMessages();
    r = CompileScript("var x: TLate; begin x.; end.", host);
    EXPECT_TRUE(r.HasMessage("Identifier expected")) << r.AllMessages();
    // Without a nil or a cast function those uses are type errors.
    auto bare = [](TPSPascalCompiler& c) {
        c.OnUses = [](TPSPascalCompiler& comp, const std::string& name) {
            TPSRegProc* call = comp.AddFunction(
                "function LateCall(S: Variant; IsWrite: Boolean; const Name: string; Args: array of Variant): Variant");
            comp.AddUndefinedClass("TLate", call)->ImportedAs = comp.AddClass(nullptr, "TLateImpl");
            return name == "SYSTEM";
        };
    };
    for (const char* text : {"var x: TLate; begin x := nil; end.", "var x: TLate; v: Variant; begin x := TLate(v); end."}) {
        r = CompileScript(text, bare);
        EXPECT_FALSE(r.Ok) << text;
        EXPECT_TRUE(r.HasMessage("Type mismatch")) << text << "\n" << r.AllMessages();
    }
    // Without a comparison function the references themselves are compared.
    r = CompileScript("var x, y: TLate; b: Boolean; begin b := x = y; end.", bare);
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_NE(r.Code().find("Compare = G2, G0, G1"), std::string::npos) << r.Code();
}

}  // namespace
}  // namespace script::compiler
