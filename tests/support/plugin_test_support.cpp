#include "support/plugin_test_support.h"

namespace zuvo::testing {

TestServer::TestServer() : fileSystem(CreatePlatformFileSystem()), server(MakePlatform()) {}

Platform TestServer::MakePlatform() {
  Platform platform;
  platform.registry = &store.backend;
  platform.messageBox = &store.messageBox;
  platform.formView = &view;
  platform.windowMessages = &messages;
  platform.fileSystem = fileSystem.get();
  platform.eventPump = &events;
  return platform;
}

}  // namespace zuvo::testing
