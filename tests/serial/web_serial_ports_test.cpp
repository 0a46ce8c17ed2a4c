#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/web_serial_ports.h"

namespace qor {
namespace {

// The page's side: answers every request on a thread of its own, as the
// page's thread does, opening only the ports it was told are there.
class FakePage final : public WebSerialLink {
  public:
    FakePage() : m_thread([this] { serve(); }) {}
    ~FakePage() override {
        post([this] { m_stop = true; });
        m_thread.join();
    }

    WebSerialPorts ports{*this};
    std::vector<int> present = {0, 1};
    std::string written;  // what the ports were given, in order
    std::vector<std::string> requests;

    void requestOpen(int port, uint64_t op, uint32_t baud) override {
        post([=, this] {
            requests.push_back("open " + std::to_string(port) + " " + std::to_string(baud));
            ports.settled(port, op,
                          std::find(present.begin(), present.end(), port) != present.end());
        });
    }
    void requestWrite(int port, uint64_t op, const uint8_t* data, std::size_t size) override {
        post([=, this] {
            written.append(reinterpret_cast<const char*>(data), size);
            ports.settled(port, op, true);
        });
    }
    void requestClose(int port, uint64_t op) override {
        post([=, this] {
            requests.push_back("close " + std::to_string(port));
            ports.settled(port, op, true);
        });
    }

    // Runs `work` on the page's thread and waits for it.
    void onPage(std::function<void()> work) {
        std::mutex done;
        std::condition_variable doneChanged;
        bool finished = false;
        post([&] {
            work();
            std::lock_guard lock(done);
            finished = true;
            doneChanged.notify_all();
        });
        std::unique_lock lock(done);
        doneChanged.wait(lock, [&] { return finished; });
    }

  private:
    void post(std::function<void()> work) {
        std::lock_guard lock(m_mutex);
        m_work.push_back(std::move(work));
        m_changed.notify_all();
    }
    void serve() {
        while (!m_stop) {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return !m_work.empty(); });
            auto work = std::move(m_work.front());
            m_work.pop_front();
            lock.unlock();
            work();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_work;
    bool m_stop = false;
    std::thread m_thread;
};

std::string readAll(SerialPort& port) {
    std::string text;
    uint8_t byte = 0;
    while (port.readByte(byte, 100)) {
        text += static_cast<char>(byte);
    }
    return text;
}

TEST(WebSerialPorts, CarryBytesBothWaysThroughThePage) {
    FakePage page;
    PortHandle port = page.ports.open(1, 57600);
    ASSERT_TRUE(port);
    EXPECT_FALSE(page.ports.open(1, 57600)) << "a port opens once";
    EXPECT_TRUE(writeText(*port, "NEWAPP"));
    page.onPage([&] {
        const uint8_t reply[] = {'A', 'C', 'K'};
        page.ports.received(1, reply);
    });
    EXPECT_TRUE(port->hasBuffered());
    EXPECT_EQ(readAll(*port), "ACK");
    page.onPage([&] {
        const uint8_t stale[] = {'x'};
        page.ports.received(1, stale);
    });
    port->purge();
    EXPECT_FALSE(port->hasBuffered());
    port.reset();
    page.onPage([] {});
    EXPECT_EQ(page.written, "NEWAPP");
    EXPECT_EQ(page.requests, (std::vector<std::string>{"open 1 57600", "close 1"}));
    EXPECT_TRUE(page.ports.open(1, 9600)) << "closed before the next open";
    EXPECT_FALSE(page.ports.open(5, 9600)) << "a port the page cannot open";
}

TEST(WebSerialPorts, ALostPortEndsReadsAndWritesAtOnce) {
    FakePage page;
    PortHandle port = page.ports.open(0, 115200);
    ASSERT_TRUE(port);
    page.onPage([&] { page.ports.lost(0); });
    EXPECT_TRUE(port->gone());
    uint8_t byte = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(port->readByte(byte, 10000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(writeText(*port, "RESET"));
    port.reset();
    PortHandle again = page.ports.open(0, 115200);
    ASSERT_TRUE(again) << "plugged in again";
    EXPECT_FALSE(again->gone());
}

}  // namespace
}  // namespace qor
