// UrlOpener: hands a URL to the desktop, which shows it in the default browser.
//
// Main thread only. Fire and forget: whether the desktop managed to open the
// URL is not reported.
#pragma once

#include <QUrl>

class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    virtual void open(const QUrl& url) = 0;
};

class DesktopUrlOpener final : public UrlOpener {
public:
    void open(const QUrl& url) override;
};
