// XEmbedTray: whether an X11 system tray of the XEmbed kind is there, as the
// owner of the _NET_SYSTEM_TRAY_S<screen> selection.
//
// Main thread only (it uses the application's X connection). Asks the X
// server directly, so that no QSystemTrayIcon call is made to find out.
#pragma once

namespace XEmbedTray {

// False where the application does not run on X11.
bool isPresent();

} // namespace XEmbedTray
