// Listening for the helpers on Windows: a named pipe with a random name,
// read without blocking; its default security lets only the user (and the
// system's administrators) write to it.

#include "toolwatch.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QWinEventNotifier>

#include <windows.h>

namespace kesto {

namespace {

// One instance of the pipe: first waiting for a helper, then reading it.
struct Instance {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;
    OVERLAPPED overlapped{};
    QWinEventNotifier *notifier = nullptr;
    bool connected = false;
    char buffer[16384];

    ~Instance()
    {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
        if (pipe != INVALID_HANDLE_VALUE) {
            CancelIo(pipe);
            CloseHandle(pipe);
        }
        if (event)
            CloseHandle(event);
    }
};

} // namespace

struct ReportServer::Impl {
    Events events;
    std::wstring name;
    bool first = true;
    std::map<Connection, std::unique_ptr<Instance>> instances;
    Connection next = 1;

    bool addInstance();
    void signalled(Connection id);
    bool startRead(Instance &instance);
    void forget(Connection id);
};

ReportServer::ReportServer(Events events) : d(std::make_unique<Impl>()) { d->events = std::move(events); }

ReportServer::~ReportServer() { close(); }

bool ReportServer::listen()
{
    d->name = QStringLiteral("\\\\.\\pipe\\kestoide-%1-%2")
                  .arg(QCoreApplication::applicationPid())
                  .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'))
                  .toStdWString();
    d->first = true;
    return d->addInstance();
}

QString ReportServer::name() const { return QString::fromStdWString(d->name); }

bool ReportServer::Impl::addInstance()
{
    auto instance = std::make_unique<Instance>();
    // The first instance makes sure that the name is this program's own.
    instance->pipe = CreateNamedPipeW(
        name.c_str(),
        PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        PIPE_UNLIMITED_INSTANCES, 0, sizeof instance->buffer, 0, nullptr);
    instance->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (instance->pipe == INVALID_HANDLE_VALUE || !instance->event)
        return false;
    first = false;
    instance->overlapped.hEvent = instance->event;
    if (!ConnectNamedPipe(instance->pipe, &instance->overlapped)) {
        const DWORD error = GetLastError();
        if (error == ERROR_PIPE_CONNECTED)
            SetEvent(instance->event); // a helper came between the two calls
        else if (error != ERROR_IO_PENDING)
            return false;
    }
    const Connection id = next++;
    instance->notifier = new QWinEventNotifier(instance->event);
    QObject::connect(instance->notifier, &QWinEventNotifier::activated, instance->notifier,
                     [this, id] { signalled(id); });
    instances[id] = std::move(instance);
    return true;
}

bool ReportServer::Impl::startRead(Instance &instance)
{
    ResetEvent(instance.event);
    if (ReadFile(instance.pipe, instance.buffer, sizeof instance.buffer, nullptr, &instance.overlapped))
        return true; // done at once; the event says so all the same
    return GetLastError() == ERROR_IO_PENDING;
}

void ReportServer::Impl::signalled(Connection id)
{
    const auto it = instances.find(id);
    if (it == instances.end())
        return;
    Instance &instance = *it->second;
    DWORD got = 0;
    const bool done = GetOverlappedResult(instance.pipe, &instance.overlapped, &got, FALSE);
    if (!instance.connected) {
        if (!done) {
            forget(id);
            addInstance();
            return;
        }
        instance.connected = true;
        // The next helper gets an instance of its own.
        addInstance();
    } else if (done && got > 0) {
        events.received(id, std::string_view(instance.buffer, got));
        if (!instances.count(id))
            return;
    } else if (!done) {
        forget(id);
        events.closed(id);
        return;
    }
    if (!startRead(instance)) {
        forget(id);
        events.closed(id);
    }
}

void ReportServer::Impl::forget(Connection id) { instances.erase(id); }

void ReportServer::drop(Connection connection) { d->forget(connection); }

void ReportServer::close() { d->instances.clear(); }

void showWindowQuietly(quint64 window)
{
    if (window)
        ShowWindowAsync(reinterpret_cast<HWND>(window), SW_SHOWNOACTIVATE);
}

} // namespace kesto
