#include "ports/foreign_port.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/vcl/forms.h"
#include "support/qt_app.h"

namespace ports {
namespace {

// A frame of four edits: parameter 1 is valid when not empty, the others
// when they hold a decimal number up to 65535; a hidden parameter reports
// state 2. Values go in the way a concrete frame puts them: the edit's text
// is set quietly, then its change handler runs once.
class TestFrame : public TfrmForP {
public:
    TestFrame() : TfrmForP(nullptr, "TfrmForPTest") {
        static const char* const names[] = {"Role", "Destination IP", "Destination Port", "Local Port"};
        for (int i = 0; i < 4; ++i) {
            edits[i] = vcl::Create<vcl::TEdit>(this);
            edits[i]->SetParent(this);
            edits[i]->OnChange = [this, i](vcl::TComponent*) { ParamEdited(edits[i], i); };
            AddParamName(names[i]);
        }
        label = vcl::Create<vcl::TLabel>(this);
        label->SetParent(this);
        SetFocusControl(label, edits[1]);
    }

    std::uint8_t GetParam(int Index, std::string& S, bool AsText) override {
        if (Index < 0 || Index >= ParamCount()) BadParamIdx(Index);
        S = edits[Index]->Text();
        if (AsText && Index == 0) S = "role " + S;
        if (hidden[Index]) return psHidden;
        if (Index == 1) return S.empty() ? psInvalid : psValid;
        if (S.empty() || S.size() > 5 || S.find_first_not_of("0123456789") != std::string::npos) return psInvalid;
        return std::stol(S) <= 65535 ? psValid : psInvalid;
    }
    void SetParam(int Index, const std::string& S) override {
        if (Index < 0 || Index >= ParamCount()) BadParamIdx(Index);
        setCalls.push_back(Index);
        {
            TQuietLock quiet(*this);
            edits[Index]->SetText(S);
        }
        ParamEdited(edits[Index], Index);
    }
    void SetActiveLook(bool Active) override { activeLook = Active; }

    vcl::TEdit* edits[4] = {};
    vcl::TLabel* label = nullptr;
    bool hidden[4] = {};
    bool activeLook = false;
    std::vector<int> setCalls;
};

class TestPort : public TForeignPort {
public:
    static std::string ClassName() { return "TLoopbackPort"; }
    TestPort(std::int32_t Id, TForeignPortEvent OnEvent)
        : TForeignPort(Id, std::move(OnEvent), std::make_unique<TestFrame>()) {}
    ~TestPort() override {
        if (Active()) SetActive(false);
    }

    TestFrame& TheFrame() { return *static_cast<TestFrame*>(Frame()); }

    void SetActive(bool Value) override {
        SetActiveFlag(Value);
        Frame()->SetActiveLook(Value);
        NotifyOwner(Value ? "Open %s" : "Close %s", {ClassName()}, fpeInfo);
    }
    int Send(const void*, int Len) override { return Active() ? Len : 0; }
    void ParamChanged(int Index) override {
        changed.push_back(Index);
        TForeignPort::ParamChanged(Index);
    }
    void RxHeldChanged(bool Held) override { heldChanges.push_back(Held); }
    void ClientRxHeldChanged(int Client) override { clientChanges.push_back(Client); }

