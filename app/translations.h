#pragma once

// Qt's own texts (the standard buttons of a box, the save dialog, the edit fields' menus)
// in the window's language, Simplified Chinese, from Debian's qt6-translations-l10n.

// Installs the translation once per application; false when it is not installed, and Qt's
// texts then stay English.
bool installQtTranslations();
