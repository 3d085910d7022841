#pragma once

class QCoreApplication;

namespace platform {

// Loads Qt's own Japanese texts (qtbase_ja: the standard buttons, Qt's file and input
// dialogs) into app, so that they speak the window's language. The translations come with
// Debian's qt6-translations-l10n, in Qt's translations folder. Returns false, leaving Qt's
// English texts, when they are not installed.
bool LoadQtTranslations(QCoreApplication& app);

} // namespace platform
