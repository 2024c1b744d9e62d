// MainQueue: delivers work onto the main thread's event loop from any thread.
//
// Create it on the main thread. `post` may be called from any thread; the
// task then runs later on the main thread. Once the queue is closed (by its
// owner, or when the application begins to quit) every later post and every
// task still waiting is dropped, so nothing runs on a dead object. Workers
// hold it through std::shared_ptr; only the main thread may close it.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

class QObject;
struct MainQueueState;

class MainQueue {
public:
    static std::shared_ptr<MainQueue> create();
    ~MainQueue();
    MainQueue(const MainQueue&) = delete;
    MainQueue& operator=(const MainQueue&) = delete;

    void post(std::function<void()> task);
    void close();
    bool isClosed() const;

private:
    MainQueue();
    std::shared_ptr<MainQueueState> state_; // shared with the context object
    QObject* context_ = nullptr;            // lives on the main thread until close()
};

// Runs `work` on a fresh background thread of its own. A work item that never
// returns holds only its own thread, so it never delays another.
void runInBackground(std::function<void()> work);
