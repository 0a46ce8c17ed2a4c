#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>

#include "serial/serial_port.h"

namespace qor {

// What the page does with its ports, asked of the thread that owns the
// browser's streams. Every request returns at once; the page answers later
// through WebSerialPorts::settled with the same `op`, never from within the
// request, and settles the requests of one port in the order they were made.
class WebSerialLink {
  public:
    virtual ~WebSerialLink() = default;
    virtual void requestOpen(int port, uint64_t op, uint32_t baud) = 0;
    // `data` stays valid until the request is settled.
    virtual void requestWrite(int port, uint64_t op, const uint8_t* data, std::size_t size) = 0;
    virtual void requestClose(int port, uint64_t op) = 0;
};

// The ports the user granted the page, by the page's number for each. The
// update code runs on threads of its own and waits on them as on any serial
// line; the browser's side of every port lives on the page's thread, which
// hands in what it reads and settles what it was asked, and never waits
// longer than it takes to queue a few bytes.
class WebSerialPorts {
  public:
    explicit WebSerialPorts(WebSerialLink& link) : m_link(link) {}

    // Opens port `port` at `baud` (8N1, no flow control, DTR and RTS
    // raised), waiting for the page at most a few seconds. Empty when the
    // page could not open it, or when it is open already.
    PortHandle open(int port, uint32_t baud);

    // From the page's thread: bytes read from `port`.
    void received(int port, std::span<const uint8_t> bytes);
    // From the page's thread: request `op` of `port` is done.
    void settled(int port, uint64_t op, bool ok);
    // From the page's thread: `port` is gone (unplugged, or its stream
    // failed); nothing more will come from it.
    void lost(int port);

    struct Line;

  private:
    std::shared_ptr<Line> line(int port);

    WebSerialLink& m_link;
    std::mutex m_mutex;
    std::map<int, std::shared_ptr<Line>> m_lines;
};

}  // namespace qor
