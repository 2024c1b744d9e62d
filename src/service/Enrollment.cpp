#include "Enrollment.h"

#include "ProcessRunner.h"
#include "ServiceTexts.h"
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
    bool tooLarge = false; // the download was stopped at the size limit
};

CommandResult failure(const QString& message) {
    return {Utf8Text(), message, 1};
}

void deliver(const std::shared_ptr<Call>& call, const CommandResult& result) {
    call->completion(result);
}

// A hub sends whatever it likes; an installer larger than this can only be
// a fault, and is refused before it is all in memory.
constexpr qint64 kMaxInstallerBytes = 64 * 1024 * 1024;

// The verdict on a finished download: nothing when the body may be run.
std::optional<CommandResult> refusal(const QNetworkReply& reply, const QByteArray& body,
                                     bool tooLarge) {
    if (tooLarge)
        return failure(ServiceTexts::downloadFailed);
    const QVariant code = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (code.isValid() && (code.toInt() < 200 || code.toInt() > 299))
        return failure(ServiceTexts::downloadFailed);
    // Whatever else went wrong, even with a 2xx status and bytes in hand
    // (a body that failed decoding), the body is not the hub's installer.
    switch (reply.error()) {
    case QNetworkReply::NoError:
        break;
    case QNetworkReply::OperationCanceledError: // the transfer timeout aborts this way
    case QNetworkReply::TimeoutError:
        return failure(ServiceTexts::requestTimedOut);
    default:
        return failure(reply.errorString());
    }
    if (!code.isValid() || body.isEmpty())
        return failure(ServiceTexts::downloadFailed);
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
        if (const std::optional<CommandResult> refused = refusal(*reply, body, call->tooLarge)) {
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
