#include "platform/vcl/dialogs.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QInputDialog>
#include <QWidget>

#include "platform/vcl/qt_bridge.h"
#include "platform/vcl/std_ctrls.h"
#include "platform/vcl/text.h"

namespace vcl {

bool TCommonDialog::Execute() {
    if (Application && Application->DialogHook) return Application->DialogHook(*this);
    return Run();
}

std::string FilterToQtText(const std::string& filter) {
    // Pairs of (description, pattern). Qt reads the patterns from the
    // parentheses; the usual descriptions show them already.
    std::string out;
    std::size_t pos = 0;
    while (pos <= filter.size()) {
        std::size_t bar = filter.find('|', pos);
        if (bar == std::string::npos) break;
        std::string desc = filter.substr(pos, bar - pos);
        std::size_t end = filter.find('|', bar + 1);
        std::string pattern =
            filter.substr(bar + 1, end == std::string::npos ? std::string::npos : end - bar - 1);
        for (char& c : pattern)
            if (c == ';') c = ' ';
        if (!out.empty()) out += ";;";
        out += desc.find("(" + pattern + ")") != std::string::npos ? desc
                                                                   : desc + " (" + pattern + ")";
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    return out;
}

bool TOpenDialog::Run() {
    QFileDialog dlg(nullptr, ToQ(Title));
    dlg.setAcceptMode(saving_ ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dlg.setFileMode(saving_ ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    QStringList filters = ToQ(FilterToQtText(Filter)).split(";;", Qt::SkipEmptyParts);
    dlg.setNameFilters(filters);
    if (FilterIndex >= 1 && FilterIndex <= filters.size()) dlg.selectNameFilter(filters[FilterIndex - 1]);
    if (!DefaultExt.empty()) dlg.setDefaultSuffix(ToQ(DefaultExt));
    if (!InitialDir.empty()) dlg.setDirectory(ToQ(InitialDir));
    if (!FileName.empty()) dlg.selectFile(ToQ(FileName));
    if (!(Options & ofOverwritePrompt)) dlg.setOption(QFileDialog::DontConfirmOverwrite);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return false;
    FileName = FromQ(dlg.selectedFiles().front());
    FilterIndex = static_cast<int>(filters.indexOf(dlg.selectedNameFilter())) + 1;
    return true;
}

bool TFontDialog::Run() {
    bool ok = false;
    QFont f = QFontDialog::getFont(&ok, ToQFont(Font), nullptr, ToQ(Title));
    if (!ok) return false;
    Font.SetName(FromQ(f.family()));
    Font.SetSize(f.pointSize() > 0 ? f.pointSize() : (f.pixelSize() * 72 + 48) / 96);
    return true;
}

bool TColorDialog::Run() {
    constexpr int kCustom = 16;
    for (int i = 0; i < kCustom; ++i)
        QColorDialog::setCustomColor(i, ToQColor(i < int(CustomColors.size()) ? CustomColors[std::size_t(i)] : clWhite));
    QColor c = QColorDialog::getColor(ToQColor(Color), nullptr, ToQ(Title));
    if (!c.isValid()) return false;
    Color = FromQColor(c);
    CustomColors.clear();
    for (int i = 0; i < kCustom; ++i) CustomColors.push_back(FromQColor(QColorDialog::customColor(i)));
    return true;
}

int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons) {
    unsigned flags = MB_OK;
    if ((buttons & mbYes) && (buttons & mbNo)) flags = (buttons & mbCancel) ? MB_YESNOCANCEL : MB_YESNO;
    else if ((buttons & mbOK) && (buttons & mbCancel)) flags = MB_OKCANCEL;
    switch (type) {
        case mtWarning: flags |= MB_ICONWARNING; break;
        case mtError: flags |= MB_ICONERROR; break;
        case mtInformation: flags |= MB_ICONINFORMATION; break;
        case mtConfirmation: flags |= MB_ICONQUESTION; break;
        default: break;
    }
    TApplication* app = EnsureApplication();
    return app->MessageBox(text, app->Title, flags);  // IDxx equal mrXx
}

void ShowMessage(const std::string& text) {
    TApplication* app = EnsureApplication();
    app->MessageBox(text, app->Title, MB_OK);
}

bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) {
    TApplication* app = EnsureApplication();
    if (app->InputHook) return app->InputHook(caption, prompt, value);
    bool ok = false;
    QString s = QInputDialog::getText(nullptr, ToQ(caption), ToQ(prompt), QLineEdit::Normal,
                                      ToQ(value), &ok);
    if (ok) value = FromQ(s);
    return ok;
}

TForm* CreateMessageDialog(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons) {
    static const char* const kCaptions[] = {"Warning", "Error", "Information", "Confirmation", ""};
    TApplication* app = EnsureApplication();
    auto* dlg = new TForm(app);
    dlg->Name = "MessageDlg";
    dlg->SetCaption(kCaptions[type]);
    dlg->SetBorderStyle(TFormBorderStyle::bsDialog);
    auto* label = new TLabel(dlg);
    label->Name = "Message";
    label->SetParent(dlg);
    label->SetCaption(text);
    label->SetBounds(16, 16, label->Width(), label->Height());
    struct Btn {
        TMsgDlgBtn flag;
        const char* name;
        const char* caption;
    };
    static const Btn kButtons[] = {{mbYes, "Yes", "&Yes"},       {mbNo, "No", "&No"},
                                   {mbOK, "OK", "OK"},           {mbCancel, "Cancel", "Cancel"},
                                   {mbAbort, "Abort", "&Abort"}, {mbRetry, "Retry", "&Retry"},
                                   {mbIgnore, "Ignore", "&Ignore"}};
    int count = 0;
    for (const Btn& b : kButtons)
        if (buttons & b.flag) ++count;
    int width = std::max(label->Width() + 32, count * 83 + 24);
    int x = (width - (count * 83 - 8)) / 2;
    int y = label->Top() + label->Height() + 16;
    for (const Btn& b : kButtons) {
        if (!(buttons & b.flag)) continue;
        auto* button = new TButton(dlg);
        button->Name = b.name;
        button->SetParent(dlg);
        button->SetCaption(b.caption);
        button->SetBounds(x, y, 75, 25);
        button->OnClick = [dlg](TComponent*) { dlg->Close(); };
        x += 83;
    }
    dlg->SetBounds(dlg->Left(), dlg->Top(), width, y + 25 + 16);
    return dlg;
}

TForm* ShowNotice(const std::string& text, TMsgDlgType type) {
    TForm* dlg = CreateMessageDialog(text, type, mbOK);
    dlg->Name = "";  // several notices may be open at once
    dlg->SetCaption(Application->Title);
    if (auto* ok = dynamic_cast<TButton*>(dlg->FindComponent("OK"))) {
        // Freed once the click has been handled.
        ok->OnClick = [dlg](TComponent*) {
            dlg->Hide();
            dlg->Release();
        };
    }
    // Closed through its window it goes away as well.
    dlg->OnClose = [](TComponent*, TCloseAction& Action) { Action = TCloseAction::caFree; };
    dlg->Show();
    dlg->Repaint();
    return dlg;
}

}  // namespace vcl
