#include "tests/support/memory_window.h"

#include <algorithm>
#include <cstdio>
#include <type_traits>

namespace qor::testing {

namespace {

std::string boxLine(const char* what, uint32_t type, std::string_view text) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%X", static_cast<unsigned>(type));
    return std::string(what) + " " + hex + " " + std::string(text);
}

}  // namespace

MemoryWindow::MemoryWindow(Rect windowRect) : m_rect(windowRect) {
    m_uiThread = std::thread([this] { uiLoop(); });
    m_uiThreadId = m_uiThread.get_id();
}

MemoryWindow::~MemoryWindow() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_uiThread.join();
}

void MemoryWindow::uiLoop() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
            if (m_tasks.empty()) {
                return;
            }
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}

void MemoryWindow::post(std::function<void()> task) {
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_changed.notify_all();
}

void MemoryWindow::invoke(const std::function<void()>& task) {
    if (isUiThread()) {
        task();
        return;
    }
    bool done = false;
    post([&] {
        task();
        std::lock_guard lock(m_mutex);
        done = true;
        m_changed.notify_all();
    });
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return done; });
}

template <typename Change>
auto MemoryWindow::change(Change&& change) {
    using Result = std::invoke_result_t<Change&>;
    if constexpr (std::is_void_v<Result>) {
        invoke([&] {
            std::lock_guard lock(m_mutex);
            change();
            m_changed.notify_all();
        });
    } else {
        std::optional<Result> result;
        invoke([&] {
            std::lock_guard lock(m_mutex);
            result.emplace(change());
            m_changed.notify_all();
        });
        return *result;
    }
}

void MemoryWindow::note(std::string line) {
    m_journal.push_back(std::move(line));
}

void MemoryWindow::setItemText(int id, std::string_view text) {
    change([&] {
        at(id).text = std::string(text);
        note("text " + std::to_string(id) + " " + std::string(text));
    });
}

std::string MemoryWindow::itemText(int id) {
    return change([&] { return at(id).text; });
}

void MemoryWindow::enableItem(int id, bool enabled) {
    change([&] {
        at(id).enabled = enabled;
        note("enable " + std::to_string(id) + (enabled ? " 1" : " 0"));
    });
}

void MemoryWindow::showItem(int id, bool visible) {
    change([&] {
        at(id).visible = visible;
        note("show " + std::to_string(id) + (visible ? " 1" : " 0"));
    });
}

int MemoryWindow::checkedRadioButton(int first, int last) {
    return change([&] {
        for (int id = first; id <= last; ++id) {
            const auto found = m_controls.find(id);
            if (found != m_controls.end() && found->second.checked) {
                return id;
            }
        }
        return 0;
    });
}

void MemoryWindow::checkRadioButton(int first, int last, int id) {
    change([&] {
        for (int other = first; other <= last; ++other) {
            at(other).checked = other == id;
        }
        note("check " + std::to_string(id));
    });
}

void MemoryWindow::addComboString(int id, std::string_view text) {
    change([&] {
        at(id).items.emplace_back(text);
        note("combo-add " + std::to_string(id) + " " + std::string(text));
    });
}

void MemoryWindow::resetCombo(int id) {
    change([&] {
        at(id).items.clear();
        at(id).selection = -1;
        note("combo-reset " + std::to_string(id));
    });
}

void MemoryWindow::setComboSelection(int id, int index) {
    change([&] {
        ControlState& combo = at(id);
        // An index past the list clears the selection, as the combo box does.
        const bool inList = index >= 0 && static_cast<size_t>(index) < combo.items.size();
        combo.selection = inList ? index : -1;
        note("combo-sel " + std::to_string(id) + " " + std::to_string(combo.selection));
    });
}

int MemoryWindow::comboSelection(int id) {
    return change([&] { return at(id).selection; });
}

void MemoryWindow::setPicture(int id, int bitmapId) {
    change([&] {
        at(id).picture = bitmapId;
        note("picture " + std::to_string(id) + " " + std::to_string(bitmapId));
    });
}

void MemoryWindow::setProgressRange(int id, uint16_t minimum, uint16_t maximum) {
    change([&] {
        at(id).rangeMin = minimum;
        at(id).rangeMax = maximum;
        note("range " + std::to_string(id) + " " + std::to_string(minimum) + " " +
             std::to_string(maximum));
    });
}

void MemoryWindow::setProgressPos(int id, int position) {
    change([&] {
        at(id).position = position;
        note("pos " + std::to_string(id) + " " + std::to_string(position));
    });
}

void MemoryWindow::createControl(const ControlSpec& made) {
    change([&] {
        ControlState& control = at(made.id);
        control = ControlState{};
        control.createdAs = made.kind;
        control.rect = made.rect;
        control.text = made.text;
        control.centred = made.centred;
        control.visible = false;
        note("create " + std::to_string(made.id));
    });
}

Rect MemoryWindow::windowRect() {
    return change([&] { return m_rect; });
}

void MemoryWindow::moveWindow(const Rect& rect, bool /*repaint*/) {
    change([&] {
        m_rect = rect;
        note("move " + std::to_string(rect.left) + " " + std::to_string(rect.top) + " " +
             std::to_string(rect.right) + " " + std::to_string(rect.bottom));
    });
}

int MemoryWindow::dpi() {
    return change([&] { return m_dpi; });
}

void MemoryWindow::setDpi(int dpi) {
    change([&] { m_dpi = dpi; });
}

