#include "Enrollment.h"

#include "ProcessRunner.h"
#include "ServiceTexts.h"
#include "core/SystemError.h"
#include "core/TextRules.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Enrollment {

namespace {

const QString kInstallerPath = QStringLiteral("agent/install.sh");
const QString kFilePrefix = QStringLiteral("korvan-enroll-");
const QString kFileSuffix = QStringLiteral(".sh");

// Everything one call carries from the download to the installer run.
struct Call {
    QString hubText;
    QString pairCode;
    QByteArray directory;
    std::vector<std::string> environment;
    std::function<void(const QString&)> progress;
    std::function<void(const CommandResult&)> completion;
    std::function<void(int, QByteArrayView)> forward;
    std::chrono::milliseconds transferTimeout{};
    bool tooLarge = false; // the download was stopped at the size limit
};

CommandResult failure(const QString& message, const QString& detail = {}) {
    return {Utf8Text(), message, 1, detail};
}

void deliver(const std::shared_ptr<Call>& call, const CommandResult& result) {
    call->completion(result);
}

// A hub sends whatever it likes; an installer larger than this can only be
// a fault, and is refused before it is all in memory.
constexpr qint64 kMaxInstallerBytes = 64 * 1024 * 1024;

// The detail goes to a terminal: what the hub wrote may not steer it.
QString printable(QString text) {
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control)
            c = QChar::ReplacementCharacter;
    return text;
}

