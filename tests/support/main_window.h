#pragma once
// The main window (and, when asked, the graph window) as the program makes
// them, for tests that drive the whole form: modal messages are recorded and
// answered, the settings file lies in a folder of the test's own, and
// everything is freed at the end. Header only: only the test programs that
// link the terminal include it.
#include <string>
#include <vector>

#include "graph/graph_form.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/std_ctrls.h"
#include "support/qt_app.h"
#include "support/temp_dir.h"
#include "terminal/main_form.h"

namespace test_support {

struct MainWindowOptions {
    bool Start = true;      // make the window at once (false: the test calls Start)
    bool Activate = true;   // run the first activation after making it
    bool Graph = false;     // make the graph window as well
    bool Title = false;     // caption the application "Vostrel" as the program does
    std::string Ini = {};   // the settings file; empty: vostrel.ini in the test's folder
    std::string Seed = {};  // read instead while Ini does not exist; empty: none
};

template <class TWindow = terminal::TMain>
class BasicMainWindow {
public:
    explicit BasicMainWindow(MainWindowOptions Options = {})
        : options_(std::move(Options)), ini(options_.Ini.empty() ? dir.File("vostrel.ini") : options_.Ini) {
        vcl::EnsureApplication();
        if (options_.Title) vcl::Application->Title = "Vostrel";
        vcl::Application->MessageHook = [this](const vcl::TMessageRequest& r) {
            Requests.push_back(r);
            Messages.push_back(r.Text);
            return MessageAnswer;
        };
        if (options_.Start) Start();
    }
    ~BasicMainWindow() {
        Free();
        vcl::Application->MessageHook = nullptr;
        vcl::Application->InputHook = nullptr;
        vcl::Application->DialogHook = nullptr;
    }
    BasicMainWindow(const BasicMainWindow&) = delete;
    BasicMainWindow& operator=(const BasicMainWindow&) = delete;

    // Makes the window afresh on the settings file (a previous one is freed
    // first), activated unless the options say otherwise.
    TWindow* Start() {
        Free();
        main = new TWindow(vcl::Application);
        if (options_.Graph) graph = new graph::TfGraph(vcl::Application);
        main->ConfigFileName = ini;
        main->ConfigSeedFileName = options_.Seed;
        if (options_.Activate) main->FormActivate(main);
        return main;
    }
    // Frees the windows and any notice left open.
    void Free() {
        vcl::TComponent::Free(main);
        vcl::TComponent::Free(graph);
        main = nullptr;
        graph = nullptr;
        for (vcl::TForm* f : Notices()) vcl::TComponent::Free(f);
    }

    // The next prepared answer to an input question, taken; false (the
    // question cancelled) when none is left.
    bool TakeAnswer(std::string& Value) {
        if (Answers.empty()) return false;
        Value = Answers.front();
        Answers.erase(Answers.begin());
        return true;
    }

    // Runs the loop until the window shows everything it received (while
    // data comes in, it shows it once a frame).
    bool ShowReceived() {
        return PumpUntil([this] { return main->RxQueue.Empty() && !main->PumpPosted && !main->ReceiveViewHeld; });
    }

    // Open notice windows: message forms captioned with the application title.
    static std::vector<vcl::TForm*> Notices() {
        std::vector<vcl::TForm*> out;
        for (int i = 0; i < vcl::Application->ComponentCount(); ++i) {
            auto* f = dynamic_cast<vcl::TForm*>(vcl::Application->Components(i));
            if (f && f->FindComponent("Message") && f->Caption() == "Vostrel") out.push_back(f);
        }
        return out;
    }
    static std::string NoticeText(vcl::TForm* f) {
        return static_cast<vcl::TLabel*>(f->FindComponent("Message"))->Caption();
    }

private:
    MainWindowOptions options_;

public:
    TempDir dir;
    std::string ini;                              // the settings file
    std::vector<vcl::TMessageRequest> Requests;   // message boxes shown
    std::vector<std::string> Messages;            // their texts
    int MessageAnswer = vcl::IDOK;                // what every message box answers
    std::vector<std::string> Answers;             // next answers to input questions
    graph::TfGraph* graph = nullptr;
    TWindow* main = nullptr;
};

using MainWindow = BasicMainWindow<>;

}  // namespace test_support
