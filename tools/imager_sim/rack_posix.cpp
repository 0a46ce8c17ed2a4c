#include "tools/imager_sim/rack.h"

#include <cstring>
#include <utility>

#include "tools/imager_sim/cli.h"

namespace qor::sim {

ImagerRack::ImagerRack(RackSetup setup) : m_setup(std::move(setup)), m_slots(m_setup.count) {}

bool ImagerRack::plug(unsigned slot, std::string& error, const ImagerOptions* options) {
    if (slot >= m_slots.size()) {
        error = "no slot " + std::to_string(slot);
        return false;
    }
    Slot& s = m_slots[slot];
    if (s.imager) {
        return true;
    }
    Slot fresh;
    fresh.imager =
        std::make_unique<ImagerSimulator>(options != nullptr ? *options : m_setup.options);
    if (!fresh.imager->start()) {
        error = std::string("no pseudo-terminal: ") + std::strerror(fresh.imager->error());
        return false;
    }
    if (!m_setup.link.empty()) {
        fresh.link = std::make_unique<PortLink>(linkPathFor(m_setup.link, count(), slot),
                                                fresh.imager->portPath());
        if (!fresh.link->valid()) {
            error = "cannot link " + fresh.link->path() + ": " + std::strerror(fresh.link->error());
            return false;
        }
    }
    // Listed last: whoever finds the entry finds the port ready.
    if (!m_setup.sysfs.empty()) {
        fresh.entry = std::make_unique<SysfsImager>(m_setup.sysfs, slot, serialOf(slot));
        if (!fresh.entry->valid()) {
            error = fresh.entry->error();
            return false;
        }
    }
    s = std::move(fresh);
    return true;
}

bool ImagerRack::unplug(unsigned slot) {
    if (slot >= m_slots.size()) {
        return false;
    }
    Slot& s = m_slots[slot];
    // The entry and the link go first, then the line hangs up: whoever finds
    // the port dead finds the device gone too.
    s.entry.reset();
    s.link.reset();
    if (s.imager) {
        s.imager->stop();
    }
    s = Slot{};
    return true;
}

ImagerSimulator* ImagerRack::imager(unsigned slot) const {
    return slot < m_slots.size() ? m_slots[slot].imager.get() : nullptr;
}

}  // namespace qor::sim
