#include "app/flash/instance_selection.h"

#include <algorithm>
#include <iterator>

namespace qor {

bool InstanceSelection::takes(const std::string& instance) const {
    return takesAll() || std::find(m_named.begin(), m_named.end(), instance) != m_named.end();
}

std::vector<UsbImager> InstanceSelection::of(const std::vector<UsbImager>& attached) const {
    std::vector<UsbImager> taken;
    std::copy_if(attached.begin(), attached.end(), std::back_inserter(taken),
                 [this](const UsbImager& imager) { return takes(imager.instance); });
    return taken;
}

std::vector<std::string> InstanceSelection::absentFrom(
    const std::vector<UsbImager>& attached) const {
    std::vector<std::string> absent;
    for (const std::string& name : m_named) {
        if (std::none_of(attached.begin(), attached.end(),
                         [&](const UsbImager& imager) { return imager.instance == name; })) {
            absent.push_back(name);
        }
    }
    return absent;
}

}  // namespace qor
