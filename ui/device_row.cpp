#include "ui/device_row.h"

#include "ui/resource_ids.h"

namespace qor {

DeviceRow::DeviceRow(Window& window, int deviceIndex)
    : m_window(window), m_barId(progressBarId(deviceIndex)), m_labelId(rowLabelId(deviceIndex)) {}

void DeviceRow::showLabel() {
    m_window.showItem(m_labelId, true);
}

void DeviceRow::setLabel(std::string_view text) {
    m_window.setItemText(m_labelId, text);
}

void DeviceRow::setBarRange(uint16_t maximum) {
    m_window.setProgressRange(m_barId, 0, maximum);
}

void DeviceRow::setBarPosition(int position) {
    m_window.setProgressPos(m_barId, position);
}

void DeviceRow::showBar() {
    m_window.showItem(m_barId, true);
}

void DeviceRow::hide() {
    m_window.showItem(m_barId, false);
    m_window.showItem(m_labelId, false);
}

}  // namespace qor
