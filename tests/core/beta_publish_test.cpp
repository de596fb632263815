#include <gtest/gtest.h>

#include "core/beta.h"

namespace zuvo {
namespace {

TEST(BetaPublish, Placeholder) { SUCCEED(); }

}  // namespace
}  // namespace zuvo
