// A plug-in object on a fresh server over a real temporary shared folder,
// for the remote-request tests.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "base/text.h"
#include "core/beta.h"
#include "core/plugin_server.h"
#include "support/plugin_on_platform.h"

namespace zuvo {

// The pause for pending events; a test may hook it to re-enter the plug-in.
class HookedEventPump : public EventPump {
 public:
  std::function<void()> hook;
  void ProcessPendingEvents() override {
    if (hook) hook();
  }
};

// The platform's file system, with failures on demand: opening the folder
// whose prefix is |failFolder|, opening a folder named |failBelow| during a
// walk, and any tree search fail with |failure|.
class FaultyFileSystem : public FileSystem {
 public:
  explicit FaultyFileSystem(std::unique_ptr<FileSystem> inner) : inner_(std::move(inner)) {}

  std::u16string failFolder;
  std::u16string failBelow;
  bool failSearch = false;
  FsStatus failure = FsStatus::kAccessDenied;

  FsStatus OpenFolder(std::u16string_view prefix, FolderHandle& out) override {
    if (!failFolder.empty() && prefix == failFolder) return failure;
    return inner_->OpenFolder(prefix, out);
  }
  FsStatus OpenFolderBelow(const FolderHandle& base, std::u16string_view relative,
                           FolderHandle& out) override {
    if (!failBelow.empty() && relative == failBelow) return failure;
    return inner_->OpenFolderBelow(base, relative, out);
  }
  FsStatus OpenFileBelow(const FolderHandle& base, std::u16string_view relative, std::FILE*& out,
                         uint64_t& size) override {
    return inner_->OpenFileBelow(base, relative, out, size);
  }
  FsStatus ReadFolder(const FolderHandle& folder, FolderContents& out) override {
    return inner_->ReadFolder(folder, out);
  }
  FsStatus SearchTreeForFile(std::u16string& root, std::u16string& name, char16_t separator,
                             std::u16string& found) override {
    if (failSearch) return failure;
    return inner_->SearchTreeForFile(root, name, separator, found);
  }

 protected:
  // The handles belong to the inner file system, which closes them.
  void CloseFolder(FolderHandle&) noexcept override {}

 private:
  std::unique_ptr<FileSystem> inner_;
};

class BetaRequestsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zuvo-requests-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    std::filesystem::create_directories(root_ / "share");
    auto fileSystem = std::make_unique<FaultyFileSystem>(CreatePlatformFileSystem());
    fileSystem_ = fileSystem.get();
    platform_ = std::make_unique<PluginOnPlatform>(root_, &pump_, std::move(fileSystem));
    SetShare(Share());
    server().Holder()->Text3 = u"0";
    State().sSharingOn = u"1";
    State().sFilesSent = u"0";
  }
  void TearDown() override {
    platform_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  BetaState& State() { return platform_->State(); }
  beta& plugin() { return *platform_->plugin; }
  PluginServer& server() { return *platform_->server; }
  void SetShare(const std::u16string& folder) { server().Holder()->Text1 = folder; }
  void SetSubFolders(const std::u16string& flag) { server().Holder()->Text3 = flag; }

  // The shared folder's path, and paths below the temporary root.
  std::u16string Share() const { return At("share"); }
  std::u16string At(const std::string& relative) const {
    return Utf8ToUtf16((root_ / relative).string());
  }
  void MakeFile(const std::string& relative) {
    std::filesystem::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative) << "x";
  }
  void MakeDir(const std::string& relative) {
    std::filesystem::create_directories(root_ / relative);
  }

  bool Notify(const std::u16string& code, const std::u16string& text, std::u16string& reply) {
    return plugin().ReceiveNotify(code, text, u"contact", nullptr, reply);
  }

  std::filesystem::path root_;
  HookedEventPump pump_;
  FaultyFileSystem* fileSystem_ = nullptr;  // owned by platform_
  std::unique_ptr<PluginOnPlatform> platform_;
};

}  // namespace zuvo
