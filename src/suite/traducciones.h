#pragma once
// Qt's own texts (the standard buttons, the text boxes' context menus, the standard dialogs) in
// Spanish, as every other text of the suite's programs, whatever the machine's language.

// Installs Qt's Spanish catalogue (qtbase_es from Qt's translations folder) in the running
// application; once is enough, later calls do nothing. False when there is no application or
// the catalogue cannot be loaded: Qt's texts then stay as they are.
bool CargarTraduccionesQt();
