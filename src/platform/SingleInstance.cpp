#include "SingleInstance.h"

#include "core/SystemError.h"
#include "core/TextRules.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStringDecoder>
#include <QTimer>
#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

constexpr char ack = 0x06;

void appendU32(QByteArray& out, quint32 value) {
    char bytes[4];
    qToBigEndian(value, bytes);
    out.append(bytes, 4);
}

quint32 readU32(const char* bytes) {
    return qFromBigEndian<quint32>(bytes);
}

QByteArray encodeFrame(const QStringList& arguments) {
    QByteArray body;
    appendU32(body, quint32(arguments.size()));
    for (const QString& argument : arguments) {
        const QByteArray utf8 = argument.toUtf8();
        appendU32(body, quint32(utf8.size()));
        body.append(utf8);
    }
    QByteArray frame;
    appendU32(frame, quint32(body.size()));
    return frame + body;
}

// A leading U+FEFF is part of an argument, not a byte-order mark.
std::optional<QString> decodeArgument(QByteArrayView bytes) {
    return text::decodeUtf8(bytes.toByteArray(), text::Bom::keep);
}

// Everything in a frame comes from another process: every length is checked
// against what is actually there before it is used.

std::optional<QStringList> decodeFrame(const QByteArray& body) {
    const qsizetype size = body.size();
    if (size < 4)
        return std::nullopt;
    const quint32 count = readU32(body.constData());
    if (count > quint32(size / 4))
        return std::nullopt;
    QStringList arguments;
    arguments.reserve(qsizetype(count));
    qsizetype pos = 4;
    for (quint32 i = 0; i < count; ++i) {
        if (size - pos < 4)
            return std::nullopt;
        const quint32 length = readU32(body.constData() + pos);
        pos += 4;
        if (length > quint64(size - pos))
            return std::nullopt;
        std::optional<QString> argument =
            decodeArgument(QByteArrayView(body.constData() + pos, qsizetype(length)));
        if (!argument)
            return std::nullopt;
        arguments.append(std::move(*argument));
        pos += qsizetype(length);
    }
    if (pos != size)
        return std::nullopt;
    return arguments;
}

// Whoever can enter the folder can listen in the primary's place, or take
// the lock and leave us without one: it must be a real directory of ours,
// closed to everyone else. A relative path is ignored, as the XDG base
// directory rules ask.
bool isPrivateDirectory(const QString& path) {
    struct stat st {};
    return path.startsWith(u'/') && ::lstat(QFile::encodeName(path).constData(), &st) == 0 &&
           S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

// The folder keeps strangers out; the kernel's word on who is at the other
// end is the last check, made by both ends.
bool isPeer(qintptr descriptor, uid_t user) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
           size == sizeof peer && peer.uid == user;
}

} // namespace

SingleInstance::SingleInstance(QString key, QObject* parent,
                               std::chrono::milliseconds watchInterval,
                               std::chrono::milliseconds retryInterval)
    : QObject(parent), key_(std::move(key)) {
    watch_.setInterval(watchInterval);
    connect(&watch_, &QTimer::timeout, this, &SingleInstance::checkListening);
    retry_.setInterval(retryInterval);
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &SingleInstance::listenAgain);
}

SingleInstance::~SingleInstance() {
    release();
}

QStringList SingleInstance::argumentsOf(int argc, const char* const* argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        const QByteArrayView bytes(argv[i]);
        // What the desktop hands us is shown, not refused: invalid bytes as U+FFFD.
        arguments.append(decodeArgument(bytes).value_or(
            QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom)(bytes)));
    }
    return arguments;
}

