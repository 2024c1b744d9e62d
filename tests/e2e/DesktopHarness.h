// A throw-away desktop for the end-to-end tests: an X server on a free
// display, a private session bus, the tray hosts, demo service roots in
// temporary folders and the controller itself.
//
// Test thread only. Every child is started so that it receives SIGTERM when
// the test process dies, and is ended (TERM, then KILL) when its owner goes,
// so a failed or crashed test leaves no X server, bus or controller behind.
// Demo roots stop their services when they go.
#pragma once

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <optional>

namespace e2e {

// The programs in `tools` that are not on PATH.
QStringList missingTools(const QStringList& tools);

// A loopback TCP port that was free a moment ago.
quint16 freePort();

// Starts `program` with `arguments` in `environment`; the child gets SIGTERM
// when this process dies. Returns a started process or nullptr (with a reason
// in `error`).
std::unique_ptr<QProcess> startChild(const QString& program, const QStringList& arguments,
                                     const QProcessEnvironment& environment, QString* error);

// Ends a child: TERM, a short grace, then KILL.
void endChild(QProcess* child);

// Runs a short helper program to completion; its standard output, or nothing
// when it could not run or exited non-zero.
std::optional<QByteArray> runTool(const QString& program, const QStringList& arguments,
                                  const QProcessEnvironment& environment, int timeoutMs = 10000);

// Xvfb on a display number it picks itself.
class XServer {
public:
    XServer() = default;
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    bool start(QString* error);
    QString display() const { return display_; }

private:
    std::unique_ptr<QProcess> process_;
    QString display_;
};

// A private session bus from dbus-run-session, alive while this object is.
class SessionBus {
public:
    SessionBus() = default;
    ~SessionBus();
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    bool start(QString* error);
    QString address() const { return address_; }

private:
    std::unique_ptr<QProcess> process_;
    QString address_;
};

// A home directory, XDG folders and a runtime directory of their own, so the
// controller reads and writes nothing of the real user's, and the
// single-instance socket of one test never meets another's.
class UserSession {
public:
    UserSession();
    // The environment for a child on `display`; `busAddress` empty means no
    // session bus at all (an address that nothing listens on).
    QProcessEnvironment environment(const QString& display, const QString& busAddress) const;
    QString home() const { return dir_.path() + QStringLiteral("/home"); }

private:
    QTemporaryDir dir_;
};

// A copy of the bundled demo service root in a temporary folder, with its
// Local Bridge on a free port.
class DemoRoot {
public:
    enum class Content { demo, empty };
    explicit DemoRoot(Content content = Content::demo);
    ~DemoRoot();
    DemoRoot(const DemoRoot&) = delete;
    DemoRoot& operator=(const DemoRoot&) = delete;

    QString path() const { return dir_.path(); }
    quint16 bridgePort() const { return bridgePort_; }

    void writePairing() const;
    void setDesired(const QByteArray& desired) const;
    bool isPaired() const;

    // Process ids of the Bridge and the Agent that are alive now.
    QList<qint64> runningServices() const;
    bool bridgeAnswers() const;
    // Ends both services behind the control script's back, as a crash would.
    void killServices() const;
    // One run of the control script; its exit status, or -1.
    int control(const QString& command) const;

    // KORVAN_APP_SUPPORT_DIR and the bridge port on top of `base`.
    QProcessEnvironment environment(QProcessEnvironment base) const;

private:
    QTemporaryDir dir_;
    quint16 bridgePort_;
};

// One korvan-controller process.
class Controller {
public:
    Controller() = default;
    ~Controller();
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    bool start(const QProcessEnvironment& environment, const QStringList& arguments,
               QString* error);
    qint64 pid() const;
    bool isRunning() const;
    bool waitForExit(int timeoutMs);
    QProcess* process() const { return process_.get(); }
    // Everything it printed so far, for failure messages.
    QString output();

private:
    std::unique_ptr<QProcess> process_;
    QByteArray output_;
};

QString controllerPath();
QString sourceDir();
QString screenshotDir();

// X windows through xdotool and xwininfo.
struct WindowInfo {
    quint32 id = 0;
    quint32 parent = 0;
    quint32 root = 0;
    QRect geometry; // absolute
    bool viewable = false;
    bool overrideRedirect = false;
};
QList<quint32> windowsOfProcess(qint64 pid, const QProcessEnvironment& environment);
std::optional<WindowInfo> windowInfo(quint32 id, const QProcessEnvironment& environment);

// The whole screen, or a null image.
QImage grabScreen(const QProcessEnvironment& environment);

// Pixels that stand out from the image's most common colour: text and
// lines on a window's background.
int inkPixels(const QImage& image);

// The colour an icon is drawn in, named after the tints the controller uses.
enum class Tint { none, grey, yellow, green, red };
const char* tintName(Tint tint);
// The tint most of `area`'s opaque, non-background pixels are closest to.
Tint dominantTint(const QImage& image, const QRect& area = {});

} // namespace e2e
