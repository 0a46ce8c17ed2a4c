#pragma once

#include <string>
#include <utility>
#include <vector>

#include "serial/usb_discovery.h"

namespace qor {

// The imagers that --instance names. No names: every imager.
class InstanceSelection {
  public:
    explicit InstanceSelection(std::vector<std::string> named) : m_named(std::move(named)) {}

    bool takesAll() const { return m_named.empty(); }
    bool takes(const std::string& instance) const;
    // The imagers of `attached` it takes, in their order there.
    std::vector<UsbImager> of(const std::vector<UsbImager>& attached) const;
    // The instances it names that no imager of `attached` has, in the order
    // named.
    std::vector<std::string> absentFrom(const std::vector<UsbImager>& attached) const;

  private:
    std::vector<std::string> m_named;
};

}  // namespace qor
