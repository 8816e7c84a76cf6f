// The Edit menu and the About box.

#include "editorwin.h"
#include "platform/sourceeditor.h"

namespace kesto {

void EditorWin::mnuWytnij()
{
    m_platform.clipboardClear();
    m_platform.clipboardSetText(txtEdit->selText());
    txtEdit->setSelText(QString());
}

void EditorWin::mnuKopiuj()
{
    m_platform.clipboardClear();
    m_platform.clipboardSetText(txtEdit->selText());
}

void EditorWin::mnuWklej()
{
    // The clipboard's text goes in as it is: its line breaks are not converted.
    txtEdit->setSelText(m_platform.clipboardText());
}

void EditorWin::mnuWszystko()
{
    txtEdit->setSelStart(0);
    txtEdit->setSelLength(txtEdit->length());
}

void EditorWin::mnuUsun() { txtEdit->setSelText(QString()); }

void EditorWin::mnuInfo()
{
    doc.aboutText =
        QStringLiteral("KESTO IDE, wersja 1.0 (c) 2026 autorzy KESTO IDE") + QStringLiteral("\r\n") +
        QStringLiteral("Zintegrowane środowisko programistyczne") + QStringLiteral("\r\r\n") +
        QStringLiteral("Program stworzony na potrzeby pracowni mikrokomputerowej") + QStringLiteral("\r\n") +
        QStringLiteral("laboratorium dydaktycznego systemu mikrokomputerowego KESTO") +
        QStringLiteral("\r\n\r\n") + QStringLiteral("Rozwijany dalej przez autorów KESTO IDE");
    m_platform.messageBox(this, doc.aboutText, Buttons::Ok, Icon::Information, appTitle);
}

} // namespace kesto
