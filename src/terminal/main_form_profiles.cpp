// Port profiles: ten named slots and slot 11 with the current settings,
// chosen in CBProfile, saved with Saveb and deleted with BDelProfile; and the
// one-line summary of the port settings.
#include <algorithm>
#include <iterator>
#include <vector>

#include "platform/rtl/cp1251.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/files.h"
#include "platform/rtl/format.h"
#include "platform/rtl/name_escapes.h"
#include "platform/rtl/numbers.h"
#include "platform/rtl/strings.h"
#include "ports/foreign_port.h"
#include "terminal/main_form.h"

namespace terminal {

namespace {

constexpr const char* kCaption = "VOSTREL";
constexpr int kNamedSlots = 10;
// Speeds above this are not offered (the speed dialog refuses them too).
constexpr int kMaxSpeed = 16777215;

// A profile name without its summary in brackets and surrounding blanks.
std::string BareName(const std::string& name) {
    return rtl::Trim(name.substr(0, name.find(" [")));
}

bool AskYes(const std::string& text) {
    return vcl::Application->MessageBox(text, kCaption, vcl::MB_YESNOCANCEL | vcl::MB_ICONQUESTION) ==
           vcl::IDYES;
}

int SelectedPort(vcl::TComboBox* combo) {
    const int i = combo->ItemIndex();
    return i < 0 ? 0 : static_cast<int>(combo->Items().Objects(i));
}

// Selects a port in a combo and handles it as a change of that combo. A
// foreign-port class that the main list does not offer is reported ("Foreign
// port with id=%d not found"); any other number that is neither "[No]" nor a
// COM port leaves the combo without a selection, which applying the
// parameters reports ("Wrong Main Port value").
void SelectPort(TMain& m, int port, bool main) {
    vcl::TComboBox* combo = main ? m.ComNcb : m.cbComN2;
    if (combo->Items().IndexOfObject(port) >= 0 || (port >= 0 && port <= 255))
        m.ForceComNumber(port, main);
    else if (main && port >= ports::FirstForeignPortId)
        TMain::ForeignClassIndex(port, true);
    else
        combo->SetItemIndex(-1);
    m.ComNcbChange(combo);
}

}  // namespace

void TMain::HookProfileControls() {
    CBProfile->OnChange = [this](vcl::TComponent* s) { CBProfileChange(s); };
    CBProfile->OnDropDown = [this](vcl::TComponent* s) { CBProfileDropDown(s); };
    Saveb->OnClick = [this](vcl::TComponent* s) { SavecfgbClick(s); };
    BDelProfile->OnClick = [this](vcl::TComponent* s) { BDelProfileClick(s); };
}

void TMain::ClearProfile(int Slot) {
    TPortProfile& p = Profiles[Slot];
    TPortProfile cleared;
    cleared.AuxParams = std::move(p.AuxParams);
    cleared.StoredPlugPath = std::move(p.StoredPlugPath);
    cleared.StoredPlugPathRead = std::move(p.StoredPlugPathRead);
    p = std::move(cleared);
}

void TMain::StoreProfile(int Slot, const std::string& Name) {
    ClearProfile(Slot);
    TPortProfile& p = Profiles[Slot];
    if (ComNcb->ItemIndex() >= 0) p.Port = SelectedPort(ComNcb);
    if (cbComN2->ItemIndex() >= 0) p.Port2 = SelectedPort(cbComN2);
    p.Speed = rtl::StrToIntDef(speedcb->Text(), 0);
    if (Databitscb->ItemIndex() >= 0) p.DataBits = Databitscb->ItemIndex();
    if (Stopbcb->ItemIndex() >= 0) p.StopBits = Stopbcb->ItemIndex();
    if (Parcb->ItemIndex() >= 0) p.Parity = Parcb->ItemIndex();
    p.DTR = DTRcb->Checked();
    p.RTS = rtscb->Checked();
    if (ForeignPort) p.AuxParams = rtl::IntToStr(ForeignPort->Id()) + "|" + ForeignPort->GetSettings();
    p.Name = Name;
    p.PlugPath = !PluginPath.empty() ? PluginPath : PendingPluginPath;
}

void TMain::ApplyConf(int Slot) {
    if (Slot < 1 || Slot > 11) return;
    ++ApplyingProfile;
    struct Done {
        int& counter;
        ~Done() { --counter; }
    } done{ApplyingProfile};
    const TPortProfile p = Profiles[Slot];

    SelectPort(*this, p.Port, true);
    if (ForeignPort) {
        const auto bar = p.AuxParams.find('|');
        const std::string id = p.AuxParams.substr(0, bar);
        if (bar != std::string::npos && rtl::StrToIntDef(id, -1) == ForeignPort->Id())
            ForeignPort->SetSettings(p.AuxParams.substr(bar + 1));
    }
    SelectPort(*this, p.Port2, false);

    if (p.DataBits >= 0 && p.DataBits <= 3) Databitscb->SetItemIndex(p.DataBits);
    if (p.StopBits >= 0 && p.StopBits <= 2) Stopbcb->SetItemIndex(p.StopBits);
    if (p.Parity >= 0 && p.Parity <= 4) Parcb->SetItemIndex(p.Parity);
    DTRcb->SetChecked(p.DTR);
    rtscb->SetChecked(p.RTS);

    // A rate no port can take selects no rate, which applying the
    // parameters reports ("Wrong speed number"); 0 (stored for a rate that
    // was no number) keeps the rate shown.
    const std::string speed = rtl::IntToStr(p.Speed);
    int i = speedcb->Items().IndexOf(speed);
    if (i < 0 && p.Speed >= 1 && p.Speed <= kMaxSpeed) {
        i = std::max(0, speedcb->Items().Count() - 1);  // before "Custom.."
        speedcb->Items().Insert(i, speed);
    }
    if (i >= 0 || p.Speed != 0) speedcb->SetItemIndex(i);

    // The ports come first, so that a plug-in's ONLOAD can talk to the
    // device; a port error is shown after the plug-in is in place.
    std::exception_ptr port_error;
    if (!ForeignPort) {
        try {
            ApplyBothPortParams(false);
        } catch (...) {
            port_error = std::current_exception();
        }
    }
    // A plug-in that cannot be loaded (or not now, while one of its events
    // runs) is reported, and the rest of the profile stays applied. The
    // profile still names it, so the settings keep it for the next start
    // (one whose ONLOAD failed or was stopped was loaded, and is not kept).
    PendingPluginPath.clear();
    try {
        LoadPlugin(p.PlugPath);
    } catch (const std::exception& e) {
        if (PluginPath.empty()) PendingPluginPath = p.PlugPath;
        if (vcl::Application != nullptr) vcl::Application->ShowException(e);
    }
    if (port_error) std::rethrow_exception(port_error);
}

// Selecting a profile: the Delete button follows the selection; a selected
// entry applies its slot (a failure deselects it and goes on to the caller).
void TMain::CBProfileChange(vcl::TComponent* Sender) {
    // While a plug-in event runs the profile is refused whole: its ports
    // would be taken from under the running plug-in, and the plug-in it
    // names cannot be loaded now. The box goes back to what is applied.
    if (Sender && PluginBusy) CBProfile->SetItemIndex(AppliedProfile);
    BDelProfile->SetEnabled(CBProfile->ItemIndex() >= 0);
    if (Sender) CheckPluginIdle();
    if (!Sender || CBProfile->ItemIndex() < 0) {
        AppliedProfile = CBProfile->ItemIndex();
        return;
    }
    LastProfileName = CBProfile->Text();
    CBProfile->SetHint(rtl::PlainInMessage(LastProfileName));
    try {
        ApplyConf(CBProfile->ItemIndex() + 1);
        AppliedProfile = CBProfile->ItemIndex();
    } catch (...) {
        CBProfile->SetItemIndex(-1);
        AppliedProfile = -1;
        BDelProfile->SetEnabled(false);
        throw;
    }
}

void TMain::speedcbExit(vcl::TComponent*) {
    if (ApplyingProfile == 0) {
        CBProfile->SetItemIndex(-1);
        CBProfileChange(nullptr);
    }
    if (ForeignPort) return;
    ApplyBothPortParams(ComNcb->ItemIndex() == 0, cbComN2->ItemIndex() == 0);
}

void TMain::SavecfgbClick(vcl::TComponent*) {
    LastProfileName = LastProfileName.substr(0, LastProfileName.find(" [")) + " [" +
                      GetParamsSummary(false) + "]";
    std::string name = LastProfileName;
    if (!vcl::InputQuery("Profile saving...",
                         "Enter Name (leave empty if you want to save as current):", name))
        return;
    // A name of blanks alone would be read back as a free slot: it saves as
    // the current settings, as an empty one does.
    if (rtl::Trim(name).empty()) {
        SaveConfig(true);
        return;
    }
    vcl::TComboItems& items = CBProfile->Items();
    int index = -1;
    for (int i = 0; i < items.Count() && index < 0; ++i)
        if (BareName(items.Strings(i)) == BareName(name)) index = i;
    if (index >= 0) {
        if (!AskYes("Profile with such name already exists\rWould you like to overwrite it?"))
            return;
    } else if (items.Count() >= kNamedSlots) {
        throw rtl::Exception(rtl::Format(
            "Too many profiles exist (%d items).\rFirst delete one of existing.", {kNamedSlots}));
    }
    // What the list showed, for a save that fails.
    const bool added = index < 0;
    const int selected = CBProfile->ItemIndex();
    const std::string oldText = added ? std::string() : items.Strings(index);
    if (added)
        index = items.Add(name);
    else
        items.SetString(index, name);
    const TPortProfile oldSlot = Profiles[index + 1];
    StoreProfile(index + 1, name);
    CBProfile->SetItemIndex(index);
    CBProfileChange(nullptr);
    try {
        SaveConfig(true);
    } catch (...) {
        // The file keeps the profiles it had (closing writes none of the
        // named ones), so the list goes back to them: a profile shown but
        // never kept would be gone after a restart.
        Profiles[index + 1] = oldSlot;
        if (added)
            items.Delete(index);
        else
            items.SetString(index, oldText);
        CBProfile->SetItemIndex(selected);
        CBProfileChange(nullptr);
        throw;
    }
}

void TMain::BDelProfileClick(vcl::TComponent*) {
    const int index = CBProfile->ItemIndex();
    if (index < 0) throw rtl::Exception("Nothing to delete");
    if (!AskYes("Do your really want to delete profile\r\"" + rtl::PlainInMessage(CBProfile->Items().Strings(index)) +
                "\" ?"))
        return;
    // What the list and the slots held, for a save that fails.
    const std::vector<TPortProfile> kept(std::begin(Profiles), std::end(Profiles));
    const std::string text = CBProfile->Items().Strings(index);
    for (int k = index + 1; k < kNamedSlots; ++k) Profiles[k] = Profiles[k + 1];
    Profiles[kNamedSlots].Name.clear();
    CBProfile->Items().Delete(index);
    CBProfile->SetItemIndex(-1);
    CBProfile->Repaint();
    CBProfileChange(nullptr);
    try {
        SaveConfig(true);
    } catch (...) {
        // The file still holds the profile, so the list shows it again: one
        // gone from the list but back after a restart would surprise.
        for (int k = 1; k <= kNamedSlots; ++k) Profiles[k] = kept[k];
        CBProfile->Items().Insert(index, text);
        CBProfile->SetItemIndex(index);
        CBProfileChange(nullptr);
        throw;
    }
}

void TMain::CBProfileDropDown(vcl::TComponent*) {
    vcl::TCanvas& canvas = CBProfile->Canvas();
    canvas.Font.Assign(CBProfile->Font());
    int width = CBProfile->Width();
    for (int i = 0; i < CBProfile->Items().Count(); ++i)
        width = std::max(width, canvas.TextWidth(CBProfile->Items().Strings(i)) + 6);
    CBProfile->SetDroppedWidth(width);
}

std::string TMain::GetParamsSummary(bool NoPlugin) {
    std::string text;
    if (ForeignPort && ForeignPort->Frame()) {
        ports::TfrmForP* frame = ForeignPort->Frame();
        for (int i = 0; i < frame->ParamCount(); ++i) {
            std::string param;
            if (frame->GetParam(i, param, true) != 2) text += param + ",";
        }
    } else {
        const std::string parity = Parcb->Text();
        text = rtl::Format("%s,%s%s%s,%s%s,",
                           {speedcb->Text(), Databitscb->Text(), parity.substr(0, 1), Stopbcb->Text(),
                            DTRcb->Checked() ? "D" : "d", rtscb->Checked() ? "R" : "r"});
        if (CBRS485->Checked()) text += "485,";
    }
    // The summary names a profile, which is plain text: the plug-in's name
    // goes in as the code page spells it ('?' for a letter it lacks), never
    // with the escapes that only a name is read with.
    if (!NoPlugin && !PluginPath.empty())
        text += rtl::Utf8ToAnsi(rtl::SysPath(rtl::ChangeFileExt(rtl::ExtractFileName(PluginPath), ""))) + ",";
    if (!text.empty()) text.pop_back();
    return text;
}

void TMain::UpdateSettingsSummary() {
    std::string text;
    if (!ForeignPort) {
        const int port = SelectedPort(ComNcb), port2 = SelectedPort(cbComN2);
        text = "COM" + (port ? rtl::IntToStr(port) : std::string("-"));
        if (port2) text += "/" + rtl::IntToStr(port2);
        text += ",";
    }
    lblSets->SetCaption(text + GetParamsSummary(true));
    RVLabel->SetLeft(lblSets->Left() + lblSets->Width() + 8);
}

}  // namespace terminal
