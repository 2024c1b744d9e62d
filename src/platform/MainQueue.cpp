#include "MainQueue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <deque>
#include <thread>

// Tasks wait in our own locked queue; the event loop only carries a wake-up
// naming a method. Handing the task objects themselves through Qt's event
// queue would hide the hand-over from the thread sanitizer, and keeping them
// here lets close() drop every waiting task at once.
struct MainQueueState {
    std::mutex mutex;
    std::deque<std::function<void()>> pending;
    bool closed = false;
};

class MainQueueContext : public QObject {
    Q_OBJECT
public:
    explicit MainQueueContext(std::shared_ptr<MainQueueState> state) : state_(std::move(state)) {}

    Q_INVOKABLE void drain() {
        std::deque<std::function<void()>> tasks;
        {
            std::lock_guard lock(state_->mutex);
            if (state_->closed)
                return;
            tasks.swap(state_->pending);
        }
        for (auto& task : tasks)
            task();
    }

private:
    std::shared_ptr<MainQueueState> state_;
};

MainQueue::MainQueue()
    : state_(std::make_shared<MainQueueState>()), context_(new MainQueueContext(state_)) {}

std::shared_ptr<MainQueue> MainQueue::create() {
    std::shared_ptr<MainQueue> queue(new MainQueue);
    if (auto* app = QCoreApplication::instance()) {
        std::weak_ptr<MainQueue> weak = queue;
        QObject::connect(app, &QCoreApplication::aboutToQuit, queue->context_, [weak] {
            if (auto q = weak.lock())
                q->close();
        });
    }
    return queue;
}

MainQueue::~MainQueue() {
    // Only reached without close() when the last holder is a worker thread;
    // the context then has to be deleted on its own thread.
    std::lock_guard lock(state_->mutex);
    state_->closed = true;
    state_->pending.clear();
    if (context_)
        context_->deleteLater();
}

void MainQueue::post(std::function<void()> task) {
    std::lock_guard lock(state_->mutex);
    if (state_->closed)
        return;
    const bool wake = state_->pending.empty();
    state_->pending.push_back(std::move(task));
    if (wake)
        QMetaObject::invokeMethod(context_, "drain", Qt::QueuedConnection);
}

void MainQueue::close() {
    QObject* context = nullptr;
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(state_->mutex);
        state_->closed = true;
        dropped.swap(state_->pending);
        context = context_;
        context_ = nullptr;
    }
    delete context;
}

bool MainQueue::isClosed() const {
    std::lock_guard lock(state_->mutex);
    return state_->closed;
}

void runInBackground(std::function<void()> work) {
    std::thread(std::move(work)).detach();
}

#include "MainQueue.moc"
