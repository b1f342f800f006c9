#pragma once
// The progress display's window: a small modeless tool window (title, two lines, a value) over
// the window that runs the process. Repaints are throttled to about one every 50 ms, yet the
// latest texts are what the operator sees. InstalarInterfazQt makes it the default view.
#include "suite/avance.h"

#include <memory>

std::unique_ptr<AvanceVista> NuevaVentanaDeAvance();
