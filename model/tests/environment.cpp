// The test program's data folder: a temporary folder, never the user's own.
#include <gtest/gtest.h>

#include "test_support/temporary_folder.h"

namespace {
const auto* const data_home =
    ::testing::AddGlobalTestEnvironment(new quorvane::testing_support::data_home_environment);
}  // namespace
