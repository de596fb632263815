#include "files/dir_recurse.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <functional>

#include "base/plugin_error.h"
#include "base/text.h"
#include "files/temp_tree.h"

namespace zuvo {
namespace {

using testing::TempTree;
using Strings = std::vector<std::string>;

class CallbackPump : public EventPump {
 public:
  void ProcessPendingEvents() override {
    ++calls;
    if (onPause) onPause(calls);
  }
  int calls = 0;
  std::function<void(int)> onPause;
};

class DirRecurseTest : public ::testing::Test {
 protected:
  DirRecurseTest() : fs_(CreatePlatformFileSystem()), dr_(*fs_, pump_, PathStyle::kPosix) {}

  // The listed paths, each without the tree's root and its "/" (which every
  // path must begin with).
  Strings Rel(const PathList& list) {
    Strings out;
    const std::string root = tree_.root() + "/";
    for (const std::u16string_view p : list) {
      std::string s = Utf16ToUtf8(p);
      EXPECT_EQ(s.compare(0, root.size(), root), 0) << s;
      out.push_back(s.substr(root.size()));
    }
    return out;
  }
  Strings Files(std::string_view folder, std::u16string_view patterns) {
    PathList list;
    dr_.ListFiles(list, tree_.At16(folder), patterns);
    return Rel(list);
  }
  Strings Recursive(std::string_view folder, std::u16string_view patterns) {
    PathList list;
    dr_.ListFilesRecursive(list, tree_.At16(folder), patterns);
    return Rel(list);
  }
  Strings SubFolders(std::string_view folder) {
    PathList list;
    dr_.ListSubFolders(list, tree_.At16(folder));
    return Rel(list);
  }

