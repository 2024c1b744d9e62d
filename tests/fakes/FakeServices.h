// A recording fake of the service interface; a call completes only when the
// test says so, or from the event loop with `answerSoon`. Main thread only.
#pragma once

#include "service/ServiceControl.h"

#include <QList>
#include <QStringList>
#include <QTimer>
#include <functional>

struct FakeServices final : ServiceControl {
    QStringList calls;       // "status" or the command word, in order
    QStringList enrollments; // hub, then code, of each
    QList<std::function<void()>> pending;
    std::function<void(const QString&)> progress;
    CommandResult result;   // of each run and enrollment
    ServiceSnapshot report; // of each status
    bool paired = false;
    bool pairOnSuccess = true;
    bool enrollAtOnce = false; // completes before installAndEnroll returns
    bool answerSoon = false;   // completes each call from the event loop, unasked
    OutputForward forward;
    QList<std::pair<int, QByteArray>> chunks; // forwarded before each run completes

    void run(const QString& command, std::function<void(const CommandResult&)> done) override {
        calls << command;
        pending << [this, done, live = command != u"status"] {
            for (const auto& [stream, bytes] : chunks)
                if (live && forward)
                    forward(stream, bytes);
            done(result);
        };
        answerIfAsked();
    }
    void forwardOutput(OutputForward f) override { forward = std::move(f); }
    void status(std::function<void(const ServiceSnapshot&)> done) override {
        calls << QStringLiteral("status");
        pending << [this, done] { done(report); };
        answerIfAsked();
    }
    bool hasPairing() const override { return paired; }
    void installAndEnroll(const QString& hub, const QString& code,
                          std::function<void(const QString&)> onProgress,
                          std::function<void(const CommandResult&)> done) override {
        enrollments << hub << code;
        progress = onProgress;
        pending << [this, done] {
            for (const auto& [stream, bytes] : chunks)
                if (forward)
                    forward(stream, bytes);
            paired = paired || (result.status == 0 && pairOnSuccess);
            done(result);
        };
        if (enrollAtOnce)
            pending.takeLast()();
        else
            answerIfAsked();
    }
    void answerIfAsked() {
        if (answerSoon)
            QTimer::singleShot(0, [this] { completeNext(); });
    }
    bool completeNext(qsizetype i = 0) { return i < pending.size() && (pending.takeAt(i)(), true); }
    void completeAll() {
        while (completeNext())
            continue;
    }
};