bool isOneNumber(const QByteArray& value) {
    return !value.isEmpty() && value.size() <= 18 &&
           std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Why a body that arrived without an error may still not be the whole
// installer; empty when its end is known. Qt inflates a compressed body
// whose tail is missing without a word, reads by the first of several
// Content-Length headers, and ends a body at the connection's close as if
// that were its end.
QString incompleteness(const QNetworkReply& reply, qsizetype size) {
    const QByteArray encoding = reply.rawHeader("Content-Encoding").trimmed();
    if (!encoding.isEmpty() && encoding.compare("identity", Qt::CaseInsensitive) != 0)
        return QStringLiteral("Content-Encoding %1 is not accepted").arg(QLatin1String(encoding));
    const QByteArray transfer = reply.rawHeader("Transfer-Encoding").trimmed();
    if (reply.hasRawHeader("Content-Length")) {
        // Repeated headers arrive joined with ", ": even equal numbers are refused.
        const QByteArray length = reply.rawHeader("Content-Length");
        if (!transfer.isEmpty())
            return QStringLiteral("both Content-Length and Transfer-Encoding");
        if (!isOneNumber(length))
            return QStringLiteral("Content-Length is not one number: %1")
                .arg(QLatin1String(length));
        if (length.toLongLong() != size)
            return QStringLiteral("Content-Length %1 but %2 bytes arrived")
                .arg(QLatin1String(length))
                .arg(size);
        return {};
    }
    // Qt reports a stream reset and a chunked body cut before its last chunk.
    if (reply.attribute(QNetworkRequest::Http2WasUsedAttribute).toBool())
        return {};
    if (transfer.compare("chunked", Qt::CaseInsensitive) == 0)
        return {};
    if (!transfer.isEmpty())
        return QStringLiteral("Transfer-Encoding %1 is not accepted").arg(QLatin1String(transfer));
    return QStringLiteral("the end of the body is not known");
}

// The verdict on a finished download: nothing when the body may be run.
std::optional<CommandResult> refusal(const QNetworkReply& reply, const QByteArray& body,
                                     const Call& call) {
    const QString where = reply.url().toString(QUrl::RemoveUserInfo) + QStringLiteral(": ");
    const QVariant code = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QString http = QStringLiteral("HTTP ") + code.toString();
    const auto refused = [&](const QString& reason) {
        return failure(ServiceTexts::downloadFailed, printable(where + http + u": " + reason));
    };
    if (call.tooLarge)
        return refused(QStringLiteral("the installer is larger than 64 MiB"));
    if (code.isValid() && (code.toInt() < 200 || code.toInt() > 299))
        return failure(ServiceTexts::downloadFailed, printable(where + http));
    // Whatever else went wrong, even with a 2xx status and bytes in hand,
    // the body is not the hub's installer.
    switch (reply.error()) {
    case QNetworkReply::NoError:
        break;
    case QNetworkReply::OperationCanceledError: // the transfer timeout aborts this way
    case QNetworkReply::TimeoutError:
        return failure(ServiceTexts::requestTimedOut,
                       where + QStringLiteral("nothing arrived for %1 s")
                                   .arg(double(call.transferTimeout.count()) / 1000));
    default:
        return failure(reply.errorString(), printable(where + reply.errorString()));
    }
    if (!code.isValid())
        return failure(ServiceTexts::downloadFailed, printable(where + u"no HTTP status"));
    if (body.isEmpty())
        return refused(QStringLiteral("the body is empty"));
    if (const QString reason = incompleteness(reply, body.size()); !reason.isEmpty())
        return refused(reason);
    return std::nullopt;
}

std::vector<std::string> installerEnvironment(std::vector<std::string> env, const Call& call) {
    const std::pair<std::string, QString> overrides[] = {
        {"KORVAN_HUB_URL", call.hubText},
        {"KORVAN_PAIR_CODE", call.pairCode},
        {"KORVAN_INSTALL_CONTROLLER", QStringLiteral("0")},
    };
    std::erase_if(env, [&](const std::string& entry) {
        const std::string name = entry.substr(0, entry.find('='));
        return std::any_of(std::begin(overrides), std::end(overrides),
                           [&](const auto& o) { return o.first == name; });
    });
    for (const auto& [name, value] : overrides)
        env.push_back(name + '=' + value.toUtf8().toStdString());
    return env;
}

// Writes `body` to `path` so that no other user can ever open it: the bytes
// go into an owner-only (0600) auxiliary file created exclusively, which is
// made 0700 and then renamed into place. Returns 0 or an errno code; on
// failure neither file is left behind.
int writeInstaller(const QByteArray& finalName, const QByteArray& body) {
    const QByteArray partName = finalName + ".part";
    const int fd = ::open(partName.constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return errno;
    int rc = 0;
    const char* data = body.constData();
    auto left = static_cast<size_t>(body.size());
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            rc = errno;
            break;
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    // fchmod is not filtered by the umask, so the mode is exactly 0700.
    if (rc == 0 && ::fchmod(fd, S_IRWXU) != 0)
        rc = errno;
    if (::close(fd) != 0 && rc == 0)
        rc = errno;
    if (rc == 0 && ::rename(partName.constData(), finalName.constData()) != 0)
        rc = errno;
    if (rc != 0)
        ::unlink(partName.constData());
    return rc;
}

// Everything from the file write to the result; the run is followed by the
// runner's event loop, which also removes the file however the run ends.
void install(ProcessRunner& runner, const std::shared_ptr<Call>& call, const QByteArray& body) {
    const QString name =
        kFilePrefix + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + kFileSuffix;
    const QByteArray path = call->directory + '/' + name.toUtf8();
    if (const int rc = writeInstaller(path, body); rc != 0) {
        deliver(call, failure(systemErrorText(rc)));
        return;
    }

    call->progress(ServiceTexts::installing);

    ProcessJob job;
    job.program = "/bin/bash";
    job.arguments = {path.toStdString()};
    job.environment = installerEnvironment(std::move(call->environment), *call);
    job.mergeStreams = true;
    job.decodeText = true;
    job.ownedFile = job.arguments.front();
    job.onOutput = call->forward;
    runner.start(std::move(job), [call](const ProcessOutcome& outcome) {
        if (outcome.kind == ProcessOutcome::Kind::launchFailed) {
            deliver(call, failure(systemErrorText(outcome.launchError)));
            return;
        }
        const Utf8Text& text = outcome.outputText;
        deliver(call, {text, outcome.status == 0 ? Utf8Text() : text, outcome.status});
    });
}

} // namespace

QString hubText(const QString& hubURL) {
    const QString trimmed = text::trimmed(hubURL);
    qsizetype first = 0;
    qsizetype last = trimmed.size();
    while (first < last && trimmed[first] == u'/')
        ++first;
    while (last > first && trimmed[last - 1] == u'/')
        --last;
    return trimmed.sliced(first, last - first);
}

std::optional<QUrl> installerURL(const QString& hubText) {
    const QUrl hub(hubText, QUrl::StrictMode);
    if (!hub.isValid())
        return std::nullopt;
    const QString scheme = hub.scheme().toLower();
    if (scheme != u"https" && scheme != u"http")
        return std::nullopt;
    QUrl installer = hub;
    installer.setPath(hub.path(QUrl::FullyEncoded) + u'/' + kInstallerPath, QUrl::TolerantMode);
    return installer;
}

QByteArray temporaryDirectory() {
    // Bytes, not text: a folder whose name is not UTF-8 is still that folder.
    QByteArray dir = qgetenv("TMPDIR");
    while (dir.size() > 1 && dir.endsWith('/'))
        dir.chop(1);
    return dir.isEmpty() ? QByteArray("/tmp") : dir;
}

void start(ProcessRunner& runner, const QString& hubURL, const QString& pairCode,
           std::chrono::milliseconds transferTimeout, std::function<void(const QString&)> progress,
           std::function<void(const CommandResult&)> completion,
           std::function<void(int stream, QByteArrayView bytes)> forward) {
    auto call = std::make_shared<Call>();
    call->hubText = hubText(hubURL);
    const std::optional<QUrl> url = installerURL(call->hubText);
    if (!url) {
        completion({Utf8Text(), ServiceTexts::invalidHub, 64});
        return;
    }
    // An environment entry ends at a NUL: the installer would get a cut code
    // and spend it.
    if (pairCode.contains(QChar(0))) {
        completion(failure(ServiceTexts::invalidPairCode));
        return;
    }
    call->pairCode = pairCode;
    call->progress = std::move(progress);
    call->completion = std::move(completion);
    call->forward = std::move(forward);

    call->progress(ServiceTexts::downloading);

    // One manager per download, redirects followed as Qt does by default. It
    // is parented to the application so that an unfinished download is still
    // cleaned up at exit. Qt has no time limit of its own: a hub that accepts
    // and never answers would keep the attempt going forever.
    auto* network = new QNetworkAccessManager(QCoreApplication::instance());
    QNetworkRequest request(*url);
    request.setTransferTimeout(int(transferTimeout.count()));
    call->transferTimeout = transferTimeout;
    // As sent, so that what arrives can be judged whole: Qt would otherwise
    // ask for compression and inflate without checking the stream's end.
    request.setRawHeader("Accept-Encoding", "identity");
    QNetworkReply* reply = network->get(request);
    // Checked as the headers arrive and as each piece of the body does, so a
    // flood stops within one read of the limit.
    const auto bound = [reply, call] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (!call->tooLarge && (length.toLongLong() > kMaxInstallerBytes ||
                                reply->bytesAvailable() > kMaxInstallerBytes)) {
            call->tooLarge = true;
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, bound);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, bound);
    const QPointer<ProcessRunner> owner(&runner); // gone with its manager
    QObject::connect(reply, &QNetworkReply::finished, network, [owner, call, reply, network] {
        reply->deleteLater();
        network->deleteLater();
        if (!owner)
            return;
        const QByteArray body = call->tooLarge ? QByteArray() : reply->readAll();
        if (const std::optional<CommandResult> refused = refusal(*reply, body, *call)) {
            deliver(call, *refused);
            return;
        }
        // Read here, on the main thread, where the environment is changed.
        call->directory = temporaryDirectory();
        call->environment = currentEnvironment();
        install(*owner, call, body);
    });
}

} // namespace Enrollment
