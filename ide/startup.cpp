// Start-up, the settings file "kestoide.ini" and the port items.

#include "codepage.h"
#include "disk/filewriter.h"
#include "disk/regularfile.h"
#include "disk/saverecord.h"
#include "editorwin.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>

namespace kesto {

namespace {
// A bare name: it is read and written in the current directory of the moment.
const QString settingsFile = QStringLiteral("kestoide.ini");
} // namespace

void EditorWin::startUp()
{
    doc.appDir = m_platform.programDir();
    if (!doc.appDir.endsWith(QDir::separator()))
        doc.appDir += QDir::separator();

    QFile ini(settingsFile);
    if (!openRegularFileForReading(ini)) {
        m_platform.messageBox(this,
                              QStringLiteral("Nie można otworzyć pliku konfiguracyjnego!\r\n"
                                             "Został wybrany domyśly port COM 1 do komunikacji "
                                             "z systemem KESTO"),
                              Buttons::Ok, Icon::Exclamation, appTitle);
        doc.comPort = QStringLiteral("1");
        saveset();
    } else {
        // Only the first character counts; an empty file leaves the port empty.
        char first = 0;
        if (ini.read(&first, 1) == 1)
            doc.comPort = QString(QChar(codepage::decodeCp1250(static_cast<unsigned char>(first))));
    }
    setStatus(QStringLiteral("Używany port: ") + doc.comPort);
    ini.close();

    const QList<QAction *> ports = {menu.mnuCOM1, menu.mnuCOM2, menu.mnuCOM3, menu.mnuCOM4};
    for (int n = 1; n <= 4; ++n) {
        if (doc.comPort == QString::number(n))
            ports[n - 1]->setChecked(true);
    }

    doc.docCompiled = false;
    adoptFile(untitledName, true);
    dlgPlik.Flags = FileDialog::OverwritePrompt | FileDialog::HideReadOnly | FileDialog::NoLongNames;
    doc.fileFilter = QStringLiteral("Wszystkie pliki (*.*)|*.*|");
    doc.fileFilter += QStringLiteral("Pliki assemblera KESTO (*.asm)|*.asm|");
    dlgPlik.Filter = doc.fileFilter;
    dlgPlik.FilterIndex = 2;
}

void EditorWin::startSession(const QString &fileToOpen)
{
    const bool restored = offerRecovery();
    // After a crash the file named at start is often the one whose text just
    // came back (a double-click on it): opening it again would offer to
    // throw that text away.
    if (fileToOpen.isEmpty() || (restored && isDocumentFile(fileToOpen)))
        return;
    openOrStartFile(fileToOpen);
}

void EditorWin::finishInterruptedSaves()
{
    // Before the settings are read: the settings file may be one of them.
    for (const QString &message : repairInterruptedSaves())
        m_platform.messageBox(this, message, Buttons::Ok, Icon::Exclamation, appTitle);
}

bool EditorWin::writeSettings()
{
    // Through the same writer as source files: a failed write leaves the
    // previous settings as they were.
    std::string bytes;
    codepage::appendUtf8AsCp1250(doc.comPort.toStdString(), bytes);
    bytes += "\r\n";
    return writeWholeFile(settingsFile, bytes, true);
}

void EditorWin::saveset()
{
    // Reported on the status line only.
    setStatus(writeSettings() ? QStringLiteral("Zapisano ustawienia")
                              : QStringLiteral("Błąd podczas zapisywania ustawień"));
}

void EditorWin::selectPort(int n)
{
    const QList<QAction *> ports = {menu.mnuCOM1, menu.mnuCOM2, menu.mnuCOM3, menu.mnuCOM4};
    for (int i = 1; i <= 4; ++i)
        ports[i - 1]->setChecked(i == n);
    doc.comPort = QString::number(n);
    saveset();
}

void EditorWin::mnuCOM1() { selectPort(1); }
void EditorWin::mnuCOM2() { selectPort(2); }
void EditorWin::mnuCOM3() { selectPort(3); }
void EditorWin::mnuCOM4() { selectPort(4); }

} // namespace kesto
