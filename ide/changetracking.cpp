// Change tracking and the line indicator.

#include "editorwin.h"
#include "platform/sourceeditor.h"

#include <QLineEdit>

namespace kesto {

void EditorWin::txtEditChange()
{
    ++m_textVersion;
    // A Run waiting for a compile was for the text as it was.
    if (dropPendingRun())
        setStatus(QStringLiteral("Odwołano uruchomienie: tekst zmienił się w czasie kompilacji"));
    // Only the first change after New, Open or Save marks the document.
    if (!doc.docChanged) {
        doc.docChanged = true;
        doc.docCompiled = false;
        writeCaption();
    }
    scheduleRecoveryCopy();
    showxy();
}

void EditorWin::txtEditKeyUp() { showxy(); }

void EditorWin::showxy()
{
    // The line of the caret is one more than the line breaks before it, as
    // the editor shows them: CR LF, a lone CR or a lone LF. No 16-bit limit:
    // long files show the true line.
    const qsizetype line = 1 + txtEdit->breaksBefore(txtEdit->selStart());
    Text2->setText(QStringLiteral("Linia ") + QString::number(line));
}

} // namespace kesto
