#include "app/flash/stop_control.h"

namespace qor {

namespace {

StopAction actionFor(StopStage stage) {
    switch (stage) {
        case StopStage::Starting:
        case StopStage::Connecting:
            return StopAction::CutNow;
        case StopStage::Transferring:
            return StopAction::AfterBlock;
        case StopStage::Finishing:
            return StopAction::LetFinish;
    }
    return StopAction::CutNow;
}

}  // namespace

StopControl::Slot* StopControl::slot(int device) {
    const int index = device + 1;
    if (index < 0 || index >= static_cast<int>(m_slots.size())) {
        return nullptr;
    }
    return &m_slots[static_cast<size_t>(index)];
}

const StopControl::Slot* StopControl::slot(int device) const {
    return const_cast<StopControl*>(this)->slot(device);
}

void StopControl::setStage(int device, StopStage stage) {
    if (Slot* s = slot(device)) {
        s->stage.store(stage);
    }
}

StopStage StopControl::stage(int device) const {
    const Slot* s = slot(device);
    return s != nullptr ? s->stage.load() : StopStage::Starting;
}

StopAction StopControl::action(int device) {
    if (!m_interrupt.requested()) {
        return StopAction::None;
    }
    Slot* s = slot(device);
    if (s == nullptr) {
        return StopAction::CutNow;
    }
    StopAction current = s->action.load();
    if (current == StopAction::None) {
        const StopAction decided = actionFor(s->stage.load());
        // Another call of the same device may have decided first; its
        // decision stands.
        s->action.compare_exchange_strong(current, decided);
        current = s->action.load();
    }
    return current;
}

void StopControl::noteStopped(int device) {
    if (Slot* s = slot(device)) {
        s->stopped.store(true);
    }
}

bool StopControl::stopped(int device) const {
    const Slot* s = slot(device);
    return s != nullptr && s->stopped.load();
}

void StopControl::noteLineGone(int device) {
    if (Slot* s = slot(device)) {
        s->lineGone.store(true);
    }
}

bool StopControl::lineGone(int device) const {
    const Slot* s = slot(device);
    return s != nullptr && s->lineGone.load();
}

}  // namespace qor
