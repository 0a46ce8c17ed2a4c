#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/imager_sim/link.h"
#include "tools/imager_sim/simulator.h"
#include "tools/imager_sim/sysfs.h"

namespace qor::sim {

// Where the imagers of a rack show themselves.
struct RackSetup {
    ImagerOptions options;  // the same behaviour for every imager
    unsigned count = 1;     // slots, numbered from 0
    std::string link;       // DIR/NAME for each port's symlink (see linkPathFor); empty: none
    std::string sysfs;      // a sysfs tree to list each imager in; empty: none
};

// Imagers in numbered slots that can be plugged in and unplugged while the
// program runs, as at a service bench. Plugged in, a slot has a fresh imager
// on a new pty, its port link and its entry in the sysfs tree (serial number
// SIM<slot>, so that the same slot is the same device each time). Unplugged,
// the entry and the link vanish and then the pty hangs up (the imager closes
// its side), so that whoever finds the port dead finds the device gone too.
class ImagerRack {
  public:
    explicit ImagerRack(RackSetup setup);

    unsigned count() const { return m_setup.count; }
    // False with a reason in `error` when the slot does not exist or the
    // imager cannot be set up; plugging a plugged slot does nothing. The
    // imager behaves as the rack's options say unless `options` are given.
    bool plug(unsigned slot, std::string& error, const ImagerOptions* options = nullptr);
    // False when the slot does not exist; unplugging an empty slot does nothing.
    bool unplug(unsigned slot);
    // The imager in the slot, null when it is unplugged.
    ImagerSimulator* imager(unsigned slot) const;

    static std::string serialOf(unsigned slot) { return "SIM" + std::to_string(slot); }

  private:
    struct Slot {
        // Declared so that the entry and the link go before the imager stops.
        std::unique_ptr<ImagerSimulator> imager;
        std::unique_ptr<PortLink> link;
        std::unique_ptr<SysfsImager> entry;
    };

    const RackSetup m_setup;
    std::vector<Slot> m_slots;
};

}  // namespace qor::sim
