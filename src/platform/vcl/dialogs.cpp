#include "platform/vcl/dialogs.h"

#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QWidget>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <utility>

#include "platform/rtl/files.h"
#include "platform/vcl/qt_bridge.h"
#include "platform/vcl/std_ctrls.h"
#include "platform/vcl/text.h"

namespace vcl {

bool TCommonDialog::Execute() {
    if (Application && Application->DialogHook) return Application->DialogHook(*this);
    // The application is ending: nobody is left to choose.
    if (Application && Application->Terminated()) return false;
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

namespace {

constexpr char16_t kReplacementMark = 0xFFFD;

// The system's bytes of a path as Qt spells it. Qt shows the bytes of a
// folder entry that are no UTF-8 as replacement marks; such a component is
// matched with the entries of its folder that Qt shows the same way. No
// entry (a name the user typed): the marks themselves. More than one: the
// name cannot tell which file it is, and none is chosen.
std::optional<std::string> SystemBytes(const QString& Path) {
    if (!Path.contains(QChar(kReplacementMark))) return Path.toStdString();
    std::string out;
    const QStringList parts = Path.split(QLatin1Char('/'));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString& part = parts[i];
        std::string bytes = part.toStdString();
        if (part.contains(QChar(kReplacementMark))) {
            int found = 0;
            std::error_code ec;
            const std::filesystem::path folder(out.empty() ? std::string(".") : out);
            for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
                const std::string entry = it->path().filename().string();
                if (QString::fromUtf8(entry.data(), static_cast<qsizetype>(entry.size())) != part) continue;
                bytes = entry;
                ++found;
            }
            if (found > 1) return std::nullopt;
        }
        out += bytes;
        if (i + 1 < parts.size()) out += '/';
    }
    return out;
}

// Whether anything is there under Name (program text); a link counts even
// when it leads nowhere, as saving through it would create its target.
bool NameTaken(const std::string& Name, bool FollowLinks) {
    struct stat st {};
    const std::string sys = rtl::SysPath(Name);
    return (FollowLinks ? ::stat(sys.c_str(), &st) : ::lstat(sys.c_str(), &st)) == 0;
}

// The extension of the Index-th filter (from 1): its first pattern's, when
// that is "*.ext"; empty for "*", "*.*" and the like.
std::string FilterExtension(const std::string& Filter, int Index) {
    std::size_t pos = 0;
    for (int i = 1; pos < Filter.size(); ++i) {
        const std::size_t bar = Filter.find('|', pos);
        if (bar == std::string::npos) break;
        const std::size_t end = std::min(Filter.find('|', bar + 1), Filter.size());
        if (i == Index) {
            std::string pattern = Filter.substr(bar + 1, end - bar - 1);
            pattern = pattern.substr(0, pattern.find(';'));
            if (pattern.size() < 3 || pattern.compare(0, 2, "*.") != 0) return {};
            std::string ext = pattern.substr(2);
            return ext.find_first_of("*?[") == std::string::npos ? ext : std::string();
        }
        pos = end + 1;
    }
    return {};
}

// The dialog's own file list and name box, with the name the user typed read
// as one name: quotes are part of it (the toolkit would read them as a list
// of names), a name without an extension gets the selected filter's, and the
// question before replacing a file names the file that will be written.
class TFileNameDialog : public QFileDialog {
public:
    TFileNameDialog(const TOpenDialog& Owner, bool Saving, QStringList Filters)
        : QFileDialog(nullptr, ToQShown(Owner.Title)), owner_(Owner), saving_(Saving), filters_(std::move(Filters)) {
        setOption(QFileDialog::DontUseNativeDialog);  // the checks below run in accept()
        setAcceptMode(Saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        setFileMode(Saving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        setNameFilters(filters_);
    }

    // The file chosen, as program text; empty until the dialog is accepted.
    const std::string& Chosen() const { return chosen_; }
    int FilterIndex() const { return static_cast<int>(filters_.indexOf(selectedNameFilter())) + 1; }

protected:
    void accept() override {
        auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        const QString typed = edit ? edit->text() : QString();
        if (typed.isEmpty()) return;
        QString path = typed;
        if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
            path = QDir::homePath() + path.mid(1);
        else if (!path.startsWith(QLatin1Char('/')))
            path = QDir(directory().absolutePath()).filePath(path);
        if (QFileInfo(path).isDir()) {
            setDirectory(path);
            edit->clear();
            return;
        }
        if (saving_ && !path.mid(path.lastIndexOf(QLatin1Char('/')) + 1).contains(QLatin1Char('.'))) {
            std::string ext = FilterExtension(owner_.Filter, FilterIndex());
            if (ext.empty()) ext = owner_.DefaultExt;
            if (!ext.empty()) path += QLatin1Char('.') + ToQ(ext);
        }
        const std::optional<std::string> bytes = SystemBytes(path);
        if (!bytes) {
            Tell("Cannot tell which file \"" + FromQName(path) +
                     "\" means: more than one name in its folder that is no valid text shows so.",
                 MB_OK | MB_ICONWARNING);
            return;
        }
        const std::string name = rtl::FromSysPath(*bytes);
        if (saving_) {
            if ((owner_.Options & ofOverwritePrompt) && NameTaken(name, false) &&
                Tell(rtl::ExtractFileName(name) + " already exists.\rDo you want to replace it?",
                     MB_YESNO | MB_ICONWARNING) != IDYES)
                return;
        } else if (!NameTaken(name, true)) {
            Tell(name + "\rFile not found.\rPlease verify the correct file name was given.", MB_OK | MB_ICONWARNING);
            return;
        }
        chosen_ = name;
        QDialog::accept();
    }

private:
    int Tell(const std::string& Text, unsigned Flags) {
        TApplication* app = EnsureApplication();
        return app->MessageBox(Text, owner_.Title.empty() ? app->Title : owner_.Title, Flags);
    }

    const TOpenDialog& owner_;
    bool saving_;
    QStringList filters_;
    std::string chosen_;
};

}  // namespace

bool TOpenDialog::Run() {
    TFileNameDialog dlg(*this, saving_, ToQ(FilterToQtText(Filter)).split(";;", Qt::SkipEmptyParts));
    const QStringList filters = dlg.nameFilters();
    if (FilterIndex >= 1 && FilterIndex <= filters.size()) dlg.selectNameFilter(filters[FilterIndex - 1]);
    if (!InitialDir.empty()) dlg.setDirectory(ToQShown(InitialDir));
    if (!FileName.empty()) dlg.selectFile(ToQShown(FileName));
    if (dlg.exec() != QDialog::Accepted || dlg.Chosen().empty()) return false;
    FileName = dlg.Chosen();
    FilterIndex = dlg.FilterIndex();
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
    if (app->Terminated()) return false;
    bool ok = false;
    QString s = QInputDialog::getText(nullptr, ToQShown(caption), ToQShown(prompt), QLineEdit::Normal,
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
