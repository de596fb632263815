// A plug-in server on test fakes: the registry store of a TestRegistry, the
// recording message box, the scripted form view and the in-process window
// messages.
#pragma once

#include "core/plugin_server.h"
#include "core/window_messages_posix.h"
#include "support/plugin_on_platform.h"
#include "support/settings_test_support.h"

namespace zuvo::testing {

class TestServer {
 public:
  TestServer();

  TestRegistry store;
  FakeFormView view;
  InProcessWindowMessages messages;

 private:
  PluginOnPlatform plugin_;

 public:
  PluginServer& server;
};

}  // namespace zuvo::testing
