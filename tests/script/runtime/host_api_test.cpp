// What a host does with a loaded script: find procedures and exported
// globals, and run procedures with Variant parameters or typed values, with
// the messages of every refusal and the script's own errors.
#include <gtest/gtest.h>

#include <stdexcept>

#include "exec_test_support.h"
#include "script/runtime/value_lifetime.h"
#include "script_host_support.h"

namespace script::runtime {
namespace {

using testing::ScriptHost;

std::string ErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}

TEST(host_api, procedures_and_exported_globals_are_found_by_name_in_any_case) {
    ScriptHost host;
    host.Vars = {{"TD", "string"}, {"Count", "Integer"}};
    ASSERT_TRUE(host.Load(R"(
var before: Integer;
procedure OnLoad; begin TD := 'loaded'; Count := Count + 1; end;
procedure onSend; begin TD := TD + ' sent'; Print(TD); end;
begin end.)")) << host.Messages;
    const std::uint32_t on_load = host.exec.GetProcNo("ONLOAD");
    ASSERT_NE(on_load, kNoProc);
    EXPECT_EQ(host.exec.GetProcNo("onload"), on_load);
    EXPECT_EQ(host.exec.GetProcNo("OnSend"), host.exec.GetProcNo("ONSEND"));
    EXPECT_EQ(host.exec.GetProcNo("OnReceive"), kNoProc);
    // Imported procedures are found by their name as well.
    ASSERT_NE(host.exec.GetProcNo("print"), kNoProc);
    EXPECT_TRUE(host.exec.GetProc(host.exec.GetProcNo("print"))->IsExternal());
    EXPECT_EQ(host.exec.GetProc(host.exec.ProcCount()), nullptr);

    // The host's globals are found by the number the loader kept, wherever
    // they stand among the others.
    EXPECT_EQ(host.exec.GetVar("td"), 0u);
    EXPECT_EQ(host.exec.GetVar("Missing"), kNoProc);
    EXPECT_EQ(host.exec.FindGlobalVar("Missing"), nullptr);
    void* td = host.exec.FindGlobalVar("td");
    ASSERT_NE(td, nullptr);
    EXPECT_EQ(td, host.exec.GetVarNo(host.exec.ExportedVars()[0].Index));
    EXPECT_EQ(host.exec.GetVarNo(host.exec.Globals().Count()), nullptr);

    EXPECT_TRUE(host.exec.CallProcByName("onload", {}).IsNull());
    host.exec.CallProcByName("OnSend", {});
    EXPECT_EQ(PSGetVarString(td), "loaded sent");
    PSSetVarString(td, "set by the host");
    host.exec.CallProcByName("OnSend", {});
    EXPECT_EQ(host.VarText("TD"), "set by the host sent");
    EXPECT_EQ(host.VarInt("Count"), 1);
    EXPECT_EQ(ErrorOf([&] { host.exec.CallProcByName("OnNothing", {}); }), "Unknown procedure");
}

void RaiseLogic() { throw std::logic_error("host says no"); }

TEST(host_api, parameters_of_differing_types_pair_with_their_own_variants) {
    ScriptHost host;
    host.exec.RegisterHostFunction(RaiseLogic, "RAISE_", cdRegister);
    ASSERT_TRUE(host.Load(R"(
function Combine(n: Integer; const s: string; d: Double; var flag: Boolean): string;
begin
  flag := not flag;
  Result := IntToStr(n) + '/' + s + '/' + FloatToStr(d);
end;
function Twice(v: Int64): Int64; begin Result := v * 2; end;
procedure Nothing; begin end;
procedure Fail(code: Integer); begin RaiseException(erCustomError, 'failed ' + IntToStr(code)); end;
procedure HostError; begin Raise_; end;
begin end.)",
                          [](compiler::TPSPascalCompiler& c) { c.AddFunctionByDecl("procedure Raise_"); }))
        << host.Messages;
    // Variants convert to each parameter's own type, the first to the first.
    const Variant r = host.exec.CallProcByName(
        "Combine", {Variant::Integer(7), Variant::String("text"), Variant::Double(0.25), Variant::Boolean(false)});
    EXPECT_EQ(r.ToString(), "7/text/0.250000000000");
    EXPECT_EQ(host.exec.CallProcByName("twice", {Variant::String("21")}).ToInt64(), 42);
    EXPECT_EQ(host.exec.CallProcByName("twice", {Variant::Int64(5000000000)}).VType(), varInt64);

    // Refusals name what is wrong, and every value made for the call is
    // freed again.
    EXPECT_EQ(ErrorOf([&] { host.exec.CallProcByName("Combine", {Variant::Integer(1)}); }), "Not enough parameters");
    EXPECT_EQ(ErrorOf([&] { host.exec.CallProcByName("Nothing", {Variant::Integer(1)}); }), "Too many parameters");
    EXPECT_EQ(ErrorOf([&] { host.exec.CallProcByName("Twice", {Variant::String("not a number")}); }),
              "Invalid parameter");
    EXPECT_EQ(host.exec.Status(), TPSStatus::isLoaded);
    EXPECT_EQ(ErrorOf([&] { host.exec.CallProc(host.exec.ProcCount(), {}); }), "Unknown procedure");
    EXPECT_EQ(ErrorOf([&] { host.exec.CallProc(host.exec.GetProcNo("RAISE_"), {}); }), "Invalid class typecast");

    // A script error reaches the host as EPSException with its text and
    // place; a host function's own exception is raised itself.
    try {
        host.exec.CallProcByName("Fail", {Variant::Integer(3)});
        ADD_FAILURE() << "no exception";
    } catch (const EPSException& e) {
        EXPECT_EQ(e.Message, "failed 3");
        EXPECT_EQ(e.ProcNo, host.exec.GetProcNo("FAIL"));
    }
    EXPECT_THROW(host.exec.CallProcByName("HostError", {}), std::logic_error);
    // The executor runs again afterwards.
    EXPECT_EQ(host.exec.CallProcByName("Twice", {Variant::Integer(4)}).ToInt32(), 8);
}

TEST(host_api, run_proc_passes_typed_values_by_reference_and_restores_the_caller) {
    ScriptHost host;
    host.Vars = {{"Calls", "Integer"}};
    ASSERT_TRUE(host.Load(R"(
procedure Bump(var n: Integer; const s: string);
begin
  n := n + Length(s);
  Calls := Calls + 1;
end;
begin
  Calls := 100;
end.)")) << host.Messages;
    const TPSTypeRec* integer = TypeOfTypedValue(host.Var("Calls"));
    const TPSTypeRec* text = nullptr;
    for (std::uint32_t n = 0; n < host.exec.TypeCount(); ++n)
        if (host.exec.GetType(n)->BaseType == btString) text = host.exec.GetType(n);
    TypedHeapValuePtr n(CreateTypedHeapValue(integer));
    TypedHeapValuePtr s(CreateTypedHeapValue(text));
    StoreAs(ValueOfTypedValue(n.get()), std::int32_t{5});
    PSSetVarString(s.get(), "four");
    // The first parameter lies on top: the list ends with it.
    ASSERT_TRUE(host.exec.RunProc({s.get(), n.get()}, host.exec.GetProcNo("BUMP")));
    EXPECT_EQ(LoadAs<std::int32_t>(ValueOfTypedValue(n.get())), 9);
    EXPECT_EQ(host.VarInt("Calls"), 1);
    EXPECT_EQ(host.exec.Status(), TPSStatus::isLoaded);
    EXPECT_EQ(LoadAs<std::int32_t>(ValueOfTypedValue(n.get())), 9);
    EXPECT_FALSE(host.exec.RunProc({s.get(), nullptr}, host.exec.GetProcNo("BUMP")));
    // Handed a variable of another type than the script's own calls gave
    // it, the procedure works on that type.
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(host.exec.RunProc({s.get(), n.get()}, host.exec.GetProcNo("BUMP")));
    const TPSTypeRec* int64_type = nullptr;
    for (std::uint32_t t = 0; t < host.exec.TypeCount(); ++t)
        if (host.exec.GetType(t)->BaseType == btS64) int64_type = host.exec.GetType(t);
    ASSERT_NE(int64_type, nullptr);
    TypedHeapValuePtr wide(CreateTypedHeapValue(int64_type));
    StoreAs(ValueOfTypedValue(wide.get()), std::int64_t{4294967295});
    ASSERT_TRUE(host.exec.RunProc({s.get(), wide.get()}, host.exec.GetProcNo("BUMP")));
    EXPECT_EQ(LoadAs<std::int64_t>(ValueOfTypedValue(wide.get())), 4294967299);
    EXPECT_FALSE(host.exec.RunProc({}, host.exec.ProcCount()));
    EXPECT_EQ(host.exec.LastErrorCode(), erOutOfProcRange);

    // Run from inside a paused main run, the procedure leaves that run as
    // it was.
    struct Inside {
        TPSExec* exec;
        void Call() {
            exec->Pause();
            exec->CallProcByName("Bump", {Variant::Integer(1), Variant::String("xy")});
        }
    } inside{&host.exec};
    ScriptHost outer;
    outer.Vars = {{"Calls", "Integer"}, {"Mark", "Integer"}};
    inside.exec = &outer.exec;
    outer.exec.RegisterHostMethod(&inside, &Inside::Call, cdRegister, "INSIDE");
    ASSERT_TRUE(outer.Load(R"(
procedure Bump(n: Integer; const s: string); begin Calls := Calls + n + Length(s); end;
begin
  Calls := 0;
  Mark := 1;
  Inside;
  Mark := 2;
end.)",
                           [](compiler::TPSPascalCompiler& c) { c.AddFunctionByDecl("procedure Inside"); }))
        << outer.Messages;
    EXPECT_TRUE(outer.Run());
    EXPECT_EQ(outer.exec.Status(), TPSStatus::isPaused);
    EXPECT_EQ(outer.VarInt("Calls"), 3);
    EXPECT_EQ(outer.VarInt("Mark"), 1);
    EXPECT_TRUE(outer.Run());
    EXPECT_EQ(outer.VarInt("Mark"), 2);
    EXPECT_EQ(outer.exec.Status(), TPSStatus::isLoaded);
}

TEST(host_api, the_image_cannot_change_while_a_run_uses_it) {
    ScriptHost host;
    struct Reloader {
        TPSExec* exec;
        std::string image;
        void Reload() { exec->LoadImage(image); }
    } reloader{&host.exec, {}};
    host.exec.RegisterHostMethod(&reloader, &Reloader::Reload, cdRegister, "RELOAD");
    ASSERT_TRUE(host.Load(R"(
var s: string;
begin
  s := 'kept';
  try
    Reload;
  except
    Print(ExceptionParam);
  end;
  Print(s);
end.)",
                          [](compiler::TPSPascalCompiler& c) { c.AddFunctionByDecl("procedure Reload"); }))
        << host.Messages;
    reloader.image = host.Image;
    ASSERT_TRUE(host.Run()) << host.ErrorText();
    EXPECT_EQ(host.Log, "Cannot load a script while the script runs\nkept\n");
    // Once the run is over the host may load again.
    EXPECT_TRUE(host.exec.LoadImage(host.Image));
}

}  // namespace
}  // namespace script::runtime
