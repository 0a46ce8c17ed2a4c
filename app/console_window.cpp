#include "app/console_window.h"

#include "app/console_services.h"
#include "ui/resource_ids.h"

namespace qor {

namespace {

constexpr int kIdOk = 1;

// The device index of a row control, or -1 for any other control.
int barDevice(int id) {
    const int device = id - progressBarId(0);
    return device >= 0 && device < kMaxDeviceRows ? device : -1;
}

int labelDevice(int id) {
    const int device = id - rowLabelId(0);
    return device >= 0 && device < kMaxDeviceRows ? device : -1;
}

}  // namespace

ConsoleWindow::ConsoleWindow(DeviceBoard& board, ConsoleServices& services, int checkedRadio)
    : m_board(board), m_services(services), m_checkedRadio(checkedRadio) {}

void ConsoleWindow::setItemText(int id, std::string_view text) {
    std::lock_guard lock(m_mutex);
    m_texts[id] = std::string(text);
    if (const int device = labelDevice(id); device >= 0) {
        m_board.labelText(device, text);
    }
}

std::string ConsoleWindow::itemText(int id) {
    std::lock_guard lock(m_mutex);
    const auto it = m_texts.find(id);
    return it != m_texts.end() ? it->second : std::string();
}

void ConsoleWindow::enableItem(int, bool) {}

void ConsoleWindow::showItem(int id, bool visible) {
    std::lock_guard lock(m_mutex);
    if (const int device = labelDevice(id); device >= 0 && visible) {
        m_board.labelShown(device);
    } else if (const int bar = barDevice(id); bar >= 0) {
        m_board.barShown(bar, visible);
    }
}

int ConsoleWindow::checkedRadioButton(int first, int last) {
    std::lock_guard lock(m_mutex);
    return m_checkedRadio >= first && m_checkedRadio <= last ? m_checkedRadio : 0;
}

void ConsoleWindow::checkRadioButton(int, int, int id) {
    std::lock_guard lock(m_mutex);
    m_checkedRadio = id;
}

void ConsoleWindow::addComboString(int, std::string_view) {}

void ConsoleWindow::setComboSelection(int id, int index) {
    std::lock_guard lock(m_mutex);
    m_comboSelections[id] = index;
}

int ConsoleWindow::comboSelection(int id) {
    std::lock_guard lock(m_mutex);
    const auto it = m_comboSelections.find(id);
    return it != m_comboSelections.end() ? it->second : -1;
}

void ConsoleWindow::setPicture(int, int) {}

void ConsoleWindow::setProgressRange(int, uint16_t, uint16_t) {}

void ConsoleWindow::setProgressPos(int id, int position) {
    std::lock_guard lock(m_mutex);
    if (const int device = barDevice(id); device >= 0) {
        m_board.barPosition(device, position);
    }
}

void ConsoleWindow::createControl(const ControlSpec&) {}

Rect ConsoleWindow::windowRect() {
    std::lock_guard lock(m_mutex);
    return m_rect;
}

void ConsoleWindow::moveWindow(const Rect& rect, bool) {
    std::lock_guard lock(m_mutex);
    m_rect = rect;
}

void ConsoleWindow::setTimer(int, uint32_t) {}

void ConsoleWindow::killTimer(int) {}

void ConsoleWindow::setIcon(int, bool) {}

int ConsoleWindow::messageBox(std::string_view text, std::string_view, uint32_t type) {
    std::lock_guard lock(m_mutex);
    m_board.messageBox(m_services.currentDevice(), text, type, m_services.takeOpenFailure());
    return kIdOk;
}

std::optional<std::string> ConsoleWindow::openFileDialog(const OpenFileRequest&) {
    return std::nullopt;
}

void ConsoleWindow::invoke(const std::function<void()>& task) {
    std::lock_guard lock(m_mutex);
    task();
}

}  // namespace qor
