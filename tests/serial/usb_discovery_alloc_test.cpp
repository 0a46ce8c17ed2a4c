#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "serial/usb_discovery.h"
#include "tests/support/fake_registry.h"

// Counts every allocation of this program, so the test can see whether the
// poll's count allocates. GCC sees free() behind operator delete once both are
// inlined and takes the pair for a mismatch; here they are the pair.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
std::atomic<long> g_allocations{0};
}

void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace qor {
namespace {

TEST(CountUsbDevices, AllocatesNothing) {
    constexpr std::u16string_view kList = u"SYSTEM\\CurrentControlSet\\Services\\usbser\\Enum";
    testing::FakeRegistry registry;
    registry.addString(kList, u"0", u"USB\\VID_3C7B&PID_0E52\\1");
    registry.addString(kList, u"1", u"USB\\VID_1234&PID_5678\\2");
    registry.addString(kList, u"2", u"USB\\VID_3C7B&PID_0E52\\3");
    registry.addString(kList, std::u16string(300, u'n'), u"too long a name");
    ASSERT_EQ(CountUsbDevices(registry), 2);  // warm-up: nothing lazily made later

    const long before = g_allocations.load();
    const uint8_t count = CountUsbDevices(registry);
    const long during = g_allocations.load() - before;
    EXPECT_EQ(count, 2);
    EXPECT_EQ(during, 0);
}

}  // namespace
}  // namespace qor
