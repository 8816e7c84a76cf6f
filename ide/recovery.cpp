// The recovery copy of unsaved text: when it is taken and dropped, the
// question at start about a copy an interrupted run left behind, and what
// the status line says when copies cannot be written.

#include "editorwin.h"
#include "platform/sourceeditor.h"

#include <QDateTime>
#include <QLineEdit>

#include <utility>

namespace kesto {

namespace {
// A change reaches the copy at most five seconds after it was made, also
// while typing goes on: the text is taken four seconds after the first change
// since the last copy, which leaves a second for writing it.
constexpr int recoveryDelayMs = 4000;
} // namespace

void EditorWin::setUpRecovery()
{
    recoveryTimer.setSingleShot(true);
    recoveryTimer.setInterval(recoveryDelayMs);
    connect(&recoveryTimer, &QTimer::timeout, this, &EditorWin::writeRecoveryCopy);
    // The writer's thread only wakes the window, which takes the news on its own.
    recoveryKeeper.onNews([this] { emit recoveryNews(); });
    connect(this, &EditorWin::recoveryNews, this, &EditorWin::takeRecoveryNews, Qt::QueuedConnection);
}

void EditorWin::scheduleRecoveryCopy()
{
    // A change of text ends the hold of a command's report on the status line.
    m_commandReported = false;
    if (!m_recoveryReport.waiting.isEmpty())
        showRecoveryReport(std::exchange(m_recoveryReport.waiting, {}));
    if (!doc.docChanged)
        return;
    // Not restarted by later changes: a throttle, not a wait for a pause in
    // the typing, which may never come.
    if (!recoveryTimer.isActive()) {
        recoveryTimer.start();
        // Nothing more for a first change: it may be the program's own text
        // (Open, New), clean again at once.
        return;
    }
    // Room for the text, and what may be typed until the copy is taken, is
    // made by the writer meanwhile.
    const std::size_t bytes = txtEdit->utf8Size();
    recoveryKeeper.prepare(bytes + bytes / 8 + (std::size_t(64) << 10));
}

void EditorWin::writeRecoveryCopy()
{
    recoveryTimer.stop();
    if (!doc.docChanged)
        return;
    // Tried again on the next change.
    if (!recoveryKeeper.start()) {
        reportRecovery({recovery::Outcome::Failed});
        return;
    }
    // The one step on this thread: the control's buffer can be read nowhere
    // else. A plain copy of it, summed, encoded and written by the writer.
    if (txtEdit->utf8Size() > recovery::maxTextBytes)
        return;
    recoveryKeeper.write(recoveryCopyOfText(recoveryKeeper.takeBuffer()));
}

recovery::Copy EditorWin::recoveryCopyOfText(std::string storage) const
{
    recovery::Copy copy;
    copy.text = std::move(storage);
    txtEdit->copyUtf8(copy.text);
    copy.path = currentPath().toStdString();
    copy.untitled = doc.docUntitled;
    copy.identity = diskFile;
    copy.writtenMs = QDateTime::currentMSecsSinceEpoch();
    return copy;
}

void EditorWin::keepUnsavedTextAtEnd()
{
    recoveryTimer.stop();
    if (!doc.docChanged) {
        endRecovery();
        return;
    }
    // Too large for a copy: an earlier one, if any, is better than none.
    if (txtEdit->utf8Size() <= recovery::maxTextBytes)
        recoveryKeeper.writeLast(recoveryCopyOfText({}));
}

void EditorWin::dropRecoveryCopy()
{
    recoveryTimer.stop();
    recoveryKeeper.remove();
}

void EditorWin::endRecovery()
{
    recoveryTimer.stop();
    recoveryKeeper.finish();
}

bool EditorWin::offerRecovery()
{
    if (doc.docChanged || !recoveryKeeper.start())
        return false;
    // Every copy nobody runs with is asked about, newest first, until one
    // comes back or the user puts them all off: none waits unasked.
    while (recoveryKeeper.claimLeftover()) {
        recovery::ReadResult read = recovery::readFile(recoveryKeeper.copyPath());
        if (read.error != recovery::ReadError::None) {
            const QString aside = recoveryKeeper.setAside();
            m_platform.messageBox(
                this,
                QStringLiteral("Kopia niezapisanego tekstu z przerwanej pracy programu jest "
                               "uszkodzona i nie może być odtworzona.") +
                    (aside.isEmpty() ? QString() : QStringLiteral("\r\nOdłożono ją jako: ") + aside),
                Buttons::Ok, Icon::Exclamation, appTitle);
            continue;
        }
        recovery::Copy &copy = read.copy;
        const QString path = QString::fromStdString(copy.path);
        const QString when =
            QDateTime::fromMSecsSinceEpoch(copy.writtenMs).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
        const Button answer = m_platform.messageBox(
            this,
            QStringLiteral("Praca programu została przerwana, zanim zapisano tekst w pliku ") + path +
                QStringLiteral(". Zachowała się jego kopia z ") + when +
                QStringLiteral(".\r\r\nCzy chcesz ją odtworzyć?"),
            Buttons::YesNoCancel, Icon::Exclamation, questionTitle);
        if (answer == Button::No) {
            // Gone before the next one is claimed in its place.
            recoveryKeeper.remove();
            recoveryKeeper.waitIdle();
            continue;
        }
        // Cancel, Escape or the close button decide nothing: this copy and
        // those not yet asked about wait for the next start.
        if (answer != Button::Yes) {
            recoveryKeeper.giveBack();
            return false;
        }
        // The copy stays until the text is saved or thrown away, as this
        // run's own; any others wait for the next start.
        txtEdit->setUtf8Text(copy.text);
        copy.text = {};
        dlgPlik.FileName = path;
        doc.docChanged = true;
        doc.docUntitled = copy.untitled;
        writeCaption();
        doc.docCompiled = false;
        diskFile = copy.identity;
        recoveryTimer.stop(); // the copy holds this very text
        m_recoveryReport.lastGoodMs = copy.writtenMs;
        setStatus(QStringLiteral("Odtworzono niezapisany tekst pliku: \"") + path + u'"');
        return true;
    }
    return false;
}

void EditorWin::takeRecoveryNews()
{
    for (const recovery::Outcome &outcome : recoveryKeeper.takeOutcomes())
        reportRecovery(outcome);
}

// Failures are told when they start and when they stop, not at every try.
void EditorWin::reportRecovery(const recovery::Outcome &outcome)
{
    RecoveryReport &r = m_recoveryReport;
    switch (outcome.kind) {
    case recovery::Outcome::Removed: r.lastGoodMs = 0; break;
    case recovery::Outcome::Written:
        r.lastGoodMs = outcome.takenMs;
        if (!std::exchange(r.failing, false))
            break;
        // A failure the user has not seen yet needs no all-clear either.
        if (!std::exchange(r.waiting, {}).isEmpty())
            break;
        showRecoveryReport(QStringLiteral("Kopia niezapisanego tekstu znów się zapisuje"));
        break;
    case recovery::Outcome::Failed:
        if (std::exchange(r.failing, true))
            break;
        showRecoveryReport(
            QStringLiteral("Nie można zapisać kopii niezapisanego tekstu (") +
            (r.lastGoodMs == 0
                 ? QStringLiteral("brak kopii")
                 : QStringLiteral("ostatnia udana: ") +
                       QDateTime::fromMSecsSinceEpoch(r.lastGoodMs).toString(QStringLiteral("HH:mm:ss"))) +
            u')');
        break;
    }
}

void EditorWin::showRecoveryReport(const QString &text)
{
    // Never in place of a command's own report: that one stays until the
    // text changes.
    if (m_commandReported) {
        m_recoveryReport.waiting = text;
        return;
    }
    m_recoveryReport.waiting.clear();
    Text1->setText(text);
    Text1->setCursorPosition(0);
}

} // namespace kesto
