#pragma once

#include "tests/support/temp_dir.h"
#include "tools/testkit/sysfs_tree.h"

namespace qor::testing {

namespace detail {
// Made before the tree that is laid out in it.
struct FakeSysfsDir {
    TempDir dir;
};
}  // namespace detail

// A sysfs tree in a temporary folder of its own, gone with the object.
class FakeSysfs : private detail::FakeSysfsDir, public sim::SysfsTree {
  public:
    FakeSysfs() : SysfsTree(dir.path()) {}
};

}  // namespace qor::testing
