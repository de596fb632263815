#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/message_box.h"
#include "base/text.h"
#include "host/form/terminal_form.h"
#include "settings/frm_options.h"
#include "settings/registry.h"
#include "settings/settings_store.h"
#include "support/plugin_on_platform.h"
#include "support/settings_test_support.h"

namespace zuvo {
namespace {

namespace fs = std::filesystem;

// A form on a registry store in a temporary folder, shown in the terminal
// view with |input| as what the user types.
class TerminalFormTest : public ::testing::Test {
 protected:
  TerminalFormTest() {
    store_ = OpenPlatformRegistry((dir / "registry.txt").string());
    registry_ = std::make_unique<Registry>(*store_, box_);
    store_->CreateKey(kHkeyLocalMachine, testing::SettingsSubKey());
    registry_->WriteValue(kSettingsKeyPath, kSharedFolderValue, u"/srv/share");
    registry_->WriteValue(kSettingsKeyPath, kStartOnValue, u"0");
    registry_->WriteValue(kSettingsKeyPath, kSubFoldersValue, u"1");
  }

  // Shows a fresh form with |input| typed; returns what the terminal showed.
  std::string Show(const std::string& input) {
    std::istringstream in(input);
    std::ostringstream out;
    TerminalFormView view(in, out);
    form = std::make_unique<frmOptions>(*registry_, view);
    form->ShowModal();
    return out.str();
  }
  std::u16string Stored(std::u16string_view name) {
    return registry_->ReadValue(kSettingsKeyPath, name);
  }

  testing::TempDir tempDir_;
  const fs::path dir = tempDir_.path();
  std::unique_ptr<frmOptions> form;

