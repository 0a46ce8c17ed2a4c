#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <optional>
#include <type_traits>
#include <utility>

namespace qor {

// Runs `task` on the thread of `context` and returns its result once it is
// done. On that thread it runs at once; from any other thread the caller
// waits while the GUI thread runs it between its own events, so a worker's
// call changes the widgets exactly as if it had been made there. The GUI
// thread must never wait for a worker, or both would stand still.
template <typename Task>
auto runOnThreadOf(QObject* context, Task&& task) -> std::invoke_result_t<Task&> {
    using Result = std::invoke_result_t<Task&>;
    if (QThread::currentThread() == context->thread()) {
        return task();
    }
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(
            context, [&task] { task(); }, Qt::BlockingQueuedConnection);
    } else {
        std::optional<Result> result;
        QMetaObject::invokeMethod(
            context, [&task, &result] { result.emplace(task()); }, Qt::BlockingQueuedConnection);
        return std::move(*result);
    }
}

}  // namespace qor