  TempTree tree_;
  CallbackPump pump_;
  std::unique_ptr<FileSystem> fs_;
  DirRecurse dr_;
};

int OpenDescriptors() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n;
}

TEST_F(DirRecurseTest, ListFilesPiecesOrderAndDuplicates) {
  tree_.Folder("s");
  for (const char* f : {"b.txt", "A.jpg", "c.TXT", "readme", "_x.txt", "a.txt"}) {
    tree_.File(std::string("s/") + f);
  }
  tree_.Folder("s/folder.txt");

  // Case-insensitive ordinal order, "_" after the letters; no folders.
  EXPECT_EQ(Files("s", u"*.*"),
            (Strings{"s/A.jpg", "s/a.txt", "s/b.txt", "s/c.TXT", "s/readme", "s/_x.txt"}));
  EXPECT_EQ(Files("s", u""), Files("s", u"*.*"));
  // Grouped by piece, in piece order; a file matched twice comes twice.
  EXPECT_EQ(Files("s", u"*.jpg;*.txt;a*"), (Strings{"s/A.jpg", "s/a.txt", "s/b.txt", "s/c.TXT",
                                                    "s/_x.txt", "s/A.jpg", "s/a.txt"}));
  // A trailing ";" adds every file again.
  EXPECT_EQ(Files("s", u"*.jpg;"), (Strings{"s/A.jpg", "s/A.jpg", "s/a.txt", "s/b.txt", "s/c.TXT",
                                            "s/readme", "s/_x.txt"}));
  // Blanks are not trimmed; pieces that reach elsewhere match nothing.
  EXPECT_EQ(Files("s", u" *.jpg"), Strings{});
  EXPECT_EQ(Files("s", u"../*;..;/*;*/*;s:*;..\\*;readme"), Strings{"s/readme"});
  // The folder's own path is normalised first: trailing and doubled "/".
  PathList list;
  dr_.ListFiles(list, tree_.At16("s//"), u"readme");
  EXPECT_EQ(Rel(list), Strings{"s/readme"});
  // The list is only appended to.
  dr_.ListFiles(list, tree_.At16("s"), u"b*");
  EXPECT_EQ(Rel(list), (Strings{"s/readme", "s/b.txt"}));
}

TEST_F(DirRecurseTest, RecursivePreOrderAndOnePausePerFolder) {
  // A holds f1 and the sub-folders B (f2, with D inside) and C (f3).
  tree_.Folder("A");
  tree_.File("A/f1");
  tree_.Folder("A/C");
  tree_.File("A/C/f3");
  tree_.Folder("A/B");
  tree_.File("A/B/f2");
  tree_.Folder("A/B/D");
  tree_.File("A/B/D/f4.txt");
  tree_.File("A/f0.txt");

  EXPECT_EQ(Recursive("A", u"*.*"),
            (Strings{"A/f0.txt", "A/f1", "A/B/f2", "A/B/D/f4.txt", "A/C/f3"}));
  EXPECT_EQ(pump_.calls, 4);  // A, B, D, C
  EXPECT_EQ(Recursive("A", u"*.txt;f1"), (Strings{"A/f0.txt", "A/f1", "A/B/D/f4.txt"}));
  // ListFiles does not descend.
  EXPECT_EQ(Files("A", u"*"), (Strings{"A/f0.txt", "A/f1"}));
  EXPECT_EQ(SubFolders("A"), (Strings{"A/B", "A/C"}));
  EXPECT_EQ(SubFolders("A/C"), Strings{});
}

TEST_F(DirRecurseTest, HiddenAndDotNamesAreNeverListedOrWalked) {
  tree_.Folder("s");
  tree_.File("s/.hidden");
  tree_.File("s/..x");
  tree_.File("s/shown");
  tree_.Folder("s/.git");
  tree_.File("s/.git/config");
  tree_.Folder("s/sub");
  tree_.File("s/sub/.profile");
  tree_.File("s/sub/x");

  EXPECT_EQ(Recursive("s", u"*"), (Strings{"s/shown", "s/sub/x"}));
  EXPECT_EQ(Files("s", u".*"), Strings{});
  EXPECT_EQ(SubFolders("s"), Strings{"s/sub"});
  EXPECT_EQ(pump_.calls, 2);  // .git is not walked
}

TEST_F(DirRecurseTest, MissingFoldersGiveNothingAndNoError) {
  tree_.File("file");
  for (const char* folder : {"nope", "nope/deeper", "file"}) {
    SCOPED_TRACE(folder);
    EXPECT_EQ(Files(folder, u"*.*"), Strings{});
    EXPECT_EQ(Recursive(folder, u"*.*"), Strings{});
    EXPECT_NO_THROW(EXPECT_EQ(SubFolders(folder), Strings{}));
  }
}

TEST_F(DirRecurseTest, LinksAreNeitherListedNorFollowed) {
  tree_.Folder("s");
  tree_.Folder("s/real");
  tree_.File("s/real/f");
  tree_.Folder("outside");
  tree_.File("outside/secret");
  tree_.Link("s/loop", tree_.At("s"));        // a cycle
  tree_.Link("s/real/up", "..");              // another
  tree_.Link("s/away", tree_.At("outside"));  // out of the tree
  tree_.Link("s/secret.txt", tree_.At("outside/secret"));
  tree_.Link("s/dangling", tree_.At("gone"));

  EXPECT_EQ(Recursive("s", u"*"), Strings{"s/real/f"});
  EXPECT_EQ(Files("s", u"*"), Strings{});
  EXPECT_EQ(SubFolders("s"), Strings{"s/real"});
  std::u16string name = u"secret";
  std::u16string root = tree_.At16("s");
  EXPECT_EQ(dr_.FindFileInTree(name, root), u"");
  // The folder the caller names may itself be reached through a link.
  tree_.Link("share", tree_.At("s/real"));
  EXPECT_EQ(Recursive("share", u"*"), Strings{"share/f"});
}

TEST_F(DirRecurseTest, TenThousandFoldersDeep) {
  tree_.Folder("deep");
  tree_.File("deep/top");
  const std::string bottom = tree_.Chain("deep", 10000, "d", "leaf.txt");
  const int before = OpenDescriptors();
  int most = 0;
  pump_.onPause = [&](int call) {
    if (call % 50 == 0) most = std::max(most, OpenDescriptors());
  };
  EXPECT_EQ(Recursive("deep", u"*.txt;top"), (Strings{"deep/top", bottom + "/leaf.txt"}));
  EXPECT_EQ(pump_.calls, 10001);
  EXPECT_EQ(OpenDescriptors(), before);
  EXPECT_LT(most - before, 200);  // ancestors keep a bounded number open

  std::u16string name = u"LEAF.TXT";
  std::u16string root = tree_.At16("deep");
  EXPECT_EQ(dr_.FindFileInTree(name, root), tree_.At16(bottom + "/leaf.txt"));
}

TEST_F(DirRecurseTest, PathsBeyondThePathLimit) {
  tree_.Folder("long");
  const std::string name(10, 'n');
  const std::string bottom = tree_.Chain("long", 2000, name, "end.txt");
  ASSERT_GE(bottom.size(), 22000u);

  const Strings all = Recursive("long", u"*.*");
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0], bottom + "/end.txt");
  // The deep folder can be named directly, too.
  EXPECT_EQ(Files(bottom, u"*.txt"), Strings{bottom + "/end.txt"});
  const std::string parent = bottom.substr(0, bottom.size() - name.size() - 1);
  EXPECT_EQ(SubFolders(parent), Strings{bottom});
  std::u16string file = u"end.txt";
  std::u16string root = tree_.At16("long");
  EXPECT_EQ(dr_.FindFileInTree(file, root), tree_.At16(bottom + "/end.txt"));
}

