#pragma once

#include "platform.h"
#include "toolwatch.h"

namespace kesto {

// The real seams, on Qt Widgets.
class QtPlatform : public Platform {
public:
    Button messageBox(QWidget *parent, const QString &text, Buttons buttons, Icon icon, const QString &title,
                      std::optional<Button> defaultButton = std::nullopt,
                      const QString &informativeText = {}) override;
    bool showFileDialog(QWidget *parent, FileDialog &dlg, FileDialog::Action action) override;
    void clipboardClear() override;
    void clipboardSetText(const QString &text) override;
    QString clipboardText() override;
    std::optional<QString> primarySelectionText() override;
    bool startProcess(const QString &program, const QStringList &arguments, WindowState state) override;
    ToolTicket watchTool(std::function<void(const ToolEnd &)> ended) override;
    void unwatchTool(const ToolTicket &ticket) override;
    void showToolWindow(quint64 window) override { showWindowQuietly(window); }
    [[noreturn]] void endProcess() override;
    QString programDir() override;

private:
    ToolWatch m_toolWatch;
};

// "Desc|pat|Desc|pat|" as Qt name filters. Patterns keep their Windows meaning:
// "*.*" matches every file, also names without a dot.
QStringList qtNameFilters(const QString &windowsFilter);

} // namespace kesto
