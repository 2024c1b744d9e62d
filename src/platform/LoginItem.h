// LoginItem: whether the controller starts when the user logs in.
//
// Main thread only. Every call reads or changes the desktop's state afresh;
// nothing is cached, so changes made outside the program are seen at once.
// `registerItem` and `unregisterItem` return std::nullopt on success and the
// system's description of the failure otherwise.
#pragma once

#include <QString>
#include <optional>

enum class LoginItemStatus { enabled, notRegistered, notFound, requiresApproval };

class LoginItem {
public:
    virtual ~LoginItem() = default;
    virtual LoginItemStatus status() const = 0;
    virtual std::optional<QString> registerItem() = 0;
    virtual std::optional<QString> unregisterItem() = 0;
};
