#include "MainQueue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <thread>

MainQueue::MainQueue() : context_(new QObject) {}

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
    std::lock_guard lock(mutex_);
    if (context_)
        context_->deleteLater();
}

void MainQueue::post(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    if (!context_)
        return;
    // Queued onto the context object: if close() deletes it first, Qt
    // discards the pending call along with it.
    QMetaObject::invokeMethod(context_, std::move(task), Qt::QueuedConnection);
}

void MainQueue::close() {
    QObject* context = nullptr;
    {
        std::lock_guard lock(mutex_);
        context = context_;
        context_ = nullptr;
    }
    delete context;
}

bool MainQueue::isClosed() const {
    std::lock_guard lock(mutex_);
    return context_ == nullptr;
}

void runInBackground(std::function<void()> work) {
    std::thread(std::move(work)).detach();
}
