#pragma once
// Listens for the helpers that run the lab's tools (runner/report.h) and
// tells, for each start, how its tool ended. Each helper connects as it
// starts and stays connected while it runs; a helper that goes without a
// word, or never comes, ends its start as Unknown, never as a success.

#include "platform.h"

#include <QDeadlineTimer>
#include <QTimer>

#include <map>
#include <memory>
#include <string_view>

namespace kesto {

namespace runner {
class ReportReader;
}

// The system's side of listening: a private name, and the bytes of each
// helper that connects (toolwatch_unix.cpp, toolwatch_win.cpp). Every
// event comes from the event loop.
class ReportServer {
public:
    using Connection = quintptr;
    struct Events {
        std::function<void(Connection, std::string_view bytes)> received;
        std::function<void(Connection)> closed;
    };
    explicit ReportServer(Events events);
    ~ReportServer();
    ReportServer(const ReportServer &) = delete;
    ReportServer &operator=(const ReportServer &) = delete;
    // Starts listening; false when the system would not.
    bool listen();
    // What a helper is given to connect to.
    QString name() const;
    // Closes one connection; `closed` is not called for it.
    void drop(Connection connection);
    // Stops listening and drops every connection; the name goes from the
    // file system too.
    void close();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Shows a minimised window of another program without taking the focus
// (toolwatch_unix.cpp, toolwatch_win.cpp).
void showWindowQuietly(quint64 window);

class ToolWatch {
public:
    Q_DISABLE_COPY(ToolWatch)
    ToolWatch();
    ~ToolWatch();

    ToolTicket watch(std::function<void(const ToolEnd &)> ended);
    void unwatch(const QString &id);
    // The process is about to end.
    void close();
    // How long a started helper has to connect before its tool's end counts as unknown.
    void setHelloTimeout(int ms) { m_helloTimeoutMs = ms; }

private:
    struct Pending {
        std::function<void(const ToolEnd &)> ended;
        QDeadlineTimer hello; // by when its helper must have connected
        bool connected = false;
    };
    struct Link {
        std::unique_ptr<runner::ReportReader> reader;
        QString id; // once the helper said hello
        bool told = false;
    };
    void received(ReportServer::Connection connection, std::string_view bytes);
    void closed(ReportServer::Connection connection);
    void tell(const QString &id, const ToolEnd &end);
    // Ends as unknown every start whose helper is late, and waits for the next.
    void endLateStarts();

    ReportServer m_server;
    bool m_listening = false;
    int m_helloTimeoutMs = 30000;
    QTimer m_helloTimer; // for the start whose helper is due first
    std::map<QString, Pending> m_pending;
    std::map<ReportServer::Connection, Link> m_links;
};

} // namespace kesto
