// What the libpurple host tells the user of the stored sharing settings.
#include "host/common/settings_report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/temp_dir.h"

namespace zuvo::purple {
namespace {

TEST(SettingsReport, TheSharedFolderIsJudgedAsTheFileSystemSeesIt) {
  testing::TempDir dir;
  const std::string folder = dir.File("share");
  std::filesystem::create_directory(folder);
  std::ofstream(dir.File("file.txt")) << "x";
  std::filesystem::create_directory_symlink(folder, dir.File("link"));
  std::filesystem::create_symlink(dir.File("gone"), dir.File("dangling"));

  const struct {
    std::string folder;
    FolderProblem problem;
  } cases[] = {
      {"", FolderProblem::kEmpty},
      {"Public", FolderProblem::kRelative},
      {"./share", FolderProblem::kRelative},
      {folder, FolderProblem::kNone},
      {dir.File("link"), FolderProblem::kNone},
      {dir.File("missing"), FolderProblem::kMissing},
      {dir.File("dangling"), FolderProblem::kMissing},
      {dir.File("file.txt"), FolderProblem::kNotFolder},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    EXPECT_EQ(CheckSharedFolder(c.folder), c.problem);
  }
}

TEST(SettingsReport, SharingThatSharesNothingIsNamedWithWhy) {
  const SharingSettings on{"/srv/share", true, true};
  const SharingSettings off{"/srv/share", false, true};
  const struct {
    bool onNow;
    SharingSettings settings;
    FolderProblem problem;
    const char* warning;  // null: none
  } cases[] = {
      {true,
       {"", true, true},
       FolderProblem::kEmpty,
       "Zuvo File Sharing is on, but no folder is shared: choose one with /xroptions."},
      {true, on, FolderProblem::kMissing,
       "Zuvo File Sharing is on, but the shared folder /srv/share does not exist, so nothing is "
       "shared: choose one with /xroptions."},
      {true, on, FolderProblem::kNotFolder,
       "Zuvo File Sharing is on, but the shared folder /srv/share is not a folder, so nothing is "
       "shared: choose one with /xroptions."},
      {true,
       {"Public", true, true},
       FolderProblem::kRelative,
       "Zuvo File Sharing is on, but the shared folder \"Public\" is not a full path, so nothing "
       "is shared: choose one with /xroptions."},
      // Off now, on from the next start; on now, off from the next start.
      {false, on, FolderProblem::kMissing,
       "Zuvo File Sharing starts on, but the shared folder /srv/share does not exist, so nothing "
       "is shared: choose one with /xroptions."},
      {true, off, FolderProblem::kMissing,
       "Zuvo File Sharing is on, but the shared folder /srv/share does not exist, so nothing is "
       "shared: choose one with /xroptions."},
      {false, off, FolderProblem::kMissing, nullptr},
      {true, on, FolderProblem::kNone, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.warning ? c.warning : "no warning");
    const std::optional<std::string> warning = SharingWarning(c.onNow, c.settings, c.problem);
    if (c.warning) {
      EXPECT_EQ(warning, std::string(c.warning));
    } else {
      EXPECT_FALSE(warning.has_value()) << *warning;
    }
  }
}

TEST(SettingsReport, TheSavedLineSaysWhatIsStoredOnOneLine) {
  EXPECT_EQ(SavedLine({"/home/bob/Public", true, true}),
            "Zuvo File Sharing settings saved: shared folder /home/bob/Public, with its "
            "sub-folders; sharing on at start.");
  EXPECT_EQ(SavedLine({"/home/bob/Public", false, false}),
            "Zuvo File Sharing settings saved: shared folder /home/bob/Public, without its "
            "sub-folders; sharing off at start.");
  EXPECT_EQ(SavedLine({"", true, true}),
            "Zuvo File Sharing settings saved: no shared folder; sharing on at start.");
  // A stored folder may hold line breaks and escapes: they are shown, not obeyed.
  EXPECT_EQ(SavedLine({"/a\nb\x1b", false, true}),
            "Zuvo File Sharing settings saved: shared folder /a^Jb^[, with its sub-folders; "
            "sharing off at start.");
}

}  // namespace
}  // namespace zuvo::purple
