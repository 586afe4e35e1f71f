#pragma once
// Common dialogs (file, font, colour), message boxes and the message dialog
// form. Tests answer them through Application's hooks instead of a modal loop.
#include <string>
#include <vector>

#include "platform/vcl/forms.h"
#include "platform/vcl/graphics.h"

namespace vcl {

enum TOpenOption : unsigned {
    ofOverwritePrompt = 1, ofHideReadOnly = 2, ofPathMustExist = 4, ofFileMustExist = 8,
    ofEnableSizing = 16,
};
using TOpenOptions = unsigned;

class TCommonDialog : public TComponent {
public:
    explicit TCommonDialog(TComponent* owner) : TComponent(owner) {}
    // Shows the dialog and waits for the user; true when the user accepted.
    bool Execute();
    std::string Title;

protected:
    virtual bool Run() = 0;
};

class TOpenDialog : public TCommonDialog {
public:
    explicit TOpenDialog(TComponent* owner) : TCommonDialog(owner) {}
    std::string FileName;
    std::string Filter;  // "Text File (*.txt)|*.txt|Binary File (*.bin)|*.bin"
    int FilterIndex = 1;  // counts from 1
    std::string DefaultExt;
    std::string InitialDir;
    TOpenOptions Options = ofHideReadOnly | ofEnableSizing;

protected:
    bool Run() override;
    bool saving_ = false;
};

class TSaveDialog : public TOpenDialog {
public:
    explicit TSaveDialog(TComponent* owner) : TOpenDialog(owner) { saving_ = true; }
};

class TFontDialog : public TCommonDialog {
public:
    explicit TFontDialog(TComponent* owner) : TCommonDialog(owner) {}
    TFont Font;

protected:
    bool Run() override;
};

class TColorDialog : public TCommonDialog {
public:
    explicit TColorDialog(TComponent* owner) : TCommonDialog(owner) {}
    TColor Color = clBlack;
    // The 16 colours the user keeps in the dialog (missing ones are
    // white); after a confirmed dialog, as the user left them.
    std::vector<TColor> CustomColors;

protected:
    bool Run() override;
};

// The filter text joined with "|" as Qt's name filters ("Text File (*.txt)").
std::string FilterToQtText(const std::string& filter);

// A modal message with the application's title; returns mr* values.
int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons);
void ShowMessage(const std::string& text);
// Asks for a line of text; false when the user cancelled.
bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value);

// Builds (without showing) a message form owned by Application: a label
// "Message" with the text and one button per requested button, named
// "OK", "Cancel", "Yes", "No", "Abort", "Retry", "Ignore"; a click on a
// button closes the form.
TForm* CreateMessageDialog(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons);
// Shows such a form with an OK button, captioned with the application's
// title, and returns at once: whatever runs (a receive path) goes on while
// it is open. It frees itself when answered or closed.
TForm* ShowNotice(const std::string& text, TMsgDlgType type);

}  // namespace vcl