 private:
  NullMessageBox box_;
  std::unique_ptr<RegistryBackend> store_;
  std::unique_ptr<Registry> registry_;
};

// The control that carries the focus marker in each drawing of the form.
std::vector<char> FocusTrail(const std::string& screen) {
  std::vector<char> trail;
  size_t pos = 0;
  while ((pos = screen.find("== Zuvo File Sharing - Preferences ==", pos)) != std::string::npos) {
    const size_t end = screen.find("\n> ", pos);
    const size_t mark = screen.find('>', pos + 1);
    if (mark < end) trail.push_back(screen[mark + 1]);
    pos = end;
  }
  return trail;
}

TEST_F(TerminalFormTest, ShowsTheFormAndMovesTheFocusInTheWindowsOrder) {
  const std::string screen = Show("n\nn\nn\nn\nn\nn\np\np\nx\n");
  EXPECT_NE(screen.find("Zuvo File Sharing - Preferences"), std::string::npos);
  EXPECT_NE(screen.find("Shared Folder  3 [/srv/share]  4 [...]"), std::string::npos);
  EXPECT_NE(screen.find("5 [x] Include Sub Folders"), std::string::npos);
  EXPECT_NE(screen.find("2 [ ] Start with Zuvo File Sharing Turned on"), std::string::npos);
  EXPECT_NE(screen.find("[Apply]"), std::string::npos);
  EXPECT_NE(screen.find("[Cancel]"), std::string::npos);
  // Apply first, then Check1, Text1, "...", Check2, Cancel, and round again.
  EXPECT_EQ(FocusTrail(screen), (std::vector<char>{'1', '2', '3', '4', '5', '6', '1', '6', '5'}));
  EXPECT_TRUE(form->unloaded());

  // Enter on the opening focus presses Apply.
  Show("\n");
  EXPECT_FALSE(form->visible());
  EXPECT_FALSE(form->unloaded());
}

TEST_F(TerminalFormTest, EditsToggleAndApplyOrCancel) {
  // Edit the folder, toggle both boxes, then Enter on the focused box (it
  // toggles again), then Apply by number.
  Show("3\n/data/new folder\n2\n5\n\n1\n");
  EXPECT_FALSE(form->visible());
  EXPECT_FALSE(form->unloaded());
  EXPECT_EQ(Stored(kSharedFolderValue), u"/data/new folder");
  EXPECT_EQ(Stored(kStartOnValue), u"1");
  EXPECT_EQ(Stored(kSubFoldersValue), u"1");
  EXPECT_EQ(form->Text2, u"1");

  // Enter alone keeps the text; "" empties it.
  Show("3\n\n1\n");
  EXPECT_EQ(Stored(kSharedFolderValue), u"/data/new folder");
  Show("3\n\"\"\n1\n");
  EXPECT_EQ(Stored(kSharedFolderValue), u"");
  Show("3\n\"trailing \"\n1\n");
  EXPECT_EQ(Stored(kSharedFolderValue), u"trailing ");

  // Cancel and the close command store nothing and bring back the store.
  Show("3\n/elsewhere\n2\n6\n");
  EXPECT_EQ(form->Text1, u"trailing ");
  EXPECT_FALSE(form->unloaded());
  Show("3\n/elsewhere\nx\n");
  EXPECT_TRUE(form->unloaded());
  EXPECT_EQ(Stored(kSharedFolderValue), u"trailing ");
  // The end of the input closes the window.
  Show("3\n/elsewhere\n");
  EXPECT_TRUE(form->unloaded());
  EXPECT_EQ(Stored(kSharedFolderValue), u"trailing ");
}

TEST_F(TerminalFormTest, BrowsePicksAnExistingFolderAndCompletesNames) {
  fs::create_directories(dir / "share" / "inner");
  fs::create_directories(dir / "shop");
  fs::create_directories(dir / ".shadow");
  std::ofstream(dir / "shell.txt") << "not a folder";
  const std::string base = dir.string() + "/";

  EXPECT_EQ(CompleteFolderPath(base + "sh"),
            (std::vector<std::string>{base + "share/", base + "shop/"}));
  EXPECT_EQ(CompleteFolderPath(base + ".sh"), (std::vector<std::string>{base + ".shadow/"}));
  EXPECT_TRUE(CompleteFolderPath(base + "nothing").empty());
  EXPECT_TRUE(CompleteFolderPath(base + "missing/x").empty());

  // Completion offers "share/", Enter alone picks it; the form keeps the
  // full path without the trailing separator.
  std::string screen = Show("4\n" + base + "sha?\n\n1\n");
  EXPECT_NE(screen.find("Select Profile Export Directory"), std::string::npos);
  EXPECT_NE(screen.find("Folder [" + base + "share/]>"), std::string::npos);
  EXPECT_EQ(Stored(kSharedFolderValue), Utf8ToUtf16(base + "share"));

  // Several matches list them and offer what they share; a file and a
  // missing path are refused; Enter alone then cancels.
  screen = Show("4\n" + base + "sh\t\n" + base + "shell.txt\n" + base + "none\n\n1\n");
  EXPECT_NE(screen.find("Folder [" + base + "sh]>"), std::string::npos);
  EXPECT_NE(screen.find("  " + base + "shop/\n"), std::string::npos);
  EXPECT_NE(screen.find("Not a folder: " + base + "shell.txt"), std::string::npos);
  EXPECT_EQ(Stored(kSharedFolderValue), Utf8ToUtf16(base + "share"));

  // Esc cancels even with an offer; the box stays as it was.
  Show("4\n" + base + "sho?\n\x1b\n1\n");
  EXPECT_EQ(Stored(kSharedFolderValue), Utf8ToUtf16(base + "share"));

  // A typed folder with "." and ".." parts comes back normalised.
  Show("4\n" + base + "share/inner/../\n1\n");
  EXPECT_EQ(Stored(kSharedFolderValue), Utf8ToUtf16(base + "share"));
}

TEST(TerminalFormText, ControlCharactersCannotReachTheTerminal) {
  EXPECT_EQ(PrintableText(u"C:\\share"), "C:\\share");
  EXPECT_EQ(PrintableText(u"a\x1b[2Jb"), "a^[[2Jb");
  EXPECT_EQ(PrintableText(std::u16string(u"x") + char16_t(13) + u"y\x7f"), "x^My^?");
  EXPECT_EQ(PrintableText(u"\u009b1m"), "^[[1m");
  EXPECT_EQ(PrintableText(u"\u00e9t\u00e9"), "\xc3\xa9t\xc3\xa9");
}

}  // namespace
}  // namespace zuvo
