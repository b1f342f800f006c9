#pragma once
// Installs Qt's dialogs (OperadorQt), the progress window and the wait cursor as the data
// layer's interface (suite/interfaz.h). A program with windows calls it once its
// QApplication exists; the suite's windows call it too, so that a screen built on the lookup
// component has them without asking. Does nothing when an interface is already installed.
void InstalarInterfazQt();

class QWidget;
// Places a window that is about to show at the centre of the screen the pointer is on. Called
// before the window is mapped, so that the window manager gets the position with the window
// and never places it first; the frame is taken as wide as the other windows' frames.
void CentrarFormulario(QWidget* ventana);