    std::vector<int> changed;
    std::vector<int> clientChanges;
    std::vector<bool> heldChanges;
};

struct Event {
    int code;
    std::string text;
};

struct Recorder {
    std::vector<Event> events;
    TForeignPortEvent Callback() {
        return [this](int Code, const std::string& Text, std::string& Reply) {
            events.push_back({Code, Text});
            Reply = "ignored";
        };
    }
};

void SetValues(TestFrame& f, const std::vector<std::string>& values) {
    for (std::size_t i = 0; i < values.size(); ++i) f.SetParam(static_cast<int>(i), values[i]);
}

std::string Param(TestFrame& f, int i) {
    std::string s;
    f.GetParam(i, s, false);
    return s;
}

TEST(foreign_port, display_name_drops_the_leading_t_and_a_trailing_port_in_any_case) {
    EXPECT_EQ(ForeignPortName("TEthernetPort"), "Ethernet");
    EXPECT_EQ(ForeignPortName("TSerialOverIPport"), "SerialOverIP");
    EXPECT_EQ(ForeignPortName("TModbusPORT"), "Modbus");
    EXPECT_EQ(ForeignPortName("TLoopback"), "Loopback");
    EXPECT_EQ(ForeignPortName("Passport"), "Pass");
    EXPECT_EQ(ForeignPortName("TPortal"), "Portal");
    EXPECT_EQ(ForeignPortClassOf<TestPort>().GetName(), "Loopback");
}

TEST(foreign_port, settings_text_joins_the_stored_values_and_a_shorter_text_sets_only_its_fields) {
    test_support::EnsureQtApplication();
    Recorder owner;
    TestPort port(257, owner.Callback());
    auto& f = port.TheFrame();
    SetValues(f, {"1", "127.0.0.1", "0", "0"});
    EXPECT_EQ(port.GetSettings(), "1|127.0.0.1|0|0");

    // Hidden and invalid values are stored all the same.
    f.hidden[3] = true;
    f.SetParam(2, "99999");
    EXPECT_EQ(port.GetSettings(), "1|127.0.0.1|99999|0");

    port.SetSettings("2|10.0.0.7");
    EXPECT_EQ(port.GetSettings(), "2|10.0.0.7|99999|0");

    // A final bar passes an empty value to the next parameter only.
    port.SetSettings("3|h|");
    EXPECT_EQ(Param(f, 2), "");
    EXPECT_EQ(Param(f, 3), "0");

    f.setCalls.clear();
    port.SetSettings("4|a|5|6|7|8");
    EXPECT_EQ(port.GetSettings(), "4|a|5|6");
    EXPECT_EQ(f.setCalls, (std::vector<int>{0, 1, 2, 3}));

    // Round trip through the text a profile keeps.
    TestPort other(257, owner.Callback());
    other.SetSettings(port.GetSettings());
    EXPECT_EQ(other.GetSettings(), "4|a|5|6");
}

TEST(foreign_port, editing_a_field_colours_it_by_its_state_and_notifies_the_port) {
    test_support::EnsureQtApplication();
    Recorder owner;
    TestPort port(257, owner.Callback());
    auto& f = port.TheFrame();

    f.edits[2]->SetText("70000");
    EXPECT_EQ(f.edits[2]->Color(), vcl::clYellow);
    f.edits[2]->SetText("8080");
    EXPECT_EQ(f.edits[2]->Color(), vcl::clWindow);
    f.edits[1]->SetText("h");
    EXPECT_EQ(f.edits[1]->Color(), vcl::clWindow);
    f.edits[1]->SetText("");
    EXPECT_EQ(f.edits[1]->Color(), vcl::clYellow);
    EXPECT_EQ(port.changed, (std::vector<int>{2, 2, 1, 1}));
    ASSERT_EQ(owner.events.size(), 4u);
    for (const auto& e : owner.events) {
        EXPECT_EQ(e.code, fpeSettingsChanged);
        EXPECT_EQ(e.text, "");
    }
}

TEST(foreign_port, a_locked_frame_neither_colours_nor_notifies_and_unlocking_checks_every_field) {
    test_support::EnsureQtApplication();
    Recorder owner;
    TestPort port(257, owner.Callback());
    auto& f = port.TheFrame();
    SetValues(f, {"0", "host", "1", "2"});
    port.changed.clear();
    f.setCalls.clear();

    f.Lock(true);
    f.Lock(true);
    f.edits[0]->SetText("bad");
    f.edits[2]->SetText("");
    EXPECT_EQ(f.edits[0]->Color(), vcl::clWindow);
    EXPECT_EQ(f.edits[2]->Color(), vcl::clWindow);
    EXPECT_TRUE(port.changed.empty());

    f.Lock(false);  // still locked once
    EXPECT_TRUE(f.setCalls.empty());
    EXPECT_EQ(f.edits[0]->Color(), vcl::clWindow);

    f.Lock(false);
    EXPECT_EQ(f.setCalls, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(f.edits[0]->Color(), vcl::clYellow);
    EXPECT_EQ(f.edits[1]->Color(), vcl::clWindow);
    EXPECT_EQ(f.edits[2]->Color(), vcl::clYellow);
    EXPECT_EQ(f.edits[3]->Color(), vcl::clWindow);
    EXPECT_EQ(port.changed, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(Param(f, 0), "bad");  // the values themselves are kept
    EXPECT_FALSE(f.Locked());
}

TEST(foreign_port, opening_is_refused_naming_the_first_shown_invalid_field) {
    test_support::EnsureQtApplication();
    TestPort port(257, nullptr);
    auto& f = port.TheFrame();
    SetValues(f, {"0", "", "70000", "1"});
    const auto message = [&] {
        try {
            f.CheckParams();
        } catch (const rtl::Exception& e) {
            return e.Message;
        }
        return std::string("(accepted)");
    };
    EXPECT_EQ(message(), "Wrong \"Destination IP\" Value");
    f.hidden[1] = true;  // a hidden field is not checked
    EXPECT_EQ(message(), "Wrong \"Destination Port\" Value");
    f.SetParam(2, "65535");
    EXPECT_EQ(message(), "(accepted)");
}

TEST(foreign_port, parameter_names_and_the_bad_index_message) {
    test_support::EnsureQtApplication();
    TestPort port(257, nullptr);
    auto& f = port.TheFrame();
    EXPECT_EQ(f.ParamCount(), 4);
    std::string s = "old";
    f.GetParamName(1, s);
    EXPECT_EQ(s, "Destination IP");

    s = "old";
    try {
        f.GetParamName(4, s);
        FAIL() << "no exception";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message, "TfrmForPTest: Bad param idx (4)");
    }
    EXPECT_EQ(s, "");
    EXPECT_THROW(f.GetParamName(-1, s), rtl::Exception);
    EXPECT_THROW(f.SetParam(7, "x"), rtl::Exception);
}

TEST(foreign_port, pauses_nest_and_clients_are_held_one_by_one) {
    test_support::EnsureQtApplication();
    TestPort port(257, nullptr);
    // The transport is told once when reception stops and once when it goes
    // on, however the pauses nest.
    port.PauseRx();
    port.PauseRx();
    port.ResumeRx();
    EXPECT_TRUE(port.RxPaused());
    EXPECT_EQ(port.heldChanges, (std::vector<bool>{true}));
    port.ResumeRx();
    EXPECT_FALSE(port.RxPaused());
    EXPECT_EQ(port.heldChanges, (std::vector<bool>{true, false}));
    // Resuming more often than pausing does not spoil the next pause.
    port.ResumeRx();
    port.PauseRx();
    EXPECT_TRUE(port.RxPaused());
    EXPECT_EQ(port.heldChanges, (std::vector<bool>{true, false, true}));
    port.ResumeRx();

    // A client is held alone, and told only when its state changes; a pause
    // holds every client, none held alone is let go by a resume.
    port.HoldClientRx(2, true);
    port.HoldClientRx(2, true);
    port.HoldClientRx(300, true);
    EXPECT_EQ(port.clientChanges, (std::vector<int>{2}));
    EXPECT_TRUE(port.ClientRxHeld(2));
    EXPECT_FALSE(port.ClientRxHeld(1));
    EXPECT_FALSE(port.ClientRxHeld(300));
    port.PauseRx();
    port.ResumeRx();
    EXPECT_TRUE(port.ClientRxHeld(2));
    port.HoldClientRx(2, false);
    EXPECT_EQ(port.clientChanges, (std::vector<int>{2, 2}));
    EXPECT_FALSE(port.ClientRxHeld(2));
}

TEST(foreign_port, labels_are_enabled_and_shown_with_the_control_they_label) {
    test_support::EnsureQtApplication();
    TestPort port(257, nullptr);
    auto& f = port.TheFrame();
    f.SetLabeledEnabled(f.label, false);
    EXPECT_FALSE(f.label->Enabled());
    EXPECT_FALSE(f.edits[1]->Enabled());
    EXPECT_TRUE(f.edits[0]->Enabled());
    f.SetLabeledVisible(f.label, false);
    EXPECT_FALSE(f.label->Visible());
    EXPECT_FALSE(f.edits[1]->Visible());
    f.SetLabeledEnabled(f.label, true);
    f.SetLabeledVisible(f.label, true);
    EXPECT_TRUE(f.edits[1]->Enabled());
    EXPECT_TRUE(f.edits[1]->Visible());
}

TEST(foreign_port, class_table_refuses_com_numbers_and_duplicates_and_names_a_missing_id) {
    test_support::EnsureQtApplication();
    const auto before = ForeignPortClasses().size();
    EXPECT_THROW(RegisterForeignPortClass(255, ForeignPortClassOf<TestPort>()), rtl::Exception);
    EXPECT_THROW(RegisterForeignPortClass(0, ForeignPortClassOf<TestPort>()), rtl::Exception);
    RegisterForeignPortClass(300, ForeignPortClassOf<TestPort>());
    EXPECT_THROW(RegisterForeignPortClass(300, ForeignPortClassOf<TestPort>()), rtl::Exception);
    ASSERT_EQ(ForeignPortClasses().size(), before + 1);

    const int index = ForeignClassIndex(300, true);
    ASSERT_GE(index, 0);
    const auto& entry = ForeignPortClasses()[static_cast<std::size_t>(index)];
    EXPECT_EQ(entry.Id, 300);
    EXPECT_EQ(entry.Class.GetName(), "Loopback");
    EXPECT_TRUE(entry.Class.IsAvailable());

    EXPECT_EQ(ForeignClassIndex(301, false), -1);
    try {
        ForeignClassIndex(301, true);
        FAIL() << "no exception";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message, "Foreign port with id=301 not found");
    }

    UnregisterForeignPortClass(300);
    EXPECT_EQ(ForeignPortClasses().size(), before);
    EXPECT_EQ(ForeignClassIndex(300, false), -1);
}

TEST(foreign_port, a_port_made_from_the_class_table_is_the_concrete_class_with_its_frame) {
    test_support::EnsureQtApplication();
    Recorder owner;
    RegisterForeignPortClass(400, ForeignPortClassOf<TestPort>());
    const auto& entry = ForeignPortClasses()[static_cast<std::size_t>(ForeignClassIndex(400, true))];
    TForeignPortPtr port = entry.Class.Create(400, owner.Callback());
    UnregisterForeignPortClass(400);
    ASSERT_TRUE(port);
    EXPECT_EQ(port->Id(), 400);

    // The frame calls the concrete port's ParamChanged.
    static_cast<TestFrame*>(port->Frame())->edits[2]->SetText("5");
    EXPECT_EQ(static_cast<TestPort&>(*port).changed, std::vector<int>{2});

    owner.events.clear();
    char data[3] = {1, 2, 3};
    EXPECT_EQ(port->Send(data, 3), 0);
    port->SetActive(true);
    EXPECT_TRUE(static_cast<TestFrame*>(port->Frame())->activeLook);
    EXPECT_EQ(port->Send(data, 3), 3);
    ASSERT_EQ(owner.events.size(), 1u);
    EXPECT_EQ(owner.events[0].code, fpeInfo);
    EXPECT_EQ(owner.events[0].text, "Open TLoopbackPort");
}

TEST(foreign_port, the_frame_can_sit_on_a_window_panel_and_go_away_first_or_last) {
    test_support::EnsureQtApplication();
    auto* form = vcl::Create<vcl::TForm>(nullptr);
    auto* panel = vcl::Create<vcl::TPanel>(form);
    panel->SetParent(form);
    {
        TestPort port(257, nullptr);
        port.Frame()->SetParent(panel);
        port.Frame()->SetAlign(vcl::TAlign::alClient);
        EXPECT_EQ(panel->ControlCount(), 1);
    }
    EXPECT_EQ(panel->ControlCount(), 0);

    // The window closing first takes the frame's widgets with it; the port
    // still frees its frame cleanly afterwards.
    auto port = std::make_unique<TestPort>(257, nullptr);
    port->Frame()->SetParent(panel);
    vcl::TComponent::Free(form);
    EXPECT_EQ(port->GetSettings(), "|||");
    port.reset();
}

}  // namespace
}  // namespace ports
