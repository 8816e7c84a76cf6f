#include "scriptedplatform.h"

kesto::Button ScriptedPlatform::messageBox(QWidget *, const QString &text, kesto::Buttons buttons,
                                           kesto::Icon icon, const QString &title,
                                           std::optional<kesto::Button> defaultButton,
                                           const QString &informativeText)
{
    boxes.append({text, buttons, icon, title, defaultButton, informativeText});
    if (!answers.isEmpty())
        return answers.dequeue();
    ++unexpectedBoxes;
    return buttons == kesto::Buttons::Ok ? kesto::Button::Ok : kesto::Button::Cancel;
}

bool ScriptedPlatform::showFileDialog(QWidget *, kesto::FileDialog &dlg, kesto::FileDialog::Action action)
{
    dialogs.append({action, dlg});
    if (dialogAnswers.isEmpty()) {
        ++unexpectedDialogs;
        return false;
    }
    const QString path = dialogAnswers.dequeue();
    if (path.isNull())
        return false;
    dlg.FileName = path;
    return true;
}

void ScriptedPlatform::clipboardClear()
{
    ++clipboardClears;
    clipboard.clear();
    clipboardHasText = false;
}

void ScriptedPlatform::clipboardSetText(const QString &text)
{
    clipboard = text;
    clipboardHasText = true;
}

QString ScriptedPlatform::clipboardText() { return clipboardHasText ? clipboard : QString(); }

bool ScriptedPlatform::startProcess(const QString &program, const QStringList &arguments,
                                    kesto::WindowState state)
{
    if (failStarts || (startForReal && !real.startProcess(program, arguments, state)))
        return false;
    started.append({program, arguments, state});
    return true;
}

kesto::ToolTicket ScriptedPlatform::watchTool(std::function<void(const kesto::ToolEnd &)> ended)
{
    if (startForReal)
        return real.watchTool(std::move(ended));
    // No name: the helper started with it tells nobody; the test does (endTool).
    const kesto::ToolTicket ticket{QString(), QString::number(watched.size())};
    watched.append({ticket, std::move(ended)});
    return ticket;
}

void ScriptedPlatform::unwatchTool(const kesto::ToolTicket &ticket)
{
    if (startForReal)
        return real.unwatchTool(ticket);
    watched[ticket.id.toLongLong()].over = true;
}

void ScriptedPlatform::endTool(qsizetype n, const kesto::ToolEnd &end)
{
    WatchedTool &tool = watched[n];
    Q_ASSERT(!tool.over);
    tool.over = true;
    tool.ended(end);
}
