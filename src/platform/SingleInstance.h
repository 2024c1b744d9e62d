// SingleInstance: keeps one running controller per user and hands the
// arguments of every later launch (typically a korvan:// link opened from the
// desktop) over to it.
//
// Main thread only. Ownership of the instance is an flock(2) lock held for the
// primary's whole life on "<key>.lock", beside a local socket "<key>.sock".
// Both live in $XDG_RUNTIME_DIR when it is a real directory (not a symlink)
// of this user with no group or other permissions; else in
// $XDG_CACHE_HOME/<key> (default ~/.cache/<key>, never without a HOME),
// created 0700 and held to the same rule; else acquire() gives `unavailable`. Both ends of every
// connection check the other's user id and refuse anyone else, so a link
// never reaches, nor comes from, another user.
// Because the kernel drops the lock when its holder dies, a socket left behind
// by a crash is simply replaced, and two launches at the same moment cannot
// both become primary.
//
// Use: take the arguments with argumentsOf(), construct the application
// object, then call acquire() before the event loop starts.
//  - `primary`: this process listens; each hand-over arrives later, on the
//    event loop, as argumentsReceived(). At most maxWaitingClients
//    connections wait for their frame at a time; more are closed at once.
//    Qt closes the listener and removes its socket file when accept() fails
//    (out of descriptors, say) and reports nothing, so the primary checks it
//    whenever a client ends and every `watchInterval`; once it has stopped,
//    the waiting connections are closed and the primary listens again on
//    the same path, under the lock it still holds, trying every
//    `retryInterval` until it can.
//  - `secondary`: a live primary accepted our connection; call forward() and
//    exit. forward() blocks for at most its timeout and returns true only once
//    the primary has acknowledged the whole list. If it fails (the primary
//    quit in between), acquire() may be called again.
//  - `unavailable`: no private folder for the socket, another user at the
//    other end, listening failed, or the primary does not answer;
//    errorString() says why in one line. The caller must not run on as a
//    second primary.
//
// Wire format, one request per connection, all integers unsigned 32-bit
// big-endian: frame length, then the frame: argument count, then for each
// argument its byte length and its UTF-8 bytes. The primary answers one ACK
// byte (0x06) and closes. Frames that are oversized, malformed, not UTF-8 or
// not finished within the client timeout are dropped without an answer.
#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <memory>
#include <sys/types.h>
#include <unistd.h>

class QLocalServer;
class QLocalSocket;

class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role { primary, secondary, unavailable };

    // Largest frame a primary accepts and a secondary sends.
    static constexpr qsizetype maxFrameBytes = 1024 * 1024;

    // Connections that may wait for their frame at the same time.
    static constexpr int maxWaitingClients = 16;

    explicit SingleInstance(QString key, QObject* parent = nullptr,
                            std::chrono::milliseconds watchInterval = std::chrono::seconds(1),
                            std::chrono::milliseconds retryInterval = std::chrono::seconds(1));
    ~SingleInstance() override;

    // Blocks for at most `timeoutMs` while another launch is still becoming
    // primary. May be called again after a failed forward().
    Role acquire(int timeoutMs = 5000);

    // argv[1..] decoded as UTF-8 exactly as given. Unlike
    // QCoreApplication::arguments() this keeps a leading U+FEFF, and it sees
    // options that the application object would remove: call it before
    // constructing that object. Bytes that are not UTF-8 become U+FFFD.
    static QStringList argumentsOf(int argc, const char* const* argv);

    // Secondary only: sends `arguments` to the primary and waits for its
    // acknowledgement.
    bool forward(const QStringList& arguments, int timeoutMs = 5000);

    // The socket path that acquire() chose; empty before.
    QString socketPath() const { return socketPath_; }
    QString errorString() const { return error_; }

    // How long a client may take to deliver its frame before the primary
    // drops it.
    void setClientTimeout(int milliseconds) { clientTimeoutMs_ = milliseconds; }

    // The only user this channel talks to: ourselves, unless a test plays a
    // stranger.
    void setPeerUser(uid_t user) { peerUser_ = user; }

Q_SIGNALS:
    void argumentsReceived(const QStringList& arguments);

private:
    enum { lockTaken, lockBusy, lockFailed };

    bool chooseDirectory();
    int tryLock();
    bool listen();
    void checkListening();
    void listenAgain();
    void acceptClients();
    void readClient(QLocalSocket* client);
    void release();

    QString key_;
    QString directory_;
    QString socketPath_;
    QString error_;
    int lockFd_ = -1;
    int clientTimeoutMs_ = 10000;
    uid_t peerUser_ = ::geteuid();
    QLocalServer* server_ = nullptr;
    QSet<QLocalSocket*> waiting_;        // accepted and not yet gone
    QTimer watch_;                       // primary: is the listener still there?
    QTimer retry_;                       // single shot: the next try to listen again
    std::unique_ptr<QLocalSocket> link_; // secondary: the accepted connection
};
