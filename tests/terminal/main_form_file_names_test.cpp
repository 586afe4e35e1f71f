// The receive list's Save as and Load through the real file dialogs: every
// name the user types or picks is the name of the file written or read,
// whatever its letters, quotes, extension or length.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "platform/rtl/files.h"
#include "support/dialog_answers.h"
#include "support/file_contents.h"
#include "support/main_window.h"
#include "support/real_file_dialog.h"

namespace {

namespace fs = std::filesystem;

using test_support::Slurp;

struct NamesFixture : test_support::MainWindow {
    test_support::RealFileDialog dialog;
    NamesFixture() { main->RVPnlTime = 0; }
    void Receive(const std::string& bytes) {
        main->cp1->OnReceiveData(main->cp1, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
        main->PumpReceived();
    }
    void SaveAs(const std::string& typed, int filter) {
        dialog.Answer(typed, filter);
        ASSERT_TRUE(test_support::ClickMenu(main, "mSaveAll"));
    }
    std::string Line(int i) const { return main->RxPanel->Lines().GetLine(i); }
};

TEST(main_form_file_names, names_the_code_page_lacks_save_load_and_ask_before_replacing_that_file) {
    NamesFixture f;
    const std::string dir = f.dir.path();
    fs::create_directory(dir + "/naïve");
    for (const std::string name : {"café.cp", "naïve/ß.cp", "日本.cp"}) {
        const std::string path = dir + "/" + name;
        f.main->ClearmClick(nullptr);
        f.Receive("\x01");
        f.SaveAs(path, 3);
        const std::string first = Slurp(path);
        ASSERT_NE(first, "") << name << " was not written";

        // Saving to it again asks about that very file; No leaves it.
        f.Receive("\x02");
        f.Messages.clear();
        f.MessageAnswer = vcl::IDNO;
        f.SaveAs(path, 3);
        ASSERT_EQ(f.Messages.size(), 1u) << name;
        EXPECT_EQ(f.Messages[0], rtl::FromSysPath(fs::path(name).filename().string()) +
                                     " already exists.\rDo you want to replace it?");
        EXPECT_EQ(Slurp(path), first);
        f.MessageAnswer = vcl::IDYES;
        f.SaveAs(path, 3);
        EXPECT_NE(Slurp(path), first);

        const std::string shown = f.Line(0);
        f.main->ClearmClick(nullptr);
        f.dialog.Answer(path);
        ASSERT_TRUE(test_support::ClickMenu(f.main, "Load1"));
        EXPECT_EQ(f.Line(0), shown) << name;
    }
    // A name that is no UTF-8 (an old Latin-1 one), which the dialog shows
    // with a replacement mark, still opens that very file.
    fs::copy_file(dir + "/café.cp", dir + "/caf\xE9.cp");
    const std::string shown = f.Line(0);
    f.main->ClearmClick(nullptr);
    f.dialog.Answer(dir + "/caf\uFFFD.cp");
    ASSERT_TRUE(test_support::ClickMenu(f.main, "Load1"));
    EXPECT_EQ(f.Line(0), shown);
    // A name the code page cannot tell from the first is another file.
    f.Messages.clear();
    f.SaveAs(dir + "/cafè.cp", 3);
    EXPECT_TRUE(f.Messages.empty());
    EXPECT_TRUE(fs::exists(dir + "/cafè.cp"));
    EXPECT_EQ(f.dialog.LeftOpen, 3);  // the three answers of No
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find('?'), std::string::npos) << entry.path();
}

TEST(main_form_file_names, a_typed_name_is_one_name_and_gets_the_selected_filters_extension) {
    NamesFixture f;
    const std::string dir = f.dir.path();
    fs::create_directory(dir + "/sub");
    f.main->sd1->InitialDir = dir;
    f.Receive("A");
    f.SaveAs("sub/quo\"te.cp", 3);  // typed in the folder the dialog shows
    f.SaveAs(dir + "/sub/\"quoted\"", 2);
    f.SaveAs(dir + "/plain", 1);
    f.SaveAs(dir + "/plain", 3);
    // As long as a name may be: the temporary beside it has a short one.
    const std::string longest = std::string(252, 'n') + ".cp";
    f.SaveAs(dir + "/" + longest, 3);
    EXPECT_TRUE(f.Messages.empty()) << f.Messages[0];
    std::set<std::string> made;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        made.insert(fs::relative(entry.path(), dir).string());
    EXPECT_EQ(made, (std::set<std::string>{"sub", "sub/quo\"te.cp", "sub/\"quoted\".bin", "plain.txt", "plain.cp",
                                           longest}));
    EXPECT_EQ(Slurp(dir + "/plain.txt"), "41\r\n");
    EXPECT_EQ(Slurp(dir + "/sub/\"quoted\".bin"), "A");
}

}  // namespace
