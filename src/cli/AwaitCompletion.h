// awaitCompletion: the one way korvanctl waits for an asynchronous call.
//
// `start` is handed a completion; a local event loop runs until that
// completion has been called (not at all when it was called before `start`
// returned), and its value is returned. Main thread only; SignalGuard's
// notifier and the runner's keep working inside the loop.
#pragma once

#include <QEventLoop>
#include <functional>
#include <optional>

namespace cli {

template <typename Value, typename Start>
Value awaitCompletion(Start&& start) {
    QEventLoop loop;
    std::optional<Value> value;
    std::forward<Start>(start)([&](const Value& v) {
        value = v;
        loop.quit();
    });
    if (!value)
        loop.exec();
    return std::move(*value);
}

} // namespace cli
