#pragma once

class QApplication;

namespace kesto {

// Settings that must be made before QApplication exists.
void prepareEnvironment();

// Qt's own texts (standard buttons, the file dialog) in Polish, like the rest.
void installTranslations(QApplication &app);

} // namespace kesto