bool SingleInstance::chooseDirectory() {
    QString directory = QDir::cleanPath(qEnvironmentVariable("XDG_RUNTIME_DIR"));
    if (!isPrivateDirectory(directory)) {
        QString cache = QDir::cleanPath(qEnvironmentVariable("XDG_CACHE_HOME"));
        if (!cache.startsWith(u'/')) {
            // Without a home there is no cache folder of ours; one under "/"
            // would be shared by every user without one.
            const QString home = qEnvironmentVariable("HOME");
            if (!home.startsWith(u'/')) {
                error_ = QStringLiteral(
                    "no folder for the hand-over channel: "
                    "XDG_RUNTIME_DIR is not private and HOME is not an absolute path");
                return false;
            }
            cache = home + QStringLiteral("/.cache");
        }
        directory = cache + u'/' + key_;
        QDir().mkpath(cache);
        const QByteArray native = QFile::encodeName(directory);
        if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
            error_ = QStringLiteral("cannot create %1: %2").arg(directory, systemErrorText(errno));
            return false;
        }
        if (!isPrivateDirectory(directory)) {
            error_ = QStringLiteral("refusing %1: not a directory of this user closed to others")
                         .arg(directory);
            return false;
        }
    }
    const QString socketPath = directory + u'/' + key_ + QStringLiteral(".sock");
    if (QFile::encodeName(socketPath).size() >= qsizetype(sizeof(sockaddr_un::sun_path))) {
        error_ = QStringLiteral("socket path too long: %1").arg(socketPath);
        return false;
    }
    directory_ = directory;
    socketPath_ = socketPath;
    return true;
}

int SingleInstance::tryLock() {
    if (lockFd_ < 0) {
        const QByteArray path =
            QFile::encodeName(directory_ + u'/' + key_ + QStringLiteral(".lock"));
        // Close-on-exec: a service started by the controller must never keep
        // holding the lock after the controller is gone.
        lockFd_ = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (lockFd_ < 0) {
            error_ = QStringLiteral("cannot open lock file: %1").arg(systemErrorText(errno));
            return lockFailed;
        }
    }
    int rc;
    do {
        rc = ::flock(lockFd_, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0)
        return lockTaken;
    if (errno == EWOULDBLOCK)
        return lockBusy;
    error_ = QStringLiteral("cannot lock: %1").arg(systemErrorText(errno));
    return lockFailed;
}

bool SingleInstance::listen() {
    // We hold the lock, so whatever sits at the socket path was left by an
    // instance that is gone, or by our own listener before Qt closed it.
    QLocalServer::removeServer(socketPath_);
    if (!server_) {
        server_ = new QLocalServer(this);
        server_->setSocketOptions(QLocalServer::UserAccessOption);
        connect(server_, &QLocalServer::newConnection, this, &SingleInstance::acceptClients);
    }
    if (!server_->listen(socketPath_)) {
        error_ = QStringLiteral("cannot listen on %1: %2").arg(socketPath_, server_->errorString());
        return false;
    }
    watch_.start();
    return true;
}

void SingleInstance::checkListening() {
    if (server_ && !server_->isListening() && !retry_.isActive())
        listenAgain();
}

void SingleInstance::listenAgain() {
    // Whoever waits on the old listener is cut off; a launch that loses its
    // hand-over this way tries again, as it does when the primary is busy.
    for (QLocalSocket* client : std::exchange(waiting_, {})) {
        client->abort();
        client->deleteLater();
    }
    // While descriptors stay short, one try a `retryInterval`, not a spin.
    if (!listen())
        retry_.start();
}

SingleInstance::Role SingleInstance::acquire(int timeoutMs) {
    using namespace std::chrono_literals;
    if (server_)
        return Role::primary;
    link_.reset();
    if (directory_.isEmpty() && !chooseDirectory())
        return Role::unavailable;

    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        error_.clear();
        const int lock = tryLock();
        if (lock == lockFailed)
            return Role::unavailable;
        if (lock == lockTaken) {
            if (listen())
                return Role::primary;
            release();
            return Role::unavailable;
        }

        // Someone holds the lock: a primary, or a launch that is about to
        // start listening. Only a connection it accepts makes us secondary.
        auto socket = std::make_unique<QLocalSocket>();
        socket->connectToServer(socketPath_);
        if (socket->waitForConnected(int(std::clamp<qint64>(deadline.remainingTime(), 0, 200)))) {
            if (!isPeer(socket->socketDescriptor(), peerUser_)) {
                error_ = QStringLiteral("refusing %1: another user listens there").arg(socketPath_);
                return Role::unavailable;
            }
            link_ = std::move(socket);
            return Role::secondary;
        }
        if (deadline.hasExpired()) {
            error_ = QStringLiteral("the running instance does not answer on %1").arg(socketPath_);
            return Role::unavailable;
        }
        std::this_thread::sleep_for(10ms);
    }
}

