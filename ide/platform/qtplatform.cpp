#include "qtplatform.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QScopeGuard>

#include <cstdlib>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace kesto {
namespace {

// A lone CR breaks a line in the message texts just as CR LF does, so
// "\r\r\n" shows one empty line.
QString withQtLineBreaks(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\r') {
            out += u'\n';
            if (i + 1 < text.size() && text.at(i + 1) == u'\n')
                ++i;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

Button QtPlatform::messageBox(QWidget *parent, const QString &text, Buttons buttons, Icon icon,
                              const QString &title, std::optional<Button> defaultButton,
                              const QString &informativeText)
{
    QMessageBox box(parent);
    box.setWindowTitle(title);
    box.setTextFormat(Qt::PlainText);
    box.setText(withQtLineBreaks(text));
    box.setInformativeText(withQtLineBreaks(informativeText));
    box.setIcon(icon == Icon::Exclamation   ? QMessageBox::Warning
                : icon == Icon::Information ? QMessageBox::Information
                                            : QMessageBox::NoIcon);
    switch (buttons) {
    case Buttons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        break;
    case Buttons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case Buttons::YesNo:
        // Escape and the close button answer No, as the box has no Cancel.
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        break;
    case Buttons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    }
    if (defaultButton) {
        switch (*defaultButton) {
        case Button::Ok: box.setDefaultButton(QMessageBox::Ok); break;
        case Button::Cancel: box.setDefaultButton(QMessageBox::Cancel); break;
        case Button::Yes: box.setDefaultButton(QMessageBox::Yes); break;
        case Button::No: box.setDefaultButton(QMessageBox::No); break;
        }
    }
    switch (box.exec()) {
    case QMessageBox::Ok: return Button::Ok;
    case QMessageBox::Yes: return Button::Yes;
    case QMessageBox::No: return Button::No;
    default: return buttons == Buttons::Ok ? Button::Ok : Button::Cancel;
    }
}

QStringList qtNameFilters(const QString &windowsFilter)
{
    const QStringList parts = windowsFilter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts.at(i + 1).split(u';', Qt::SkipEmptyParts);
        for (QString &p : patterns) {
            p = p.trimmed();
            if (p == u"*.*")
                p = QStringLiteral("*");
        }
        // The dialog hides the "(patterns)" part, so the description reads as written.
        filters << parts.at(i) + QStringLiteral(" (") + patterns.join(u' ') + u')';
    }
    return filters;
}

bool QtPlatform::showFileDialog(QWidget *parent, FileDialog &dlg, FileDialog::Action action)
{
    // Destroying the dialog saves Qt's own state of it (QtProject.conf,
    // synced to disk) and stops its file system model: tens of milliseconds
    // by which the command the answer is for (opening a large file, say)
    // would show its result later. The dialog goes once that command has run.
    auto *dialog = new QFileDialog(parent);
    const auto destroyLater = qScopeGuard([dialog] { dialog->deleteLater(); });
#ifndef Q_OS_WIN
    dialog->setOption(QFileDialog::DontUseNativeDialog);
#endif
    dialog->setOption(QFileDialog::HideNameFilterDetails);
    if (action == FileDialog::ShowSave) {
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        if (!(dlg.Flags & FileDialog::OverwritePrompt))
            dialog->setOption(QFileDialog::DontConfirmOverwrite);
    } else {
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(QFileDialog::ExistingFile);
    }
    const QStringList filters = qtNameFilters(dlg.Filter);
    dialog->setNameFilters(filters);
    if (dlg.FilterIndex >= 1 && dlg.FilterIndex <= filters.size())
        dialog->selectNameFilter(filters.at(dlg.FilterIndex - 1));

    const QFileInfo current(dlg.FileName);
    dialog->setDirectory(current.absolutePath());
    dialog->selectFile(current.fileName());

    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return false;
    dlg.FileName = QDir::toNativeSeparators(dialog->selectedFiles().constFirst());
    return true;
}

void QtPlatform::clipboardClear() { QGuiApplication::clipboard()->clear(); }

void QtPlatform::clipboardSetText(const QString &text) { QGuiApplication::clipboard()->setText(text); }

#ifdef Q_OS_WIN
namespace {

// The clipboard's text as Windows holds it, up to its first NUL; nullopt
// when it cannot be read or holds no text.
std::optional<QString> windowsClipboardText()
{
    // Another program may hold the clipboard open for a moment.
    bool open = false;
    for (int attempt = 0; attempt < 5 && !(open = OpenClipboard(nullptr)); ++attempt)
        Sleep(10);
    if (!open)
        return std::nullopt;
    const auto closed = qScopeGuard([] { CloseClipboard(); });
    const HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const auto *chars = data ? static_cast<const wchar_t *>(GlobalLock(data)) : nullptr;
    if (!chars)
        return std::nullopt;
    const std::size_t most = GlobalSize(data) / sizeof(wchar_t);
    std::size_t length = 0;
    while (length < most && chars[length] != 0)
        ++length;
    QString text = QString::fromWCharArray(chars, static_cast<qsizetype>(length));
    GlobalUnlock(data);
    return text;
}

} // namespace
#endif

QString QtPlatform::clipboardText()
{
#ifdef Q_OS_WIN
    // Qt's Windows clipboard hands another program's CR LF over as LF
    // alone; the text is taken as that program left it. The program's own
    // copy comes back through Qt, which keeps the very text put there (a
    // lone LF included, which Windows holds as CR LF). Other platform
    // plugins (the tests' minimal one) have a clipboard of their own.
    if (QGuiApplication::platformName() == u"windows" && !QGuiApplication::clipboard()->ownsClipboard())
        if (std::optional<QString> text = windowsClipboardText())
            return *text;
#endif
    return QGuiApplication::clipboard()->text();
}

std::optional<QString> QtPlatform::primarySelectionText()
{
    const QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard->supportsSelection())
        return std::nullopt;
    return clipboard->text(QClipboard::Selection);
}

bool QtPlatform::startProcess(const QString &program, const QStringList &arguments, WindowState state)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
#ifdef Q_OS_WIN
    process.setCreateProcessArgumentsModifier([state](QProcess::CreateProcessArguments *args) {
        args->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
        args->startupInfo->wShowWindow =
            state == WindowState::MinimizedNoFocus ? SW_SHOWMINNOACTIVE : SW_SHOWNORMAL;
        args->flags |= CREATE_NEW_CONSOLE;
        // The new console's own input and output, not the program's, which
        // Qt would hand on: none from the Start menu, a file or another
        // console from a command line. The tool's messages and the Enter
        // that closes its window belong to the tool's console.
        args->startupInfo->dwFlags &= ~DWORD(STARTF_USESTDHANDLES);
        args->startupInfo->hStdInput = args->startupInfo->hStdOutput = args->startupInfo->hStdError = nullptr;
        args->inheritHandles = FALSE;
    });
#else
    // Other systems have no "minimised without focus" for another program's window.
    Q_UNUSED(state);
#endif
    return process.startDetached();
}

ToolTicket QtPlatform::watchTool(std::function<void(const ToolEnd &)> ended)
{
    return m_toolWatch.watch(std::move(ended));
}

void QtPlatform::unwatchTool(const ToolTicket &ticket) { m_toolWatch.unwatch(ticket.id); }

void QtPlatform::endProcess()
{
    // No destructor runs past this point: the listening socket's name goes now.
    m_toolWatch.close();
    std::_Exit(0);
}

QString QtPlatform::programDir() { return QDir::toNativeSeparators(QCoreApplication::applicationDirPath()); }

} // namespace kesto
