#pragma once
// The window's three pictures, drawn at 32 x 32.
#include <QPixmap>

QPixmap DibujarEmbudo(); // the window's icon: a red, striped funnel between horizontal bars
QPixmap DibujarBolsa();  // a paper bag full of rubbish
QPixmap DibujarTacho();  // an open waste bin
