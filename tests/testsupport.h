#pragma once
// A real EditorWin in a temporary current directory, with the scripted platform.

#include "editorwin.h"
#include "platform/sourceeditor.h"
#include "scriptedplatform.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

inline QByteArray native(const QString &path) { return QFile::encodeName(path); }

// Every name in `dir`, hidden ones and special files included.
inline QStringList listing(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

inline bool installFile(const QString &path, const QByteArray &bytes, bool executable)
{
    return writeFile(path, bytes) &&
           QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner |
                                           (executable ? QFile::ExeOwner : QFile::Permissions()));
}

// Where a mouse event lands in the editor's viewport to hit the place just
// before character `pos`. The selection is left as it was.
inline QPoint pointBefore(kesto::SourceEditor &e, qsizetype pos)
{
    const qsizetype start = e.selStart(), length = e.selLength();
    e.setSelStart(pos);
    const long byte = e.SendScintilla(QsciScintillaBase::SCI_GETCURRENTPOS);
    const auto x = int(e.SendScintilla(QsciScintillaBase::SCI_POINTXFROMPOSITION, 0UL, byte));
    const auto y = int(e.SendScintilla(QsciScintillaBase::SCI_POINTYFROMPOSITION, 0UL, byte));
    e.setSelStart(start);
    e.setSelLength(length);
    return {x, y + e.textHeight(0) / 2};
}

// Shows the window; false when it never reached the screen.
inline bool showExposed(QWidget &window)
{
    window.show();
    return QTest::qWaitForWindowExposed(&window);
}

// Shows the window and makes it the active one, as a user's click would;
// false when the platform never activated it.
inline bool showActive(QWidget &window)
{
    window.show();
    QApplication::setActiveWindow(&window);
    return QTest::qWaitForWindowActive(&window);
}

// Points the program's own folder (backups and records of saves, recovery
// copies) at a temporary one while the test object lives: apart from the
// user's, and from the other test programs that run at the same time.
class OwnStateHome {
public:
    OwnStateHome() { qputenv("XDG_STATE_HOME", native(m_dir.path())); }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

// Runs the window in its own temporary current directory, restoring the old
// one afterwards. The settings file holds port 1 unless the test says otherwise.
class WindowFixture {
public:
    explicit WindowFixture(const QByteArray *settings = nullptr, bool createSettings = true)
        : m_oldCwd(QDir::currentPath()), m_oldStateHome(qgetenv("XDG_STATE_HOME"))
    {
        QDir::setCurrent(dir.path());
        // Recovery copies go to a folder of the test's own, never the user's.
        qputenv("XDG_STATE_HOME", native(stateHome.path()));
        if (createSettings)
            writeFile(dir.filePath(QStringLiteral("kestoide.ini")),
                      settings ? *settings : QByteArray("1\r\n"));
    }
    ~WindowFixture()
    {
        win.reset();
        QDir::setCurrent(m_oldCwd);
        qputenv("XDG_STATE_HOME", m_oldStateHome);
    }
    // `stateHome` names the program's own folder when the test shares one
    // with processes it started; otherwise the fixture has its own.
    kesto::EditorWin &open(const QString &stateHome = {})
    {
        if (!stateHome.isEmpty())
            qputenv("XDG_STATE_HOME", native(stateHome));
        win = std::make_unique<kesto::EditorWin>(platform);
        return *win;
    }
    QString path(const QString &name) const { return dir.filePath(name); }

    QTemporaryDir dir;
    QTemporaryDir stateHome;
    ScriptedPlatform platform;
    std::unique_ptr<kesto::EditorWin> win;

private:
    QString m_oldCwd;
    QByteArray m_oldStateHome;
};

// The real helper that runs the lab's tools.
inline QString helperProgram()
{
#ifdef Q_OS_WIN
    // Beside the suites in the build tree, whose own path is a Unix one under Wine.
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../ide/kestoide-run.exe");
#else
    return QStringLiteral(KESTO_RUNNER);
#endif
}

// The program's folder as the lab sets it up, made at `folder`: both tools
// (`tool` is their script) and the real helper that runs them.
inline QString useToolsFolder(WindowFixture &f, const QString &folder, const QByteArray &tool = "#!/bin/sh\n")
{
    if (!QDir().mkpath(folder))
        return {};
    for (const char *name : {"ruderari.exe", "zozevadi.exe"})
        installFile(folder + u'/' + QLatin1String(name), tool, true);
    const QString helper = helperProgram();
    QFile::copy(helper, folder + u'/' + QFileInfo(helper).fileName());
    f.platform.appDir = folder;
    return folder;
}

// Writes `bytes` to `path`, its folder made if need be, and opens it through
// the Open command, its dialog answered with the path; a changed text's
// question first gets `ifAsked`. True when the file is the document now, unchanged.
inline bool openThroughDialog(WindowFixture &f, const QString &path, const QByteArray &bytes,
                              kesto::Button ifAsked = kesto::Button::No)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !writeFile(path, bytes))
        return false;
    if (f.win->doc.docChanged)
        f.platform.answer(ifAsked);
    f.platform.chooseFile(path);
    f.win->mnuOtworz();
    return f.win->dlgPlik.FileName == path && !f.win->doc.docChanged;
}

// The box was shown exactly so: text, buttons, icon and title.
inline void expectBox(const ShownBox &box, const QString &text, kesto::Buttons buttons, kesto::Icon icon,
                      const QString &title)
{
    QCOMPARE(box.text, text);
    QCOMPARE(box.buttons, buttons);
    QCOMPARE(box.icon, icon);
    QCOMPARE(box.title, title);
}
