#include "support/plugin_test_support.h"

namespace zuvo::testing {
namespace {

Platform Fakes(TestRegistry& store, FakeFormView& view, InProcessWindowMessages& messages) {
  Platform fakes;
  fakes.registry = &store.backend;
  fakes.messageBox = &store.messageBox;
  fakes.formView = &view;
  fakes.windowMessages = &messages;
  return fakes;
}

}  // namespace

TestServer::TestServer()
    : plugin_(store.dir.path(), Fakes(store, view, messages)), server(*plugin_.server) {}

}  // namespace zuvo::testing