bool SingleInstance::forward(const QStringList& arguments, int timeoutMs) {
    std::unique_ptr<QLocalSocket> link = std::move(link_);
    if (!link) {
        error_ = QStringLiteral("not connected to a running instance");
        return false;
    }
    const QByteArray frame = encodeFrame(arguments);
    if (frame.size() - 4 > maxFrameBytes) {
        error_ = QStringLiteral("the arguments are too long to hand over");
        return false;
    }
    const QDeadlineTimer deadline(timeoutMs);
    const auto remaining = [&] {
        return int(std::clamp<qint64>(deadline.remainingTime(), 0, timeoutMs));
    };
    link->write(frame);
    while (link->bytesToWrite() > 0) {
        if (!link->waitForBytesWritten(remaining())) {
            error_ = QStringLiteral("hand-over failed: %1").arg(link->errorString());
            return false;
        }
    }
    while (link->bytesAvailable() < 1) {
        if (!link->waitForReadyRead(remaining())) {
            error_ = QStringLiteral("the running instance did not acknowledge the hand-over");
            return false;
        }
    }
    char answer = 0;
    if (link->read(&answer, 1) != 1 || answer != ack) {
        error_ = QStringLiteral("the running instance refused the hand-over");
        return false;
    }
    return true;
}

void SingleInstance::acceptClients() {
    while (QLocalSocket* client = server_->nextPendingConnection()) {
        // A flood of silent clients would otherwise hold a descriptor each
        // until their deadlines, and starve the listener itself.
        if (waiting_.size() >= maxWaitingClients ||
            !isPeer(client->socketDescriptor(), peerUser_)) {
            client->abort();
            client->deleteLater();
            continue;
        }
        waiting_.insert(client);
        connect(client, &QObject::destroyed, this, [this, client] {
            waiting_.remove(client);
            checkListening();
        });
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QLocalSocket::readyRead, this, [this, client] { readClient(client); });
        // A client that connects and never finishes must not hold a
        // descriptor for the rest of the run.
        QTimer::singleShot(clientTimeoutMs_, client, [client] {
            client->abort();
            client->deleteLater();
        });
        readClient(client);
    }
}

void SingleInstance::readClient(QLocalSocket* client) {
    const qint64 available = client->bytesAvailable();
    if (available < 4)
        return;
    const QByteArray head = client->peek(4);
    const quint32 length = readU32(head.constData());
    // Read no more, but keep the end of the client in view.
    const auto done = [this, client] {
        disconnect(client, &QLocalSocket::readyRead, this, nullptr);
    };
    const auto drop = [client, done] {
        done();
        client->abort();
        client->deleteLater();
    };
    if (length > quint32(maxFrameBytes) || available > 4 + qint64(length))
        return drop();
    if (available < 4 + qint64(length))
        return;
    client->skip(4);
    const std::optional<QStringList> arguments = decodeFrame(client->read(length));
    if (!arguments)
        return drop();

    // Acknowledge before anyone acts on the arguments: a handler may quit
    // the program, and the sender must still learn that it was heard.
    done();
    client->write(&ack, 1);
    client->flush();
    client->disconnectFromServer();
    Q_EMIT argumentsReceived(*arguments);
}

void SingleInstance::release() {
    link_.reset();
    // The socket goes before the lock, so that a successor that takes the
    // lock never sees its own fresh socket removed by us.
    watch_.stop();
    retry_.stop();
    waiting_.clear();
    if (QLocalServer* server = std::exchange(server_, nullptr)) {
        server->close();
        delete server;
    }
    if (lockFd_ >= 0) {
        ::close(lockFd_);
        lockFd_ = -1;
    }
}
