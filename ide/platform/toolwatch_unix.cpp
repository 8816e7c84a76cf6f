// Listening for the helpers on Unix: a local socket in the user's private
// runtime folder. And a tool's terminal shown again, on X11.

#include "toolwatch.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace kesto {

struct ReportServer::Impl {
    Events events;
    int fd = -1;
    QByteArray path;
    QSocketNotifier *acceptor = nullptr;
    std::map<Connection, QSocketNotifier *> connections; // by descriptor

    void accept();
    void read(int connection);
    void forget(int connection);
};

ReportServer::ReportServer(Events events) : d(std::make_unique<Impl>()) { d->events = std::move(events); }

ReportServer::~ReportServer() { close(); }

bool ReportServer::listen()
{
    // The runtime folder is the user's alone; where there is none, or it
    // cannot hold a socket's name (it is long), the temporary folder, with
    // the socket the user's alone.
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QString socketName = QStringLiteral("/kestoide-%1-%2")
                                   .arg(QCoreApplication::applicationPid())
                                   .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
    if (qEnvironmentVariableIsSet("XDG_RUNTIME_DIR"))
        d->path =
            QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + socketName);
    if (d->path.size() >= qsizetype(sizeof address.sun_path) || !d->path.startsWith('/'))
        d->path = QFile::encodeName(QDir::tempPath() + socketName);
    if (d->path.size() >= qsizetype(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, d->path.constData(), size_t(d->path.size()) + 1);
    d->fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (d->fd < 0)
        return false;
    if (bind(d->fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        chmod(d->path.constData(), S_IRUSR | S_IWUSR) != 0 || ::listen(d->fd, 16) != 0) {
        close();
        return false;
    }
    d->acceptor = new QSocketNotifier(qintptr(d->fd), QSocketNotifier::Read);
    QObject::connect(d->acceptor, &QSocketNotifier::activated, d->acceptor,
                     [impl = d.get()] { impl->accept(); });
    return true;
}

QString ReportServer::name() const { return QFile::decodeName(d->path); }

void ReportServer::Impl::accept()
{
    for (;;) {
        const int connection = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (connection < 0)
            return;
        auto *notifier = new QSocketNotifier(qintptr(connection), QSocketNotifier::Read);
        connections[Connection(connection)] = notifier;
        QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                         [this, connection] { read(connection); });
    }
}

void ReportServer::Impl::read(int connection)
{
    char buffer[16384];
    for (;;) {
        const ssize_t got = recv(connection, buffer, sizeof buffer, 0);
        if (got > 0) {
            events.received(Connection(connection), std::string_view(buffer, size_t(got)));
            // The watch may have dropped it meanwhile.
            if (!connections.count(Connection(connection)))
                return;
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        forget(connection);
        events.closed(Connection(connection));
        return;
    }
}

void ReportServer::Impl::forget(int connection)
{
    const auto it = connections.find(Connection(connection));
    if (it == connections.end())
        return;
    // Deleted later: this may run inside the notifier's own signal.
    it->second->setEnabled(false);
    it->second->deleteLater();
    connections.erase(it);
    ::close(connection);
}

void ReportServer::drop(Connection connection) { d->forget(int(connection)); }

void ReportServer::close()
{
    while (!d->connections.empty())
        d->forget(int(d->connections.begin()->first));
    if (d->acceptor) {
        d->acceptor->setEnabled(false);
        d->acceptor->deleteLater();
        d->acceptor = nullptr;
    }
    if (d->fd >= 0) {
        ::close(d->fd);
        d->fd = -1;
        unlink(d->path.constData());
    }
}

void showWindowQuietly(quint64 window)
{
    const auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !window)
        return;
    // Mapping a minimised window again, as a terminal's own "de-iconify"
    // does, makes a window manager such as openbox activate it. Asking the
    // window manager to put it in the normal state shows it and leaves the
    // focus where it is.
    xcb_connection_t *connection = x11->connection();
    const char name[] = "WM_CHANGE_STATE";
    xcb_intern_atom_reply_t *atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
    if (!atom)
        return;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = xcb_window_t(window);
    event.type = atom->atom;
    event.data.data32[0] = 1; // NormalState
    std::free(atom);
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    xcb_send_event(connection, 0, screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
    xcb_flush(connection);
}

} // namespace kesto
