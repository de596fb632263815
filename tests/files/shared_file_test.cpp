#include "files/shared_file.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "files/temp_tree.h"

namespace zuvo {
namespace {

class NoPump : public EventPump {
 public:
  void ProcessPendingEvents() override {}
};

class SharedFileTest : public ::testing::Test {
 protected:
  SharedFileTest()
      : fs_(CreatePlatformFileSystem()),
        resolver_(CreatePlatformPathResolver()),
        files_(*fs_, pump_, PathStyle::kPosix),
        access_(*resolver_, PathStyle::kPosix) {
    tree_.Folder("share");
    tree_.Folder("share/sub");
    tree_.Folder("outside");
    Write("share/sub/a.txt", "inside");
    Write("outside/o.txt", "outside");
  }

  void Write(const std::string& rel, const std::string& text) {
    FILE* f = std::fopen(tree_.At(rel).c_str(), "w");
    std::fputs(text.c_str(), f);
    std::fclose(f);
  }

  // What the file named |rel| (below the tree) reads when opened beneath the
  // share, or the failure.
  std::string Open(const std::string& rel) {
    SharedFile file;
    const FsStatus status =
        OpenSharedFile(files_, access_, tree_.At16("share"), tree_.At16(rel), file);
    if (status != FsStatus::kOk) return "status " + std::to_string(static_cast<int>(status));
    std::string text(file.size(), '\0');
    EXPECT_EQ(std::fread(text.data(), 1, text.size(), file.get()), text.size());
    return text;
  }

  testing::TempTree tree_;
  NoPump pump_;
  std::unique_ptr<FileSystem> fs_;
  std::unique_ptr<PathResolver> resolver_;
  DirRecurse files_;
  PathAccess access_;
};

TEST_F(SharedFileTest, OpensOnlyRegularFilesBeneathTheShare) {
  const std::string refused = "status " + std::to_string(static_cast<int>(FsStatus::kBadPath));
  EXPECT_EQ(Open("share/sub/a.txt"), "inside");
  EXPECT_EQ(Open("share/sub/../sub/a.txt"), "inside");
  // A link the rules follow to a file inside is opened where it leads.
  tree_.Link("share/in-link", "sub/a.txt");
  EXPECT_EQ(Open("share/in-link"), "inside");
  // Links to outside, the share itself, folders, outside paths.
  tree_.Link("share/out-link", tree_.At("outside/o.txt"));
  tree_.Link("share/out-dir", tree_.At("outside"));
  EXPECT_EQ(Open("share/out-link"), refused);
  EXPECT_EQ(Open("share/out-dir/o.txt"), refused);
  EXPECT_EQ(Open("outside/o.txt"), refused);
  EXPECT_EQ(Open("share/../outside/o.txt"), refused);
  // Inside, but no regular file: missing, the share itself, a folder, a pipe
  // (without waiting for a writer), a socket.
  const std::string none = "status " + std::to_string(static_cast<int>(FsStatus::kNotFound));
  EXPECT_EQ(Open("share/missing.txt"), none);
  EXPECT_EQ(Open("share"), none);
  EXPECT_EQ(Open("share/sub"), none);
  ASSERT_EQ(mkfifo(tree_.At("share/pipe").c_str(), 0600), 0);
  EXPECT_EQ(Open("share/pipe"), none);
  const int s = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string socketPath = tree_.At("share/sock");
  if (socketPath.size() < sizeof addr.sun_path) {
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_EQ(Open("share/sock").rfind("status ", 0), 0u);
  }
  close(s);
}

TEST_F(SharedFileTest, ListingsBeneathTheShareNeverPassALink) {
  tree_.Link("share/out-dir", tree_.At("outside"));
  PathList list;
  const std::u16string share = tree_.At16("share");
  const DirRecurse::Beneath sub{share, u"sub"}, out{share, u"out-dir"};
  files_.ListFiles(list, tree_.At16("share/sub"), u"*", &sub);
  ASSERT_EQ(list.size(), 1u);
  files_.ListFiles(list, tree_.At16("share/out-dir"), u"*", &out);
  files_.ListSubFolders(list, tree_.At16("share/out-dir"), &out);
  EXPECT_EQ(list.size(), 1u);
}

}  // namespace
}  // namespace zuvo
