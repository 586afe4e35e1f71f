#pragma once
// Answers the application's modal questions for a test: message boxes are
// recorded and acknowledged, file dialogs get the file (and filter) the test
// chose, or count as cancelled while none is chosen. Header only: the test
// programs that use it link the class library themselves.
#include <string>
#include <vector>

#include "platform/vcl/dialogs.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/menus.h"

namespace test_support {

class DialogAnswers {
public:
    DialogAnswers() {
        vcl::EnsureApplication();
        vcl::Application->MessageHook = [this](const vcl::TMessageRequest& r) {
            Messages.push_back(r.Text);
            return vcl::IDOK;
        };
        vcl::Application->DialogHook = [this](vcl::TCommonDialog& d) {
            Dialogs.push_back(d.Title);
            auto* od = dynamic_cast<vcl::TOpenDialog*>(&d);
            if (!od || file_.empty()) return false;
            od->FileName = file_;
            if (filter_) od->FilterIndex = filter_;
            return true;
        };
    }
    ~DialogAnswers() {
        vcl::Application->MessageHook = nullptr;
        vcl::Application->DialogHook = nullptr;
    }
    DialogAnswers(const DialogAnswers&) = delete;
    DialogAnswers& operator=(const DialogAnswers&) = delete;

    // The next file dialogs answer File with filter Filter (0 keeps the
    // dialog's own); an empty File cancels them.
    void Answer(const std::string& File, int Filter) {
        file_ = File;
        filter_ = Filter;
    }

    std::vector<std::string> Messages;  // texts of the message boxes shown
    std::vector<std::string> Dialogs;   // titles of the dialogs shown

private:
    std::string file_;
    int filter_ = 0;
};

// Chooses the menu entry Name of Owner as the user would; false when there
// is no such entry.
inline bool ClickMenu(vcl::TComponent* Owner, const char* Name) {
    auto* item = dynamic_cast<vcl::TMenuItem*>(Owner->FindComponent(Name));
    if (!item) return false;
    item->Click();
    return true;
}

}  // namespace test_support
