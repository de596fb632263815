// The listings' rules that a real disk cannot be made to show on demand
// (unreadable kinds, denied folders, failing reads) and the Windows path
// form, on a file system held in memory.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

#include "base/plugin_error.h"
#include "base/text.h"
#include "files/dir_recurse.h"

namespace zuvo {
namespace {

class MemoryFileSystem : public FileSystem {
 public:
  struct Folder {
    FsStatus open = FsStatus::kOk;
    FsStatus read = FsStatus::kOk;  // after the entries
    std::vector<std::pair<std::u16string, EntryKind>> entries;
  };
  // Keyed by folder prefix, Windows form ("C:\share\").
  std::map<std::u16string, Folder> folders;
  int opened = 0;
  int closed = 0;

  FsStatus OpenFolder(std::u16string_view prefix, FolderHandle& out) override {
    auto it = folders.find(std::u16string(prefix));
    if (it == folders.end()) return FsStatus::kNotFound;
    if (it->second.open != FsStatus::kOk) return it->second.open;
    out.path = std::u16string(prefix);
    Adopt(out);
    ++opened;
    return FsStatus::kOk;
  }
  FsStatus OpenFolderBelow(const FolderHandle& base, std::u16string_view relative,
                           FolderHandle& out) override {
    return OpenFolder(base.path + std::u16string(relative) + u"\\", out);
  }
  FsStatus ReadFolder(const FolderHandle& folder, FolderContents& out) override {
    out.clear();
    const Folder& f = folders.at(folder.path);
    for (const auto& [name, kind] : f.entries) {
      out.entries.push_back(
          {static_cast<uint32_t>(out.names.size()), static_cast<uint32_t>(name.size()), kind});
      out.names += name;
      if (kind == EntryKind::kUnknown && out.kindError == FsStatus::kOk) {
        out.kindError = FsStatus::kAccessDenied;
      }
    }
    return f.read;
  }

 protected:
  void CloseFolder(FolderHandle&) noexcept override { ++closed; }
};

class CountingPump : public EventPump {
 public:
  void ProcessPendingEvents() override {
    ++calls;
    if (throws) throw std::runtime_error("host failed");
  }
  int calls = 0;
  bool throws = false;
};

using Strings = std::vector<std::string>;
constexpr EntryKind kFile = EntryKind::kFile;
constexpr EntryKind kFolder = EntryKind::kFolder;
constexpr EntryKind kUnknown = EntryKind::kUnknown;

class RulesTest : public ::testing::Test {
 protected:
  RulesTest() : dr_(fs_, pump_, PathStyle::kWindows) {
    fs_.folders[u"C:\\s\\"].entries = {
        {u"a.txt", kFile}, {u"B", kFolder}, {u"odd", kUnknown}, {u"C", kFolder}, {u"..", kFolder}};
    fs_.folders[u"C:\\s\\B\\"].entries = {{u"b.txt", kFile}};
    fs_.folders[u"C:\\s\\odd\\"].entries = {{u"in-odd", kFile}};
    fs_.folders[u"C:\\s\\C\\"].entries = {{u"c.txt", kFile}};
  }
  static Strings Texts(const PathList& list) {
    Strings out;
    for (const auto& p : list) out.push_back(Utf16ToUtf8(p));
    return out;
  }
  Strings Recursive(std::u16string_view folder) {
    PathList list;
    dr_.ListFilesRecursive(list, folder, u"*.*");
    return Texts(list);
  }

