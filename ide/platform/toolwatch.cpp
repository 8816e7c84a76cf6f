#include "toolwatch.h"

#include "runner/report.h"

#include <QRandomGenerator>
#include <QTimer>

namespace kesto {

namespace {

ToolEnd endOf(const runner::ReportReader &reader)
{
    ToolEnd end;
    const runner::Outcome &o = reader.outcome();
    switch (o.kind) {
    case runner::Outcome::Exited: end.kind = ToolEnd::Exited; break;
    case runner::Outcome::Interrupted: end.kind = ToolEnd::Interrupted; break;
    case runner::Outcome::NotStarted: end.kind = ToolEnd::NotStarted; break;
    }
    end.code = o.code;
    end.detail = QString::fromUtf8(o.detail);
    end.printed = QString::fromUtf8(reader.printed());
    end.window = reader.window();
    return end;
}

} // namespace

ToolWatch::ToolWatch()
    : m_server({[this](ReportServer::Connection c, std::string_view bytes) { received(c, bytes); },
                [this](ReportServer::Connection c) { closed(c); }})
{}

ToolWatch::~ToolWatch() = default;

ToolTicket ToolWatch::watch(std::function<void(const ToolEnd &)> ended)
{
    if (!m_listening)
        m_listening = m_server.listen();
    // Random, so that no other program can speak for a helper.
    const QString id = QString::number(QRandomGenerator::system()->generate64(), 16);
    m_pending[id] = Pending{std::move(ended)};
    QTimer::singleShot(m_helloTimeoutMs, &m_timers, [this, id] {
        const auto it = m_pending.find(id);
        if (it != m_pending.end() && !it->second.connected)
            tell(id, ToolEnd{});
    });
    if (!m_listening) {
        // The tool starts all the same; the program will not know how it ended.
        QTimer::singleShot(0, &m_timers, [this, id] {
            if (m_pending.count(id))
                tell(id, ToolEnd{});
        });
        return {QString(), id};
    }
    return {m_server.name(), id};
}

void ToolWatch::unwatch(const QString &id) { m_pending.erase(id); }

void ToolWatch::close()
{
    m_server.close();
    m_listening = false;
}

void ToolWatch::received(ReportServer::Connection connection, std::string_view bytes)
{
    Link &link = m_links[connection];
    if (!link.reader)
        link.reader = std::make_unique<runner::ReportReader>();
    link.reader->feed(bytes);
    using State = runner::ReportReader::State;
    if (link.id.isEmpty() && link.reader->state() != State::AwaitingHello &&
        link.reader->state() != State::Broken) {
        const QString id = QString::fromStdString(link.reader->id());
        const auto it = m_pending.find(id);
        if (it == m_pending.end() || it->second.connected) {
            // Late past its timeout, or nobody the program started.
            m_links.erase(connection);
            m_server.drop(connection);
            return;
        }
        it->second.connected = true;
        link.id = id;
    }
    if (link.told)
        return;
    if (link.reader->state() == State::Ended) {
        link.told = true;
        tell(link.id, endOf(*link.reader));
    } else if (link.reader->state() == State::Broken) {
        const QString id = link.id;
        m_links.erase(connection);
        m_server.drop(connection);
        if (!id.isEmpty())
            tell(id, ToolEnd{});
    }
}

void ToolWatch::closed(ReportServer::Connection connection)
{
    const auto it = m_links.find(connection);
    if (it == m_links.end())
        return;
    const Link link = std::move(it->second);
    m_links.erase(it);
    // Gone without saying how its tool ended.
    if (!link.id.isEmpty() && !link.told)
        tell(link.id, ToolEnd{});
}

void ToolWatch::tell(const QString &id, const ToolEnd &end)
{
    const auto it = m_pending.find(id);
    if (it == m_pending.end())
        return;
    // Out of the list first: the call may start the next tool.
    const auto ended = std::move(it->second.ended);
    m_pending.erase(it);
    ended(end);
}

} // namespace kesto
