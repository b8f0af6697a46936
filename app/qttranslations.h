#pragma once

class QCoreApplication;

// Installs Qt's own German texts (file dialogs, message-box buttons, context menus) on the
// application, whatever the user's locale says: the program speaks German throughout. They
// come from Qt's translations folder (Debian: qt6-translations-l10n). Without them the
// framework's texts stay English and a note goes to stderr; the result tells which.
bool installGermanQtTranslations(QCoreApplication &app);