  MemoryFileSystem fs_;
  CountingPump pump_;
  DirRecurse dr_;
};

TEST_F(RulesTest, WindowsPathsAndUnreadableKinds) {
  // An entry whose kind cannot be read is listed as a file and walked as a
  // folder; a folder given in "/" form is normalised.
  EXPECT_EQ(Recursive(u"C:/s"), (Strings{"C:\\s\\a.txt", "C:\\s\\odd", "C:\\s\\B\\b.txt",
                                         "C:\\s\\odd\\in-odd", "C:\\s\\C\\c.txt"}));
  EXPECT_EQ(pump_.calls, 4);
  PathList files;
  dr_.ListFiles(files, u"C:\\s", u"*");
  EXPECT_EQ(Texts(files), (Strings{"C:\\s\\a.txt", "C:\\s\\odd"}));
  // In ListSubFolders the unreadable kind is an error, after what came before.
  PathList subs;
  try {
    dr_.ListSubFolders(subs, u"C:\\s\\");
    ADD_FAILURE() << "no error";
  } catch (const PluginError& e) {
    EXPECT_EQ(e.code(), hr::kPermissionDenied);
  }
  EXPECT_EQ(Texts(subs), Strings{"C:\\s\\B"});
  EXPECT_EQ(fs_.opened, fs_.closed);
}

TEST_F(RulesTest, DriveRootKeepsItsSeparator) {
  fs_.folders[u"C:\\"].entries = {{u"x", kFile}, {u"s", kFolder}};
  PathList list;
  dr_.ListFiles(list, u"C:\\", u"");
  dr_.ListSubFolders(list, u"C:\\");
  EXPECT_EQ(Texts(list), (Strings{"C:\\x", "C:\\s"}));
}

TEST_F(RulesTest, ListingsAbsorbFailuresAndGoOn) {
  fs_.folders[u"C:\\s\\B\\"].open = FsStatus::kAccessDenied;
  fs_.folders[u"C:\\s\\C\\"].read = FsStatus::kIoError;  // fails after its entries
  pump_.throws = true;
  EXPECT_EQ(Recursive(u"C:\\s"),
            (Strings{"C:\\s\\a.txt", "C:\\s\\odd", "C:\\s\\odd\\in-odd", "C:\\s\\C\\c.txt"}));
  EXPECT_EQ(pump_.calls, 4);  // the denied folder is still visited once
  fs_.folders[u"C:\\s\\"].open = FsStatus::kAccessDenied;
  EXPECT_EQ(Recursive(u"C:\\s"), Strings{});
  PathList list;
  EXPECT_NO_THROW(dr_.ListFiles(list, u"C:\\s", u"*"));
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(fs_.opened, fs_.closed);
}

TEST_F(RulesTest, ListSubFoldersPassesErrorsOn) {
  struct Case {
    FsStatus open;
    FsStatus read;
    int32_t code;
    size_t listed;
  };
  const Case table[] = {
      {FsStatus::kAccessDenied, FsStatus::kOk, hr::kPermissionDenied, 0},
      {FsStatus::kBadPath, FsStatus::kOk, hr::kPathNotFound, 0},
      {FsStatus::kIoError, FsStatus::kOk, hr::kDeviceIOError, 0},
      {FsStatus::kOk, FsStatus::kIoError, hr::kDeviceIOError, 2},
      {FsStatus::kOk, FsStatus::kNoMemory, hr::kOutOfMemory, 2},
      {FsStatus::kNoResources, FsStatus::kOk, hr::kTooManyFiles, 0},
  };
  fs_.folders[u"C:\\t\\"].entries = {{u"x", kFolder}, {u"f", kFile}, {u"y", kFolder}};
  for (const Case& c : table) {
    SCOPED_TRACE(static_cast<int>(c.open) * 10 + static_cast<int>(c.read));
    fs_.folders[u"C:\\t\\"].open = c.open;
    fs_.folders[u"C:\\t\\"].read = c.read;
    PathList list;
    try {
      dr_.ListSubFolders(list, u"C:\\t");
      ADD_FAILURE() << "no error";
    } catch (const PluginError& e) {
      EXPECT_EQ(e.code(), c.code);
    }
    EXPECT_EQ(list.size(), c.listed);
  }
  EXPECT_EQ(fs_.opened, fs_.closed);
}

TEST_F(RulesTest, NoListedPathHoldsAControlCharacter) {
  // Whatever the file system hands over, a name or a folder with a line
  // break (or any character below 32) never becomes a line of a listing, and
  // the folders below such a folder list nothing either.
  fs_.folders[u"C:\\n\\"].entries = {
      {u"ok", kFile},    {u"lf\nx", kFile}, {u"cr\r", kFolder},           {u"tab\t", kFile},
      {u"sub", kFolder}, {u"\x1f", kFile},  {u"\u00e9 \U0001F600", kFile}};
  fs_.folders[u"C:\\n\\cr\r\\"].entries = {{u"in-cr", kFile}, {u"deeper", kFolder}};
  fs_.folders[u"C:\\n\\cr\r\\deeper\\"].entries = {{u"in-deeper", kFile}};
  fs_.folders[u"C:\\n\\sub\\"].entries = {{u"s\n", kFolder}, {u"s", kFolder}};
  fs_.folders[u"C:\\n\\sub\\s\\"].entries = {{u"f", kFile}};
  EXPECT_EQ(Recursive(u"C:\\n"),
            (Strings{"C:\\n\\ok", "C:\\n\\\u00e9 \U0001F600", "C:\\n\\sub\\s\\f"}));
  PathList subs;
  dr_.ListSubFolders(subs, u"C:\\n\\sub");
  EXPECT_EQ(Texts(subs), Strings{"C:\\n\\sub\\s"});
  for (const char16_t* folder : {u"C:\\n\\cr\r", u"C:\\n\\cr\r\\deeper"}) {
    PathList list;
    dr_.ListFiles(list, folder, u"*");
    dr_.ListFilesRecursive(list, folder, u"*");
    dr_.ListSubFolders(list, folder);
    EXPECT_TRUE(list.empty());
  }
}

TEST_F(RulesTest, SearchNamesThatCouldLeaveTheTreeFindNothing) {
  // With the Windows form, "/" and ":" are refused as well as "\".
  for (const char16_t* name : {u"B\\b.txt", u"B/b.txt", u"C:b.txt", u"..", u".", u"a\x01"}) {
    SCOPED_TRACE(Utf16ToUtf8(name));
    std::u16string n = name;
    std::u16string root = u"C:\\s";
    EXPECT_EQ(dr_.FindFileInTree(n, root), u"");
  }
  std::u16string n = u"IN-ODD";
  std::u16string root = u"C:\\s";
  // Entries of unknown kind are not walked by the search.
  EXPECT_EQ(dr_.FindFileInTree(n, root), u"");
  n = u"C.TXT";
  EXPECT_EQ(Utf16ToUtf8(dr_.FindFileInTree(n, root)), "C:\\s\\C\\c.txt");
}

}  // namespace
}  // namespace zuvo