TEST_F(DirRecurseTest, FoldersRemovedDuringTheWalkArePassedOver) {
  tree_.Folder("s");
  for (const char* f : {"a", "b", "c"}) {
    tree_.Folder(std::string("s/") + f);
    tree_.File(std::string("s/") + f + "/f");
    tree_.Folder(std::string("s/") + f + "/sub");
    tree_.File(std::string("s/") + f + "/sub/g");
  }
  // While the host runs after "s" and "s/a": "s/b" goes, and "s/a/sub"
  // (already collected) goes too.
  pump_.onPause = [&](int call) {
    if (call == 1) tree_.Remove("s/b");
    if (call == 2) tree_.Remove("s/a/sub");
  };
  EXPECT_EQ(Recursive("s", u"*"), (Strings{"s/a/f", "s/c/f", "s/c/sub/g"}));
}

TEST_F(DirRecurseTest, TheHostMayReEnterDuringThePause) {
  tree_.Folder("s");
  tree_.File("s/one");
  tree_.Folder("s/x");
  tree_.File("s/x/two");
  tree_.Folder("t");
  tree_.File("t/three");
  PathList inner;
  pump_.onPause = [&](int call) {
    if (call == 1) dr_.ListFilesRecursive(inner, tree_.At16("t"), u"*");
  };
  EXPECT_EQ(Recursive("s", u"*"), (Strings{"s/one", "s/x/two"}));
  EXPECT_EQ(Rel(inner), Strings{"t/three"});
}

TEST_F(DirRecurseTest, NamesAReplyCannotCarryAreLeftOut) {
  tree_.Folder("s");
  tree_.File("s/ok");
  tree_.File("s/line\nbreak");
  tree_.File("s/tab\there");
  tree_.File("s/cr\r");
  tree_.File("s/bad\xff\xfe");      // not UTF-8
  tree_.File("s/over\xc0\xaf");     // overlong "/"
  tree_.File("s/sur\xed\xa0\x80");  // an encoded surrogate
  tree_.Folder("s/dir\x01");
  tree_.File("s/dir\x01/inside");
  tree_.File("s/caf\xc3\xa9 \xf0\x9f\x98\x80");  // é and an emoji: fine
  tree_.File("s/back\\slash");                   // an ordinary character here

  EXPECT_EQ(Recursive("s", u"*"),
            (Strings{"s/back\\slash", "s/caf\xc3\xa9 \xf0\x9f\x98\x80", "s/ok"}));
  EXPECT_EQ(SubFolders("s"), Strings{});
  std::u16string name = u"line\nbreak";
  std::u16string root = tree_.At16("s");
  EXPECT_EQ(dr_.FindFileInTree(name, root), u"");
  // The emoji comes through as its surrogate pair.
  PathList list;
  dr_.ListFiles(list, tree_.At16("s"), u"caf\u00c9 ??");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(*list.begin(), tree_.At16("s/caf\u00e9 \U0001F600"));
}

TEST_F(DirRecurseTest, FindFileInTree) {
  tree_.Folder("s");
  tree_.File("s/top.txt");
  tree_.File("s/.hidden.txt");
  tree_.Folder("s/a");
  tree_.Folder("s/a/deep");
  tree_.File("s/a/deep/Twice.doc");
  tree_.Folder("s/b");
  tree_.File("s/b/twice.doc");
  tree_.Folder("s/b/folder.doc");
  tree_.Folder("s/.hid");
  tree_.File("s/.hid/only-here");

  auto find = [&](std::u16string name, std::u16string root) {
    return Utf16ToUtf8(dr_.FindFileInTree(name, root));
  };
  const std::u16string root = tree_.At16("s");
  EXPECT_EQ(find(u"top.txt", root), tree_.At("s/top.txt"));
  EXPECT_EQ(find(u"TOP.TXT", root), tree_.At("s/top.txt"));
  // The first in pre-order: a's subtree before b's, whatever the case.
  EXPECT_EQ(find(u"twice.doc", root), tree_.At("s/a/deep/Twice.doc"));
  // The root is used as given; a trailing "/" is not doubled.
  EXPECT_EQ(find(u"top.txt", root + u"/"), tree_.At("s/top.txt"));
  for (const char16_t* none : {u"absent", u"folder.doc", u"a", u".hidden.txt", u"only-here",
                               u"*.txt", u"", u".", u"..", u"deep/Twice.doc", u"../s"}) {
    SCOPED_TRACE(Utf16ToUtf8(none));
    EXPECT_EQ(find(none, root), "");
  }
  EXPECT_EQ(find(u"top.txt", tree_.At16("missing")), "");
  EXPECT_EQ(find(u"top.txt", u""), "");
  // Both texts come back as their UTF-8 round trip.
  std::u16string name = u"x\xD800y";
  std::u16string r = root;
  EXPECT_EQ(dr_.FindFileInTree(name, r), u"");
  EXPECT_EQ(name, u"x\xFFFDy");
  EXPECT_EQ(r, root);
}

}  // namespace
}  // namespace zuvo
