// Translations: Qt's own Simplified Chinese messages (socket, HTTP and file
// errors, the standard dialogs' buttons) for a program whose interface is
// Simplified Chinese throughout, whatever the user's locale. Where Qt has no
// translation its English stands.
//
// QtCore only, so both the tray program and korvanctl call it. Main thread,
// once, after the application object exists; the translator lives as long as
// the application.
#pragma once

namespace Translations {

// False when Qt's catalogue is not installed; the program runs on in English.
bool installQtTranslations();

} // namespace Translations
