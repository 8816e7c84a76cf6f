#pragma once

#include <QString>

namespace kesto {

// The window-level fields every command reads and writes, in their fixed order.
struct DocumentState {
    QString fileFilter;       // filter list handed to dlgPlik at start-up
    bool docChanged = false;  // text edited since the last New, Open, Save or Save As
    bool docUntitled = false; // no file name of its own yet: Save asks for one
    bool docCompiled = false; // the assembler was started for the current text
    QString hexFile;          // hex file the last compile produces
    QString comPort;          // selected serial port, one digit "1".."4"
    QString aboutText;        // text of the About box
    QString appDir;           // program directory, ending in a separator
    bool exitCancel = false;  // no effect: Exit's cancel answer, which nothing reads (the window stays)
};

inline const QString appTitle = QStringLiteral("KESTOIDE");       // title of plain boxes
inline const QString questionTitle = QStringLiteral("KESTO IDE"); // title of questions
inline const QString untitledName = QStringLiteral("noname.asm");
} // namespace kesto