void MemoryWindow::setTimer(int id, uint32_t periodMs) {
    change([&] {
        m_timers[id] = periodMs;
        note("timer " + std::to_string(id) + " " + std::to_string(periodMs));
    });
}

void MemoryWindow::killTimer(int id) {
    change([&] {
        m_timers.erase(id);
        note("kill-timer " + std::to_string(id));
    });
}

void MemoryWindow::setIcon(int iconId, bool big) {
    change([&] { note("icon " + std::to_string(iconId) + (big ? " 1" : " 0")); });
}

int MemoryWindow::messageBox(std::string_view text, std::string_view title, uint32_t type) {
    const bool fromUi = isUiThread();
    size_t index = 0;
    bool held = false;
    MessageBoxRecord opened;
    std::function<void(const MessageBoxRecord&)> observer;
    change([&] {
        index = m_boxes.size();
        m_boxes.push_back({std::string(text), std::string(title), type, fromUi, true, {}});
        held = m_holdBoxes;
        opened = m_boxes.back();
        observer = m_boxObserver;
        note(boxLine("box", type, text));
    });
    if (observer) {
        observer(opened);
    }
    if (!held) {
        answerBox(index);
    }
    const int answer = awaitAnswer(index);
    change([&] {
        m_boxes[index].open = false;
        note(boxLine("box-closed", type, text));
    });
    return answer;
}

int MemoryWindow::awaitAnswer(size_t index) {
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_boxes[index].answer) {
            return *m_boxes[index].answer;
        }
        // A modal box on the user-interface thread runs its own message
        // loop: the workers' calls go on being carried out meanwhile.
        if (isUiThread() && !m_tasks.empty()) {
            std::function<void()> task = std::move(m_tasks.front());
            m_tasks.pop_front();
            lock.unlock();
            task();
            lock.lock();
            continue;
        }
        m_changed.wait(lock);
    }
}

void MemoryWindow::holdMessageBoxes(bool hold) {
    std::lock_guard lock(m_mutex);
    m_holdBoxes = hold;
}

void MemoryWindow::setBoxObserver(std::function<void(const MessageBoxRecord&)> observer) {
    std::lock_guard lock(m_mutex);
    m_boxObserver = std::move(observer);
}

std::vector<MessageBoxRecord> MemoryWindow::messageBoxes() const {
    std::lock_guard lock(m_mutex);
    return m_boxes;
}

size_t MemoryWindow::openBoxCount() const {
    std::lock_guard lock(m_mutex);
    size_t open = 0;
    for (const MessageBoxRecord& box : m_boxes) {
        open += box.open && !box.answer ? 1 : 0;
    }
    return open;
}

bool MemoryWindow::waitForBoxes(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_boxes.size() >= count; });
}

bool MemoryWindow::waitForOpenBoxes(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        size_t open = 0;
        for (const MessageBoxRecord& box : m_boxes) {
            open += box.open && !box.answer ? 1 : 0;
        }
        return open >= count;
    });
}

bool MemoryWindow::answerBox(size_t index, int button) {
    {
        std::lock_guard lock(m_mutex);
        if (index >= m_boxes.size() || !m_boxes[index].open || m_boxes[index].answer) {
            return false;
        }
        m_boxes[index].answer = button;
    }
    m_changed.notify_all();
    return true;
}

void MemoryWindow::releaseAllBoxes() {
    {
        std::lock_guard lock(m_mutex);
        m_holdBoxes = false;
        for (MessageBoxRecord& box : m_boxes) {
            if (box.open && !box.answer) {
                box.answer = kIdOk;
            }
        }
    }
    m_changed.notify_all();
}

std::optional<std::string> MemoryWindow::openFileDialog(const OpenFileRequest& request) {
    std::function<void()> whileOpen;
    {
        std::lock_guard lock(m_mutex);
        whileOpen = m_whileFileDialogOpen;
    }
    if (whileOpen) {
        whileOpen();
    }
    return change([&] {
        m_openFileRequests.push_back(request);
        note("file-dialog");
        return m_openFileAnswer;
    });
}

void MemoryWindow::setWhileFileDialogOpen(std::function<void()> task) {
    std::lock_guard lock(m_mutex);
    m_whileFileDialogOpen = std::move(task);
}

void MemoryWindow::setOpenFileAnswer(std::optional<std::string> path) {
    std::lock_guard lock(m_mutex);
    m_openFileAnswer = std::move(path);
}

std::vector<OpenFileRequest> MemoryWindow::openFileRequests() const {
    std::lock_guard lock(m_mutex);
    return m_openFileRequests;
}

ControlState MemoryWindow::control(int id) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_controls.find(id);
    return found == m_controls.end() ? ControlState{} : found->second;
}

Rect MemoryWindow::rect() const {
    std::lock_guard lock(m_mutex);
    return m_rect;
}

std::map<int, uint32_t> MemoryWindow::runningTimers() const {
    std::lock_guard lock(m_mutex);
    return m_timers;
}

std::vector<std::string> MemoryWindow::journal() const {
    std::lock_guard lock(m_mutex);
    return m_journal;
}

std::vector<std::string> MemoryWindow::journalOf(std::string_view prefix) const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> lines;
    for (const std::string& line : m_journal) {
        if (std::string_view(line).substr(0, prefix.size()) == prefix) {
            lines.push_back(line);
        }
    }
    return lines;
}

bool MemoryWindow::waitForJournal(std::string_view line, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        return std::find(m_journal.begin(), m_journal.end(), line) != m_journal.end();
    });
}

}  // namespace qor::testing
